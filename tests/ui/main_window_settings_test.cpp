#include <fstream>

#include "device/part_info.h"
#include "ui/main/angle_dial.h"
#include "window_fixture.h"

namespace qvin::ui::test {
namespace {

// Frames that are register writes, as (address, byte) words.
std::vector<std::uint16_t> Writes(const std::vector<std::uint16_t>& frames) {
    std::vector<std::uint16_t> w;
    for (std::uint16_t f : frames)
        if (f & 0x8000) w.push_back(f);
    return w;
}

using Activation = WindowTest;

TEST_F(Activation, OutOfRangeSettingsAreLimitedAndMovedBarsWriteBack) {
    s.board.chip.SetWord(0x30, 0xF000 | 4095);  // bits above the DAC's 12 are dropped
    s.board.chip.SetWord(0x36, 0);              // Smpl_Prd 0
    s.board.chip.SetWord(0x38, 12);             // Avg_Cnt above 8
    StartOnUsb();
    EXPECT_EQ(w().hscAuxDAC.value(), 4095);
    EXPECT_EQ(w().txtAuxDacIn.text(), "4095");
    EXPECT_EQ(w().txtAuxDacOut.text(), "2.5000");
    // The bar moved from 0, so its handler wrote the value back and latched it.
    EXPECT_EQ(s.board.chip.Word(0x30), 4095);
    EXPECT_EQ(s.board.chip.LatchedDac(), 4095);
    EXPECT_EQ(w().hscSmplPrd.value(), 1);
    EXPECT_EQ(w().txtSmplPrd.text(), "1");
    EXPECT_EQ(w().txtSamplePeriod.text(), "0.244");
    // The sample-period bar already stood at 1: nothing moved, nothing was written.
    EXPECT_EQ(s.board.chip.Word(0x36), 0);
    EXPECT_EQ(w().hscAvgCnt.value(), 8);
    EXPECT_EQ(w().txtAvgCnt.text(), "8");
    EXPECT_EQ(w().txtRollAvg.text(), "512");
    EXPECT_EQ(s.board.chip.Word(0x38), 8);
}

TEST_F(Activation, FactoryModeThreeShowsUnlock) {
    Start({Interface::UsbAdapter, 0, 3});
    EXPECT_TRUE(w().cmdUnlock.visible());
    Frames();
    Click(w().cmdUnlock);
    EXPECT_EQ(Writes(Frames()), (std::vector<std::uint16_t>{0xD085, 0xD101}));
}

using Settings_ = WindowTest;

TEST_F(Settings_, AuxDacCodeAndVoltageEntry) {
    StartOnUsb();
    struct Case {
        TextBox* box;
        const char* typed;
        int code;
        const char* volts;
    };
    const Case cases[] = {{&w().txtAuxDacIn, "2047.5", 2048, "1.2503"}, {&w().txtAuxDacIn, "2046.5", 2046, "1.2491"},
                          {&w().txtAuxDacIn, "-5", 0, "0.0000"},        {&w().txtAuxDacOut, "3", 4095, "2.5000"},
                          {&w().txtAuxDacOut, "1.25", 2048, "1.2503"}};
    for (const Case& c : cases) {
        Enter(*c.box, c.typed);
        EXPECT_EQ(w().hscAuxDAC.value(), c.code) << c.typed;
        EXPECT_EQ(w().txtAuxDacIn.text(), std::to_string(c.code)) << c.typed;
        EXPECT_EQ(w().txtAuxDacOut.text(), c.volts) << c.typed;
        EXPECT_EQ(s.board.chip.LatchedDac(), c.code) << c.typed;
    }
    // Enter on an empty box does nothing.
    Frames();
    Enter(w().txtAuxDacIn, "");
    EXPECT_TRUE(Frames().empty());
}

TEST_F(Settings_, ScrollBarsWriteAndShowDerivedRates) {
    StartOnUsb();
    Move(w().hscSmplPrd, 128);
    EXPECT_EQ(s.board.chip.Word(0x36), 128);
    EXPECT_EQ(w().txtSamplePeriod.text(), "3.784");
    EXPECT_EQ(w().txtAvgUpdateRate.text(), "0.97");  // 256 samples of 3.784 ms
    Move(w().hscAvgCnt, 0);
    EXPECT_EQ(s.board.chip.Word(0x38), 0);
    EXPECT_EQ(w().txtRollAvg.text(), "2");
    EXPECT_EQ(w().txtAvgUpdateRate.text(), "0.01");
}

TEST_F(Settings_, PowerDownShowsHalfSecondsAndSetWritesThenReturnsToZero) {
    StartOnUsb();
    Move(w().hscPowerdown, 255);
    EXPECT_EQ(w().txtPowerDown.text(), "127.5");
    EXPECT_EQ(w().txtPwrMde.text(), "255");
    Frames();
    Click(w().cmdPowerDown);
    EXPECT_EQ(Writes(Frames()), (std::vector<std::uint16_t>{0xBB00, 0xBAFF}));
    EXPECT_EQ(w().hscPowerdown.value(), 0);
    EXPECT_EQ(w().txtPowerDown.text(), "0.0");
    EXPECT_EQ(w().txtPwrMde.text(), "0");
}

TEST_F(Settings_, SelfTestOffClearsTheWholeUpperByte) {
    StartOnUsb();
    p().part.MscCtrlVal = 0x0305;
    w().CmdSelfTest.SetCaption("Enabled");
    Frames();
    Click(w().CmdSelfTest);
    EXPECT_EQ(Writes(Frames()), (std::vector<std::uint16_t>{0xB500, 0xB405}));
    EXPECT_EQ(w().CmdSelfTest.caption(), "Disabled");
    Click(w().CmdSelfTest);
    EXPECT_EQ(s.board.chip.Word(0x34), 0x0105);
    EXPECT_EQ(w().CmdSelfTest.caption(), "Enabled");
}

TEST_F(Settings_, RotationTogglesOnlyBitFiveOfTheFreshValue) {
    StartOnUsb();
    s.board.chip.SetWord(0x34, 0x0305);
    Click(w().cmdRotation);
    EXPECT_EQ(s.board.chip.Word(0x34), 0x0325);
    EXPECT_EQ(w().cmdRotation.caption(), "Reverse");
    EXPECT_TRUE(p().part.ReverseRotation);
    Click(w().cmdRotation);
    EXPECT_EQ(s.board.chip.Word(0x34), 0x0305);
    EXPECT_EQ(w().cmdRotation.caption(), "Normal");
}

TEST_F(Settings_, FactoryResetWritesInOrderThenRefreshes) {
    StartOnUsb();
    Frames();
    Click(w().cmdResetFactory);
    const std::vector<std::uint16_t> writes = Writes(Frames());
    const std::vector<std::uint16_t> expected = {
        0xB100, 0xB000,  // Aux_DAC 0
        0xBF00, 0xBE04,  // Command 4
        0xB700, 0xB608,  // Smpl_Prd 8
        0xB900, 0xB807,  // Avg_Cnt 7
        0xA900, 0xA800,  // Alm_Ctrl
        0xA100, 0xA000,  // Alm_Mag1
        0xA300, 0xA200,  // Alm_Mag2
        0xB300, 0xB200,  // Gpio_Ctrl
        0xB500, 0xB400,  // Msc_Ctrl
        0x9900, 0x9800,  // Incl_Null
        0xD085, 0xD101,  // then the refresh unlocks and reads the part
    };
    ASSERT_GE(writes.size(), expected.size());
    EXPECT_EQ(std::vector<std::uint16_t>(writes.begin(), writes.begin() + static_cast<std::ptrdiff_t>(expected.size())), expected);
}

TEST_F(Settings_, NoInterfaceMovesScrollBarsButWritesAndShowsNothing) {
    Expect("Please select an interface before taking data");
    s.Start();
    Frames();
    Move(w().hscAuxDAC, 100);
    Move(w().hscPowerdown, 10);
    EXPECT_EQ(w().hscAuxDAC.value(), 100);
    EXPECT_EQ(w().txtAuxDacIn.text(), "");
    EXPECT_EQ(w().txtPwrMde.text(), "");
    EXPECT_TRUE(Frames().empty());
    Expect("Please select an interface first");
    Click(w().cmdPowerDown);
}

using Chord = WindowTest;

TEST_F(Chord, CtrlShiftDigitSetsTheFactoryLevel) {
    StartOnUsb();
    for (int digit = 0; digit <= 3; ++digit) {
        Expect("Factory= " + std::to_string(digit));
        s.tk.Do([&] { w().picLogo.UserKeyDown(48 + digit, kCtrlMask | kShiftMask); });
        EXPECT_EQ(p().settings.FactoryMode, digit);
    }
    s.tk.Do([&] { w().picLogo.UserKeyDown(52, kCtrlMask | kShiftMask); });
    s.tk.Do([&] { w().picLogo.UserKeyDown(49, kCtrlMask | kShiftMask | kAltMask); });
    s.tk.Do([&] { w().picLogo.UserKeyDown(49, kCtrlMask); });
    EXPECT_EQ(p().settings.FactoryMode, 3);
}

using Help = WindowTest;
using ReadLoopLog = WindowTest;

TEST_F(Help, OpensTheHelpFileInTheProgramFolder) {
    StartOnUsb();
    Click(w().mnuHelp);
    ASSERT_EQ(s.tk.helpOpened.size(), 1u);
    EXPECT_EQ(s.tk.helpOpened[0], (s.folder / "QVIN27319.hlp").string());
}

TEST(HelpFileLocation, BesideTheProgramOrWhereAnInstallationPutsIt) {
    namespace fs = std::filesystem;
    const fs::path root = fs::temp_directory_path() / "qvin-help-location";
    fs::remove_all(root);
    fs::create_directories(root / "bin");
    // Neither: beside the program, so the viewer names the file it did not find.
    EXPECT_EQ(HelpFile(root / "bin"), root / "bin" / "QVIN27319.hlp");
    fs::create_directories(root / "share" / "qvin27319");
    std::ofstream(root / "share" / "qvin27319" / "QVIN27319.hlp") << "installed";
    EXPECT_EQ(HelpFile(root / "bin"), root / "share" / "qvin27319" / "QVIN27319.hlp");
    std::ofstream(root / "bin" / "QVIN27319.hlp") << "beside";  // a build folder's copy wins
    EXPECT_EQ(HelpFile(root / "bin"), root / "bin" / "QVIN27319.hlp");
    fs::remove_all(root);
}

TEST_F(ReadLoopLog, GoesToTheDataFolderAndSaysWhere) {
    StartOnUsb();
    Click(w().chkDatalog);
    s.tk.Queue([&] { w().cmdStop.UserClick(); }, s.clock.NowNs() + 60'000'000);
    Click(w().CmdRdLoop);
    const std::string file = (s.folder / "Datalog_1.txt").string();
    EXPECT_TRUE(std::filesystem::exists(file));
    EXPECT_EQ(w().chkDatalog.toolTip(), "Logging to " + file);
    EXPECT_EQ(s.tk.status().rfind("Logged ", 0), 0u) << s.tk.status();
    EXPECT_NE(s.tk.status().find(" passes to " + file), std::string::npos) << s.tk.status();
}

TEST(AngleDial, NeedleMarkerAndSquareFollowTheReading) {
    PictureBox pic("Picture1", 200, 200);
    const float r = 100;
    DrawAngleDial(pic, 0, false);
    ASSERT_EQ(pic.ops().size(), 10u);
    EXPECT_EQ(pic.ops()[0], (DrawOp{DrawOp::Circle, r, r, r - 6, 0}));
    EXPECT_FLOAT_EQ(pic.ops()[1].c, r / 1.5f - 2);
    const DrawOp needle = pic.ops()[8];
    EXPECT_EQ(needle.kind, DrawOp::Line);
    EXPECT_FLOAT_EQ(needle.a, r + r / 1.5f);  // three o'clock
    EXPECT_NEAR(needle.b, r, 1e-4);
    EXPECT_FLOAT_EQ(needle.c, 2 * r - 4);
    EXPECT_NEAR(needle.d, r - 4, 1e-4);
    const DrawOp marker = pic.ops()[6];
    EXPECT_LT(marker.a, r);  // left of and below the centre
    EXPECT_GT(marker.b, r);
    EXPECT_EQ(pic.ops()[7], (DrawOp{DrawOp::LineWidth, 2, 0, 0, 0}));
    EXPECT_EQ(pic.ops()[9], (DrawOp{DrawOp::LineWidth, 1, 0, 0, 0}));

    DrawAngleDial(pic, 0, true);
    EXPECT_GT(pic.ops()[6].a, r);  // reversed: lower right
    EXPECT_GT(pic.ops()[6].b, r);

    DrawAngleDial(pic, 90, false);
    EXPECT_NEAR(pic.ops()[8].a, r, 0.1);  // points up
    EXPECT_NEAR(pic.ops()[8].b, r - r / 1.5f, 0.1);
    EXPECT_NEAR(pic.ops()[8].c, r - 4, 0.1);
    EXPECT_NEAR(pic.ops()[8].d, -4, 0.1);
}

TEST_F(Settings_, DialReadsTheShownTextAndAnEmptyTextIsZero) {
    StartOnUsb();
    w().txtReadReg(7).SetText("");
    w().Draw_Angle();
    const std::vector<DrawOp> empty = w().Picture1.ops();
    w().txtReadReg(7).SetText("0.00");
    w().Draw_Angle();
    EXPECT_EQ(w().Picture1.ops(), empty);
    w().txtReadReg(7).SetText("360");
    w().Draw_Angle();
    EXPECT_NEAR(w().Picture1.ops()[8].a, empty[8].a, 0.5);
}

}  // namespace
}  // namespace qvin::ui::test
