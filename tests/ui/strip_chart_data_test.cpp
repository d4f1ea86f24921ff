// The strip chart's readings: the reduction to pixel columns keeps every peak whatever the
// number of readings per column, the history is bounded, and CSV export writes what is
// shown with ISO 8601 times.

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>

#include "device/data_log_reader.h"
#include "ui/chart/strip_chart_data.h"

namespace qvin::ui {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

const ChartClock::time_point kT0 = ChartClock::time_point{} + seconds(1'780'300'800);  // 2026-06-01 08:00 UTC

ChartSample Sample(milliseconds at, float incl, bool fresh = true, bool alarm = false) {
    ChartSample s;
    s.time = kT0 + at;
    s.values = {3.3f, 0.0f, 25.0f, incl, incl > 180 ? incl - 360 : incl};
    s.newData = fresh;
    s.alarm = alarm;
    return s;
}

TEST(StripChartData, ReductionKeepsEveryExtremeAndItsOrder) {
    // Ten minutes at 100 readings a second into 600 columns: 100 readings per column, a
    // single spike in one and a dip in another must both survive.
    StripChartData data;
    for (int i = 0; i < 60'000; ++i) {
        float v = 30.0f + 0.001f * static_cast<float>(i % 7);
        if (i == 12'345) v = 95.0f;
        if (i == 40'001) v = -12.0f;
        data.Add(Sample(milliseconds(i * 10), v, i % 3 == 0, i == 50'000));
    }
    const auto cols = data.Reduce(kT0, kT0 + seconds(600), 600);
    ASSERT_EQ(cols.size(), 600u);
    float hi = -1e9f, lo = 1e9f;
    int alarms = 0;
    for (const ChartColumn& c : cols) {
        ASSERT_TRUE(c.any);
        hi = std::max(hi, c.max[3]);
        lo = std::min(lo, c.min[3]);
        alarms += c.alarm;
        EXPECT_TRUE(c.newData);
    }
    EXPECT_EQ(hi, 95.0f);
    EXPECT_EQ(lo, -12.0f);
    EXPECT_EQ(alarms, 1);
    EXPECT_EQ(cols[123].max[3], 95.0f);  // reading 12345 is at 123.45 s
    EXPECT_EQ(cols[400].min[3], -12.0f);
    // Within a column the line goes first to whichever extreme came first.
    // The dip is the column's second reading, its largest (30.006) comes later.
    EXPECT_TRUE(cols[400].minFirst[3]);

    // A column on its own: a rise then a fall keeps min first; a fall then a rise, max first.
    StripChartData two;
    two.Add(Sample(milliseconds(0), 1));
    two.Add(Sample(milliseconds(1), 5));
    two.Add(Sample(milliseconds(1000), 5));
    two.Add(Sample(milliseconds(1001), 1));
    const auto c2 = two.Reduce(kT0, kT0 + seconds(2), 2);
    EXPECT_TRUE(c2[0].minFirst[3]);
    EXPECT_FALSE(c2[1].minFirst[3]);
}

TEST(StripChartData, ColumnsWithoutReadingsAndReadingsOutsideTheRangeAreLeftOut) {
    StripChartData data;
    data.Add(Sample(milliseconds(-500), 1));
    data.Add(Sample(milliseconds(100), 2));
    data.Add(Sample(milliseconds(9'950), 3));
    data.Add(Sample(milliseconds(10'000), 4));  // the range's last instant belongs to it
    data.Add(Sample(milliseconds(10'001), 5));
    const auto cols = data.Reduce(kT0, kT0 + seconds(10), 10);
    int filled = 0;
    for (const ChartColumn& c : cols) filled += c.any;
    EXPECT_EQ(filled, 2);
    EXPECT_EQ(cols[0].min[3], 2.0f);
    EXPECT_EQ(cols[9].min[3], 3.0f);
    EXPECT_EQ(cols[9].max[3], 4.0f);
    EXPECT_TRUE(data.Reduce(kT0, kT0, 10).empty());
    EXPECT_TRUE(data.Reduce(kT0, kT0 + seconds(1), 0).empty());
}

TEST(StripChartData, HistoryIsBoundedAndAClockSetBackStartsAfresh) {
    StripChartData data(seconds(60));
    for (int i = 0; i <= 120; ++i) data.Add(Sample(seconds(i), static_cast<float>(i)));
    EXPECT_EQ(data.samples().size(), 61u);
    EXPECT_EQ(data.samples().front().time, kT0 + seconds(60));
    EXPECT_EQ(*data.oldest(), kT0);  // the summaries reach back to the first reading
    EXPECT_EQ(data.count(), 121u);
    data.Add(Sample(seconds(5), 0));  // before the newest: the old history would draw backwards
    EXPECT_EQ(data.samples().size(), 1u);
    EXPECT_EQ(*data.oldest(), kT0 + seconds(5));
    EXPECT_EQ(data.count(), 1u);
}

// Two days at the loop's 100 ms (a tenth of the readings of the 10 ms loop, the same
// buckets): bounded memory, every extreme still drawn over the whole span, and the
// statistics of the summaries those of the readings themselves.
TEST(StripChartData, ASessionOfTwoDaysIsSummedUpInBoundedMemoryAndLosesNoPeak) {
    StripChartData data;
    const int n = 48 * 3600 * 10;
    double sum = 0, sumSq = 0;
    std::vector<float> values;
    values.reserve(n);
    for (int i = 0; i < n; ++i) {
        float v = 30.0f + 0.01f * static_cast<float>((i * 7919LL) % 101) / 101.0f;
        if (i == 3 * 36'000 + 17) v = 95.0f;     // a spike in hour 3
        if (i == 40 * 36'000 + 5) v = -12.0f;    // a dip in hour 40
        values.push_back(v);
        data.Add(Sample(milliseconds(100LL * i), v, true, i == 47 * 36'000));
    }
    for (float v : values) sum += v;
    const double mean = sum / n;
    for (float v : values) sumSq += (v - mean) * (v - mean);

    // Only the last ten minutes reading by reading; 1 s buckets for 18 h, 4 s for 73 h ...
    EXPECT_EQ(data.samples().size(), 6001u);
    EXPECT_LE(data.buckets(), 130'000u);
    EXPECT_LE(data.buckets() * sizeof(ChartBucket), 20u << 20);
    EXPECT_EQ(*data.oldest(), kT0);

    const auto from = *data.oldest(), to = *data.newest();
    const auto cols = data.Reduce(from, to, 1000);
    float hi = -1e9f, lo = 1e9f;
    int alarms = 0;
    for (const ChartColumn& c : cols) {
        ASSERT_TRUE(c.any);
        hi = std::max(hi, c.max[3]);
        lo = std::min(lo, c.min[3]);
        alarms += c.alarm;
    }
    EXPECT_EQ(hi, 95.0f);
    EXPECT_EQ(lo, -12.0f);
    EXPECT_EQ(alarms, 1);
    EXPECT_EQ(cols[62].max[3], 95.0f);   // 3 h of 48 h: column 62.5
    EXPECT_EQ(cols[833].min[3], -12.0f);  // 40 h: column 833.3

    const auto stats = data.Stats(from, to);
    EXPECT_EQ(stats[3].count, static_cast<std::size_t>(n));
    EXPECT_NEAR(stats[3].mean, mean, 1e-9);
    EXPECT_NEAR(stats[3].stdDev, std::sqrt(sumSq / (n - 1)), 1e-9);
    EXPECT_DOUBLE_EQ(stats[3].peakToPeak, 107.0);

    // The 1 s summaries reach back 2^16 s: that span is drawn from them to its first second,
    // a second more from the 4 s ones.
    const auto firstSecond = kT0 + seconds(48 * 3600 - (1 << 16));
    EXPECT_EQ(data.Resolution(firstSecond, to, 1 << 16), seconds(1));
    EXPECT_EQ(data.Resolution(firstSecond - seconds(1), to, 1 << 16), seconds(4));

    // The last hour: from the summaries too, the spike of hour 47 is not in it but the
    // alarm of 47:00 is.
    const auto hour = data.Reduce(to - seconds(3600), to, 600);
    int hourAlarms = 0;
    for (const ChartColumn& c : hour) hourAlarms += c.alarm;
    EXPECT_EQ(hourAlarms, 1);
}

// Summaries combine the order of their extremes: a maximum in one bucket and a minimum
// in a later one draw max first, and the other way round.
TEST(StripChartData, MergedSummariesKeepWhichExtremeCameFirst) {
    for (const bool dipFirst : {false, true}) {
        StripChartData data(seconds(0));
        for (int i = 0; i < 40; ++i) {
            float v = 30.0f;
            if (i == (dipFirst ? 25 : 5)) v = 40.0f;  // seconds 2.5 or 0.5
            if (i == (dipFirst ? 5 : 25)) v = 20.0f;
            data.Add(Sample(milliseconds(100 * i), v));
        }
        data.Add(Sample(seconds(20), 30.0f));  // makes the first readings old
        const auto cols = data.Reduce(kT0, kT0 + seconds(20), 2);  // buckets of 1 s
        ASSERT_TRUE(cols[0].any);
        EXPECT_EQ(cols[0].max[3], 40.0f);
        EXPECT_EQ(cols[0].min[3], 20.0f);
        EXPECT_EQ(cols[0].minFirst[3], dipFirst) << dipFirst;
    }
    // An extreme met again in a later summary is still the earlier one's: 20 at 0.2 s
    // before 40 at 0.5 s, whatever the second second holds (20 again, or 40 again).
    for (const bool dipFirst : {false, true}) {
        StripChartData data(seconds(0));
        for (int i = 0; i < 40; ++i) {
            float v = 30.0f;
            if (i == 2 || i == 12) v = dipFirst ? 20.0f : 40.0f;  // the same extreme in seconds 0 and 1
            if (i == 5) v = dipFirst ? 40.0f : 20.0f;
            if (i == 15) v = dipFirst ? 35.0f : 25.0f;
            data.Add(Sample(milliseconds(100 * i), v));
        }
        data.Add(Sample(seconds(20), 30.0f));
        const auto cols = data.Reduce(kT0, kT0 + seconds(20), 2);
        ASSERT_TRUE(cols[0].any);
        EXPECT_EQ(cols[0].minFirst[3], dipFirst) << "a tie taken from the later summary, dip first " << dipFirst;
    }
}

TEST(StripChartData, CsvHasAHeaderIsoTimesAndOnlyTheRangeShown) {
    StripChartData data;
    data.Add(Sample(milliseconds(0), 30.5f, true, false));
    ChartSample wrapped = Sample(milliseconds(1'250), 359.975f, false, true);
    wrapped.values[4] = -0.025f;
    wrapped.status = 0x0300;
    data.Add(wrapped);
    data.Add(Sample(milliseconds(5'000), 31.0f));
    const std::string csv = data.Csv(kT0, kT0 + seconds(2));
    EXPECT_EQ(csv,
              "time,SUPPLY_OUT (V),AUX_ADC (V),TEMP_OUT (dgrC),INCL_360 (dgr),INCL_180 (dgr),new data,alarm,status\r\n"
              "2026-06-01T08:00:00.000Z,3.3,0,25,30.5,30.5,1,0,0\r\n"
              "2026-06-01T08:00:01.250Z,3.3,0,25,359.975,-0.025,0,1,768\r\n");
    EXPECT_EQ(IsoTime(ChartClock::time_point{} - milliseconds(1)), "1969-12-31T23:59:59.999Z");
}

TEST(StripChartData, LogRunsFollowOneAnotherEvenWithoutOrWithAnEarlierDate) {
    // Three runs: dated, undated, and dated before the first (the PC's clock was set back).
    const std::string header = "QVIN 27319 Datalog File\r\n";
    auto pass = [](int i, const char* incl) {
        return std::to_string(i) + "\t3.3\t0\t25\t" + incl + "\t" + incl + "\tTrue\tFalse\t0\r\n";
    };
    const std::string text = header + "Date\t6/1/2026 08:00:00\r\nLoopDelay\t100 mS\r\n" + pass(1, "1") + pass(2, "2") +
                             header + "LoopDelay\t50 mS\r\n" + pass(1, "3") + pass(2, "4") + header +
                             "Date\t5/1/2026 08:00:00\r\nLoopDelay\t25 mS\r\n" + pass(1, "5");
    const DataLogContents log = ParseDataLog(text);
    ASSERT_EQ(log.runs.size(), 3u);
    StripChartData data(std::chrono::hours(24 * 366));
    EXPECT_EQ(AddLog(data, log), 5u);
    ASSERT_EQ(data.samples().size(), 5u) << "a run placed before the one ahead of it would start the chart afresh";
    for (std::size_t i = 1; i < data.samples().size(); ++i) {
        EXPECT_GT(data.samples()[i].time, data.samples()[i - 1].time);
        EXPECT_EQ(data.samples()[i].values[3], static_cast<float>(i + 1));
    }
    // The second run starts one of its loop delays after the first ended, and keeps its pace.
    EXPECT_EQ(data.samples()[2].time - data.samples()[1].time, milliseconds(50));
    EXPECT_EQ(data.samples()[3].time - data.samples()[2].time, milliseconds(50));
}

// An undated run after a run that ends near 2262 would be moved past the clock's range:
// its passes are left out and counted, never wrapped to 1677 ahead of the first run.
TEST(StripChartData, ARunMovedPastTheClocksRangeIsLeftOut) {
    DataLogContents log;
    LogRun late, undated;
    late.start = std::chrono::system_clock::time_point::max() - std::chrono::hours(48);
    late.loopDelayMs = 60'000;
    undated.loopDelayMs = 60'000;
    LogPass p;
    p.time = *late.start;
    late.passes = {p};
    p.time = {};
    undated.passes = {p, p};
    undated.passes[1].time += std::chrono::hours(72);
    log.runs = {late, undated};
    StripChartData data(std::chrono::hours(24 * 366));
    LogReadings readings;
    EXPECT_TRUE(readings.Next(0, log.runs[0], log.runs[0].passes[0]));
    const auto first = readings.Next(1, log.runs[1], log.runs[1].passes[0]);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->time, *late.start + std::chrono::minutes(1));
    EXPECT_FALSE(readings.Next(1, log.runs[1], log.runs[1].passes[1]));
    EXPECT_EQ(readings.pastClock, 1u);
    EXPECT_EQ(AddLog(data, log), 2u);
}

// The legend's figures over the shown span, and the span alone.
TEST(StripChartData, TheLegendGivesMeanDeviationAndPeakToPeakOverTheSpan) {
    StripChartData d;
    const auto t0 = ChartClock::time_point{} + std::chrono::hours(24 * 365 * 56);
    for (int i = 0; i < 10; ++i) {
        ChartSample s;
        s.time = t0 + std::chrono::seconds(i);
        s.values = {3.3f, 0, 25, static_cast<float>(i % 2 ? 31 : 29), 0};
        d.Add(s);
    }
    const auto all = d.Stats(t0, t0 + std::chrono::seconds(9));
    EXPECT_EQ(all[3].count, 10u);
    EXPECT_DOUBLE_EQ(all[3].mean, 30.0);
    EXPECT_NEAR(all[3].stdDev, std::sqrt(10.0 / 9.0), 1e-12);  // sample deviation of +-1
    EXPECT_DOUBLE_EQ(all[3].peakToPeak, 2.0);
    EXPECT_EQ(all[0].peakToPeak, 0.0);
    const auto two = d.Stats(t0 + std::chrono::seconds(2), t0 + std::chrono::seconds(3));
    EXPECT_EQ(two[3].count, 2u);
    EXPECT_DOUBLE_EQ(two[3].mean, 30.0);
    EXPECT_EQ(LegendText(3, all[3]), "INCL_360 (dgr)   mean 30   sd 1.05   p-p 2");
    EXPECT_EQ(LegendText(3, SpanStats{}), "INCL_360 (dgr)");
}

// The time axis is marked at round times of the local clock: the smallest step from the
// list that gives no more marks than fit, every mark a whole multiple of it, inside the
// span, labelled as finely as the step needs.
TEST(TimeTicks, RoundTimesOfTheLocalClockAsManyAsFit) {
    const char* was = std::getenv("TZ");
    const std::string before = was ? was : "";
    auto zone = [](const char* tz) {
        setenv("TZ", tz, 1);
        tzset();
    };
    using namespace std::chrono;
    auto at = [](std::int64_t ms) { return ChartClock::time_point(duration_cast<ChartClock::duration>(milliseconds(ms))); };
    auto ms = [](ChartClock::time_point t) { return duration_cast<milliseconds>(t.time_since_epoch()).count(); };
    struct Case {
        const char* tz;
        std::int64_t offsetMs;  // the zone's, east of UTC
        std::int64_t fromMs, spanMs;
        int most;
        std::int64_t step;
        const char* format;
    };
    const std::int64_t day0 = 20'429LL * 86'400'000;  // a midnight, UTC
    const Case cases[] = {
        {"UTC0", 0, day0 + 36'133'400, 300'000, 6, 60'000, "hh:mm"},               // 10:02:13.4 + 5 min
        {"UTC0", 0, day0 + 36'133'400, 7'200, 8, 1'000, "hh:mm:ss"},               // 7.2 s, 8 marks
        {"UTC0", 0, day0 + 36'133'400, 7'200, 7, 2'000, "hh:mm:ss"},               // one fewer: 2 s
        {"UTC0", 0, day0 + 1'000, 900, 10, 100, "hh:mm:ss.zzz"},                   // under a second
        {"UTC0", 0, day0 + 3'600'000, 3 * 86'400'000LL, 6, 86'400'000, "dd.MM. hh:mm"},
        {"IST-5:30", 19'800'000, day0 + 1'000, 6 * 3'600'000LL, 8, 3'600'000, "hh:mm"},  // whole hours there
        // The chart's spans, seven marks at most, from an odd moment (10:02:13.4):
        {"UTC0", 0, day0 + 36'133'400, 10'000, 7, 2'000, "hh:mm:ss"},                  // 10 s: 1 s would need 11
        {"UTC0", 0, day0 + 36'133'400, 60'000, 7, 10'000, "hh:mm:ss"},                 // 1 min: 5 s would need 13
        {"UTC0", 0, day0 + 36'133'400, 600'000, 7, 120'000, "hh:mm"},                  // 10 min: 1 min would need 11
        {"UTC0", 0, day0 + 36'133'400, 3'600'000, 7, 600'000, "hh:mm"},                // 1 h: 5 min would need 13
        {"UTC0", 0, day0 + 36'133'400, 2 * 86'400'000LL, 7, 43'200'000, "dd.MM. hh:mm"},  // 2 days: 6 h would need 9
    };
    for (const Case& c : cases) {
        zone(c.tz);
        const TimeTicks t = RoundTimeTicks(at(c.fromMs), at(c.fromMs + c.spanMs), c.most);
        const std::string what = std::string(c.tz) + " span " + std::to_string(c.spanMs);
        EXPECT_EQ(t.step, milliseconds(c.step)) << what;
        EXPECT_EQ(t.format, c.format) << what;
        ASSERT_GE(t.at.size(), 2u) << what;
        EXPECT_LE(t.at.size(), static_cast<std::size_t>(c.most)) << what;
        // The first mark is the first multiple in the span; no multiple is left out.
        EXPECT_GT(ms(t.at.front()) - c.fromMs + c.step, 0) << what;
        EXPECT_LE(ms(t.at.front()) - c.fromMs, c.step) << what;
        EXPECT_GT(c.fromMs + c.spanMs - ms(t.at.back()), -1) << what;
        EXPECT_LT(c.fromMs + c.spanMs - ms(t.at.back()), c.step) << what;
        for (std::size_t i = 0; i < t.at.size(); ++i) {
            EXPECT_EQ((ms(t.at[i]) + c.offsetMs) % c.step, 0) << what << " mark " << i;
            if (i > 0) {
                EXPECT_EQ(ms(t.at[i]) - ms(t.at[i - 1]), c.step) << what;
            }
        }
    }
    // Nothing to mark in an empty span.
    EXPECT_TRUE(RoundTimeTicks(at(day0), at(day0), 5).at.empty());
    if (was) setenv("TZ", before.c_str(), 1);
    else unsetenv("TZ");
    tzset();
}

}  // namespace
}  // namespace qvin::ui

namespace qvin::ui {
namespace {

// A value axis ends on round values a whole number of steps apart, holds every reading with
// room to spare, and uses the finest round step that keeps within the marks asked for.
TEST(ValueTicks, RoundEndsAroundTheReadingsWithTheFinestStepThatFits) {
    auto round = [](double step) {
        const double power = std::pow(10.0, std::floor(std::log10(step)));
        const double f = step / power;
        for (const double r : {1.0, 2.0, 2.5, 5.0, 10.0})
            if (std::fabs(f - r) < 1e-9) return true;
        return false;
    };
    struct Case {
        double lo, hi;
        int most;
        double step, bottom, top;  // worked out by hand
    };
    const Case cases[] = {
        {29.95, 30.05, 5, 0.05, 29.9, 30.1},     // an inclination's wobble: 0.116 in 5 needs 0.025, whose ends lie 6 apart
        {24.99, 625.66, 4, 250, -250, 750},      // a temperature read while no board answered: 200 would need 5
        {-0.02, 0.01, 6, 0.01, -0.03, 0.02},     // around zero
        {3.3, 3.3, 3, 0.05, 3.25, 3.35},         // flat: a band of 1 % of the value
        {0, 0, 2, 0.001, -0.001, 0.001},         // flat at zero: a thousandth
        {-180, 180, 6, 100, -300, 300},          // INCL_180's whole range
        {1.234e-6, 1.236e-6, 4, 1e-9, 1.233e-6, 1.237e-6},  // a tiny range keeps steps of its own size
    };
    for (const Case& c : cases) {
        const ValueTicks t = RoundValueAxis(c.lo, c.hi, c.most);
        const std::string what = std::to_string(c.lo) + " to " + std::to_string(c.hi);
        EXPECT_NEAR(t.step, c.step, c.step * 1e-9) << what;
        EXPECT_NEAR(t.bottom, c.bottom, c.step * 1e-9) << what;
        EXPECT_NEAR(t.top, c.top, c.step * 1e-9) << what;
        EXPECT_TRUE(round(t.step)) << what;
        EXPECT_LT(t.bottom, c.lo) << what;
        EXPECT_GT(t.top, c.hi) << what;
        EXPECT_LE(t.count - 1, c.most) << what;
        EXPECT_NEAR((t.top - t.bottom) / t.step, t.count - 1, 1e-6) << what;
        EXPECT_NEAR(std::remainder(t.bottom, t.step), 0, t.step * 1e-6) << what;
    }
    // Nothing to fit: the unit range.
    const ValueTicks none = RoundValueAxis(std::nan(""), 1, 4);
    EXPECT_EQ(none.bottom, 0);
    EXPECT_EQ(none.top, 1);
}

}  // namespace
}  // namespace qvin::ui
