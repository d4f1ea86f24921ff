#include "core/trace.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "core/clock.h"

namespace qvin {
namespace {

namespace fs = std::filesystem;

std::string Contents(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

class TraceRecording : public ::testing::Test {
protected:
    TraceRecording() : dir(fs::temp_directory_path() / ("qvin-trace-" + std::to_string(::getpid()))) {
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    ~TraceRecording() override { fs::remove_all(dir); }
    fs::path dir;
    VirtualClock clock;
};

TEST_F(TraceRecording, RecordsBesideTheTraceWithTimesFromItsOwnStart) {
    std::FILE* stream = std::tmpfile();
    ASSERT_NE(stream, nullptr);
    Trace trace;
    EXPECT_FALSE(trace.on());
    trace.Attach(stream);
    trace.Line("before");
    clock.Advance(5000);
    ASSERT_EQ(trace.StartRecording((dir / "r.trace").string(), clock), "");
    EXPECT_TRUE(trace.recording());
    clock.Advance(1500);
    trace.PortOut(0x378, 0x05);
    clock.Advance(250);
    trace.Usb(false, 1, std::vector<std::uint8_t>{0x00, 0xCA});
    EXPECT_EQ(trace.StopRecording(), "");
    EXPECT_FALSE(trace.recording());
    trace.Line("after");

    EXPECT_EQ(Contents(dir / "r.trace"), "@1500 port-out 378 05\n@1750 usb-in 1 00 CA\n");
    std::rewind(stream);
    char buf[256] = {};
    const std::size_t n = std::fread(buf, 1, sizeof buf - 1, stream);
    EXPECT_EQ(std::string(buf, n), "before\nport-out 378 05\nusb-in 1 00 CA\nafter\n");
    std::fclose(stream);
}

TEST_F(TraceRecording, AloneItTurnsTheTraceOnAndOffAndRefusesWhatItCannotWrite) {
    Trace trace;
    ASSERT_EQ(trace.StartRecording((dir / "a.trace").string(), clock), "");
    EXPECT_TRUE(trace.on());
    trace.Spi(0x0200, 0x8A92);
    EXPECT_EQ(trace.StopRecording(), "");
    EXPECT_FALSE(trace.on());
    trace.Spi(0x0800, 0x0000);  // goes nowhere
    EXPECT_EQ(Contents(dir / "a.trace"), "@0 spi 0200 8A92\n");
    EXPECT_EQ(trace.StopRecording(), "");  // stopping twice is no fault

    const std::string missing = (dir / "no" / "b.trace").string();
    EXPECT_EQ(trace.StartRecording(missing, clock), missing + ": No such file or directory");
    EXPECT_NE(trace.StartRecording("/dev/full", clock), "");  // no regular file
    EXPECT_FALSE(trace.on());
}

// The emulated devices trace from their own threads while the user starts and stops a
// recording: every line in the file is whole (under AddressSanitizer, no use of a closed file).
TEST_F(TraceRecording, LinesFromAnotherThreadStayWholeWhileRecordingsStartAndStop) {
    Trace trace;
    std::atomic<bool> done{false};
    std::thread writer([&] {
        while (!done) trace.PortIn(0x379, 0x40);
    });
    for (int i = 0; i < 200; ++i) {
        ASSERT_EQ(trace.StartRecording((dir / "t.trace").string(), clock), "");
        ASSERT_EQ(trace.StopRecording(), "");
    }
    done = true;
    writer.join();
    std::istringstream lines(Contents(dir / "t.trace"));
    for (std::string line; std::getline(lines, line);) EXPECT_EQ(line, "@0 port-in 379 40");
}

}  // namespace
}  // namespace qvin
