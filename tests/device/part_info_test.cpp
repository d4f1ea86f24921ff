#include <gtest/gtest.h>

#include "device/part_info.h"
#include "device/port_access.h"
#include "device/register_access.h"
#include "support/sim_fixture.h"

namespace qvin {
namespace {

struct PartInfo : ::testing::Test {
    void Set(std::uint8_t address, std::uint16_t v) { sim.board.chip.SetWord(address, v); }
    test::SimProgram sim;
};

TEST_F(PartInfo, IdentificationFromPackedDecimals) {
    Set(0x52, 0x1513);
    Set(0x54, 0x0509);
    Set(0x00, 42);
    sim.memory.Take();
    ReadPartInfo(sim.p);
    EXPECT_EQ(sim.p.part.PartDay, 15);
    EXPECT_FLOAT_EQ(sim.p.part.PartRevision, 1.3f);
    EXPECT_EQ(sim.p.part.PartMonth, 9);
    EXPECT_EQ(sim.p.part.PartYear, 2005);
    EXPECT_EQ(sim.p.part.FlashCycles, 42);
    EXPECT_EQ(sim.p.part.PartName, "QVIN27319");
    // The key goes first, low byte first.
    const auto frames = sim.memory.Take("spi");
    ASSERT_GE(frames.size(), 2u);
    EXPECT_EQ(frames[0].substr(0, 8), "spi D085");
    EXPECT_EQ(frames[1].substr(0, 8), "spi D101");

    Set(0x52, 0x00F0);  // a nibble of F counts as 15
    Set(0x56, 1234);
    ReadPartInfo(sim.p);
    EXPECT_FLOAT_EQ(sim.p.part.PartRevision, 15.0f);
    EXPECT_EQ(sim.p.part.PartName, "Unknown");
}

TEST_F(PartInfo, ReverseRotationIsBitFive) {
    Set(0x34, 0x0200);
    ReadPartInfo(sim.p);
    EXPECT_FALSE(sim.p.part.ReverseRotation);
    Set(0x34, 0x0020);
    ReadPartInfo(sim.p);
    EXPECT_TRUE(sim.p.part.ReverseRotation);
}

TEST_F(PartInfo, NoInterfaceGivesUnknownAndZeros) {
    sim.p.settings.InterfaceType = Interface::None;
    ReadPartInfo(sim.p);
    EXPECT_EQ(sim.p.part.PartName, "Unknown");
    EXPECT_EQ(sim.p.part.PartYear, 2000);
}

struct PinCase {
    std::uint16_t gpio, alm, msc;
    std::int16_t dio0, dio1;
};

TEST_F(PartInfo, PinUsageRanksDataReadyOverAlarmOverGpio) {
    const PinCase cases[] = {
        {0x0000, 0x0000, 0x0000, 0, 0}, {0x0003, 0x0000, 0x0000, 1, 1}, {0x0003, 0x0004, 0x0000, 2, 1},
        {0x0003, 0x0005, 0x0000, 1, 2}, {0x0001, 0x0005, 0x0005, 1, 3}, {0x0000, 0x0004, 0x0004, 3, 0},
        {0x0000, 0x0001, 0x0001, 0, 0},  // bit 0 without the enable bit drives nothing
    };
    for (const PinCase& c : cases) {
        Set(0x32, c.gpio);
        Set(0x28, c.alm);
        Set(0x34, c.msc);
        ReadPinUsage(sim.p);
        EXPECT_EQ(sim.p.part.Dio0Use, c.dio0) << c.gpio << ' ' << c.alm << ' ' << c.msc;
        EXPECT_EQ(sim.p.part.Dio1Use, c.dio1) << c.gpio << ' ' << c.alm << ' ' << c.msc;
        EXPECT_EQ(sim.p.part.MscCtrlVal, c.msc);
        EXPECT_EQ(sim.p.part.AlmCtrlVal, c.alm);
    }
}

TEST(RateConversions, SamplePeriods) {
    EXPECT_FLOAT_EQ(SmplPrdToMs(0), 0.12207f);
    EXPECT_FLOAT_EQ(SmplPrdToMs(1), 0.24414f);
    EXPECT_FLOAT_EQ(SmplPrdToMs(127), 15.62496f);
    EXPECT_FLOAT_EQ(SmplPrdToMs(128), 3.784f);
    EXPECT_FLOAT_EQ(SmplPrdToMs(255), 484.352f);
}

TEST_F(PartInfo, AveragingLimitsTheCodeInTheCallersVariable) {
    std::int32_t code = 0;
    EXPECT_FLOAT_EQ(AvgUpdatePeriod(sim.p, 1.0f, code), 2.0f);
    EXPECT_EQ(sim.p.part.RollAvgCount, 2);
    code = 12;
    EXPECT_FLOAT_EQ(AvgUpdatePeriod(sim.p, 1.5f, code), 768.0f);
    EXPECT_EQ(code, 8);
    EXPECT_EQ(sim.p.part.RollAvgCount, 512);
    code = -3;
    AvgUpdatePeriod(sim.p, 1.0f, code);
    EXPECT_EQ(code, 0);
}

TEST_F(PartInfo, PortAccessFailureSaysWhichDeviceAndWhy) {
    sim.p.settings.PortAddress = 0x278;
    EXPECT_FALSE(InstallGiveIO(sim.p));
    ASSERT_EQ(sim.messages.texts.size(), 1u);
    EXPECT_EQ(sim.messages.texts[0],
              "The required I/O drivers could not be installed.\r\nno parallel port at address 278 (the simulated board is at 378)");
    EXPECT_EQ(sim.messages.titles[0], "Error");
    sim.p.settings.PortAddress = 0x378;
    EXPECT_TRUE(InstallGiveIO(sim.p));
    EXPECT_EQ(sim.messages.texts.size(), 1u);
}

}  // namespace
}  // namespace qvin
