// What is missing stays missing: a gap is left out of the Allan sums (white noise keeps its
// known level across a gap with a step in it), the time between samples comes from the
// samples made (not from reads bunched by the interface), and files are read strictly:
// time that runs backwards or repeats is refused at its line, a data log's runs are apart.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "analysis/series.h"
#include "analysis/stability.h"
#include "device/data_log.h"

namespace qvin::analysis {
namespace {

std::vector<double> White(std::size_t n, std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> g(0.0, 1.0);
    std::vector<double> y(n);
    for (double& v : y) v = g(rng);
    return y;
}

std::filesystem::path Write(const std::string& name, const std::string& text) {
    const auto p = std::filesystem::path(testing::TempDir()) / name;
    std::ofstream(p, std::ios::binary) << text;
    return p;
}

TEST(Gaps, AreNeverBridged) {
    // White noise of unit variance: ADEV(m tau0) = 1 / sqrt(m). A long hole across which
    // the level steps by 1000 must not show: bridged, the step alone gives ADEV(tau0) over 5.
    std::vector<double> y = White(20000, 1);
    for (std::size_t i = 10000; i < y.size(); ++i) y[i] += 1000.0;
    y.insert(y.begin() + 10000, 20000, std::nan(""));
    const auto curve = OctaveAdev(y, 1.0);
    ASSERT_GE(curve.size(), 8u);
    // To m = 64 the deviation is known within 3 % (one sigma): 10 % is three.
    for (std::size_t i = 0; i <= 6; ++i) EXPECT_NEAR(curve[i].adev * std::sqrt(static_cast<double>(curve[i].m)), 1.0, 0.1) << curve[i].m;
    EXPECT_EQ(Describe(y).count, 20000u);
    EXPECT_EQ(curve[0].terms, 2 * (10000 - 2 + 1));  // no term across the hole
    // A missing sample here and there: its span is averaged over the samples present.
    std::vector<double> sparse = White(40000, 4);
    for (std::size_t i = 0; i < sparse.size(); i += 97) sparse[i] = std::nan("");
    const auto thin = OctaveAdev(sparse, 1.0);
    ASSERT_GE(thin.size(), 13u);
    for (std::size_t i = 0; i <= 7; ++i) EXPECT_NEAR(thin[i].adev * std::sqrt(static_cast<double>(thin[i].m)), 1.0, 0.1) << thin[i].m;
}

TEST(Gaps, AHoleIsCountedFromTheTimeStampsAndTheRestAgreesWithTheWhole) {
    // The part samples every 1.0986 ms; the interface reads every 0.2 ms, so each sample's
    // time stamp is up to 0.2 ms late and the intervals bunch at 1.0 and 1.2 ms.
    const double period = 1.0986e-3;
    const std::vector<double> y = White(18205, 2);  // 20 s
    Series whole, holed;
    std::vector<double> tWhole, tHoled;
    for (Series* s : {&whole, &holed}) s->columns.resize(1), s->names = {"INCL_360 (dgr)"};
    for (std::size_t i = 0; i < y.size(); ++i) {
        const double t = std::ceil(static_cast<double>(i) * period / 0.2e-3) * 0.2e-3;
        whole.columns[0].push_back(y[i]);
        tWhole.push_back(t);
        if (t >= 7.5 && t < 12.5) continue;  // five seconds lost
        holed.columns[0].push_back(y[i]);
        tHoled.push_back(t);
    }
    PlaceGaps(whole, tWhole);
    PlaceGaps(holed, tHoled);
    EXPECT_NEAR(whole.tau0, period, period * 1e-4);
    EXPECT_NEAR(holed.tau0, period, period * 1e-4);
    EXPECT_EQ(whole.gaps, 0u);
    EXPECT_EQ(holed.gaps, 1u);
    EXPECT_NEAR(static_cast<double>(holed.missing), 5.0 / period, 1.0);
    EXPECT_NEAR(holed.longestGapAt, 7.5, 0.01);
    EXPECT_EQ(GapSummary(holed).rfind("1 gap, 455", 0), 0u) << GapSummary(holed);
    const auto a = OctaveAdev(whole.columns[0], whole.tau0), b = OctaveAdev(holed.columns[0], holed.tau0);
    ASSERT_GE(b.size(), 8u);
    for (std::size_t i = 0; i < b.size(); ++i) {
        EXPECT_NEAR(b[i].tau, a[i].tau, a[i].tau * 1e-3);
        EXPECT_TRUE(b[i].adev > a[i].lo && b[i].adev < a[i].hi) << "tau " << b[i].tau;
    }
    // The median interval sets what is a hole: of steps of 0.5, 1 and 3 ms (3, 4 and 3 in
    // ten), the 3 ms ones are holes, tau0 is the mean of the rest, and each hole is as many
    // samples as fit.
    Series spread;
    spread.columns.resize(1);
    std::vector<double> tSpread{0.0};
    const double steps[] = {0.5e-3, 1e-3, 3e-3, 0.5e-3, 1e-3, 3e-3, 0.5e-3, 1e-3, 3e-3, 1e-3};
    for (int i = 0; i < 1000; ++i) tSpread.push_back(tSpread.back() + steps[i % 10]);
    spread.columns[0].assign(tSpread.size(), 1.0);
    PlaceGaps(spread, tSpread);
    EXPECT_NEAR(spread.tau0, 5.5e-3 / 7, 1e-9);
    EXPECT_EQ(spread.gaps, 300u);
    EXPECT_EQ(spread.missing, 900u);  // round(3 / 0.786) - 1 each
    // A capture that counted its own misses: those are the gaps, and tau0 counts them in.
    Series counted;
    counted.columns = {{1, 2, 3, 4}};
    PlaceGaps(counted, {0.0, 0.0011, 0.0044, 0.0055}, {0, 0, 2, 0});
    EXPECT_EQ(counted.gaps, 1u);
    EXPECT_EQ(counted.missing, 2u);
    EXPECT_NEAR(counted.tau0, 0.0011, 1e-9);
    EXPECT_EQ(counted.columns[0].size(), 6u);  // one NaN a missing sample
    EXPECT_TRUE(std::isnan(counted.columns[0][2]) && std::isnan(counted.columns[0][3]));
    // Samples the part made before the first row are before the record, not a gap in it
    // (a file whose first row counts some once read before its own start: found by fuzzing).
    Series late;
    late.columns = {{1, 2, 3}};
    PlaceGaps(late, {0.0, 0.0011, 0.0022}, {8, 0, 0});
    EXPECT_EQ(late.gaps, 0u);
    EXPECT_EQ(late.missing, 0u);
    EXPECT_EQ(late.columns[0], (std::vector<double>{1, 2, 3}));
}

// A long record's time stamps are held compactly, yet a hole of eleven days is counted to
// the sample, and the time between samples comes out to its digits.
TEST(Gaps, AHoleOfDaysIsCountedToTheSample) {
    const double period = 1.0986e-3;
    const std::size_t before = 10000, after = 10000, lost = 900'000'001;
    Series s;
    s.columns.resize(1);
    std::vector<double> times;
    for (std::size_t i = 0; i < before + after; ++i) {
        times.push_back(static_cast<double>(i < before ? i : i + lost) * period);
        s.columns[0].push_back(static_cast<double>(i));
    }
    PlaceGaps(s, times);
    EXPECT_NEAR(s.tau0, period, period * 1e-9);
    EXPECT_EQ(s.gaps, 1u);
    EXPECT_EQ(s.missing, lost);
    EXPECT_NEAR(s.longestGapAt, static_cast<double>(before - 1) * period, period * 1e-4);
    // The column holds at most as many NaN as the record has samples: a longer hole blocks
    // every span across it all the same.
    ASSERT_EQ(s.columns[0].size(), 2 * (before + after));
    EXPECT_EQ(s.columns[0][before - 1], static_cast<double>(before - 1));
    EXPECT_TRUE(std::isnan(s.columns[0][before]));
    EXPECT_EQ(s.columns[0][before + before + after], static_cast<double>(before));
}

TEST(ReadSeries, RefusesTimeThatRepeatsOrRunsBackAtItsLine) {
    const std::string head = "seconds since 2026-12-07T09:00:00.000Z,INCL_360 (dgr),Alarm,Missed\n";
    std::string error;
    EXPECT_FALSE(ReadSeries(Write("back.csv", head + "0.001,30,0,0\n0.002,30,0,0\n0.0015,30,0,0\n"), {}, error));
    EXPECT_NE(error.find("back.csv: line 4: the time 0.0015 goes back before the time before it"), std::string::npos) << error;
    EXPECT_FALSE(ReadSeries(Write("same.csv", head + "0.001,30,0,0\n0.001,30,0,0\n"), {}, error));
    EXPECT_NE(error.find("line 3: the time 0.001 repeats"), std::string::npos) << error;
    EXPECT_FALSE(ReadSeries(Write("torn.csv", head + "0.001,30,0,0\n0.002,3"), {}, error));
    EXPECT_NE(error.find("line 3: too few fields"), std::string::npos) << error;
    EXPECT_FALSE(ReadSeries(Write("odd.csv", "seconds since x,Tilt,Alarm\n"), {}, error));
    EXPECT_NE(error.find("'Tilt' is no column of a capture"), std::string::npos) << error;
    // A line past the limit is refused, even when what fits in the limit reads as a row.
    EXPECT_FALSE(ReadSeries(Write("long.csv", head + "0.001,30,0,0\n0.002,30,0," + std::string(5000, '0') + "\n"), {}, error));
    EXPECT_NE(error.find("long.csv: line 3: longer than 4096 characters"), std::string::npos) << error;
    // Every field is a number, also those of the outputs and flags not asked for: each
    // refused at its line as the kept ones are, the unusual forms of a number taken alike.
    SeriesOptions one;
    one.column = "incl_360";
    const std::string five = "seconds since x,SUPPLY_OUT (V),INCL_360 (dgr),Alarm,Status,Missed\n0.001,3.3,30,0,0,0\n";
    for (const auto& [row, why] : std::vector<std::pair<std::string, std::string>>{
             {"0.002,3.3,30,x,0,0", "line 3: 'x' is no number"},
             {"0.002,3.3,30,0,1e999,0", "line 3: '1e999' is no number"},
             {"0.002, 3.3,30,0,0,0", "line 3: ' 3.3' is no number"},
             {"0.002,3.3,30,0,.,0", "line 3: '.' is no number"},
             {"0.002,3.3,30,0,0,0,7", "line 3: too many fields"},
             {"0.002,3.3,30,0,0,", "line 3: too few fields"}}) {
        EXPECT_FALSE(ReadSeries(Write("field.csv", five + row + "\n"), one, error)) << row;
        EXPECT_NE(error.find(why), std::string::npos) << row << ": " << error;
    }
    const auto forms = ReadSeries(Write("forms.csv", five + "0.002,+3.3,30.5,-0,1e3,0\n0.003,.5,31,0,7.,0,\n"), one, error);
    ASSERT_TRUE(forms) << error;
    EXPECT_EQ(forms->columns[0], (std::vector<double>{30, 30.5, 31}));
    // No sample: read, and said so by its count.
    const auto empty = ReadSeries(Write("empty.csv", head), {}, error);
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->samples, 0u);
    // An old capture's columns are read as they were written.
    const auto old = ReadSeries(Write("old.csv", "seconds since x,SUPPLY_OUT (V),AUX_ADC (V),TEMP_OUT (dgrC),INCL_360 (dgr),INCL_180 (dgr),"
                                                 "New,Alarm,Status\n0.001,3.3,0,25,30,30,1,0,0\n0.0015,3.3,0,25,30,30,0,0,0\n"
                                                 "0.002,3.3,0,25,30.5,30.5,1,0,0\n"),
                                {}, error);
    ASSERT_TRUE(old) << error;
    EXPECT_EQ(old->names.size(), 5u);
    EXPECT_EQ(old->samples, 2u) << "a row without a new sample is no sample";
    EXPECT_EQ(old->columns[3], (std::vector<double>{30, 30.5}));
}

TEST(ReadSeries, ADataLogsRunsAreApartAndItsRepeatedPassesAreMissing) {
    auto run = [](float delayMs, int passes, int oldEvery) {
        DataLogHeader h;
        h.date = "12/7/2026 09:00:00";
        h.loopDelayMs = delayMs;
        h.samplePeriodText = "1.099";
        h.avgCntText.assign(1, '7');  // one character: GCC 12 warns falsely of a literal
        std::string text = DataLogHeaderText(h);
        for (int i = 1; i <= passes; ++i)
            text += DataLogLine(i, {3.3f, 0, 25, 30.0f + static_cast<float>(i % 7), 30}, oldEvery == 0 || i % oldEvery != 0, false, 0);
        return text;
    };
    const auto file = Write("two.txt", run(10, 300, 10) + "junk line\n" + run(50, 100, 0));
    std::string error;
    const auto longest = ReadSeries(file, {}, error);
    ASSERT_TRUE(longest) << error;
    EXPECT_EQ(longest->runs.size(), 2u);
    EXPECT_EQ(longest->run, 0u);
    EXPECT_TRUE(longest->nominalTau0);
    EXPECT_DOUBLE_EQ(longest->tau0, 0.010);
    EXPECT_EQ(longest->samples, 270u);     // every tenth pass brought no new sample
    EXPECT_EQ(longest->withoutNewData, 30u);
    EXPECT_EQ(longest->gaps, 29u);         // the last pass's is no gap: nothing follows it
    EXPECT_EQ(longest->malformed, 1u);
    EXPECT_NE(longest->runs[1].find("loop delay 50 ms, 100 passes"), std::string::npos) << longest->runs[1];
    const auto second = ReadSeries(file, {.tau0 = std::nullopt, .run = 2, .column = std::nullopt}, error);
    ASSERT_TRUE(second) << error;
    EXPECT_DOUBLE_EQ(second->tau0, 0.050);
    EXPECT_EQ(second->samples, 100u);
    // Passes without new data before the first sample are no gap: nothing came before them.
    DataLogHeader h;
    h.date = "12/7/2026 09:00:00";
    h.loopDelayMs = 10;
    h.samplePeriodText = "1.099";
    h.avgCntText.assign(1, '7');
    std::string late = DataLogHeaderText(h);
    for (int i = 1; i <= 20; ++i) late += DataLogLine(i, {3.3f, 0, 25, 30, 30}, i > 3, false, 0);
    const auto leading = ReadSeries(Write("late.txt", late), {}, error);
    ASSERT_TRUE(leading) << error;
    EXPECT_EQ(leading->samples, 17u);
    EXPECT_EQ(leading->withoutNewData, 3u);
    EXPECT_EQ(leading->gaps, 0u);
    // A first line like a log's header that the log's reader does not take for one: no run.
    const auto none = ReadSeries(Write("headless.txt", "QVIN 27319 Datalog File, or so\r\n1\t3.3\r\n"), {}, error);
    ASSERT_TRUE(none) << error;
    EXPECT_EQ(none->samples, 0u);
    EXPECT_TRUE(none->runs.empty());
    const auto third = ReadSeries(file, {.tau0 = std::nullopt, .run = 3, .column = std::nullopt}, error);  // not there: the caller says so
    ASSERT_TRUE(third);
    EXPECT_EQ(third->run, 0u);
}

}  // namespace
}  // namespace qvin::analysis
