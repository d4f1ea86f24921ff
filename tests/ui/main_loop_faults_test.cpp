// What a user sees when the adapter fails under the main window's read loop: one message,
// the loop ended, the adapter deselected, a data log of complete lines only, no wait past
// the request's time limit; and after a replug the adapter can be found and used again.

#include <cctype>
#include <fstream>
#include <iterator>

#include "window_fixture.h"

namespace qvin::ui::test {
namespace {

struct LoopFault {
    const char* rule;
    const char* message;
};

void PrintTo(const LoopFault& f, std::ostream* os) { *os << f.rule; }

class MainLoopFaults : public WindowTest, public ::testing::WithParamInterface<LoopFault> {
protected:
    std::string Log() {
        std::ifstream in(s.folder / "Datalog_1.txt", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
};

TEST_P(MainLoopFaults, OneMessageTheLoopEndsAndTheLogKeepsWholeLines) {
    StartOnUsb();
    Click(w().chkDatalog);
    // A safety net: Stop after a minute if the fault did not end the loop.
    const std::int64_t start = s.clock.NowNs();
    s.tk.Queue([&] { ADD_FAILURE() << "the loop did not end"; w().cmdStop.UserClick(); }, start + 60'000'000'000);
    ASSERT_FALSE(s.board.faults.Add(GetParam().rule));
    Expect(GetParam().message);
    Click(w().CmdRdLoop);
    EXPECT_FALSE(w().LoopRunning);
    EXPECT_FALSE(p().UsbReady());
    EXPECT_FALSE(w().mnuUSB.checked());
    EXPECT_TRUE(w().CmdRdLoop.Usable());
    EXPECT_LT(s.clock.NowNs() - start, 10'000'000'000);  // a few passes and at most one time limit

    // Header, then only whole lines: index, five values, two flags and the status.
    const std::string log = Log();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log.substr(log.size() - 2), "\r\n");
    const std::size_t units = log.find("\tV\tV\tdgrC\tdgr\tdgr\r\n");
    ASSERT_NE(units, std::string::npos);
    std::size_t at = log.find("\r\n", units) + 2;
    int lines = 0;
    while (at < log.size()) {
        const std::size_t end = log.find("\r\n", at);
        ASSERT_NE(end, std::string::npos);
        const std::string line = log.substr(at, end - at);
        EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 8) << line;
        EXPECT_EQ(line.rfind(std::to_string(++lines) + "\t", 0), 0u) << line;
        // Every logged pass was read: the supply near 3.3 V, not a stale or missing word.
        EXPECT_NEAR(std::stod(line.substr(line.find('\t') + 1)), 3.3, 0.01) << line;
        at = end + 2;
    }
    EXPECT_GE(lines, 1);
    EXPECT_EQ(w().lblLoopCount.caption(), std::to_string(lines));
}

INSTANTIATE_TEST_SUITE_P(Kinds, MainLoopFaults,
                         ::testing::Values(LoopFault{"send-fail@40", "Error Writing SPI"},
                                           LoopFault{"receive-fail@41", "Error Reading SPI"},
                                           LoopFault{"short-reply@41+", "Error Reading SPI"},
                                           LoopFault{"timeout@39", "Error Writing SPI"},
                                           LoopFault{"unplug@100", "Error Writing SPI"},
                                           LoopFault{"send-fail%5", "Error Writing SPI"}),
                         [](const auto& info) {
                             std::string name = info.param.rule;
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });

TEST_F(WindowTest, AfterAReplugTheSelectionWindowFindsTheAdapterAgain) {
    StartOnUsb();
    ASSERT_FALSE(s.board.faults.Add("unplug@1"));
    Expect("Error Writing SPI");
    Click(w().cmdReadData);
    EXPECT_FALSE(p().UsbReady());
    // Searching while it is out: nothing; plugged back, the next search finds it.
    s.tk.Queue([&] {
        EXPECT_TRUE(usb().optUsbPort(4).value());
        ASSERT_FALSE(s.board.faults.Add("replug@1"));
        usb().cmdFindEzUsb.UserClick();
        EXPECT_TRUE(usb().optUsbPort(0).enabled());
        EXPECT_TRUE(usb().optUsbPort(0).value());
        usb().cmdExit.UserClick();
    });
    Expect("No USB Buffers Found, Please Verify Setup and Restart");
    Click(w().mnuUSB);
    EXPECT_TRUE(p().UsbReady());
    EXPECT_EQ(p().settings.InterfaceType, Interface::UsbAdapter);
    EXPECT_TRUE(w().mnuUSB.checked());
    ExpectSupplyShown(w().txtReadReg(2));  // the activation afterwards read the part again
}

TEST_F(WindowTest, ADisconnectedCableShowsAsEveryBitHigh) {
    StartOnPort();
    ASSERT_FALSE(s.board.faults.Add("miso-high@1+"));
    Click(w().cmdReadData);
    EXPECT_EQ(w().txtReadReg(2).text(), "4.996");  // 0xFFF counts of supply
    EXPECT_EQ(w().lblNewDataFlag.caption(), "New");
    EXPECT_EQ(w().lblErrorAlarmFlag.caption(), "Alarm");
    for (const auto& row : w().statusRows()) EXPECT_EQ(row.flag->caption(), "Alarm") << row.row->caption();
}

}  // namespace
}  // namespace qvin::ui::test
