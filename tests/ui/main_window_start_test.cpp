#include <algorithm>
#include <fstream>
#include <unistd.h>

#include "device/register_access.h"
#include "window_fixture.h"

namespace qvin::ui::test {
namespace {

using StartUp = WindowTest;

TEST_F(StartUp, WithoutSettingsFileNoInterfaceIsSelected) {
    Expect("Please select an interface before taking data");
    s.Start();
    EXPECT_EQ(p().settings.InterfaceType, Interface::None);
    EXPECT_EQ(p().settings.PortAddress, 0);
    EXPECT_EQ(w().txtLoopDelay.text(), "25.0");
    EXPECT_FALSE(w().mnuPort.checked());
    EXPECT_FALSE(w().mnuUSB.checked());
    EXPECT_EQ(w().caption(), "QVIN27319 Evaluation Software - Rev 2");
    EXPECT_EQ(s.app->OsName, "WinXP");
}

TEST_F(StartUp, UsbFoundIsSetUpAndReadTwice) {
    p().spi.SpiDelay = 7;
    StartOnUsb();
    EXPECT_TRUE(w().mnuUSB.checked());
    EXPECT_TRUE(p().UsbReady());
    // The adapter got the program's static bits and word delay (start values 120, 25).
    EXPECT_EQ(s.board.usb.firmware(0)->staticBits(), 120);
    EXPECT_EQ(s.board.usb.firmware(0)->delay(), 25);
    EXPECT_EQ(w().lblNewDataFlag.caption(), "New");
    ExpectSupplyShown(w().txtReadReg(2));
    EXPECT_EQ(w().txtSmplPrd.text(), "8");
    EXPECT_EQ(w().txtSamplePeriod.text(), "1.099");
    EXPECT_EQ(w().txtAvgCnt.text(), "7");
    EXPECT_EQ(w().txtRollAvg.text(), "256");
    EXPECT_EQ(w().txtAvgUpdateRate.text(), "0.28");
    EXPECT_EQ(w().cmdRotation.caption(), "Normal");
    EXPECT_EQ(w().CmdSelfTest.caption(), "Disabled");
    EXPECT_FALSE(w().cmdUnlock.visible());
    EXPECT_FALSE(w().Picture1.ops().empty());
}

TEST_F(StartUp, UsbSelectedButAbsentOpensTheSelectionWindow) {
    s.board.usb.Place(0, std::nullopt);
    Expect("No USB Buffers Found, Please Verify Setup and Restart");  // the load's search
    Expect("No USB Buffers Found, Please Verify Setup and Restart");  // the window's own search
    s.tk.Queue([&] { usb().cmdExit.UserClick(); });
    StartOnUsb();
    EXPECT_TRUE(usb().loaded());
    EXPECT_FALSE(usb().visible());
    EXPECT_TRUE(usb().optUsbPort(4).value());
    EXPECT_FALSE(p().UsbReady());
    // Activation finds the interface unusable later: every chip action asks for one.
    Expect("Please select an interface first");
    Click(w().cmdNewPart);
    EXPECT_EQ(p().settings.InterfaceType, Interface::None);
}

TEST_F(StartUp, UsbOnWindows95IsRefused) {
    Expect("USB not available for Windows95");
    Start({Interface::UsbAdapter, 0, 0}, {1, 4.0f, 950});
    EXPECT_EQ(s.app->OsName, "Win95");
    EXPECT_EQ(p().settings.InterfaceType, Interface::None);
    EXPECT_FALSE(w().mnuUSB.enabled());
    EXPECT_FALSE(w().mnuUSB.checked());
}

// The port's reset, before any frame: status port 40, then the data port 0.
void ExpectResetFirst(const std::vector<std::string>& trace) {
    std::vector<std::string> port;
    for (const std::string& line : trace)
        if (line.rfind("port-out", 0) == 0) port.push_back(line);
    ASSERT_GE(port.size(), 2u);
    EXPECT_EQ(port[0], "port-out 379 40");
    EXPECT_EQ(port[1], "port-out 378 00");
}

TEST_F(StartUp, ParallelPortOnWindowsXpIsPreparedAndReset) {
    StartOnPort();
    EXPECT_TRUE(p().GiveIoInstalled);
    EXPECT_TRUE(s.board.port.Prepared());
    ExpectResetFirst(s.startTrace);
    EXPECT_TRUE(w().mnuPort.checked());
    ExpectSupplyShown(w().txtReadReg(2));
}

// A port that cannot be opened: said once, then nothing is read from it (no reading that a
// port which is not there would show, no frames); the loop asks for an interface; a pick
// in the port window tries again and reads the part.
TEST_F(StartUp, AParallelPortThatCannotBeOpenedIsNeverReadFromAndAPickTriesAgain) {
    Expect("The required I/O drivers could not be installed.\r\nno parallel port at address 278 (the simulated board is at 378)", "Error");
    Start({Interface::ParallelPort, 0x278, 0});
    EXPECT_TRUE(p().GiveIoInstalled);
    EXPECT_FALSE(s.board.port.Prepared());
    EXPECT_EQ(w().txtReadReg(2).text(), "");
    EXPECT_TRUE(Frames().empty());
    Click(w().cmdReadData);  // told once already: the button reads nothing
    EXPECT_EQ(w().txtReadReg(2).text(), "");
    EXPECT_TRUE(Frames().empty());
    Expect("Please select an interface first");
    Click(w().CmdRdLoop);
    EXPECT_EQ(p().settings.InterfaceType, Interface::ParallelPort) << "the next start tries the port again";

    s.tk.Queue([&] {
        port().txtUser.UserType("378");
        port().cmdOK.UserClick();
    });
    s.capture.Take();
    Click(w().mnuPort);
    EXPECT_TRUE(s.board.port.Prepared());
    ExpectSupplyShown(w().txtReadReg(2));
    ExpectResetFirst(s.capture.Take());
}

TEST_F(StartUp, ParallelPortOnWindows98IsUsedWithoutPreparation) {
    Start({Interface::ParallelPort, 0x378, 0}, {1, 4.1f, 2222});
    EXPECT_EQ(s.app->OsName, "Win98");
    EXPECT_FALSE(p().GiveIoInstalled);
    EXPECT_FALSE(s.board.port.Prepared());
    // The activation still ticks the menu entry.
    EXPECT_TRUE(w().mnuPort.checked());
}

TEST(OsIdentification, FourNamesFromPlatformVersionAndBuild) {
    struct Case {
        SystemFacts facts;
        const char* name;
    };
    const Case cases[] = {{{1, 4.0f, 2000}, "Win95"}, {{1, 4.1f, 2001}, "Win98"}, {{2, 5.0f, 2195}, "WinNT"}, {{2, 5.1f, 2600}, "WinXP"}};
    for (const Case& c : cases) {
        SimSession s(std::filesystem::temp_directory_path() / "qvin-ui-os");
        s.tk.ExpectMessage("Please select an interface before taking data");
        s.Start(c.facts);
        EXPECT_EQ(s.app->OsName, c.name);
        EXPECT_TRUE(s.tk.failures.empty());
        std::filesystem::remove_all(s.folder);
    }
}

using InterfaceCheck = WindowTest;

TEST_F(InterfaceCheck, PortWithoutAddressIsNoInterface) {
    StartOnPort();
    p().settings.PortAddress = 0;
    Expect("Please select an interface first");
    EXPECT_FALSE(w().Check_Interface());
    EXPECT_EQ(p().settings.InterfaceType, Interface::None);
    EXPECT_FALSE(w().mnuPort.checked());
    EXPECT_FALSE(w().mnuUSB.checked());
}

TEST_F(InterfaceCheck, LostAdapterIsNoInterfaceAndWindowsAreRefused) {
    StartOnUsb();
    p().SetUsbReady(false);
    Expect("Please select an interface first");
    Click(w().MnuAbout);
    EXPECT_EQ(p().settings.InterfaceType, Interface::None);
}

TEST_F(InterfaceCheck, EachSetupEntryOpensItsWindowModallyAndTheMainWindowRereadsAfter) {
    StartOnUsb();
    const std::pair<MenuItem*, Window*> entries[] = {{&w().MnuAlarms, &s.app->alarm},
                                                     {&w().MnuCal, &s.app->cal},
                                                     {&w().MnuGpioMsc, &s.app->gpio},
                                                     {&w().mnuRegister, &s.app->manualReg}};
    // Where the user has moved the main window: each window opens over it.
    w().left = 1234;
    w().top = 567;
    for (const auto& [entry, window] : entries) {
        bool shown = false;
        s.tk.Queue([&, window = window] {
            shown = window->visible();
            EXPECT_EQ(window->left, 1234) << window->name();
            EXPECT_EQ(window->top, 567) << window->name();
            window->UserClose();
        });
        Frames();
        Click(*entry);
        EXPECT_TRUE(shown) << window->name();
        EXPECT_FALSE(window->visible()) << window->name();
        // The activation afterwards read the part again: it unlocks it first.
        const auto frames = Frames();
        EXPECT_NE(std::find(frames.begin(), frames.end(), 0xD085), frames.end()) << window->name();
    }
}

TEST_F(InterfaceCheck, AboutIsMadeForEachOpeningAndGoneAfterwards) {
    StartOnUsb();
    for (int opening = 0; opening < 2; ++opening) {
        s.board.chip.SetWord(sim::addr::Fls_Cyc, static_cast<std::uint16_t>(7 + opening));
        std::string flash;
        s.tk.Queue([&] {
            ASSERT_TRUE(s.app->about);
            flash = s.app->about->LblFlashWrites.caption();
            s.app->about->UserClose();
        });
        Click(w().MnuAbout);
        EXPECT_EQ(flash, std::to_string(7 + opening));
        EXPECT_FALSE(s.app->about);
    }
}

using Exit = WindowTest;

TEST_F(Exit, SavesTheSettingsAndEnds) {
    StartOnPort();
    p().settings.FactoryMode = 2;
    Click(w().MnuExit);
    EXPECT_TRUE(s.app->ended);
    EXPECT_FALSE(w().visible());
    Settings saved;
    ReadConfig(saved, s.folder / kSettingsFileName);
    EXPECT_EQ(saved.InterfaceType, Interface::ParallelPort);
    EXPECT_EQ(saved.PortAddress, 0x378);
    EXPECT_EQ(saved.FactoryMode, 2);
}

TEST_F(Exit, SaysWhereAndWhyWhenTheSettingsCannotBeSaved) {
    StartOnPort();
    s.app->config.settingsFile = s.folder / "gone" / kSettingsFileName;
    Expect("The settings could not be saved.\r\n" + (s.folder / "gone" / kSettingsFileName).string() +
           ": No such file or directory");
    Click(w().MnuExit);
    EXPECT_TRUE(s.app->ended);  // the program still ends
}

// In a shared folder another user's Qvin27319.cfg may be a link to a file of the person
// running the program: Exit must not write through it. One's own link is followed.
TEST_F(Exit, FollowsOwnLinksButNotAnotherUsers) {
    if (::geteuid() != 0) GTEST_SKIP() << "giving a link to another user needs root";
    StartOnPort();
    const auto cfg = s.folder / kSettingsFileName;
    const auto victim = s.folder / "victim.txt";
    { std::ofstream(victim) << "precious"; }
    std::filesystem::remove(cfg);
    std::filesystem::create_symlink(victim, cfg);
    ASSERT_EQ(::lchown(cfg.c_str(), 65534, 65534), 0);
    Expect("The settings could not be saved.\r\n" + cfg.string() + " is a link that belongs to another user (uid 65534); it is not followed");
    Click(w().MnuExit);
    std::ifstream in(victim);
    std::string kept;
    std::getline(in, kept);
    EXPECT_EQ(kept, "precious");
}


// The interface windows and About open where the main window is, too.
TEST_F(InterfaceCheck, InterfaceWindowsAndAboutOpenOverTheMainWindow) {
    StartOnUsb();
    w().left = 321;
    w().top = 654;
    auto position = [](Window& win) { return std::pair(win.left, win.top); };
    std::vector<std::pair<std::string, std::pair<int, int>>> seen;
    s.tk.Queue([&] {
        seen.emplace_back("frmPort", position(port()));
        port().UserClose();
    });
    Click(w().mnuPort);
    s.tk.Queue([&] {
        seen.emplace_back("frmUSBselect", position(usb()));
        s.tk.Queue([&] {
            seen.emplace_back("frmUSBdebug", position(s.app->usbDebug));
            s.app->usbDebug.UserClose();
        });
        usb().cmdDebugUsb.UserClick();
        usb().UserClose();
    });
    Click(w().mnuUSB);
    s.tk.Queue([&] {
        seen.emplace_back("frmAbout", position(*s.app->about));
        s.app->about->UserClose();
    });
    Click(w().MnuAbout);
    ASSERT_EQ(seen.size(), 4u);
    for (const auto& [name, at] : seen) EXPECT_EQ(at, std::pair(321, 654)) << name;
}

}  // namespace
}  // namespace qvin::ui::test
