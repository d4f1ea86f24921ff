#pragma once
// What the strip chart shows: the five outputs and their flags against time, for a whole
// session (or a data log read back), and the reduction that keeps drawing cheap however
// many readings there are: the smallest and largest value of each output per pixel
// column, so no peak is lost.

#include <array>
#include <chrono>
#include <cstdint>
#include "device/outputs.h"
#include "ui/chart/ring.h"
#include <deque>
#include <filesystem>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace qvin {
struct DataLogContents;
class DataLogParser;
struct LogRun;
struct LogPass;
}

namespace qvin::ui {

using ChartClock = std::chrono::system_clock;

inline constexpr int kChartSeries = 5;
// The outputs, as the main window names them.
inline constexpr const char* kChartSeriesNames[kChartSeries] = {kPartOutputs[0].column, kPartOutputs[1].column, kPartOutputs[2].column,
                                                                kPartOutputs[3].column, kPartOutputs[4].column};

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

// The readings of one stretch of time, summed up: their extremes (in the order they came),
// flags, and each output's count, mean and sum of squared deviations (Welford's), so that
// two summaries combine exactly (Chan's formula).
struct ChartBucket {
    ChartClock::time_point from, to;  // the first and the last reading in it
    std::uint32_t count = 0;
    std::array<float, kChartSeries> min{}, max{};
    std::array<bool, kChartSeries> minFirst{};
    std::array<double, kChartSeries> mean{}, m2{};
    bool newData = false, alarm = false;
    void Add(const ChartSample& s);
    void Merge(const ChartBucket& later);
};

// Mean, standard deviation and peak-to-peak of one output over the shown span: the legend.
struct SpanStats {
    std::size_t count = 0;
    double mean = 0, stdDev = 0, peakToPeak = 0;
};
// "INCL_360 (dgr)   mean 30.0003   sd 0.0251   p-p 0.15" (the name alone without readings).
std::string LegendText(int series, const SpanStats& s);

// The time axis's marks over [from, to]: each whole multiple, on the local clock, of the
// smallest round step (0.1, 0.2, 0.5, 1, 2, 5, 10, 15, 30 s; 1, 2, 5, 10, 15, 30 min; 1, 2,
// 3, 6, 12 h; days) that gives at most `most` of them; and the form of their labels (Qt's:
// "hh:mm:ss.zzz", "hh:mm:ss", "hh:mm", or "dd.MM. hh:mm" over more than 20 hours).
struct TimeTicks {
    std::vector<ChartClock::time_point> at;
    std::chrono::milliseconds step{0};
    std::string format;
};
TimeTicks RoundTimeTicks(ChartClock::time_point from, ChartClock::time_point to, int most);

// A value axis for readings from `lo` to `hi`: round ends a whole number of steps apart,
// the step the smallest round one (1, 2, 2.5 or 5 times a power of ten) that cuts the
// readings and a little room above and below them into at most `most` pieces. A flat
// trace gets a band around it.
struct ValueTicks {
    double bottom = 0, top = 1, step = 1;
    int count = 2;  // marks, both ends included
};
ValueTicks RoundValueAxis(double lo, double hi, int most);

// The readings, kept two ways. Each reading of the last `history` before the newest, as it
// came: what the spans up to ten minutes draw, exactly. And summaries of every reading
// since the first, in buckets of 1 s, 4 s, 16 s ... 4^7 s (4.5 h) aligned on the clock,
// each level keeping its newest kLevelBuckets buckets: a span of any length draws from the
// coarsest level whose buckets are no wider than a pixel column, so at most four buckets a
// column, and a session of any length takes bounded memory (a 48-hour session at the 10 ms
// loop: some 123,000 buckets of 152 bytes, 19 MB, besides the last ten minutes' 60,000
// readings).
class StripChartData {
public:
    static constexpr int kLevels = 8;
    static constexpr std::size_t kLevelBuckets = 1 << 16;  // 18 h of 1 s buckets, 73 h of 4 s ...
    static constexpr ChartClock::duration kFinestBucket = std::chrono::seconds(1);

