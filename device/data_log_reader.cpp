#include "device/data_log_reader.h"

#include "core/excerpt.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qvin {

namespace {

// Times are kept in nanoseconds since 1970, which reach to 2262: a log dated later is no
// log of this program, and its passes must not run past the end either.
constexpr int kLastYear = 2200;
constexpr double kLongestDelayMs = 60'000.0;

// The line's fields when there are exactly N of them (no allocation: a log has millions).
template <std::size_t N>
std::optional<std::array<std::string_view, N>> Fields(std::string_view line, char sep) {
    std::array<std::string_view, N> f;
    std::size_t field = 0, start = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] != sep) continue;
        if (field + 1 == N) return std::nullopt;  // one field too many
        f[field++] = line.substr(start, i - start);
        start = i + 1;
    }
    if (field + 1 != N) return std::nullopt;
    f[field] = line.substr(start);
    return f;
}

std::optional<long long> Whole(std::string_view s, long long lo, long long hi) {
    if (s.empty() || s.size() > 12) return std::nullopt;
    long long v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + (c - '0');
    }
    if (v < lo || v > hi) return std::nullopt;
    return v;
}

// A number as the log writes it: the general form with "." whatever the locale.
std::optional<double> Number(std::string_view s) {
    if (s.empty() || s.size() > 40) return std::nullopt;
    // What the log writes ("-12.5", "3.30132"): a mantissa of at most 2^53, exact as a
    // double, and at most 18 decimals, so that one division by an exact power of ten
    // rounds as from_chars does (Clinger's fast path). Anything else goes the long way.
    {
        static constexpr double kTens[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9,
                                           1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18};
        std::size_t i = s[0] == '-' ? 1 : 0;
        std::uint64_t mantissa = 0;
        int digits = 0, decimals = 0;
        bool point = false, plain = i < s.size();
        for (; i < s.size(); ++i) {
            const char c = s[i];
            if (c >= '0' && c <= '9') {
                mantissa = mantissa * 10 + static_cast<unsigned>(c - '0');
                ++digits;
                decimals += point;
            } else if (c == '.' && !point) {
                point = true;
            } else {
                plain = false;
                break;
            }
        }
        if (plain && digits > 0 && digits <= 18 && mantissa <= (std::uint64_t{1} << 53)) {
            const double v = static_cast<double>(mantissa) / kTens[decimals];
            return s[0] == '-' ? -v : v;
        }
    }
    if (s.find_first_not_of("0123456789+-.eE") != std::string_view::npos) return std::nullopt;
    // from_chars takes no leading '+', which the log never writes before a number but
    // strtod, which this once was, accepted.
    const char* first = s.data() + (s[0] == '+' && s.size() > 1 && s[1] != '-' && s[1] != '+' ? 1 : 0);
    double v = 0;
    const auto [end, ec] = std::from_chars(first, s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size() || !std::isfinite(v)) return std::nullopt;
    return v;
}

std::optional<bool> Flag(std::string_view s) {
    if (s == "True") return true;
    if (s == "False") return false;
    return std::nullopt;
}

std::optional<LogPass> ParsePass(std::string_view line) {
    const auto fields = Fields<9>(line, '\t');
    if (!fields) return std::nullopt;
    const auto& f = *fields;
    LogPass p;
    const auto index = Whole(f[0], 0, 2'147'483'647);
    if (!index) return std::nullopt;
    p.index = static_cast<std::int32_t>(*index);
    for (std::size_t i = 0; i < 5; ++i) {
        const auto v = Number(f[1 + i]);
        if (!v) return std::nullopt;
        p.values[i] = *v;
    }
    const auto fresh = Flag(f[6]), error = Flag(f[7]);
    const auto status = Whole(f[8], 0, 65535);
    if (!fresh || !error || !status) return std::nullopt;
    p.newData = *fresh;
    p.error = *error;
    p.status = static_cast<std::int32_t>(*status);
    return p;
}

}  // namespace

