#include "analysis/series.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string_view>

#include "core/excerpt.h"
#include "core/line_reader.h"
#include "core/file_safety.h"
#include "core/number_text.h"
#include "device/data_log_reader.h"
#include "device/outputs.h"

namespace qvin::analysis {

namespace {

constexpr std::size_t kMaxLine = 4096;
constexpr std::size_t kMaxColumns = 16;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// A data log's gap stands for at most this many samples in the columns (longer ones block
// every span across them anyway: a log's averaging spans are a fraction of its passes).
constexpr std::size_t kMaxNaN = 1'000'000;

// Lines of at most kMaxLine characters kept; `tooLong` says one was longer.
class Lines {
public:
    explicit Lines(std::istream& in) : reader_(in, kMaxLine) {}
    bool Next(std::string& line, bool& tooLong) {
        const LineReader::End end = reader_.Next(line);
        tooLong = end == LineReader::End::TooLong;
        return end != LineReader::End::None;
    }

private:
    LineReader reader_;
};

// Whether a field Number would take, without converting it: [+-] digits [. digits], some
// digit, nothing else. Anything else (an exponent, a tab, hundreds of digits, which might
// not be finite) is left to Number itself.
bool PlainNumber(std::string_view f) {
    if (f.empty() || f.size() > 300) return false;
    std::size_t i = f[0] == '+' || f[0] == '-' ? 1 : 0, digits = 0;
    while (i < f.size() && f[i] >= '0' && f[i] <= '9') ++i, ++digits;
    if (i < f.size() && f[i] == '.')
        for (++i; i < f.size() && f[i] >= '0' && f[i] <= '9'; ++i) ++digits;
    return digits > 0 && i == f.size();
}

bool Number(std::string_view f, double& v) {
    const NumberScan n = ScanLeadingNumber(f);
    if (f.empty() || n.length != f.size() || f[0] == ' ' || !std::isfinite(n.value)) return false;
    v = n.value;
    return true;
}

std::string FormatMs(double ms) {
    std::ostringstream o;
    o << ms;
    return o.str();
}

// Appends a gap of `missing` samples that begins `at` seconds after the first.
void NoteGap(Series& s, std::size_t missing, double at) {
    ++s.gaps;
    s.missing += missing;
    if (missing > s.longestGap) {
        s.longestGap = missing;
        s.longestGapAt = at;
    }
    for (std::vector<double>& c : s.columns) c.insert(c.end(), std::min(missing, kMaxNaN), kNaN);
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Whether the column named `name` ("INCL_360 (dgr)") is one the caller keeps.
bool Kept(const SeriesOptions& o, const std::string& name) {
    if (!o.column) return true;
    const std::string want = Lower(*o.column);
    return want == Lower(name.substr(0, name.find(' '))) || want == Lower(name);
}

// A data log's run: its passes on the nominal grid of its loop delay; a pass whose sample
// was not new is a missing sample, not the same sample again. Read twice, a pass at a
// time: once to find the runs, once for the chosen run's kept columns, so that a log of
// any length costs only those.
std::string FromLog(Series& s, const std::filesystem::path& file, const SeriesOptions& options) {
    std::vector<std::size_t> kept;
    for (std::size_t k = 0; k < kPartOutputs.size(); ++k)
        if (Kept(options, kPartOutputs[k].column)) {
            kept.push_back(k);
            s.names.emplace_back(kPartOutputs[k].column);
        }
    s.columns.resize(kept.size());
    if (kept.empty()) return {};  // the caller says that no column has that name
    DataLogParser runs;
    runs.onPass = [](std::size_t, const LogPass&) {};
    if (std::string why = StreamDataLog(file, runs); !why.empty()) return why;
    const DataLogContents& log = runs.contents;
    s.malformed = log.skipped;
    for (std::size_t i = 0; i < log.runs.size(); ++i) {
        const LogRun& r = log.runs[i];
        s.runs.push_back(std::to_string(i + 1) + ": " + Excerpt(r.date, 40) + ", loop delay " + FormatMs(r.loopDelayMs) + " ms, " +
                         std::to_string(r.passCount) + (r.passCount == 1 ? " pass" : " passes"));
    }
    if (log.runs.empty()) return {};  // a first line like a header that the log's reader did not take for one
    std::size_t chosen = 0;
    for (std::size_t i = 1; i < log.runs.size(); ++i)
        if (log.runs[i].passCount > log.runs[chosen].passCount) chosen = i;
    // A run that is not there is the caller's to refuse: the runs it can pick are listed.
    if (options.run && *options.run >= 1 && *options.run <= log.runs.size()) chosen = *options.run - 1;
    s.run = chosen;
    const LogRun& r = log.runs[chosen];
    s.tau0 = r.loopDelayMs / 1000.0;
    s.nominalTau0 = true;
    s.note = "nominal: the run's loop delay; a data log holds no time of its passes (capture records each sample's time)";
    for (std::vector<double>& c : s.columns) c.reserve(r.passCount);
    std::size_t run = 0, at = 0;
    double runAt = 0;
    DataLogParser again;
    again.onPass = [&](std::size_t index, const LogPass& p) {
        if (index != chosen) return;
        const std::size_t i = at++;
        if (!p.newData) {
            ++s.withoutNewData;
            if (run++ == 0) runAt = static_cast<double>(i) * s.tau0;
            return;
        }
        if (run > 0 && s.samples > 0) NoteGap(s, run, runAt);
        run = 0;
        for (std::size_t k = 0; k < kept.size(); ++k) s.columns[k].push_back(p.values[kept[k]]);
        ++s.samples;
    };
    return StreamDataLog(file, again);
}

}  // namespace

namespace {

// The samples a capture counted as missed before each row: none, or a few rows' counts.
struct Counted {
    bool counts = false;                                       // the capture counted its misses
    std::vector<std::pair<std::size_t, double>> nonzero;       // (row, count), rows in order
};

// A record's time stamps as the steps between them, each in single precision: 4 bytes a
// row where the stamps would take 8, the largest thing a long capture's reading would hold
// beside its column. A step's rounding (under 1e-7 of it) is far below a period for the
// steps under a second; longer ones, the gaps, are kept exactly beside. Every 1024th stamp
// is kept exactly too, so that the roundings do not add up along a record.
class TimeSteps {
public:
    static constexpr std::size_t kMark = 1024;
    void Reserve(std::size_t rows) { steps_.reserve(rows); }
    void Push(double t) {
        if (n_ % kMark == 0) marks_.push_back(t);
        if (n_ == 0) first_ = t;
        else {
            const double step = t - last_;
            steps_.push_back(static_cast<float>(step));
            if (step >= 1.0) exact_.emplace_back(n_, step);
        }
        last_ = t;
        ++n_;
    }
    std::size_t size() const { return n_; }
    bool empty() const { return n_ == 0; }
    double back() const { return last_; }
    double Span() const { return last_ - first_; }
    // times[i] - times[i - 1], i from 1.
    double Step(std::size_t i) const {
        const float step = steps_[i - 1];
        if (step < 1.0f) return step;
        const auto it = std::lower_bound(exact_.begin(), exact_.end(), i, [](const auto& e, std::size_t k) { return e.first < k; });
        return it != exact_.end() && it->first == i ? it->second : step;
    }
    // times[i] - times[0], from `before`, times[i - 1] - times[0] (walking forwards).
    double Since(std::size_t i, double before) const { return i % kMark == 0 ? marks_[i / kMark] - first_ : before + Step(i); }

private:
    std::vector<float> steps_;
    std::vector<double> marks_;
    std::vector<std::pair<std::size_t, double>> exact_;
    std::size_t n_ = 0;
    double first_ = 0, last_ = 0;
};

// The median of n positive values got through `at(i)` in single precision, without a copy
// of them: positive floats sort as their bits do, so two passes of counting, over the high
// and then the low half of the bits, find the middle one.
template <class At>
float MedianOfPositive(std::size_t n, At at) {
    std::vector<std::size_t> count(1 << 16);
    auto bits = [&](std::size_t i) {
        const float v = at(i);
        std::uint32_t b = 0;
        std::memcpy(&b, &v, sizeof b);
        return b;
    };
    std::size_t rank = n / 2;
    for (std::size_t i = 0; i < n; ++i) ++count[bits(i) >> 16];
    std::uint32_t high = 0;
    while (rank >= count[high]) rank -= count[high++];
    std::fill(count.begin(), count.end(), 0);
    for (std::size_t i = 0; i < n; ++i)
        if (const std::uint32_t b = bits(i); b >> 16 == high) ++count[b & 0xFFFF];
    std::uint32_t low = 0;
    while (rank >= count[low]) rank -= count[low++];
    const std::uint32_t b = high << 16 | low;
    float median = 0;
    std::memcpy(&median, &b, sizeof median);
    return median;
}

// PlaceGaps over times in memory that grows by nothing but the one output column: the
// intervals' median counted off them, everything else read off the steps again, and the
// column stretched in place for its gaps.
void PlaceGapsLean(Series& s, const TimeSteps& times, const Counted& counted) {
    const std::size_t n = times.size();
    s.samples = n;
    if (n < 2) return;
    // counted(i), walking forwards.
    std::size_t next = 0;
    auto countedAt = [&](std::size_t i) {
        while (next < counted.nonzero.size() && counted.nonzero[next].first < i) ++next;
        return next < counted.nonzero.size() && counted.nonzero[next].first == i ? counted.nonzero[next].second : 0.0;
    };
    auto spacingAt = [&](std::size_t i) { return times.Step(i) / (1.0 + countedAt(i)); };
    // Each interval shared among the samples made in it (one, unless the capture counted
    // some missed); one over kGapFactor times the median is a gap of as many samples as fit.
    // The median only finds the gaps roughly: reads in step with the interface, not the
    // part, bunch the intervals, so the time between samples is the mean of the rest, and
    // that tells the gaps. Single precision is plenty for the median: it only sets the
    // thresholds.
    const double median = MedianOfPositive(n - 1, [&](std::size_t k) {
        if (k == 0) next = 0;
        return static_cast<float>(spacingAt(k + 1));
    });
    // A capture's time stamp is when a sample was read, up to a period after it appeared:
    // where the capture counted its misses, only a share over two periods is one it did not.
    // The median may sit a read short of the period when reads bunch: a counted capture's
    // mean leaves out only what is plainly a hole. The span is the whole record's less the
    // holes, so that the steps' rounding does not add up.
    const double factor = counted.counts ? 2.0 : kGapFactor;
    const double meanFactor = counted.counts ? 3.0 : kGapFactor;
    double span = times.Span(), made = 0;
    next = 0;
    for (std::size_t i = 1; i < n; ++i)
        if (spacingAt(i) <= meanFactor * median) made += 1.0 + countedAt(i);
        else span -= times.Step(i);
    s.tau0 = made > 0 ? span / made : median;
    if (!(s.tau0 > 0)) return;
    // Samples missed before the first row came before the record: no gap inside it.
    auto missingAt = [&](std::size_t i) {
        if (i == 0) return 0.0;
        double m = countedAt(i);
        if (spacingAt(i) > factor * s.tau0) m = std::max(1.0, std::round(times.Step(i) / s.tau0) - 1.0);
        return m;
    };
    // One NaN a missing sample, so that time keeps its place; a gap longer than the record
    // blocks every span that reaches across it however long it is.
    std::size_t nans = 0;
    double at = 0;  // times[i - 1] - times[0]
    next = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (i >= 2) at = times.Since(i - 1, at);
        if (const double m = missingAt(i); m > 0) {
            ++s.gaps;
            const auto count = static_cast<std::size_t>(std::min(m, 1e15));
            s.missing += count;
            if (count > s.longestGap) {
                s.longestGap = count;
                s.longestGapAt = at;
            }
            nans += std::min<std::size_t>(count, n);
        }
    }
    if (nans == 0) return;
    // From the back, each sample to its place and the NaN before it.
    std::vector<std::size_t> places;  // rows with a gap before them, and the NaN each takes
    std::vector<std::size_t> widths;
    next = 0;
    for (std::size_t i = 0; i < n; ++i)
        if (const double m = missingAt(i); m > 0) {
            places.push_back(i);
            widths.push_back(std::min<std::size_t>(static_cast<std::size_t>(std::min(m, 1e15)), n));
        }
    for (std::vector<double>& c : s.columns) {
        c.resize(n + nans);
        std::size_t to = n + nans, from = n, gap = places.size();
        while (gap > 0) {
            --gap;
            const std::size_t row = places[gap];
            while (from > row) c[--to] = c[--from];
            for (std::size_t k = 0; k < widths[gap]; ++k) c[--to] = kNaN;
        }
    }
}

}  // namespace

void PlaceGaps(Series& s, const std::vector<double>& times, const std::vector<double>& missedBefore) {
    Counted counted;
    counted.counts = !missedBefore.empty();
    for (std::size_t i = 0; i < missedBefore.size(); ++i)
        if (missedBefore[i] != 0) counted.nonzero.emplace_back(i, missedBefore[i]);
    TimeSteps steps;
    steps.Reserve(times.size());
    for (double t : times) steps.Push(t);
    PlaceGapsLean(s, steps, counted);
}

std::string GapSummary(const Series& s) {
    if (s.gaps == 0) return "no gap";
    std::ostringstream o;
    o << s.gaps << (s.gaps == 1 ? " gap, " : " gaps, ") << s.missing << (s.missing == 1 ? " sample" : " samples")
      << " missing, the longest " << s.longestGap << " after " << s.longestGapAt << " s";
    return o.str();
}

namespace {

// "FILE: line N: WHY".
std::string LineError(const std::filesystem::path& file, std::size_t number, const std::string& why) {
    return file.string() + ": line " + std::to_string(number) + ": " + why;
}

// A field as an error names it: "'TEXT'" with at most 20 characters of it. Built by
// appending: GCC 12 at -O3 warns falsely of an overlapping copy in a literal plus a temporary.
std::string Quoted(std::string_view text) {
    std::string q(1, '\'');
    return q.append(Excerpt(text, 20)).append(1, '\'');
}

// The columns a capture's header names (the outputs, a name with its unit, then the flags)
// and which of them are read.
struct CaptureColumns {
    std::size_t fields = 0;
    std::optional<std::size_t> newColumn, missedColumn;
    std::vector<std::size_t> outputs;  // the outputs kept
};

std::string ReadCaptureHead(const std::filesystem::path& file, const std::string& line, const SeriesOptions& options, Series& s, CaptureColumns& c) {
    std::stringstream head(line);
    std::string field;
    std::getline(head, field, ',');
    std::vector<std::string> fields;
    while (std::getline(head, field, ',')) {
        if (fields.size() == kMaxColumns) return LineError(file, 1, "more than " + std::to_string(kMaxColumns) + " columns");
        fields.push_back(field);
    }
    c.fields = fields.size();
    for (std::size_t k = 0; k < fields.size(); ++k) {
        const std::string& f = fields[k];
        if (f == "New") c.newColumn = k;
        else if (f == "Missed") c.missedColumn = k;
        else if (f == "Alarm" || f == "Status") continue;
        else if (f.size() > 3 && f.find(" (") != std::string::npos && f.back() == ')') {
            if (!Kept(options, f)) continue;
            c.outputs.push_back(k);
            s.names.push_back(f);
        } else {
            return LineError(file, 1, Quoted(f) + " is no column of a capture");
        }
    }
    if (c.outputs.empty() && !options.column) return LineError(file, 1, "no capture's header: it names no output");
    return {};
}

// Room for as many rows as the file would hold of the first one's length and a fifth more:
// pages never written take no memory, and the vectors need not grow by copying themselves
// over and over. Not beyond 64 million rows (half a gigabyte of addresses a vector): a short
// first line in a huge file must not ask for more than a machine would give.
std::size_t RowsToReserve(const std::filesystem::path& file, std::size_t firstLine) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(file, ec);
    const std::size_t rows = ec ? 0 : static_cast<std::size_t>(size / (firstLine + 1) * 6 / 5 + 16);
    return std::min<std::size_t>(rows, std::size_t{1} << 26);
}

// A capture's rows after its header.
std::string FromCapture(Series& s, const std::filesystem::path& file, Lines& lines, const CaptureColumns& c) {
    s.columns.resize(c.outputs.size());
    TimeSteps times;
    Counted counted;
    counted.counts = c.missedColumn.has_value();
    std::vector<double> values(c.fields + 1);
    // Every field must be a number; only the time, the outputs kept and the flags read are
    // converted.
    std::vector<bool> wanted(c.fields + 1, false);
    wanted[0] = true;
    for (std::size_t k : c.outputs) wanted[k + 1] = true;
    if (c.newColumn) wanted[*c.newColumn + 1] = true;
    if (c.missedColumn) wanted[*c.missedColumn + 1] = true;
    std::string line;
    bool tooLong = false;
    for (std::size_t number = 2; lines.Next(line, tooLong); ++number) {
        if (tooLong) return LineError(file, number, "longer than " + std::to_string(kMaxLine) + " characters");
        if (line.empty()) continue;
        if (times.empty()) {
            const std::size_t room = RowsToReserve(file, line.size());
            times.Reserve(room);
            for (auto& column : s.columns) column.reserve(room);
        }
        std::string_view rest(line);
        std::string_view time;
        for (std::size_t f = 0; f < values.size(); ++f) {
            if (rest.data() == nullptr) return LineError(file, number, "too few fields");
            const std::size_t comma = rest.find(',');
            const std::string_view fieldText = rest.substr(0, comma);
            if (!(wanted[f] ? Number(fieldText, values[f]) : PlainNumber(fieldText) || Number(fieldText, values[f])))
                return LineError(file, number, Quoted(fieldText) + " is no number");
            if (f == 0) time = fieldText;
            // As getline reads fields: a comma that ends the line starts none.
            rest = comma == std::string_view::npos || comma + 1 == rest.size() ? std::string_view() : rest.substr(comma + 1);
        }
        if (rest.data() != nullptr) return LineError(file, number, "too many fields");
        // Time runs forwards: a repeat or a step back is a file put together wrongly.
        if (!times.empty() && !(values[0] > times.back()))
            return LineError(file, number, std::string("the time ").append(Excerpt(time, 20)).append(
                                               values[0] == times.back() ? " repeats the time before it" : " goes back before the time before it"));
        // An old capture's row without a new sample is no sample (they were never written).
        if (c.newColumn && values[*c.newColumn + 1] == 0) continue;
        if (c.missedColumn) {
            const double m = values[*c.missedColumn + 1];
            if (m < 0 || m != std::floor(m)) return LineError(file, number, "the missed count is no whole number");
            if (m != 0) counted.nonzero.emplace_back(times.size(), m);
        }
        times.Push(values[0]);
        for (std::size_t k = 0; k < c.outputs.size(); ++k) s.columns[k].push_back(values[c.outputs[k] + 1]);
    }
    PlaceGapsLean(s, times, counted);
    s.note = "the mean interval of the capture's time stamps over the samples made in it, gaps left out";
    return {};
}

// A file of values, one a line, from its first line `line` on.
std::string FromValues(Series& s, const std::filesystem::path& file, Lines& lines, std::string& line, bool tooLong) {
    for (std::size_t number = 1;; ++number) {
        if (tooLong) return LineError(file, number, "longer than " + std::to_string(kMaxLine) + " characters");
        while (!line.empty() && line.back() == ' ') line.pop_back();
        double v = 0;
        if (!line.empty()) {
            if (!Number(line, v)) return LineError(file, number, Quoted(line) + " is no number");
            s.columns[0].push_back(v);
            ++s.samples;
        }
        if (!lines.Next(line, tooLong)) break;
    }
    s.note = "time between samples as given";
    return {};
}

}  // namespace

