#include "ui/chart/strip_chart_data.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <ostream>
#include <sstream>

#include "core/number_text.h"
#include "device/data_log_reader.h"

namespace qvin::ui {

namespace {

// An earlier stretch's extremes and a later one's, combined: which of the two holds each
// extreme (on a tie the earlier), and so which extreme came first.
void MergeExtremes(float& min, float& max, bool& minFirst, float laterMin, float laterMax, bool laterMinFirst) {
    const bool minLater = laterMin < min, maxLater = laterMax > max;
    if (minLater != maxLater) minFirst = maxLater;  // one extreme from each: the earlier one came first
    else if (minLater) minFirst = laterMinFirst;
    if (minLater) min = laterMin;
    if (maxLater) max = laterMax;
}

}  // namespace

void ChartBucket::Add(const ChartSample& s) {
    if (count == 0) from = s.time;
    to = s.time;
    ++count;
    const double n = count;
    for (std::size_t k = 0; k < kChartSeries; ++k) {
        const float v = s.values[k];
        if (count == 1) {
            min[k] = max[k] = v;
            minFirst[k] = true;
        } else if (v < min[k]) {
            min[k] = v;
            minFirst[k] = false;  // the minimum came after the maximum so far
        } else if (v > max[k]) {
            max[k] = v;
            minFirst[k] = true;
        }
        const double d = v - mean[k];
        mean[k] += d / n;
        m2[k] += d * (v - mean[k]);
    }
    newData |= s.newData;
    alarm |= s.alarm;
}

void ChartBucket::Merge(const ChartBucket& later) {
    if (later.count == 0) return;
    if (count == 0) {
        *this = later;
        return;
    }
    const double na = count, nb = later.count, n = na + nb;
    for (std::size_t k = 0; k < kChartSeries; ++k) {
        MergeExtremes(min[k], max[k], minFirst[k], later.min[k], later.max[k], later.minFirst[k]);
        const double d = later.mean[k] - mean[k];
        mean[k] += d * nb / n;
        m2[k] += later.m2[k] + d * d * na * nb / n;
    }
    count += later.count;
    to = later.to;
    newData |= later.newData;
    alarm |= later.alarm;
}

std::int64_t StripChartData::Window(int level, ChartClock::time_point t) {
    const std::int64_t width = kFinestBucket.count() << (2 * level);
    const std::int64_t at = t.time_since_epoch().count();
    return at >= 0 ? at / width : -((-at + width - 1) / width);  // rounding down before 1970 too
}

void StripChartData::Push(int level, const ChartBucket& b) {
    auto& buckets = levels_[static_cast<std::size_t>(level)];
    if (!buckets.empty() && Window(level, buckets.back().from) == Window(level, b.from)) {
        buckets.back().Merge(b);
        return;
    }
    // The bucket before is complete: on to the next level.
    if (!buckets.empty() && level + 1 < kLevels) Push(level + 1, buckets.back());
    buckets.push_back(b);
    if (buckets.size() > kLevelBuckets) {
        buckets.pop_front();
        trimmed_[static_cast<std::size_t>(level)] = true;
    }
}

void StripChartData::Add(const ChartSample& s) {
    // Readings come in time order; one from before the newest (a clock set back) starts
    // the history afresh rather than drawing backwards.
    if (!samples_.empty() && s.time < samples_.back().time) Clear();
    samples_.push_back(s);
    ++count_;
    auto& finest = levels_[0];
    if (!finest.empty() && Window(0, finest.back().from) == Window(0, s.time)) {
        finest.back().Add(s);
    } else {
        ChartBucket b;
        b.Add(s);
        Push(0, b);
    }
    // Saturating: a reading from the clock's earliest times keeps everything.
    const auto earliest = ChartClock::time_point::min() + history_;
    if (s.time < earliest) return;
    while (!samples_.empty() && samples_.front().time < s.time - history_) samples_.pop_front();
}

void StripChartData::Clear() {
    samples_.clear();
    for (auto& l : levels_) l.clear();
    trimmed_.fill(false);
    count_ = 0;
}

std::size_t StripChartData::buckets() const {
    std::size_t n = 0;
    for (const auto& l : levels_) n += l.size();
    return n;
}

std::optional<ChartClock::time_point> StripChartData::newest() const {
    if (samples_.empty()) return std::nullopt;
    return samples_.back().time;
}

std::optional<ChartClock::time_point> StripChartData::oldest() const {
    if (samples_.empty()) return std::nullopt;
    // The coarsest level reaches back furthest.
    ChartClock::time_point first = samples_.front().time;
    for (const auto& l : levels_)
        if (!l.empty()) first = std::min(first, l.front().from);
    return first;
}

bool StripChartData::RawCovers(ChartClock::time_point from) const {
    return !samples_.empty() && (samples_.size() == count_ || samples_.front().time <= from);
}

int StripChartData::LevelFor(ChartClock::time_point from, ChartClock::duration span, int columns) const {
    const auto column = span / std::max(columns, 1);
    int level = 0;
    while (level + 1 < kLevels && (kFinestBucket * (std::int64_t{1} << (2 * (level + 1)))) <= column) ++level;
    // A level that has let go of buckets the span needs gives way to a coarser one.
    while (level + 1 < kLevels && trimmed_[static_cast<std::size_t>(level)] &&
           levels_[static_cast<std::size_t>(level)].front().from > from)
        ++level;
    return level;
}

template <typename F>
void StripChartData::ForBuckets(int level, ChartClock::time_point from, ChartClock::time_point to, F&& f) const {
    const auto& buckets = levels_[static_cast<std::size_t>(level)];
    auto it = std::lower_bound(buckets.begin(), buckets.end(), from,
                               [](const ChartBucket& b, ChartClock::time_point t) { return b.to < t; });
    for (; it != buckets.end() && it->from <= to; ++it) f(*it);
    // The finer levels' open buckets: what has not reached this level yet.
    for (int finer = level - 1; finer >= 0; --finer) {
        const auto& open = levels_[static_cast<std::size_t>(finer)];
        if (!open.empty() && open.back().to >= from && open.back().from <= to) f(open.back());
    }
}

ChartClock::duration StripChartData::Resolution(ChartClock::time_point from, ChartClock::time_point to, int columns) const {
    if (RawCovers(from) || to <= from) return {};
    return kFinestBucket * (std::int64_t{1} << (2 * LevelFor(from, to - from, columns)));
}

std::vector<ChartColumn> StripChartData::Reduce(ChartClock::time_point from, ChartClock::time_point to, int columns) const {
    std::vector<ChartColumn> out;
    if (columns <= 0 || to <= from) return out;
    out.resize(static_cast<std::size_t>(columns));
    const auto span = to - from;
    // The column edges in floating point: span times column would overflow for a log of
    // some years in nanoseconds.
    const auto edge = [&](int c) {
        return from + ChartClock::duration(static_cast<ChartClock::rep>(static_cast<long double>(span.count()) * c / columns));
    };
    for (int c = 0; c < columns; ++c) {
        out[static_cast<std::size_t>(c)].from = edge(c);
        out[static_cast<std::size_t>(c)].to = c + 1 == columns ? to : edge(c + 1);
    }
    const auto columnOf = [&](ChartClock::time_point t) {
        const auto offset = (std::max(t, from) - from).count();
        const auto c = static_cast<std::size_t>(static_cast<double>(offset) / static_cast<double>(span.count()) * columns);
        return std::min(c, out.size() - 1);
    };
    if (!RawCovers(from)) {
        // From the summaries: each bucket into the column where it starts.
        ForBuckets(LevelFor(from, span, columns), from, to, [&](const ChartBucket& b) {
            ChartColumn& col = out[columnOf(b.from)];
            if (!col.any) {
                col.min = b.min;
                col.max = b.max;
                col.minFirst = b.minFirst;
            } else {
                for (std::size_t k = 0; k < kChartSeries; ++k)
                    MergeExtremes(col.min[k], col.max[k], col.minFirst[k], b.min[k], b.max[k], b.minFirst[k]);
            }
            col.any = true;
            col.newData |= b.newData;
            col.alarm |= b.alarm;
        });
        return out;
    }
    auto first = std::lower_bound(samples_.begin(), samples_.end(), from,
                                  [](const ChartSample& s, ChartClock::time_point t) { return s.time < t; });
    for (auto it = first; it != samples_.end() && it->time <= to; ++it) {
        ChartColumn& col = out[columnOf(it->time)];
        for (int i = 0; i < kChartSeries; ++i) {
            const auto k = static_cast<std::size_t>(i);
            const float v = it->values[k];
            if (!col.any) {
                col.min[k] = col.max[k] = v;
                col.minFirst[k] = true;
                continue;
            }
            if (v < col.min[k]) {
                col.min[k] = v;
                col.minFirst[k] = false;  // the minimum came after the maximum so far
            }
            if (v > col.max[k]) {
                col.max[k] = v;
                col.minFirst[k] = true;
            }
        }
        col.any = true;
        col.newData |= it->newData;
        col.alarm |= it->alarm;
    }
    return out;
}

std::string IsoTime(ChartClock::time_point t) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
    const std::time_t secs = static_cast<std::time_t>(ms >= 0 ? ms / 1000 : (ms - 999) / 1000);
    std::tm tm{};
    gmtime_r(&secs, &tm);
    char buf[96];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(((ms % 1000) + 1000) % 1000));
    return buf;
}

