#pragma once
// Samples to analyse, from a file: a capture (qvin-cli capture's CSV), a data log (one of
// its runs, the time between samples nominally its loop delay) or one value a line (the
// time between them given). Read strictly and in bounded lines; a bad line is named.
// What is missing stays missing: each missing sample is a NaN in every column (never
// bridged: a gap longer than the record is held as long as the record), and counted.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace qvin::analysis {

struct Series {
    std::vector<std::string> names;  // "INCL_360 (dgr)", or "value"
    std::vector<std::vector<double>> columns;  // NaN where samples are missing
    double tau0 = 0;   // seconds between samples
    std::string note;  // where tau0 came from
    bool nominalTau0 = false;  // a data log's loop delay, not measured times
    std::size_t samples = 0;   // rows kept (without the gaps' NaN)
    std::size_t gaps = 0;      // stretches of missing samples
    std::size_t missing = 0;   // samples missing in all of them
    std::size_t longestGap = 0;     // samples missing in the longest
    double longestGapAt = 0;        // seconds from the first sample to where it begins
    std::size_t withoutNewData = 0;  // data log passes whose sample was not new
    std::size_t malformed = 0;       // data log lines that were no pass, skipped
    // A data log: each run described ("1: 7/12/2026 09:00:00, loop delay 10 ms, 300
    // passes"), and which one the series holds (from 0).
    std::vector<std::string> runs;
    std::size_t run = 0;
};

// The capture's first header field starts so, followed by its start in ISO 8601.
inline constexpr const char* kCaptureHead = "seconds since ";

// A gap is an interval longer than this many times the median interval.
inline constexpr double kGapFactor = 1.5;

struct SeriesOptions {
    std::optional<double> tau0;        // overrides what the file says; needed for plain values
    std::optional<std::size_t> run;    // a data log's run, from 1; the longest when not given or not there
    // Only this output's column is kept ("incl_360" or "INCL_360 (dgr)", any case): a long
    // record costs one column of memory. All of them when not given.
    std::optional<std::string> column;
};

// Nothing, with `error` set, when the file cannot be read or holds no capture, log or
// values as they must be (a plain file without a tau0 is "neither a capture nor a data
// log"). A file without any sample is read: its `samples` is 0.
std::optional<Series> ReadSeries(const std::filesystem::path& file, const SeriesOptions& options, std::string& error);

// Gaps put into a series from the time of each sample. `missedBefore`, when not empty,
// holds the samples a capture itself counted as missed before each row (from the part's
// sample period); each interval is shared among the samples made in it. An interval whose
// share is over kGapFactor times tau0 (twice, when the capture counted: a sample is read
// up to a period after it appears) is a gap of round(interval / tau0) - 1 samples (at
// least one); tau0 is the mean share of the intervals within that of the median share. The columns hold one
// value a time; they come back with a NaN for each sample missing. `times` must rise strictly.
void PlaceGaps(Series& s, const std::vector<double>& times, const std::vector<double>& missedBefore = {});

// One line of what is missing: "no gap" or "3 gaps, 5000 samples missing, the longest 5000
// at 7.5 s".
std::string GapSummary(const Series& s);

}  // namespace qvin::analysis
