// Reading data logs back: several runs, a torn last line, junk; what the writer writes,
// the reader reads.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>
#include <ctime>

#include "device/data_log.h"
#include "device/data_log_reader.h"

namespace qvin {
namespace {

std::string Header(const std::string& date, float delayMs) {
    DataLogHeader h;
    h.date = date;
    h.loopDelayMs = delayMs;
    h.samplePeriodText = "1.099";
    h.avgCntText = '7';  // a char: GCC 12 warns falsely (bug 105329) on a one-letter literal at -O3
    return DataLogHeaderText(h);
}

TEST(DataLogReader, ReadsEveryRunAndItsPassesAsTheWriterWroteThem) {
    std::string text = Header("12/6/2026 10:00:00", 50) + DataLogLine(1, {3.30132f, 0, 25.47f, 1.5f, 1.5f}, true, false, 0) +
                       DataLogLine(2, {3.29f, 0.5f, 25.0f, 359.975f, -0.025f}, false, true, 256);
    DataLogHeader second;
    second.date = "12/6/2026 11:00:00";
    second.loopDelayMs = 25;
    second.selfTest = second.reverseRotation = true;
    text += DataLogHeaderText(second) + DataLogLine(1, {1, 2, 3, 4, 5}, true, true, 65535);
    const DataLogContents log = ParseDataLog(text);
    ASSERT_EQ(log.runs.size(), 2u);
    EXPECT_EQ(log.skipped, 0u);
    const LogRun& a = log.runs[0];
    EXPECT_EQ(a.date, "12/6/2026 10:00:00");
    EXPECT_DOUBLE_EQ(a.loopDelayMs, 50);
    ASSERT_EQ(a.passes.size(), 2u);
    EXPECT_NEAR(a.passes[0].values[0], 3.30132, 1e-6);
    EXPECT_NEAR(a.passes[1].values[3], 359.975, 1e-4);
    EXPECT_NEAR(a.passes[1].values[4], -0.025, 1e-6);
    EXPECT_TRUE(a.passes[0].newData);
    EXPECT_TRUE(a.passes[1].error);
    EXPECT_EQ(a.passes[1].status, 256);
    // Passes are placed in time by the run's start and its loop delay.
    ASSERT_TRUE(a.start);
    EXPECT_EQ(a.passes[1].time - a.passes[0].time, std::chrono::milliseconds(50));
    EXPECT_EQ(a.passes[0].time, *a.start);
    EXPECT_EQ(*log.runs[1].start - *a.start, std::chrono::hours(1));
    EXPECT_EQ(log.runs[1].passes[0].status, 65535);
}

TEST(DataLogReader, ATornLastLineAndJunkAreSkippedAndCounted) {
    const std::string text = "junk before any header\r\n" + Header("1/2/2026 03:04:05", 10) +
                             DataLogLine(1, {3.3f, 0, 25, 10, 10}, true, false, 0) +
                             "2\t3.3\tnot a number\t25\t10\t10\tTrue\tFalse\t0\r\n"
                             "3\t3.3\t0\t25\t10\t10\tMaybe\tFalse\t0\r\n"
                             "4\t3.3\t0\t25\t10\t10\tTrue\tFalse\r\n" +  // a field short
                             DataLogLine(5, {3.3f, 0, 25, 10, 10}, true, false, 0) + "6\t3.3\t0\t25\t1";  // torn
    const DataLogContents log = ParseDataLog(text);
    ASSERT_EQ(log.runs.size(), 1u);
    ASSERT_EQ(log.runs[0].passes.size(), 2u);
    EXPECT_EQ(log.runs[0].passes[1].index, 5);
    EXPECT_EQ(log.skipped, 5u);
    // A complete last pass without its line break is a pass cut short too: the writer
    // always ends a pass with one.
    EXPECT_EQ(ParseDataLog(Header("1/2/2026 03:04:05", 10) + "1\t3.3\t0\t25\t10\t10\tTrue\tFalse\t0").skipped, 1u);
}

TEST(DataLogReader, NothingOrBinaryIsNoRunAndNoCrash) {
    EXPECT_TRUE(ParseDataLog("").runs.empty());
    const std::string binary("\x00\xff\r\r\n\t\t\t\t\t\t\t\t\n", 14);
    const DataLogContents log = ParseDataLog(binary);
    EXPECT_TRUE(log.runs.empty());
    EXPECT_EQ(log.skipped, 2u);
    std::string error;
    EXPECT_FALSE(ReadDataLog("/nonexistent/log.txt", error));
    EXPECT_EQ(error, "/nonexistent/log.txt: No such file or directory");
    EXPECT_FALSE(ReadDataLog("/tmp", error));
    EXPECT_FALSE(ParseDataLogDate("13/1/2026 00:00:00"));
    EXPECT_FALSE(ParseDataLogDate("1/1/2026 00:00"));
}

// Times are nanoseconds since 1970: a date far in the future or an absurd loop delay
// (found by fuzzing) would overflow them, so neither is taken at its word.
TEST(DataLogReader, FarFutureDatesAndAbsurdDelaysDoNotOverflowTheTimes) {
    EXPECT_FALSE(ParseDataLogDate("12/2/6026 14:21:09"));
    EXPECT_TRUE(ParseDataLogDate("12/31/2200 23:59:59"));
    const std::string pass = "1\t3.3\t0\t25\t1\t1\tTrue\tFalse\t0\r\n";
    const DataLogContents log = ParseDataLog("QVIN 27319 Datalog File\r\nDate\t12/31/2200 23:59:59\r\nLoopDelay\t1e300 mS\r\n" +
                                             pass + pass + "QVIN 27319 Datalog File\r\nLoopDelay\t-5 mS\r\n" + pass);
    ASSERT_EQ(log.runs.size(), 2u);
    EXPECT_DOUBLE_EQ(log.runs[0].loopDelayMs, 60'000);
    EXPECT_DOUBLE_EQ(log.runs[1].loopDelayMs, 0);
    EXPECT_EQ(log.runs[0].passes[1].time - log.runs[0].passes[0].time, std::chrono::minutes(1));
}

// A log dated 2200 at a minute a pass reaches 2262 after some 33 million passes: those
// beyond are left out and counted, not drawn from 1677 when the nanoseconds wrap.
TEST(DataLogReader, PassesPastTheClocksRangeAreLeftOutAndCounted) {
    DataLogParser parser;
    for (const char* line : {"QVIN 27319 Datalog File", "Date\t12/31/2200 23:59:59", "LoopDelay\t60000 mS"}) parser.Feed(line, false);
    const std::string pass = "1\t3.3\t0\t25\t1\t1\tTrue\tFalse\t0";
    parser.Feed(pass, false);
    LogRun& run = parser.contents.runs.back();
    run.passCount = 32'000'000;  // 2261
    parser.Feed(pass, false);
    ASSERT_EQ(run.passes.size(), 2u);
    EXPECT_GT(run.passes[1].time, run.passes[0].time);
    run.passCount = 34'000'000;  // 2265
    parser.Feed(pass, false);
    parser.Feed(pass, false);
    EXPECT_EQ(run.passes.size(), 2u);
    EXPECT_EQ(parser.contents.pastClock, 2u);
    EXPECT_NE(DataLogSummary("far.log", 2, parser.contents).find("2 passes past the year 2262 left out"), std::string::npos)
        << DataLogSummary("far.log", 2, parser.contents);
    EXPECT_TRUE(WithinClock(run.passes[1].time, 0));
    EXPECT_FALSE(WithinClock(run.passes[1].time, 60.0 * 60 * 24 * 366 * 2));
}

TEST(DataLogReader, ADateOrDelayAmongThePassesDoesNotSendTheRunBack) {
    // As a fuzzed log had it: a run's passes, then a second Date line (good or garbled) and
    // LoopDelay line, then more passes. Before, the run restarted from 1970 half-way.
    const std::string pass = "1\t3.3\t0\t25\t1\t1\tTrue\tFalse\t0\r\n";
    std::string text;
    for (int run = 0; run < 6; ++run)
        text += "QVIN 27319 Datalog File\r\nDate\t12/6/2026 10:21:09\r\nLoopDelay\t10 mS\r\n" + pass +
                (run % 2 ? "Date\t12/\x10\x10 20 mS\r\n" : "Date\t1/1/1971 00:00:00\r\nLoopDelay\t500 mS\r\n") + pass + pass;
    const DataLogContents log = ParseDataLog(text);
    ASSERT_EQ(log.runs.size(), 6u);
    EXPECT_EQ(log.skipped, 3u * 2u + 3u * 1u);  // the lines out of place are counted
    for (const LogRun& run : log.runs) {
        ASSERT_EQ(run.passes.size(), 3u);
        EXPECT_DOUBLE_EQ(run.loopDelayMs, 10);
        EXPECT_EQ(run.passes[2].time - run.passes[0].time, std::chrono::milliseconds(20));
    }
}

}  // namespace
}  // namespace qvin

namespace qvin {
namespace {

// The Date line is local time as the C library breaks it down: each field lands where it
// says, and what the writer writes reads back as the same second.
TEST(DataLogReader, DateFieldsAreTheLocalCalendarsOwn) {
    const auto t = ParseDataLogDate("3/4/2026 05:06:07");
    ASSERT_TRUE(t);
    const std::time_t tt = std::chrono::system_clock::to_time_t(*t);
    std::tm tm{};
    ASSERT_TRUE(localtime_r(&tt, &tm));
    EXPECT_EQ(tm.tm_mon + 1, 3);
    EXPECT_EQ(tm.tm_mday, 4);
    EXPECT_EQ(tm.tm_year + 1900, 2026);
    EXPECT_EQ(tm.tm_hour, 5);
    EXPECT_EQ(tm.tm_min, 6);
    EXPECT_EQ(tm.tm_sec, 7);
    // 31 December and 1 January sit a day apart, whatever the time zone.
    const auto newYearsEve = ParseDataLogDate("12/31/2025 12:00:00");
    const auto newYear = ParseDataLogDate("1/1/2026 12:00:00");
    ASSERT_TRUE(newYearsEve && newYear);
    EXPECT_EQ(std::chrono::duration_cast<std::chrono::hours>(*newYear - *newYearsEve).count(), 24);
    const auto now = std::chrono::time_point_cast<std::chrono::seconds>(std::chrono::system_clock::now());
    EXPECT_EQ(ParseDataLogDate(DataLogDate(now)), now);
}

}  // namespace
}  // namespace qvin

namespace qvin {
namespace {

// A file far larger than the reader's buffer is read to its last pass, and a line longer
// than any a log holds is counted as malformed without stopping what follows.
TEST(DataLogReader, ReadsPastEveryBufferToTheEndAndSkipsAnOverlongLine) {
    const auto file = std::filesystem::temp_directory_path() / ("qvin-big-log-" + std::to_string(::getpid()) + ".txt");
    {
        std::ofstream out(file, std::ios::binary);
        DataLogHeader h;
        h.date = "6/1/2026 08:00:00";
        h.loopDelayMs = 10;
        h.samplePeriodText = "1.099";
        h.avgCntText = '7';
        out << DataLogHeaderText(h);
        for (int i = 1; i <= 30'000; ++i) out << DataLogLine(i, {3.3f, 0, 25, 30, 30}, true, false, 0);
        out << std::string(5'000'000, '\t') << "\r\n";  // five megabytes of tabs
        for (int i = 30'001; i <= 60'000; ++i) out << DataLogLine(i, {3.3f, 0, 25, 30, 30}, true, false, 0);
        out << "60001\t3.3\t0\t25";  // the last pass, cut short
    }
    ASSERT_GT(std::filesystem::file_size(file), 3u << 20);
    std::string error;
    const auto log = ReadDataLog(file, error);
    std::filesystem::remove(file);
    ASSERT_TRUE(log) << error;
    ASSERT_EQ(log->runs.size(), 1u);
    EXPECT_EQ(log->runs[0].passes.size(), 60'000u);
    EXPECT_EQ(log->runs[0].passes.back().index, 60'000);
    EXPECT_EQ(log->skipped, 2u);  // the tabs and the torn last line
    // The same text parsed whole says the same.
    EXPECT_EQ(ParseDataLog(std::string(6000, '\t') + "\n").skipped, 1u);
}

// A line over the limit is over it also where the reader's buffer ends in the middle of
// it, each part alone within the limit (a header line the reader would otherwise take).
TEST(DataLogReader, ALineOverTheLimitAcrossTheBuffersEndIsSkipped) {
    const auto file = std::filesystem::temp_directory_path() / ("qvin-split-log-" + std::to_string(::getpid()) + ".txt");
    std::string text = Header("6/1/2026 08:00:00", 10);
    std::size_t passes = 0;
    while (text.size() < (1u << 20) - 5000) text += DataLogLine(static_cast<std::int32_t>(++passes), {3.3f, 0, 25, 30, 30}, true, false, 0);
    const std::size_t longStart = (1u << 20) - 3000;
    text += "Smpl Prd\t" + std::string(longStart - text.size() - 10, 'x') + "\n";  // a header line that ends where the long one starts
    ASSERT_EQ(text.size(), longStart);
    text += "Smpl Prd\t" + std::string(kMaxLogLine, 'y') + "\r\n";                   // 3000 characters before the buffer's end, the rest after
    text += DataLogLine(99'999, {3.3f, 0, 25, 30, 30}, true, false, 0);
    std::ofstream(file, std::ios::binary) << text;
    std::string error;
    const auto log = ReadDataLog(file, error);
    std::filesystem::remove(file);
    ASSERT_TRUE(log) << error;
    EXPECT_EQ(log->skipped, 1u);
    EXPECT_EQ(log->runs[0].passes.size(), passes + 1);
    EXPECT_EQ(ParseDataLog(text).skipped, 1u);
}

// Every number as the C library reads it (strtod, the reader's former way): short, long,
// negative, with and without a fraction, with an exponent.
TEST(DataLogReader, NumbersReadAsTheCLibraryReadsThem) {
    std::string text = Header("6/1/2026 08:00:00", 10);
    std::vector<std::string> numbers = {"0", "-0", "3.30132", "-12.5", "5.", ".5", "-.5", "123456789012345678",
                                        "1234567890123456789", "0.000000000000000001", "1e-05", "2.5E+03", "007.250"};
    std::uint64_t x = 88172645463325252ull;
    for (int i = 0; i < 3000; ++i) {
        x ^= x << 13, x ^= x >> 7, x ^= x << 17;  // xorshift: any digits, any point
        std::string digits = std::to_string(x % 1'000'000'000'000'000'000ull);
        const std::size_t point = (x >> 5) % (digits.size() + 1);
        if (point < digits.size()) digits.insert(digits.begin() + static_cast<std::ptrdiff_t>(point), '.');
        if ((x >> 9) & 1) digits.insert(digits.begin(), '-');
        numbers.push_back(digits);
    }
    for (std::size_t i = 0; i < numbers.size(); ++i)
        text += std::to_string(i + 1) + "\t" + numbers[i] + "\t0\t25\t30\t30\tTrue\tFalse\t0\r\n";
    const DataLogContents log = ParseDataLog(text);
    ASSERT_EQ(log.runs.size(), 1u);
    ASSERT_EQ(log.runs[0].passes.size(), numbers.size()) << log.skipped;
    for (std::size_t i = 0; i < numbers.size(); ++i)
        EXPECT_EQ(log.runs[0].passes[i].values[0], std::strtod(numbers[i].c_str(), nullptr)) << numbers[i];
    // What is no whole number for strtod either makes the line no pass.
    for (const char* bad : {"1.2.3", "3.3.", "..5", ".", "-", "--1", "1-2", "0x10", "1e", "3,3"}) {
        const DataLogContents one = ParseDataLog(Header("6/1/2026 08:00:00", 10) + "1\t" + bad + "\t0\t25\t30\t30\tTrue\tFalse\t0\r\n");
        EXPECT_EQ(one.runs[0].passes.size(), 0u) << bad << " read as " << one.runs[0].passes[0].values[0];
        EXPECT_EQ(one.skipped, 1u) << bad;
    }
}

// Streamed: each pass handed on (none kept), progress after each chunk up to the file's
// size, and a cancel stops the reading there.
TEST(DataLogReader, StreamsPassesWithProgressAndStopsWhenCancelled) {
    const auto file = std::filesystem::temp_directory_path() / ("qvin-stream-log-" + std::to_string(::getpid()) + ".txt");
    {
        std::ofstream out(file, std::ios::binary);
        out << Header("6/1/2026 08:00:00", 10);
        for (int i = 1; i <= 80'000; ++i) out << DataLogLine(i, {3.3f, 0, 25, static_cast<float>(i % 90), 30}, true, false, 0);
    }
    const std::uint64_t size = std::filesystem::file_size(file);
    ASSERT_GT(size, 2u << 20);  // more than two chunks

    DataLogParser parser;
    std::vector<int> seen;
    parser.onPass = [&](std::size_t run, const LogPass& p) {
        EXPECT_EQ(run, 0u);
        seen.push_back(p.index);
    };
    std::vector<std::uint64_t> reports;
    EXPECT_EQ(StreamDataLog(file, parser, [&](std::uint64_t done, std::uint64_t total) {
                  EXPECT_EQ(total, size);
                  reports.push_back(done);
                  return true;
              }),
              "");
    ASSERT_EQ(seen.size(), 80'000u);
    EXPECT_EQ(seen.back(), 80'000);
    EXPECT_TRUE(parser.contents.runs[0].passes.empty());
    EXPECT_EQ(parser.contents.runs[0].passCount, 80'000u);
    ASSERT_GE(reports.size(), 3u);
    EXPECT_TRUE(std::is_sorted(reports.begin(), reports.end()));
    EXPECT_EQ(reports.back(), size);

    DataLogParser stopped;
    std::size_t passes = 0;
    stopped.onPass = [&](std::size_t, const LogPass&) { ++passes; };
    EXPECT_EQ(StreamDataLog(file, stopped, [](std::uint64_t, std::uint64_t) { return false; }), kDataLogCancelled);
    EXPECT_GT(passes, 0u);
    EXPECT_LT(passes, 80'000u);
    std::filesystem::remove(file);
}

}  // namespace
}  // namespace qvin