std::optional<Series> ReadSeries(const std::filesystem::path& file, const SeriesOptions& options, std::string& error) {
    const std::string name = file.string();
    if (const std::string why = NotRegularRefusal(file); !why.empty()) {
        error = why;
        return std::nullopt;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        error = name + ": " + std::strerror(errno);
        return std::nullopt;
    }
    Series s;
    std::string line;
    bool tooLong = false;
    Lines lines(in);
    const bool any = lines.Next(line, tooLong);
    if (any && line.rfind("QVIN 27319 Datalog File", 0) == 0) {
        error = FromLog(s, file, options);
    } else if (any && line.rfind(kCaptureHead, 0) == 0) {
        CaptureColumns columns;
        error = ReadCaptureHead(file, line, options, s, columns);
        if (error.empty() && columns.outputs.empty()) return s;  // the caller says that no column has that name
        if (error.empty()) error = FromCapture(s, file, lines, columns);
    } else {
        if (!options.tau0) {
            error = name + " is neither a capture nor a data log";
            return std::nullopt;
        }
        if (!Kept(options, "value")) return s;  // no column but "value"
        s.names.push_back("value");
        s.columns.resize(1);
        if (any) error = FromValues(s, file, lines, line, tooLong);
        else s.note = "time between samples as given";
    }
    if (!error.empty()) return std::nullopt;
    if (options.tau0) {
        s.tau0 = *options.tau0;
        s.nominalTau0 = false;
        s.note = "time between samples as given";
    }
    return s;
}

}  // namespace qvin::analysis