std::string CsvHeader() {
    std::string csv = "time";
    for (const char* name : kChartSeriesNames) csv.append(1, ',').append(name);
    return csv + ",new data,alarm,status\r\n";
}

void AppendCsvRow(std::string& csv, const ChartSample& s) {
    csv += IsoTime(s.time);
    for (float v : s.values) csv.append(1, ',').append(FormatGeneral(v));
    csv += s.newData ? ",1" : ",0";
    csv += s.alarm ? ",1" : ",0";
    csv.append(1, ',').append(std::to_string(s.status)).append("\r\n");
}

bool StripChartData::WriteCsv(ChartClock::time_point from, ChartClock::time_point to, std::ostream& out) const {
    std::string csv = CsvHeader();
    auto first = std::lower_bound(samples_.begin(), samples_.end(), from,
                                  [](const ChartSample& s, ChartClock::time_point t) { return s.time < t; });
    for (auto it = first; it != samples_.end() && it->time <= to; ++it) {
        AppendCsvRow(csv, *it);
        if (csv.size() >= (1 << 16)) {
            out.write(csv.data(), static_cast<std::streamsize>(csv.size()));
            csv.clear();
        }
    }
    out.write(csv.data(), static_cast<std::streamsize>(csv.size()));
    return static_cast<bool>(out.flush());
}

