#include "ui/chart/strip_chart_data.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "core/number_text.h"
#include "device/data_log_reader.h"

namespace qvin::ui {

void StripChartData::Add(const ChartSample& s) {
    // Readings come in time order; one from before the newest (a clock set back) starts
    // the history afresh rather than drawing backwards.
    if (!samples_.empty() && s.time < samples_.back().time) samples_.clear();
    samples_.push_back(s);
    // Saturating: a reading from the clock's earliest times keeps everything.
    const auto earliest = ChartClock::time_point::min() + history_;
    if (s.time < earliest) return;
    while (!samples_.empty() && samples_.front().time < s.time - history_) samples_.pop_front();
}

std::optional<ChartClock::time_point> StripChartData::newest() const {
    if (samples_.empty()) return std::nullopt;
    return samples_.back().time;
}

std::optional<ChartClock::time_point> StripChartData::oldest() const {
    if (samples_.empty()) return std::nullopt;
    return samples_.front().time;
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
    auto first = std::lower_bound(samples_.begin(), samples_.end(), from,
                                  [](const ChartSample& s, ChartClock::time_point t) { return s.time < t; });
    for (auto it = first; it != samples_.end() && it->time <= to; ++it) {
        const auto offset = (it->time - from).count();
        auto c = static_cast<std::size_t>(static_cast<double>(offset) / static_cast<double>(span.count()) * columns);
        c = std::min(c, out.size() - 1);
        ChartColumn& col = out[c];
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

std::string StripChartData::Csv(ChartClock::time_point from, ChartClock::time_point to) const {
    std::string csv = "time";
    for (const char* name : kChartSeriesNames) csv += std::string(",") + name;
    csv += ",new data,alarm,status\r\n";
    for (const ChartSample& s : samples_) {
        if (s.time < from || s.time > to) continue;
        csv += IsoTime(s.time);
        for (float v : s.values) csv.append(1, ',').append(FormatGeneral(v));
        csv += s.newData ? ",1" : ",0";
        csv += s.alarm ? ",1" : ",0";
        csv.append(1, ',').append(std::to_string(s.status)).append("\r\n");
    }
    return csv;
}

std::size_t AddLog(StripChartData& data, const DataLogContents& log) {
    std::size_t added = 0;
    std::optional<ChartClock::time_point> end;
    for (const LogRun& run : log.runs) {
        if (run.passes.empty()) continue;
        const auto step = std::chrono::duration_cast<ChartClock::duration>(std::chrono::duration<double, std::milli>(run.loopDelayMs));
        auto shift = ChartClock::duration::zero();
        const auto first = run.passes.front().time;
        if (end && (!run.start || first <= *end)) shift = (*end + std::max(step, ChartClock::duration(std::chrono::milliseconds(1)))) - first;
        for (const LogPass& p : run.passes) {
            ChartSample s;
            s.time = p.time + shift;
            for (std::size_t i = 0; i < s.values.size(); ++i) s.values[i] = static_cast<float>(p.values[i]);
            s.newData = p.newData;
            s.alarm = p.error;
            s.status = p.status;
            data.Add(s);
            ++added;
        }
        end = run.passes.back().time + shift;
    }
    return added;
}

std::array<SpanStats, kChartSeries> StripChartData::Stats(ChartClock::time_point from, ChartClock::time_point to) const {
    std::array<SpanStats, kChartSeries> out{};
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

std::string LegendText(int series, const SpanStats& s) {
    std::string text = kChartSeriesNames[series];
    if (s.count == 0) return text;
    char buf[120];
    std::snprintf(buf, sizeof buf, "   mean %.6g   sd %.3g   p-p %.3g", s.mean, s.stdDev, s.peakToPeak);
    return text + buf;
}

}  // namespace qvin::ui