std::optional<std::chrono::system_clock::time_point> ParseDataLogDate(std::string_view text) {
    int mon = 0, day = 0, year = 0, h = 0, m = 0, s = 0;
    char tail = 0;
    const std::string t(text);
    if (std::sscanf(t.c_str(), "%d/%d/%d %d:%d:%d%c", &mon, &day, &year, &h, &m, &s, &tail) != 6) return std::nullopt;
    if (mon < 1 || mon > 12 || day < 1 || day > 31 || year < 1970 || year > kLastYear || h > 23 || m > 59 || s > 60 || h < 0 ||
        m < 0 || s < 0)
        return std::nullopt;
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = mon - 1;
    tm.tm_mday = day;
    tm.tm_hour = h;
    tm.tm_min = m;
    tm.tm_sec = s;
    tm.tm_isdst = -1;
    const std::time_t tt = std::mktime(&tm);
    if (tt == static_cast<std::time_t>(-1)) return std::nullopt;
    return std::chrono::system_clock::from_time_t(tt);
}

bool WithinClock(std::chrono::system_clock::time_point base, double seconds) {
    using namespace std::chrono;
    const double at = duration<double>(base.time_since_epoch()).count() + seconds;
    const double last = duration<double>(system_clock::time_point::max().time_since_epoch()).count() - 86400.0;
    const double first = duration<double>(system_clock::time_point::min().time_since_epoch()).count() + 86400.0;
    return at < last && at > first;
}

std::string DataLogSummary(const std::string& name, std::size_t passes, const DataLogContents& log) {
    std::string s = name + ": " + std::to_string(passes) + " passes in " + std::to_string(log.runs.size()) +
                    (log.runs.size() == 1 ? " run" : " runs");
    if (log.skipped) s += ", " + std::to_string(log.skipped) + " malformed line" + (log.skipped == 1 ? "" : "s") + " skipped";
    if (log.pastClock)
        s += ", " + std::to_string(log.pastClock) + (log.pastClock == 1 ? " pass" : " passes") + " past the year 2262 left out (no clock here reaches them)";
    std::size_t undated = 0;
    std::string first;
    for (const LogRun& r : log.runs) {
        if (r.start || r.passCount == 0) continue;
        if (undated++ == 0) first = Excerpt(r.date, 40);
    }
    if (undated)
        s += ", " + std::to_string(undated) + (undated == 1 ? " run" : " runs") + " without a usable date (" +
             (first.empty() ? std::string("none") : first) + ") drawn after the run before them (from 1970 when first)";
    return s;
}

void DataLogParser::Feed(std::string_view line, bool lastLine) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) return;
    DataLogContents& log = contents;
    LogRun* run = log.runs.empty() ? nullptr : &log.runs.back();
    // No header line starts with a digit: a pass goes straight to its parse.
    const bool digit = line[0] >= '0' && line[0] <= '9';
    if (digit) return FeedPass(line, lastLine);
    if (line == "QVIN 27319 Datalog File") {
        log.runs.emplace_back();
        run = &log.runs.back();
        return;
    }
    const auto header = [&](std::string_view key) { return line.substr(0, key.size()) == key; };
    // A run's date comes before its passes; one among them is no line this program
    // writes, and would send the run's times backwards.
    if (run && header("Date\t") && run->passCount == 0) {
        run->date = std::string(line.substr(5));
        run->start = ParseDataLogDate(run->date);
        return;
    }
    if (run && header("LoopDelay\t") && run->passCount == 0) {
        std::string_view v = line.substr(10);
        if (v.size() > 3 && v.substr(v.size() - 3) == " mS") v.remove_suffix(3);
        // The program's loops wait 10 ms to 60 s; anything else is no delay it wrote.
        run->loopDelayMs = std::clamp(Number(v).value_or(0), 0.0, kLongestDelayMs);
        return;
    }
    if (run && (header("Smpl Prd\t") || header("Avg Cnt\t") || line == "Self Test On" || line == "Reverse Rotate On" ||
                header("Index\t") || line == "\tV\tV\tdgrC\tdgr\tdgr"))
        return;
    FeedPass(line, lastLine);
}

