#include <gtest/gtest.h>

#include <filesystem>

#include "core/clock.h"
#include "core/settings.h"
#include "device/program.h"
#include "sim/sim_board.h"
#include "support/recorded_messages.h"

namespace qvin {
namespace {

struct StartSequence : ::testing::Test {
    VirtualClock clock;
    Trace trace;
    sim::SimBoard board{clock, nullptr, {}};
    test::RecordedMessages messages;
    Program p{clock, board.port, board.usbLink, trace, messages};
};

TEST_F(StartSequence, WithoutSettingsFileEverythingStartsAtItsStartValue) {
    p.settings = {Interface::UsbAdapter, 0x378, 3};
    p.spi.SpiChannel = 4;
    p.SelectedRegister = 9;
    StartProgram(p, "/nonexistent/Qvin27319.cfg");
    EXPECT_TRUE(p.timer.DelayCalibrated);
    EXPECT_EQ(p.timer.DelayCount, 10000);
    EXPECT_EQ(p.settings.InterfaceType, Interface::None);
    EXPECT_EQ(p.settings.FactoryMode, 0);
    EXPECT_EQ(p.settings.PortAddress, 0x378);  // not among the start values
    EXPECT_TRUE(p.UsbLoopStop);
    EXPECT_FALSE(p.GiveIoInstalled);
    EXPECT_TRUE(p.spi.SpiDataPolarity);
    EXPECT_EQ(p.spi.SpiChannel, 1);
    EXPECT_EQ(p.spi.SpiStaticBits, 120);
    EXPECT_EQ(p.spi.SpiDelay, 25);
    EXPECT_FALSE(p.ResetBeforeRead);
    EXPECT_EQ(p.SelectedRegister, 0);
    EXPECT_FALSE(p.UsbReady());
    EXPECT_EQ(p.usb.UsbBoardNum, -1);
}

TEST_F(StartSequence, SettingsAreReadAndTheMapIsCompleteBeforeTheWindowOpens) {
    const auto file = std::filesystem::temp_directory_path() / "qvin-start.cfg";
    ASSERT_EQ(SaveConfig({Interface{1}, 888, 3}, file), "");
    StartProgram(p, file);
    std::filesystem::remove(file);
    EXPECT_EQ(p.settings.InterfaceType, Interface::ParallelPort);
    EXPECT_EQ(p.settings.PortAddress, 888);
    EXPECT_EQ(p.settings.FactoryMode, 3);
    EXPECT_EQ(p.map[62].RegName, "Test_Cnfg");
    EXPECT_EQ(p.map[31].RegAddr, 0x3C);
}

}  // namespace
}  // namespace qvin
