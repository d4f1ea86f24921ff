#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <sys/resource.h>
#include <fstream>
#include <iterator>

#include "device/data_log.h"

namespace qvin {
namespace {

TEST(DataLog, HeaderHasSevenLinesUnlessSelfTestOrReverseRotation) {
    DataLogHeader h;
    h.date = "12/6/2026 07:26:39";
    h.loopDelayMs = 12.5f;
    h.samplePeriodText = "1.099";
    h.avgCntText = '7';  // a char: GCC 12 warns falsely (bug 105329) on a one-letter literal at -O3
    EXPECT_EQ(DataLogHeaderText(h),
              "QVIN 27319 Datalog File\r\n"
              "Date\t12/6/2026 07:26:39\r\n"
              "LoopDelay\t12.5 mS\r\n"
              "Smpl Prd\t1.099 mS\r\n"
              "Avg Cnt\t7\r\n"
              "Index\tSupply\tADC In\tTemp\tInc360\tInc180\tNew  \tError\tStatus\r\n"
              "\tV\tV\tdgrC\tdgr\tdgr\r\n");
    h.selfTest = h.reverseRotation = true;
    h.loopDelayMs = 25.0f;
    const std::string t = DataLogHeaderText(h);
    EXPECT_NE(t.find("LoopDelay\t25 mS\r\nSmpl Prd"), std::string::npos);
    EXPECT_NE(t.find("Avg Cnt\t7\r\nSelf Test On\r\nReverse Rotate On\r\nIndex"), std::string::npos);
}

TEST(DataLog, LineHoldsNineTabSeparatedFields) {
    EXPECT_EQ(DataLogLine(3, {3.30132f, 0.0f, 24.99998f, 359.975f, -0.025f}, true, false, 768),
              "3\t3.30132\t0\t24.99998\t359.975\t-0.025\tTrue\tFalse\t768\r\n");
}

TEST(DataLog, EveryWriteIsOnDiskAtOnceAndRunsAppend) {
    const auto file = std::filesystem::temp_directory_path() / "qvin-datalog-test.txt";
    std::filesystem::remove(file);
    auto contents = [&] {
        std::ifstream in(file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    };
    {
        DataLogFile log;
        ASSERT_TRUE(log.Open(file));
        ASSERT_TRUE(log.Write("first\r\n"));
        EXPECT_EQ(contents(), "first\r\n");  // readable before the file is closed
    }
    DataLogFile again;
    ASSERT_TRUE(again.Open(file));
    ASSERT_TRUE(again.Write("second\r\n"));
    again.Close();
    EXPECT_FALSE(again.Write("lost"));
    EXPECT_EQ(contents(), "first\r\nsecond\r\n");
    std::filesystem::remove(file);
    EXPECT_FALSE(DataLogFile().Open("/nonexistent/dir/log.txt"));
}

// A device takes the data, a pipe would hang the loop with nobody reading it: a log is a
// regular file, and another user's link is not followed to one. (A full disk: below.)
TEST(DataLog, APipeADeviceOrAnotherUsersLinkIsNoLog) {
    DataLogFile log;
    EXPECT_FALSE(log.Open("/dev/full"));
    EXPECT_EQ(log.error(), "/dev/full is not a regular file (a pipe or a device)");
    const auto dir = std::filesystem::temp_directory_path() / ("qvin-log-links-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    ASSERT_EQ(::mkfifo((dir / "fifo.txt").c_str(), 0600), 0);
    EXPECT_FALSE(log.Open(dir / "fifo.txt"));
    std::filesystem::create_symlink(dir / "victim.txt", dir / "Datalog_1.txt");
    if (::geteuid() == 0) {
        ASSERT_EQ(::lchown((dir / "Datalog_1.txt").c_str(), 65534, 65534), 0);
        EXPECT_FALSE(log.Open(dir / "Datalog_1.txt"));
        EXPECT_NE(log.error().find("is a link that belongs to another user"), std::string::npos) << log.error();
        EXPECT_FALSE(std::filesystem::exists(dir / "victim.txt"));
    }
    std::filesystem::remove_all(dir);
    DataLogFile missing;
    EXPECT_FALSE(missing.Open("/nonexistent/dir/log.txt"));
    EXPECT_EQ(missing.error(), "No such file or directory");
}

// A file size limit makes a write stop part-way, as a full disk does.
struct SizeLimit {
    explicit SizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit r = saved;
        r.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &r);
    }
    ~SizeLimit() { setrlimit(RLIMIT_FSIZE, &saved); }
    rlimit saved{};
};

TEST(DataLog, AWriteThatFailsPartWayIsTakenBackAndTheNextRunStartsOnAFreshLine) {
    const auto file = std::filesystem::temp_directory_path() / "qvin-datalog-torn.txt";
    std::filesystem::remove(file);
    auto contents = [&] {
        std::ifstream in(file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    };
    {
        DataLogFile log;
        ASSERT_TRUE(log.Open(file));
        ASSERT_TRUE(log.Write("1\t3.3\tTrue\r\n"));
        const SizeLimit limit(20);  // room for 6 more bytes of the next line
        EXPECT_FALSE(log.Write("2\t3.3\tTrue\tFalse\r\n"));
        EXPECT_EQ(log.error(), "File too large");
    }
    EXPECT_EQ(contents(), "1\t3.3\tTrue\r\n");
    // A file torn some other way (a copy cut short): the next run begins on its own line.
    { std::ofstream(file, std::ios::binary | std::ios::app) << "2\t3.3\tTr"; }
    DataLogFile next;
    ASSERT_TRUE(next.Open(file));
    ASSERT_TRUE(next.Write("QVIN 27319 Datalog File\r\n"));
    EXPECT_EQ(contents(), "1\t3.3\tTrue\r\n2\t3.3\tTr\r\nQVIN 27319 Datalog File\r\n");
    std::filesystem::remove(file);
}

TEST(DataLog, DateIsMonthDayYearAndTime) {
    std::tm tm{};
    tm.tm_year = 2005 - 1900;
    tm.tm_mon = 2;
    tm.tm_mday = 5;
    tm.tm_hour = 14;
    tm.tm_min = 3;
    tm.tm_sec = 9;
    tm.tm_isdst = -1;
    const auto t = std::chrono::system_clock::from_time_t(std::mktime(&tm));
    EXPECT_EQ(DataLogDate(t), "3/5/2005 14:03:09");
}

}  // namespace
}  // namespace qvin
