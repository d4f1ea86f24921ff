#pragma once
// What the strip chart shows: the five outputs and their flags against time, for the
// last ten minutes of readings (or a data log read back), and the reduction that keeps
// drawing cheap however many readings there are: the smallest and largest value of each
// output per pixel column, so no peak is lost.

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace qvin {
struct DataLogContents;
}

namespace qvin::ui {

using ChartClock = std::chrono::system_clock;

inline constexpr int kChartSeries = 5;
// The outputs, as the main window names them.
inline constexpr const char* kChartSeriesNames[kChartSeries] = {"SUPPLY_OUT (V)", "AUX_ADC (V)", "TEMP_OUT (dgrC)",
                                                                "INCL_360 (dgr)", "INCL_180 (dgr)"};

struct ChartSample {
    ChartClock::time_point time;
    std::array<float, kChartSeries> values{};
    bool newData = false;
    bool alarm = false;
    std::int32_t status = 0;
};

// One pixel column: the extremes of each output within it, in the order they came, and
// whether any reading in it was new or raised an alarm.
struct ChartColumn {
    ChartClock::time_point from, to;
    bool any = false;
    std::array<float, kChartSeries> min{}, max{};
    std::array<bool, kChartSeries> minFirst{};
    bool newData = false;
    bool alarm = false;
};

// Mean, standard deviation and peak-to-peak of one output over the shown span: the legend.
struct SpanStats {
    std::size_t count = 0;
    double mean = 0, stdDev = 0, peakToPeak = 0;
};
// "INCL_360 (dgr)   mean 30.0003   sd 0.0251   p-p 0.15" (the name alone without readings).
std::string LegendText(int series, const SpanStats& s);

class StripChartData {
public:
    // Readings older than `history` before the newest are dropped.
    explicit StripChartData(ChartClock::duration history = std::chrono::minutes(10)) : history_(history) {}

    void Add(const ChartSample& s);
    void Clear() { samples_.clear(); }
    const std::deque<ChartSample>& samples() const { return samples_; }
    std::optional<ChartClock::time_point> newest() const;
    std::optional<ChartClock::time_point> oldest() const;

    // The readings from `from` to `to` in `columns` equal columns.
    std::vector<ChartColumn> Reduce(ChartClock::time_point from, ChartClock::time_point to, int columns) const;
    // The readings from `from` to `to` as CSV: a header row, then one row each with an
    // ISO 8601 timestamp (UTC, milliseconds), the five values and the flags.
    std::string Csv(ChartClock::time_point from, ChartClock::time_point to) const;
    // Each output's statistics from `from` to `to`, in one pass (Welford's).
    std::array<SpanStats, kChartSeries> Stats(ChartClock::time_point from, ChartClock::time_point to) const;

private:
    ChartClock::duration history_;
    std::deque<ChartSample> samples_;
};

// "2026-12-06T11:08:08.125Z"
std::string IsoTime(ChartClock::time_point t);

// The passes of a data log as readings, in the order of the log: a run whose date is
// missing or earlier than where the run before it ended follows right after that run.
// Returns how many passes were added.
std::size_t AddLog(StripChartData& data, const DataLogContents& log);

}  // namespace qvin::ui