    // Readings older than `history` before the newest are summed up only.
    explicit StripChartData(ChartClock::duration history = std::chrono::minutes(10)) : history_(history) {}

    void Add(const ChartSample& s);
    void Clear();
    // The readings kept one by one (the last `history`).
    const Ring<ChartSample>& samples() const { return samples_; }
    // Every reading added since the start (or the last Clear).
    std::uint64_t count() const { return count_; }
    ChartClock::duration history() const { return history_; }
    std::optional<ChartClock::time_point> newest() const;
    std::optional<ChartClock::time_point> oldest() const;

    // How finely Reduce places the readings over that span: nothing where it has them one
    // by one, else the width of the summaries it draws from (a column may then stay empty
    // beside one whose summary reaches over it).
    ChartClock::duration Resolution(ChartClock::time_point from, ChartClock::time_point to, int columns) const;
    // The readings from `from` to `to` in `columns` equal columns.
    std::vector<ChartColumn> Reduce(ChartClock::time_point from, ChartClock::time_point to, int columns) const;
    // The readings kept one by one from `from` to `to` as CSV: a header row, then one row
    // each with an ISO 8601 timestamp (UTC, milliseconds), the five values and the flags.
    // Written as it goes; false when the stream failed.
    bool WriteCsv(ChartClock::time_point from, ChartClock::time_point to, std::ostream& out) const;
    std::string Csv(ChartClock::time_point from, ChartClock::time_point to) const;
    // Each output's statistics from `from` to `to`: of the readings themselves where they
    // are kept, otherwise of the summaries that meet the span.
    std::array<SpanStats, kChartSeries> Stats(ChartClock::time_point from, ChartClock::time_point to) const;
    // The buckets kept at each level (for the memory figures).
    std::size_t buckets() const;

private:
    // Whether the readings kept one by one hold all there is from `from` on.
    bool RawCovers(ChartClock::time_point from) const;
    // The level to draw `span` in `columns` from, reaching back to `from`.
    int LevelFor(ChartClock::time_point from, ChartClock::duration span, int columns) const;
    // Level `level`'s buckets that meet [from, to], then the still-open buckets of the
    // finer levels (newer than any of them), oldest first.
    template <typename F>
    void ForBuckets(int level, ChartClock::time_point from, ChartClock::time_point to, F&& f) const;
    void Push(int level, const ChartBucket& b);
    static std::int64_t Window(int level, ChartClock::time_point t);

    ChartClock::duration history_;
    Ring<ChartSample> samples_;
    std::array<Ring<ChartBucket>, kLevels> levels_;
    std::array<bool, kLevels> trimmed_{};  // a level has let its oldest buckets go
    std::uint64_t count_ = 0;
};

// "2026-12-06T11:08:08.125Z"
std::string IsoTime(ChartClock::time_point t);
// The CSV export's header row, and one reading as a row after it.
std::string CsvHeader();
void AppendCsvRow(std::string& csv, const ChartSample& s);

// The passes of a data log as readings, in the order of the log: a run whose date is
// missing or earlier than where the run before it ended follows right after that run.
// Returns how many passes were added.
std::size_t AddLog(StripChartData& data, const DataLogContents& log);

// A data log file streamed into `data`, pass by pass (bounded memory); `parser` keeps its
// runs and skipped lines for the summary, `passes` counts what was added. Why it could not
// be read, kDataLogCancelled when `progress` said stop, or "".
std::string StreamLogInto(StripChartData& data, const std::filesystem::path& file, DataLogParser& parser, std::size_t& passes,
                          const std::function<bool(std::uint64_t done, std::uint64_t size)>& progress = {});

// The same, pass by pass as a streaming reader hands them on: each pass as the reading
// the chart shows.
class LogReadings {
public:
    // Nothing for a pass that, moved after the run before it, would lie past the clock's
    // range; counted in pastClock.
    std::optional<ChartSample> Next(std::size_t runIndex, const LogRun& run, const LogPass& pass);
    std::size_t pastClock = 0;

private:
    std::optional<std::size_t> run_;
    std::optional<ChartClock::time_point> end_;  // where the run before ended
    ChartClock::duration shift_{};
};

}  // namespace qvin::ui