std::string StripChartData::Csv(ChartClock::time_point from, ChartClock::time_point to) const {
    std::ostringstream out;
    WriteCsv(from, to, out);
    return std::move(out).str();
}

std::optional<ChartSample> LogReadings::Next(std::size_t runIndex, const LogRun& run, const LogPass& p) {
    if (run_ != runIndex) {
        // A run's first pass: it follows the run before when its date is missing or
        // earlier than where that run ended.
        run_ = runIndex;
        shift_ = ChartClock::duration::zero();
        const auto step = std::chrono::duration_cast<ChartClock::duration>(std::chrono::duration<double, std::milli>(run.loopDelayMs));
        if (end_ && (!run.start || p.time <= *end_)) {
            const auto gap = std::max(step, ChartClock::duration(std::chrono::milliseconds(1)));
            shift_ = WithinClock(*end_, std::chrono::duration<double>(gap).count()) ? (*end_ + gap) - p.time : ChartClock::duration::max();
        }
    }
    using Seconds = std::chrono::duration<double>;
    if (shift_ == ChartClock::duration::max() || !WithinClock(p.time, Seconds(shift_).count())) {
        ++pastClock;
        return std::nullopt;
    }
    ChartSample s;
    s.time = p.time + shift_;
    for (std::size_t i = 0; i < s.values.size(); ++i) s.values[i] = static_cast<float>(p.values[i]);
    s.newData = p.newData;
    s.alarm = p.error;
    s.status = p.status;
    end_ = s.time;
    return s;
}

std::string StreamLogInto(StripChartData& data, const std::filesystem::path& file, DataLogParser& parser, std::size_t& passes,
                          const std::function<bool(std::uint64_t, std::uint64_t)>& progress) {
    LogReadings readings;
    passes = 0;
    parser.onPass = [&](std::size_t run, const LogPass& p) {
        if (const auto s = readings.Next(run, parser.contents.runs[run], p)) {
            data.Add(*s);
            ++passes;
        }
    };
    std::string why = StreamDataLog(file, parser, progress);
    parser.contents.pastClock += readings.pastClock;
    return why;
}

std::size_t AddLog(StripChartData& data, const DataLogContents& log) {
    LogReadings readings;
    std::size_t added = 0;
    for (std::size_t r = 0; r < log.runs.size(); ++r)
        for (const LogPass& p : log.runs[r].passes) {
            if (const auto s = readings.Next(r, log.runs[r], p)) {
                data.Add(*s);
                ++added;
            }
        }
    return added;
}

std::array<SpanStats, kChartSeries> StripChartData::Stats(ChartClock::time_point from, ChartClock::time_point to) const {
    std::array<SpanStats, kChartSeries> out{};
    if (!RawCovers(from)) {
        // The summaries that meet the span, a thousand or so of them, combined.
        ChartBucket all;
        if (to > from) ForBuckets(LevelFor(from, to - from, 1000), from, to, [&](const ChartBucket& b) { all.Merge(b); });
        for (std::size_t k = 0; k < kChartSeries; ++k) {
            out[k].count = all.count;
            if (all.count == 0) continue;
            out[k].mean = all.mean[k];
            if (all.count > 1) out[k].stdDev = std::sqrt(all.m2[k] / static_cast<double>(all.count - 1));
            out[k].peakToPeak = static_cast<double>(all.max[k]) - static_cast<double>(all.min[k]);
        }
        return out;
    }
    std::array<double, kChartSeries> m2{}, lo{}, hi{};
    for (const ChartSample& s : samples_) {
        if (s.time < from || s.time > to) continue;
        for (std::size_t k = 0; k < kChartSeries; ++k) {
            SpanStats& o = out[k];
            const double v = s.values[k];
            if (o.count == 0) lo[k] = hi[k] = v;
            lo[k] = std::min(lo[k], v);
            hi[k] = std::max(hi[k], v);
            ++o.count;
            const double d = v - o.mean;
            o.mean += d / static_cast<double>(o.count);
            m2[k] += d * (v - o.mean);
        }
    }
    for (std::size_t k = 0; k < kChartSeries; ++k) {
        if (out[k].count > 1) out[k].stdDev = std::sqrt(m2[k] / static_cast<double>(out[k].count - 1));
        out[k].peakToPeak = hi[k] - lo[k];
    }
    return out;
}

