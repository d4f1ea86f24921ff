#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>

#include "board/replay_board.h"
#include "core/trace_capture.h"
#include "device/lpt_transport.h"
#include "device/port_access.h"
#include "device/register_access.h"
#include "device/usb_adapter.h"
#include "device/usb_spi.h"
#include "platform/port/port_error_text.h"
#include "sim/sim_board.h"
#include "support/recorded_messages.h"

namespace qvin {
namespace {

namespace fs = std::filesystem;

// What a session showed: the words read, the messages, and how long it took.
struct Outcome {
    std::vector<std::int32_t> words;
    std::vector<std::string> messages;
    bool usbReady = false;
    std::int64_t tookNs = 0;
    bool operator==(const Outcome&) const = default;
};

void PrintTo(const Outcome& o, std::ostream* os) {
    *os << "words";
    for (auto w : o.words) *os << " " << w;
    *os << ", messages";
    for (auto& m : o.messages) *os << " [" << m << "]";
    *os << ", usbReady " << o.usbReady << ", took " << o.tookNs << " ns";
}

using Session = std::function<void(Program&, Outcome&)>;

void OnPort(Program& p, Outcome& o) {
    p.settings.InterfaceType = Interface::ParallelPort;
    p.settings.PortAddress = 0x378;
    ASSERT_TRUE(InstallGiveIO(p));
    LptReset(p);
    WriteRegBytes(p, 0x3A, 0x19, 0x3B, 0x00);
    for (std::int16_t a : {0x02, 0x0E, 0x3A}) o.words.push_back(ReadRegWord(p, a));
}

void OnUsb(Program& p, Outcome& o) {
    p.settings.InterfaceType = Interface::UsbAdapter;
    FindUsbBoards(p);
    std::uint8_t delay = 8;
    UsbSpiSetup(p, delay);
    for (int pass = 0; pass < 4; ++pass)
        for (std::int16_t a : {0x02, 0x0E}) o.words.push_back(ReadRegWord(p, a));
    o.usbReady = p.UsbReady();
}

class Replay : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("qvin-replay-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Runs the session on the simulated board (with these fault rules) and keeps what
    // crossed the boundary as a recording.
    Outcome Record(const Session& session, const std::string& faults = "") {
        VirtualClock clock;
        TraceCapture capture;
        Trace trace;
        trace.Attach(capture.stream());
        sim::SimBoard board(clock, &trace, sim::ChipOptions{});
        if (!faults.empty()) {
            EXPECT_FALSE(board.faults.Add(faults));
        }
        test::RecordedMessages messages;
        Program p(clock, board.port, board.usbLink, trace, messages);
        p.timer.CalibrateDelay();
        Outcome o;
        const std::int64_t start = clock.NowNs();
        session(p, o);
        o.tookNs = clock.NowNs() - start;
        o.messages = messages.Take();
        recording_ = capture.All();
        return o;
    }

    fs::path Write(const std::string& text, const std::string& name = "session.trace") {
        const fs::path file = dir_ / name;
        std::ofstream(file, std::ios::binary) << text;
        return file;
    }

    // Runs the session against the recording in `file`.
    Outcome Play(const Session& session, const fs::path& file) {
        VirtualClock clock;
        std::string why;
        board_ = ReplayBoard::Open(file, &clock, why);
        EXPECT_TRUE(board_) << why;
        if (!board_) return {};
        board_->onStop = [this](const std::string& m) { stops_.push_back(m); };
        Trace trace;
        test::RecordedMessages messages;
        Program p(clock, board_->port(), board_->usb(), trace, messages);
        p.timer.CalibrateDelay();
        Outcome o;
        const std::int64_t start = clock.NowNs();
        // A stop ends the session where it was, as it ends the program, and says the
        // same as it said to onStop.
        try {
            session(p, o);
        } catch (const ReplayStopped& e) {
            EXPECT_EQ(e.message, stops_.empty() ? "" : stops_.back());
            ++thrown_;
        }
        o.tookNs = clock.NowNs() - start;
        o.messages = messages.Take();
        return o;
    }

    // The recording with its n-th line (from 1) replaced.
    std::string WithLine(std::size_t n, const std::string& text) const {
        std::istringstream in(recording_);
        std::string out, line;
        for (std::size_t i = 1; std::getline(in, line); ++i) out += (i == n ? text : line) + "\n";
        return out;
    }
    std::size_t LineOf(const std::string& prefix, int occurrence = 1) const {
        std::istringstream in(recording_);
        std::string line;
        for (std::size_t i = 1; std::getline(in, line); ++i)
            if (line.rfind(prefix, 0) == 0 && --occurrence == 0) return i;
        return 0;
    }

    fs::path dir_;
    std::string recording_;
    std::unique_ptr<ReplayBoard> board_;
    std::vector<std::string> stops_;
    std::size_t thrown_ = 0;
};

TEST_F(Replay, AnswersAsRecordedOnBothInterfacesAndKeepsThePace) {
    for (const Session& s : {Session(OnPort), Session(OnUsb)}) {
        const Outcome recorded = Record(s);
        const Outcome replayed = Play(s, Write(recording_));
        EXPECT_EQ(replayed, recorded);
        EXPECT_TRUE(stops_.empty());
        EXPECT_EQ(thrown_, 0u);
        EXPECT_FALSE(board_->stopped());
    }
    // The pace of USB transfers is in the recording; without it the replay would run
    // faster than the session did.
    EXPECT_NE(recording_.find("\ntook "), std::string::npos);
}

TEST_F(Replay, FailuresReplayAsFailures) {
    // A refused transfer and an adapter lost: the same messages, the adapter not usable.
    for (const char* faults : {"receive-fail@6", "send-fail@4", "unplug@5"}) {
        const Outcome recorded = Record(OnUsb, faults);
        ASSERT_FALSE(recorded.messages.empty()) << faults;
        EXPECT_EQ(Play(OnUsb, Write(recording_)), recorded) << faults;
    }
    // A port that cannot be had.
    const auto busy = [](Program& p, Outcome& o) {
        p.settings.InterfaceType = Interface::ParallelPort;
        p.settings.PortAddress = 0x278;
        o.words.push_back(InstallGiveIO(p));
    };
    const Outcome recorded = Record(busy);
    EXPECT_EQ(recorded.words, std::vector<std::int32_t>{0});
    EXPECT_EQ(Play(busy, Write(recording_)), recorded);
}

TEST_F(Replay, PortRequestOutcomesSurviveTheirTraceLine) {
    using K = PortAccessError::Kind;
    for (const PortAccessError& e : {PortAccessError{}, PortAccessError{K::Busy, "/dev/parport0", "another program holds it"},
                                    PortAccessError{K::NoPermission, "", "add yourself\nto lp"}, PortAccessError{K::NoSuchPort, "/dev/parport1", ""},
                                     PortAccessError{K::Other, "simulated port 100%", "why"}}) {
        const std::string line = PortPrepareLine(0x278, e);
        ASSERT_EQ(line.rfind("port-prepare 278 ", 0), 0u) << line;
        EXPECT_EQ(line.find('\n'), std::string::npos);
        const auto back = ParsePortPrepare(std::string_view(line).substr(17));
        ASSERT_TRUE(back) << line;
        EXPECT_EQ(back->kind, e.kind);
        EXPECT_EQ(back->device, e.device);
        EXPECT_EQ(back->reason, e.kind == K::NoPermission ? "add yourself to lp" : e.reason);
    }
    EXPECT_FALSE(ParsePortPrepare("ok but more"));
    EXPECT_FALSE(ParsePortPrepare("fine"));
}

TEST_F(Replay, ADifferentRequestStopsAtTheRecordedLine) {
    Record(OnUsb);
    const std::size_t n = LineOf("usb-out 0 0D", 3);
    ASSERT_GT(n, 0u);
    Play(OnUsb, Write(WithLine(n, "usb-out 0 0D 01 02 0E 00 0E 00"), "edited.trace"));
    ASSERT_EQ(stops_.size(), 1u);
    EXPECT_EQ(thrown_, 1u);
    EXPECT_TRUE(std::regex_search(stops_[0], std::regex("^The replay stopped at line " + std::to_string(n) +
                                                        " of .*edited.trace: the recording holds \"usb-out 0 0D 01 02 0E 00 0E 00\" "
                                                        "but the program asks for: usb-out 0 0D 01 02 02 00 02 00$")))
        << stops_[0];
    EXPECT_TRUE(board_->stopped());
    // Once stopped, it stays stopped: nothing is answered from further down the file.
    EXPECT_THROW(board_->port().In(0x379), ReplayStopped);
    EXPECT_EQ(stops_.size(), 1u);

    // A changed port value, on the parallel port.
    Record(OnPort);
    const std::size_t out = LineOf("port-out 378", 20);
    Play(OnPort, Write(WithLine(out, "port-out 378 FF"), "port.trace"));
    ASSERT_EQ(stops_.size(), 2u);
    EXPECT_NE(stops_[1].find("at line " + std::to_string(out) + " of "), std::string::npos) << stops_[1];
    EXPECT_NE(stops_[1].find("holds \"port-out 378 FF\""), std::string::npos) << stops_[1];
}

TEST_F(Replay, RunningPastTheEndStopsNamingTheLastLine) {
    Record(OnPort);
    const std::size_t lines = static_cast<std::size_t>(std::count(recording_.begin(), recording_.end(), '\n'));
    const auto longer = [](Program& p, Outcome& o) {
        OnPort(p, o);
        o.words.push_back(ReadRegWord(p, 0x02));
    };
    Play(longer, Write(recording_));
    ASSERT_EQ(stops_.size(), 1u);
    EXPECT_NE(stops_[0].find("has come to the end of the recording"), std::string::npos) << stops_[0];
    EXPECT_NE(stops_[0].find("(line " + std::to_string(lines) + ")"), std::string::npos) << stops_[0];
    EXPECT_NE(stops_[0].find("asks for: port-out 378"), std::string::npos) << stops_[0];
}

TEST_F(Replay, NotesAndChipFramesArePassedByAndJunkIsNamed) {
    const Outcome recorded = Record(OnPort);
    // Notes, blank lines, Windows line ends and the chip's own frames change nothing.
    std::string annotated = "# taken on the bench, 5 June\n\n";
    std::istringstream in(recording_);
    for (std::string line; std::getline(in, line);) annotated += line + "\r\n" + (line.rfind("port-in", 0) == 0 ? "spi 1234 5678\r\n" : "");
    EXPECT_EQ(Play(OnPort, Write(annotated)), recorded);
    EXPECT_TRUE(stops_.empty());

    // A line no recording holds, and one far too long to be one, each name themselves.
    const std::size_t n = LineOf("port-out", 5);
    Play(OnPort, Write(WithLine(n, "port-out 378 zz")));
    ASSERT_EQ(stops_.size(), 1u);
    EXPECT_NE(stops_[0].find("line " + std::to_string(n) + " of"), std::string::npos) << stops_[0];
    Play(OnPort, Write(WithLine(n, std::string(100'000, 'A'))));
    ASSERT_EQ(stops_.size(), 2u);
    EXPECT_NE(stops_[1].find("line " + std::to_string(n) + " of"), std::string::npos);
    EXPECT_LT(stops_[1].size(), 400u) << "a short excerpt, not the line";
}

// Each line is read as the trace writes it, or the replay stops there: a byte of one digit
// or three, a line cut short by the end of the file, a request that took longer than the
// adapter's limit, binary junk (quoted printably). None of them is ever taken as an answer.
TEST_F(Replay, EveryLineIsReadStrictlyAndABadOneStopsThere) {
    Record(OnUsb);
    const std::size_t in = LineOf("usb-in 1 ", 3);
    ASSERT_GT(in, 0u);
    std::string line;
    {
        std::istringstream lines(recording_);
        for (std::size_t i = 1; i <= in; ++i) std::getline(lines, line);
    }
    const std::string original = line;
    const std::string oneDigit = line.substr(0, line.size() - 2) + "A";  // "... 8A 9" -> last byte one digit
    const std::string cases[][2] = {
        {WithLine(in, oneDigit), "is not a byte (two hexadecimal digits)"},
        {WithLine(in, line + "0"), "is not a byte (two hexadecimal digits)"},
        {WithLine(in, "took 1000000001"), "no request takes longer than a second"},
        {WithLine(in, "usb-in x 00"), "usb-in needs a pipe"},
        {WithLine(in, std::string("usb-in 1 00") + char(0x01) + char(0xFF)), "\\x01\\xFF"},
    };
    for (const auto& [text, says] : cases) {
        stops_.clear();
        const Outcome o = Play(OnUsb, Write(text));
        ASSERT_EQ(stops_.size(), 1u) << says;
        EXPECT_NE(stops_[0].find("line " + std::to_string(in) + " of"), std::string::npos) << stops_[0];
        EXPECT_NE(stops_[0].find(says), std::string::npos) << stops_[0];
    }
    // The file ends in the middle of the answer: cut short, not a short answer.
    std::istringstream lines(recording_);
    std::string upTo;
    for (std::size_t i = 1; i < in && std::getline(lines, line); ++i) upTo += line + "\n";
    stops_.clear();
    Play(OnUsb, Write(upTo + "usb-in 1 00 00 8A 9"));
    ASSERT_EQ(stops_.size(), 1u);
    EXPECT_NE(stops_[0].find("is cut short"), std::string::npos) << stops_[0];
    // A line of the longest length is read; one character more is refused.
    stops_.clear();
    Play(OnUsb, Write(WithLine(in, original + "\n#" + std::string(8191, 'n'))));
    EXPECT_TRUE(stops_.empty()) << stops_[0];
    Play(OnUsb, Write(WithLine(in, original + "\n#" + std::string(8192, 'n'))));
    ASSERT_EQ(stops_.size(), 1u);
    EXPECT_NE(stops_[0].find("line " + std::to_string(in + 1) + " of"), std::string::npos) << stops_[0];
    EXPECT_NE(stops_[0].find("longer than 8192 characters"), std::string::npos) << stops_[0];
    // A request of exactly a second is believed.
    stops_.clear();
    Play(OnUsb, Write(WithLine(LineOf("took "), "took 1000000000")));
    EXPECT_TRUE(stops_.empty() || stops_[0].find("took") == std::string::npos);
}

// The limits of a line's numbers, each on both sides: the adapter's pipes 0 to 16, and
// times up to 2^62 ns (146 years), never one that wraps round to a time before the start.
TEST(RecordingLine, PipesAndTimesAreReadToTheirLimitsAndNoFurther) {
    std::string why;
    for (const char* good : {"usb-in 16 00", "usb-out 0 0D", "@4611686018427387904 usb-in 1 00", "@0 took 5"}) {
        EXPECT_TRUE(ParseRecordingLine(good, why)) << good << ": " << why;
    }
    EXPECT_EQ(ParseRecordingLine("@4611686018427387904 usb-in 1 00", why)->timeNs, std::int64_t{1} << 62);
    for (const char* bad : {"usb-in 17 00", "usb-out 255 0D", "usb-in 65536 00", "@4611686018427387905 usb-in 1 00",
                            "@9223372036854775808 usb-in 1 00", "@18446744073709551615 took 5", "@18446744073709551616 took 5"}) {
        why.clear();
        const auto line = ParseRecordingLine(bad, why);
        EXPECT_FALSE(line) << bad << " read as a time of " << (line && line->timeNs ? *line->timeNs : 0);
        EXPECT_FALSE(why.empty()) << bad;
    }
}

TEST_F(Replay, TheRecordingSaysWhichInterfaceItWasMadeOn) {
    const auto interfaceOf = [&](const std::string& text) {
        std::string why;
        auto board = ReplayBoard::Open(Write(text), nullptr, why);
        EXPECT_TRUE(board) << why;
        Settings s;
        s.InterfaceType = Interface::None;
        s.PortAddress = 0x3BC;
        if (board) UseRecordedInterface(*board, s);
        return std::pair<int, int>(static_cast<int>(s.InterfaceType), s.PortAddress);
    };
    EXPECT_EQ(interfaceOf("# note\nport-prepare 278 ok\n"), std::pair(1, 0x278));
    EXPECT_EQ(interfaceOf("port-out 379 40\n"), std::pair(1, 0x3BC));
    EXPECT_EQ(interfaceOf("spi 0000 0000\nusb-open Ezusb-0 ok\n"), std::pair(2, 0x3BC));
    EXPECT_EQ(interfaceOf(""), std::pair(0, 0x3BC));
}

// What a recording says about an SPI device reaches the terminal: a device's name with a
// control character refuses the line, and a failure's reason comes back printable.
TEST_F(Replay, AnSpiDevicesNameAndFailureComeBackPrintable) {
    VirtualClock clock;
    std::string why;
    EXPECT_FALSE(ReplayBoard::Open(Write("spidev-open /dev/spi\x1b[2Jdev0.0 ok\n"), &clock, why));
    EXPECT_NE(why.find("a device's name is printable characters"), std::string::npos) << why;

    auto board = ReplayBoard::Open(Write("spidev-open /dev/spidev%200.0 ok\nspidev-out 25 5600 5600\nspidev-in failed gone\x1b[2J\n"), &clock, why);
    ASSERT_TRUE(board) << why;
    EXPECT_EQ(board->Interface().type, qvin::Interface::Spidev);
    EXPECT_EQ(board->Interface().device, "/dev/spidev 0.0");
    SpiBus& spi = board->spi();
    EXPECT_EQ(spi.Open("/dev/spidev 0.0"), "");
    const std::uint16_t out[2] = {0x5600, 0x5600};
    std::uint16_t in[2] = {};
    EXPECT_FALSE(spi.Transfer(out, in, 25));
    EXPECT_EQ(spi.lastError(), "gone\\x1B[2J");
}

TEST_F(Replay, OnlyAReadableFileIsARecording) {
    VirtualClock clock;
    Trace trace;
    std::string why;
    EXPECT_FALSE(MakeBoard("replay:" + (dir_ / "missing.trace").string(), clock, trace, &why));
    EXPECT_NE(why.find("missing.trace does not exist"), std::string::npos) << why;
    EXPECT_FALSE(MakeBoard("replay:" + dir_.string(), clock, trace, &why));
    EXPECT_NE(why.find("is not a file"), std::string::npos) << why;
    // A pipe would hold the start until someone wrote to it.
    const fs::path fifo = dir_ / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(MakeBoard("replay:" + fifo.string(), clock, trace, &why));
    EXPECT_FALSE(MakeBoard("replay:", clock, trace, &why));
    EXPECT_NE(why.find("replay:FILE"), std::string::npos) << why;

    auto board = MakeBoard("replay:" + Write("usb-open Ezusb-0 none\n").string(), clock, trace, &why);
    ASSERT_TRUE(board);
    EXPECT_EQ(board->name(), "replay");
    ASSERT_NE(board->replay(), nullptr);
    EXPECT_EQ(board->simulated(), nullptr);

    setenv("QVIN_BOARD", "replay:/tmp/x.trace", 1);
    EXPECT_EQ(BoardNameFromEnvironment(), "replay:/tmp/x.trace");
    unsetenv("QVIN_BOARD");
}

}  // namespace
}  // namespace qvin
