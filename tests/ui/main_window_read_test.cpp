#include <fstream>
#include <iterator>

#include "core/number_text.h"
#include "device/data_log_reader.h"
#include "device/part_info.h"
#include "support/watch_time.h"
#include "window_fixture.h"

namespace qvin::ui::test {
namespace {

std::string ReadFile(const std::filesystem::path& f) {
    std::ifstream in(f, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

int Count(const std::string& text, const std::string& what) {
    int n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

using Reading = WindowTest;

TEST_F(Reading, StatusFlagsShowEachBitInGreenOrRed) {
    StartOnUsb();
    s.board.chip.RaiseStatus(0x0301);
    Click(w().CmdUpdateStatus);
    EXPECT_EQ(w().StatusVal, 0x0301);
    for (const auto& row : w().statusRows()) {
        const bool alarm = row.mask == 0x0001 || row.mask == 0x0100 || row.mask == 0x0200;
        EXPECT_EQ(row.flag->caption(), alarm ? "Alarm" : "OK") << row.row->caption();
        EXPECT_EQ(row.flag->backColor(), alarm ? kRed : kGreen) << row.row->caption();
    }
    Click(w().cmdResetAlarm);  // clears the latched alarms, then reads the status again
    s.board.chip.RaiseStatus(0x0090);  // bits 4 and 7 have no row
    Click(w().CmdUpdateStatus);
    for (const auto& row : w().statusRows()) EXPECT_EQ(row.flag->caption(), "OK") << row.row->caption();
}

TEST_F(Reading, EachStatusBitAloneRaisesItsOwnFlagBesideItsOwnLabel) {
    // Written out, not taken from the window, so that two swapped rows show up here.
    const struct {
        std::uint16_t bit;
        const char* flag;
        const char* label;
        const char* caption;
    } rows[] = {{0x0001, "lblLowSupplyFlag", "lblLowSupply", "Power Supply Low"},
                {0x0002, "lblHighSupplyFlag", "lblHighSupply", "Power Supply High"},
                {0x0004, "lblWriteFailFlag", "lblWriteFail", "Control Write Flag"},
                {0x0008, "lblSpiWriteFlag", "Label20", "SPI Write Flag"},
                {0x0020, "lblSelfTestFailFlag", "lblSelfTestFail", "Self Test Fail"},
                {0x0040, "lblInvalidOrientationFlag", "lblInvalidOrientation", "Invalid Orientation"},
                {0x0100, "lblAlarm1SetFlag", "lblAlarm1Set", "Alarm1 Set"},
                {0x0200, "lblAlarm2SetFlag", "lblAlarm2Set", "Alarm2 Set"}};
    StartOnUsb();
    for (const auto& raised : rows) {
        Click(w().cmdResetAlarm);
        s.board.chip.RaiseStatus(raised.bit);
        Click(w().CmdUpdateStatus);
        for (const auto& row : rows) {
            const auto* flag = dynamic_cast<Label*>(w().Find(row.flag));
            const auto* label = dynamic_cast<Label*>(w().Find(row.label));
            ASSERT_TRUE(flag && label) << row.flag;
            EXPECT_EQ(label->caption(), row.caption);
            EXPECT_EQ(flag->caption(), row.bit == raised.bit ? "Alarm" : "OK") << row.caption << " with bit " << raised.bit;
        }
        // And the flag sits beside its own label in the rows the views lay out.
        for (const auto& r : w().statusRows()) {
            if (r.flag->name() == raised.flag) {
                EXPECT_EQ(r.row->name(), raised.label);
            }
        }
    }
}

TEST_F(Reading, NothingHappensWithoutAnInterface) {
    Expect("Please select an interface before taking data");
    s.Start();
    Frames();
    Click(w().cmdReadData);
    Click(w().CmdUpdateStatus);
    EXPECT_TRUE(Frames().empty());
    EXPECT_EQ(w().lblNewDataFlag.caption(), "New");  // as created, untouched
    EXPECT_EQ(w().txtReadReg(2).text(), "");
}

TEST_F(Reading, ReadOrderAndFormats) {
    s.board.chip.SetAngle(123.456);
    StartOnUsb();
    Frames();
    Click(w().cmdReadData);
    std::vector<std::uint16_t> requests;
    for (std::uint16_t f : Frames())
        if (f && !(f & 0x8000) && (requests.empty() || requests.back() != f)) requests.push_back(f);
    EXPECT_EQ(requests, (std::vector<std::uint16_t>{0x0200, 0x0800, 0x0A00, 0x0C00, 0x0E00, 0x3C00}));
    EXPECT_EQ(w().txtReadReg(7).text(), "123.45");
    EXPECT_EQ(w().txtReadReg(8).text(), "123.45");
    EXPECT_EQ(w().txtReadReg(5).text(), "0.000");
}

using ReadLoop = WindowTest;

TEST_F(ReadLoop, LogsAHeaderAndOneLinePerPassUntilStopped) {
    StartOnUsb();
    Click(w().chkDatalog);
    EXPECT_TRUE(w().LogToFile);
    // Stop pressed 0.1 s into the run, during a pass's delay slices.
    s.tk.Queue([&] { w().cmdStop.UserClick(); }, s.clock.NowNs() + 100'000'000);
    Click(w().CmdRdLoop);
    EXPECT_FALSE(w().LoopRunning);
    const std::string log = ReadFile(s.folder / "Datalog_1.txt");
    EXPECT_EQ(log.rfind("QVIN 27319 Datalog File\r\nDate\t", 0), 0u) << log;
    EXPECT_NE(log.find("\r\nLoopDelay\t25 mS\r\nSmpl Prd\t1.099 mS\r\nAvg Cnt\t7\r\n"
                       "Index\tSupply\tADC In\tTemp\tInc360\tInc180\tNew  \tError\tStatus\r\n\tV\tV\tdgrC\tdgr\tdgr\r\n"),
              std::string::npos)
        << log;
    const int lines = Count(log, "\r\n") - 7;
    EXPECT_GE(lines, 3);
    EXPECT_LE(lines, 5);
    EXPECT_EQ(w().lblLoopCount.caption(), std::to_string(lines));
    EXPECT_NE(log.find("\r\n1\t3."), std::string::npos) << log;
    EXPECT_EQ(w().txtFileIndex.text(), "2");
    EXPECT_TRUE(w().chkDatalog.enabled());
    EXPECT_TRUE(w().CmdRdLoop.enabled());
    EXPECT_FALSE(w().dataLog().isOpen());
}

TEST_F(ReadLoop, SelfTestAndReverseRotationAreInTheHeader) {
    s.board.chip.SetWord(0x34, kSelfTestBit | kReverseRotationBit);
    StartOnUsb();
    EXPECT_EQ(w().cmdRotation.caption(), "Reverse");
    EXPECT_EQ(w().CmdSelfTest.caption(), "Enabled");
    Click(w().chkDatalog);
    s.tk.Queue([&] { w().cmdStop.UserClick(); });
    Click(w().CmdRdLoop);
    const std::string log = ReadFile(s.folder / "Datalog_1.txt");
    EXPECT_NE(log.find("Avg Cnt\t7\r\nSelf Test On\r\nReverse Rotate On\r\nIndex"), std::string::npos) << log;
}

TEST_F(ReadLoop, OddIndexTwoRunsIntoOneFileAndNoLoggingLeavesTheCounterEmpty) {
    StartOnUsb();
    Click(w().chkDatalog);
    w().txtFileIndex.UserType("abc");
    s.tk.Queue([&] { w().cmdStop.UserClick(); });
    Click(w().CmdRdLoop);
    EXPECT_TRUE(std::filesystem::exists(s.folder / "Datalog_abc.txt"));
    EXPECT_EQ(w().txtFileIndex.text(), "1");  // abc reads as 0

    w().txtFileIndex.UserType("abc");
    s.tk.Queue([&] { w().cmdStop.UserClick(); });
    Click(w().CmdRdLoop);
    EXPECT_EQ(Count(ReadFile(s.folder / "Datalog_abc.txt"), "QVIN 27319 Datalog File"), 2);

    Click(w().chkDatalog);
    s.tk.Queue([&] { w().cmdStop.UserClick(); });
    Click(w().CmdRdLoop);
    EXPECT_EQ(w().lblLoopCount.caption(), "");
    EXPECT_EQ(w().txtFileIndex.text(), "1");
}

// The next file's number is counted in double precision: 9999999 is followed by 10000000,
// not 1E+07. A name typed as a path from the root, or one that climbs out of the data
// folder, still lands in it.
TEST_F(ReadLoop, TheFileNumberCountsOnAndTheLogStaysInTheDataFolder) {
    StartOnUsb();
    Click(w().chkDatalog);
    w().txtFileIndex.UserType("9999999");
    s.tk.Queue([&] { w().cmdStop.UserClick(); });
    Click(w().CmdRdLoop);
    EXPECT_TRUE(std::filesystem::exists(s.folder / "Datalog_9999999.txt"));
    EXPECT_EQ(w().txtFileIndex.text(), "10000000");

    // From the root, climbing out, climbing out through a subfolder: each name kept inside.
    // (A build whose name rule is broken leaves its files where they escaped to: gone first.)
    const std::filesystem::path above = s.folder.parent_path();
    for (const char* name : {"qvin-escaped_1.txt", "qvin-escaped2_1.txt", "qvin-up_1.txt"}) {
        std::filesystem::remove(above / name);
        std::filesystem::remove(std::filesystem::path("/") / name);
    }
    for (const char* stem : {"/qvin-escaped", "../../qvin-escaped2", "sub/../../qvin-up"}) {
        w().txtDlogFile.UserType(stem);
        w().txtFileIndex.UserType("1");
        s.tk.Queue([&] { w().cmdStop.UserClick(); });
        Click(w().CmdRdLoop);
    }
    for (const char* name : {"qvin-escaped_1.txt", "qvin-escaped2_1.txt", "qvin-up_1.txt"}) {
        EXPECT_TRUE(std::filesystem::exists(s.folder / name)) << name;
        EXPECT_FALSE(std::filesystem::exists(above / name)) << name;
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::path("/") / name)) << name;
    }
}

// The same LoopDelay, the same spacing: the window's loop and qvin-cli's watch at 20 ms
// make their passes within a millisecond of each other (the window's six single reads take
// about a millisecond more than watch's one exchange), in simulated time.
TEST_F(ReadLoop, TheWindowsLoopAndWatchSpaceTheirPassesAlike) {
    StartOnUsb();
    Enter(w().txtLoopDelay, "20");
    Click(w().chkDatalog);
    const std::int64_t start = s.clock.NowNs();
    s.tk.Queue([&] { w().cmdStop.UserClick(); }, start + 1'000'000'000);
    Click(w().CmdRdLoop);
    const DataLogContents log = ParseDataLog(ReadFile(s.folder / "Datalog_1.txt"));
    ASSERT_EQ(log.runs.size(), 1u);
    const double passes = static_cast<double>(log.runs[0].passes.size());
    const double window = static_cast<double>(s.clock.NowNs() - start) / 1e6 / passes;

    const double watch = static_cast<double>(qvin::test::WatchElapsedNs(21, 20) - qvin::test::WatchElapsedNs(1, 20)) / 20 / 1e6;
    EXPECT_GT(passes, 50);
    EXPECT_NEAR(window, watch, 1.5) << "window " << window << " ms a pass, watch " << watch;
    EXPECT_GE(window, 16.0);
    EXPECT_LT(window, 18.5);
}

TEST_F(ReadLoop, LoopDelayIsLimitedAndAnEmptyBoxKeepsThePreviousDelay) {
    StartOnUsb();
    Enter(w().txtLoopDelay, "5");
    EXPECT_EQ(w().txtLoopDelay.text(), "10.0");
    Enter(w().txtLoopDelay, "45000");
    EXPECT_EQ(w().txtLoopDelay.text(), "30000.0");
    w().txtLoopDelay.UserType("45000");
    s.tk.Queue([&] { w().cmdStop.UserClick(); });
    Click(w().CmdRdLoop);
    EXPECT_EQ(w().txtLoopDelay.text(), "45000.0");
    EXPECT_FLOAT_EQ(w().LoopDelayMs, 45000.0f);
    w().txtLoopDelay.UserType("");
    s.tk.Queue([&] { w().cmdStop.UserClick(); });
    Click(w().CmdRdLoop);
    EXPECT_EQ(w().txtLoopDelay.text(), "");
    EXPECT_FLOAT_EQ(w().LoopDelayMs, 45000.0f);
}

TEST_F(ReadLoop, AdapterLostMidLoopEndsItAndUnticksUsb) {
    StartOnUsb();
    s.tk.Queue([&] { s.board.usb.SetUnplugged(0, true); }, s.clock.NowNs() + 60'000'000);
    Expect("Error Writing SPI");
    Click(w().CmdRdLoop);
    EXPECT_FALSE(w().LoopRunning);
    EXPECT_FALSE(w().mnuUSB.checked());
}

TEST_F(ReadLoop, UnopenableLogTakesTheErrorPathAndStartWorksAgain) {
    StartOnUsb();
    Click(w().chkDatalog);
    w().txtDlogFile.UserType("no-such-folder/Datalog");
    Expect("Error Trying to open file " + (s.folder / "no-such-folder/Datalog_1.txt").string() +
           "\r\nNo such file or directory");
    Click(w().CmdRdLoop);
    EXPECT_FALSE(w().LoopRunning);
    EXPECT_TRUE(w().chkDatalog.enabled());
    EXPECT_EQ(w().txtFileIndex.text(), "1");
    w().txtDlogFile.UserType("Datalog");
    s.tk.Queue([&] { w().cmdStop.UserClick(); });
    Click(w().CmdRdLoop);
    EXPECT_TRUE(std::filesystem::exists(s.folder / "Datalog_1.txt"));
}

TEST_F(ReadLoop, StartDuringARunningLoopDoesNotNestAnotherLoop) {
    StartOnUsb();
    int passesBefore = 0;
    s.tk.Queue([&] {
        EXPECT_FALSE(w().CmdRdLoop.enabled());
        w().CmdRdLoop_Click();  // even called directly, a second loop is refused
        passesBefore = 1;
        w().cmdStop.UserClick();
    });
    Click(w().CmdRdLoop);
    EXPECT_EQ(passesBefore, 1);
    EXPECT_FALSE(w().LoopRunning);
}

TEST_F(ReadLoop, ExitDuringTheLoopEndsEverything) {
    StartOnUsb();
    Click(w().chkDatalog);
    s.tk.Queue([&] { w().MnuExit.UserClick(); }, s.clock.NowNs() + 50'000'000);
    Click(w().CmdRdLoop);
    EXPECT_TRUE(s.app->ended);
    EXPECT_FALSE(w().dataLog().isOpen());
    EXPECT_TRUE(std::filesystem::exists(s.folder / kSettingsFileName));
}

}  // namespace
}  // namespace qvin::ui::test

namespace qvin::ui::test {
namespace {

using Recording = WindowTest;

// While the bus is recorded, the status area says for how long and how large the file is:
// at the start, then at most once a second of the loop's clock, and nothing once stopped.
TEST_F(Recording, TheStatusFieldGivesTheRecordingsTimeAndTheFilesSize) {
    StartOnUsb();
    s.tk.AnswerFile((s.folder / "bus.trace").string());
    Click(w().mnuRecord);
    EXPECT_EQ(s.tk.statusField, "Recording: 0 s, 0 bytes");
    // 75 s of the read loop; the field as the loop's last pass left it.
    const std::int64_t startNs = s.clock.NowNs();
    s.tk.Queue([&] { w().cmdStop.UserClick(); }, startNs + 75'000'000'000);
    Click(w().CmdRdLoop);
    const std::string shown = s.tk.statusField;
    // The clock of the last update, and the file as big as it was then: what the field
    // says must match both, to the second and to the last three figures of the size.
    Click(w().mnuStopRecording);
    EXPECT_EQ(s.tk.statusField, "");
    const auto bytes = std::filesystem::file_size(s.folder / "bus.trace");
    ASSERT_EQ(shown.rfind("Recording: 1 min 1", 0), 0u) << shown;  // 1 min 14 s or 1 min 15 s
    const double seconds = std::stod(shown.substr(std::string("Recording: 1 min ").size()));
    EXPECT_GE(seconds, 14) << shown;
    EXPECT_LE(seconds, 15) << shown;
    // The last update came within a second before the stop: the file grew little after it.
    const std::size_t comma = shown.find(", ");
    ASSERT_NE(comma, std::string::npos) << shown;
    // Some 57 kB a second at the loop's pace: megabytes, three figures (to 5 kB either way).
    const double mb = std::stod(shown.substr(comma + 2));
    EXPECT_EQ(shown.substr(shown.size() - 3), " MB") << shown;
    EXPECT_EQ(shown.substr(comma + 2).size(), std::string("4.27 MB").size()) << shown;
    EXPECT_LE(mb * 1e6, static_cast<double>(bytes) + 5000) << shown << " of " << bytes;
    EXPECT_GE(mb * 1e6, static_cast<double>(bytes) * (74.0 / 75) - 5000) << shown << " of " << bytes;
}

}  // namespace
}  // namespace qvin::ui::test