ValueTicks RoundValueAxis(double lo, double hi, int most) {
    if (!std::isfinite(lo) || !std::isfinite(hi) || hi < lo) return {};
    // A little room above and below; a flat trace a band of 1 % of its value (a thousandth
    // at zero).
    const double pad = hi > lo ? (hi - lo) * 0.08 : std::max(1e-3, std::fabs(hi) * 0.01);
    const int pieces = std::max(1, most);
    // The smallest round step whose round ends (outside the room) lie at most `pieces`
    // steps apart: from the step that cuts the range itself so, up through the round ones.
    const double rough = (hi - lo + 2 * pad) / pieces;
    double power = std::pow(10.0, std::floor(std::log10(rough)));
    // Where none does (one piece across zero), the first with the fewest.
    std::optional<ValueTicks> best;
    for (int tries = 0; tries < 3; ++tries, power *= 10)
        for (const double f : {1.0, 2.0, 2.5, 5.0}) {
            const double step = f * power;
            if (step < rough * (1 - 1e-9)) continue;
            ValueTicks t;
            t.step = step;
            t.bottom = std::floor((lo - pad) / step) * step;
            t.top = std::ceil((hi + pad) / step) * step;
            t.count = static_cast<int>(std::lround((t.top - t.bottom) / step)) + 1;
            if (t.count - 1 <= pieces) return t;
            if (!best || t.count < best->count) best = t;
        }
    return *best;
}

TimeTicks RoundTimeTicks(ChartClock::time_point from, ChartClock::time_point to, int most) {
    using std::chrono::milliseconds;
    TimeTicks t;
    const auto span = to - from;
    t.format = span > std::chrono::hours(20) ? "dd.MM. hh:mm" : "hh:mm";
    if (!(to > from)) return t;
    most = std::max(most, 1);
    static constexpr std::int64_t kSteps[] = {100,       200,       500,       1'000,     2'000,      5'000,      10'000,    15'000,
                                              30'000,    60'000,    120'000,   300'000,   600'000,    900'000,    1'800'000, 3'600'000,
                                              7'200'000, 10'800'000, 21'600'000, 43'200'000, 86'400'000};
    const std::int64_t spanMs = std::chrono::duration_cast<milliseconds>(span).count();
    std::int64_t step = 0;
    for (std::int64_t s : kSteps)
        if (spanMs / s + 1 <= most) {
            step = s;
            break;
        }
    if (step == 0) step = ((spanMs / most) / 86'400'000 + 1) * 86'400'000;  // whole days
    t.step = milliseconds(step);
    if (step < 1'000) t.format = "hh:mm:ss.zzz";
    else if (step < 60'000) t.format = "hh:mm:ss";
    // Multiples on the local clock: 10:00 where the clock says 10:00, whatever its zone.
    const std::time_t seconds = ChartClock::to_time_t(from);
    std::tm local{};
    localtime_r(&seconds, &local);
    const std::int64_t offsetMs = static_cast<std::int64_t>(local.tm_gmtoff) * 1000;
    const std::int64_t fromMs = std::chrono::duration_cast<milliseconds>(from.time_since_epoch()).count() + offsetMs;
    const std::int64_t toMs = fromMs + spanMs;
    std::int64_t at = fromMs / step * step;
    if (at < fromMs) at += step;
    for (; at <= toMs; at += step) t.at.push_back(ChartClock::time_point(std::chrono::duration_cast<ChartClock::duration>(milliseconds(at - offsetMs))));
    return t;
}

std::string LegendText(int series, const SpanStats& s) {
    std::string text = kChartSeriesNames[series];
    if (s.count == 0) return text;
    return text + "   mean " + FormatSignificant(s.mean, 6) + "   sd " + FormatSignificant(s.stdDev, 3) + "   p-p " +
           FormatSignificant(s.peakToPeak, 3);
}

}  // namespace qvin::ui