void DataLogParser::FeedPass(std::string_view line, bool lastLine) {
    DataLogContents& log = contents;
    LogRun* run = log.runs.empty() ? nullptr : &log.runs.back();
    // A pass; a last line without its line break was cut short and is no pass.
    const auto pass = lastLine ? std::nullopt : ParsePass(line);
    if (!pass || !run) {
        ++log.skipped;
        return;
    }
    LogPass p = *pass;
    const auto base = run->start.value_or(std::chrono::system_clock::time_point{});
    const double offset = run->loopDelayMs / 1000.0 * static_cast<double>(run->passCount);
    // A log may claim more passes than a clock of nanoseconds counts (past 2262): they are
    // left out, and counted, rather than drawn back in 1677.
    if (!WithinClock(base, offset)) {
        ++log.pastClock;
        return;
    }
    p.time = base + std::chrono::microseconds(static_cast<long long>(run->loopDelayMs * 1000.0 *
                                                                      static_cast<double>(run->passCount)));
    ++run->passCount;
    if (onPass) onPass(log.runs.size() - 1, p);
    else run->passes.push_back(p);
}

void DataLogParser::FeedTooLong() { ++contents.skipped; }

DataLogContents ParseDataLog(std::string_view text) {
    DataLogParser parser;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        const bool lastLine = end == std::string_view::npos;
        const std::string_view line = text.substr(start, lastLine ? std::string_view::npos : end - start);
        start = lastLine ? text.size() : end + 1;
        if (line.size() > kMaxLogLine) parser.FeedTooLong();
        else parser.Feed(line, lastLine);
    }
    return std::move(parser.contents);
}

std::optional<DataLogContents> ReadDataLog(const std::filesystem::path& file, std::string& error) {
    DataLogParser parser;
    error = StreamDataLog(file, parser);
    if (!error.empty()) return std::nullopt;
    return std::move(parser.contents);
}

std::string StreamDataLog(const std::filesystem::path& file, DataLogParser& parser,
                          const std::function<bool(std::uint64_t done, std::uint64_t size)>& progress) {
    // Only a regular file: a FIFO or a device must not stall the reader.
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return file.string() + ": " + std::strerror(errno);
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return file.string() + ": not a data log (no regular file)";
    }
    // In chunks, to the end of the file: a line past kMaxLogLine is counted as malformed
    // without ever being held whole.
    std::vector<char> chunk(1 << 20);
    std::uint64_t done = 0;
    std::string line;
    bool tooLong = false;
    for (;;) {
        const ssize_t n = ::read(fd, chunk.data(), chunk.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int e = errno;
            ::close(fd);
            return file.string() + ": " + std::strerror(e);
        }
        if (n == 0) break;
        std::size_t from = 0;
        const std::size_t got = static_cast<std::size_t>(n);
        while (from < got) {
            const char* nl = static_cast<const char*>(std::memchr(chunk.data() + from, '\n', got - from));
            const std::size_t to = nl ? static_cast<std::size_t>(nl - chunk.data()) : got;
            // A whole line inside the chunk goes to the parser where it lies.
            if (nl && line.empty() && !tooLong && to - from <= kMaxLogLine) {
                parser.Feed(std::string_view(chunk.data() + from, to - from), false);
                from = to + 1;
                continue;
            }
            if (!tooLong) {
                if (line.size() + (to - from) > kMaxLogLine) {
                    tooLong = true;
                    line.clear();
                } else {
                    line.append(chunk.data() + from, to - from);
                }
            }
            if (!nl) break;
            if (tooLong) parser.FeedTooLong();
            else parser.Feed(line, false);
            line.clear();
            tooLong = false;
            from = to + 1;
        }
        done += got;
        if (progress && !progress(done, static_cast<std::uint64_t>(std::max<off_t>(st.st_size, 0)))) {
            ::close(fd);
            return kDataLogCancelled;
        }
    }
    ::close(fd);
    if (tooLong) parser.FeedTooLong();
    else if (!line.empty()) parser.Feed(line, true);
    return {};
}

}  // namespace qvin
