#pragma once
// Reads data logs written by this program back: any number of runs, each a header block
// (its date and loop delay) followed by tab-separated passes. A line that is no pass of
// the layout (junk, a line torn by a crash or a full disk) is skipped and counted.

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qvin {

struct LogPass {
    std::int32_t index = 0;
    std::array<double, 5> values{};  // supply, aux ADC, temperature, inclination 360 and 180
    bool newData = false;
    bool error = false;
    std::int32_t status = 0;
    // When the pass was read, as well as the log tells: the run's start plus the loop
    // delay for each pass before it.
    std::chrono::system_clock::time_point time;
};

struct LogRun {
    std::string date;  // as the header shows it
    std::optional<std::chrono::system_clock::time_point> start;
    double loopDelayMs = 0;
    std::vector<LogPass> passes;  // empty when a parser hands them on instead
    std::size_t passCount = 0;    // the run's passes, kept or handed on
};

struct DataLogContents {
    std::vector<LogRun> runs;
    std::size_t skipped = 0;    // lines that were neither header nor pass
    std::size_t pastClock = 0;  // passes whose time lies past the clock's range (the year 2262)
};

// Whether `base` plus `seconds` is a time the clock holds, with a day to spare.
bool WithinClock(std::chrono::system_clock::time_point base, double seconds);

// A log's lines, one at a time: what ParseDataLog and ReadDataLog feed.
inline constexpr std::size_t kMaxLogLine = 4096;  // a pass is some 80 characters
class DataLogParser {
public:
    // One line without its line break; `lastLine` when the file ended without one (a
    // pass cut short: no pass).
    void Feed(std::string_view line, bool lastLine);
    // A line longer than kMaxLogLine, not held: counted as malformed.
    void FeedTooLong();
    DataLogContents contents;
    // When set, each pass goes here (with its run's index in contents.runs) instead of into
    // its run: a log of any size in bounded memory.
    std::function<void(std::size_t run, const LogPass& pass)> onPass;

private:
    void FeedPass(std::string_view line, bool lastLine);
};

DataLogContents ParseDataLog(std::string_view text);

// Feeds the file to `parser` in chunks, to its end. `progress` (when set) hears the bytes
// read and the file's size after each chunk and may answer false to stop there. Why the
// file could not be read, "" when it was read whole, or kDataLogCancelled.
inline constexpr const char* kDataLogCancelled = "cancelled";
std::string StreamDataLog(const std::filesystem::path& file, DataLogParser& parser,
                          const std::function<bool(std::uint64_t done, std::uint64_t size)>& progress = {});

// What a log holds, as the strip chart and the plot say it: "NAME: 50 passes in 2 runs",
// then the malformed lines skipped and the runs whose date could not be taken (not a
// date, or outside 1970 to 2200), which are drawn right after the run before them (the
// first from 1970).
std::string DataLogSummary(const std::string& name, std::size_t passes, const DataLogContents& log);
// The file's contents, read to its end in chunks; nothing (and `error` set) when it cannot
// be read.
std::optional<DataLogContents> ReadDataLog(const std::filesystem::path& file, std::string& error);

// "M/D/YYYY HH:MM:SS" in local time, as DataLogDate writes it, from 1970 to 2200.
std::optional<std::chrono::system_clock::time_point> ParseDataLogDate(std::string_view text);

}  // namespace qvin
