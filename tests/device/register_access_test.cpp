#include <gtest/gtest.h>

#include "device/register_access.h"
#include "support/sim_fixture.h"

namespace qvin {
namespace {

using test::SimProgram;

class ReadRegTest : public ::testing::Test {
protected:
    // Reads a register whose output the chip answers with exactly `raw`.
    void ReadRaw(std::int16_t index, std::uint16_t raw) {
        sim.board.chip.OverrideOutput(static_cast<std::uint8_t>(sim.p.map[index].RegAddr), raw);
        ReadReg(sim.p, index);
    }
    SimProgram sim;
};

TEST_F(ReadRegTest, SignExtendsFourteenBitRegisters) {
    ReadRaw(reg::Xaccel_Out, 0xFFFF);
    EXPECT_EQ(sim.p.reg.RegData, -1);
    EXPECT_EQ(sim.p.reg.NewDataFlag, 0x8000);
    EXPECT_EQ(sim.p.reg.ErrorFlag, 0x4000);
    ReadRaw(reg::Xaccel_Out, 0x2000);
    EXPECT_EQ(sim.p.reg.RegData, -8192);
    ReadRaw(reg::Xaccel_Out, 0x1FFF);
    EXPECT_EQ(sim.p.reg.RegData, 8191);
    EXPECT_EQ(sim.p.reg.NewDataFlag, 0);
    EXPECT_EQ(sim.p.reg.ErrorFlag, 0);
}

TEST_F(ReadRegTest, MasksUnsignedRegistersAndScales) {
    ReadRaw(reg::Supply_Out, 0xC800);
    EXPECT_EQ(sim.p.reg.RegData, 2048);
    EXPECT_NEAR(sim.p.reg.RegValue, 2.4986, 1e-4);
    EXPECT_EQ(sim.p.reg.NewDataFlag, 0x8000);
    EXPECT_EQ(sim.p.reg.ErrorFlag, 0x4000);
    ReadRaw(reg::Temp_Out, 1278);  // 24.999975 in single precision, shown as 25.00
    EXPECT_NEAR(sim.p.reg.RegValue, 25.0f, 1e-4);
    EXPECT_EQ(FormatFixed(sim.p.reg.RegValue, 2), "25.00");
}

TEST_F(ReadRegTest, RegistersWithoutFlagsKeepThePreviousFlags) {
    ReadRaw(reg::Supply_Out, 0xC000);
    sim.board.chip.SetWord(0x34, 0xFFFF);
    ReadReg(sim.p, reg::Msc_Ctrl);
    EXPECT_EQ(sim.p.reg.RegData, 0x3FF);  // 10 bits
    EXPECT_EQ(sim.p.reg.NewDataFlag, 0x8000);
    EXPECT_EQ(sim.p.reg.ErrorFlag, 0x4000);
    sim.board.chip.SetWord(0x18, 0xFFFB);
    ReadReg(sim.p, reg::Incl_Null);
    EXPECT_EQ(sim.p.reg.RegData, -5);
    EXPECT_EQ(sim.p.reg.RegValue, -5.0f);
}

TEST_F(ReadRegTest, WriteOnlyRegisterSendsNothingAndKeepsTheResult) {
    ReadRaw(reg::Supply_Out, 0x8123);
    const RegisterResult before = sim.p.reg;
    const auto frames = sim.board.chip.Frames();
    ReadReg(sim.p, reg::Command);
    ReadReg(sim.p, 0);
    ReadReg(sim.p, 66);
    EXPECT_EQ(sim.board.chip.Frames(), frames);
    EXPECT_EQ(sim.p.reg.RegData, before.RegData);
    EXPECT_EQ(sim.p.reg.NewDataFlag, before.NewDataFlag);
}

TEST_F(ReadRegTest, NoInterfaceReadsZeroAndTheOffset) {
    sim.p.settings.InterfaceType = Interface::None;
    ReadReg(sim.p, reg::Temp_Out);
    EXPECT_EQ(sim.p.reg.RegData, 0);
    EXPECT_FLOAT_EQ(sim.p.reg.RegValue, 625.66f);
    EXPECT_EQ(sim.board.chip.Frames(), 0u);
}

TEST_F(ReadRegTest, ReadSendsTheRequestThenAZeroFrameAndPausesEachStep) {
    const std::int64_t start = sim.clock.NowNs();
    ReadReg(sim.p, reg::Supply_Out);
    const auto frames = sim.memory.Take("spi");
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].substr(0, 8), "spi 0200");
    EXPECT_EQ(frames[1].substr(0, 8), "spi 0000");
    EXPECT_EQ(frames[1].substr(9), FormatHex(sim.p.reg.RegRaw, 4));
    // Two frames with their 0.1 ms pauses and the pause that ends every register access.
    EXPECT_GE(sim.clock.NowNs() - start, 300'000);
}

class WriteRegTest : public ::testing::Test {
protected:
    std::vector<std::string> FramesOf(std::int16_t index, std::int32_t value) {
        sim.memory.Take();
        WriteReg(sim.p, index, value);
        std::vector<std::string> mosi;
        for (const std::string& line : sim.memory.Take("spi")) mosi.push_back(line.substr(4, 4));
        return mosi;
    }
    SimProgram sim;
};

TEST_F(WriteRegTest, HighByteFirstExceptForTheKey) {
    EXPECT_EQ(FramesOf(reg::Msc_Ctrl, 0x0123), (std::vector<std::string>{"B501", "B423"}));
    EXPECT_EQ(FramesOf(reg::KeyCode, 389), (std::vector<std::string>{"D085", "D101"}));
    EXPECT_EQ(sim.board.chip.Word(0x34), 0x0123);
}

TEST_F(WriteRegTest, HighByteAddressWrapsAtSevenBits) {
    EXPECT_EQ(FramesOf(reg::ADC_Slct, 0xAB12), (std::vector<std::string>{"FFAB", "FE12"}));
    EXPECT_EQ(FramesOf(reg::Test_Cnfg, 0xAB12), (std::vector<std::string>{"80AB", "FF12"}));
}

TEST_F(WriteRegTest, OnlyTheLowSixteenBitsAreWritten) {
    EXPECT_EQ(FramesOf(reg::Incl_Null, -5), (std::vector<std::string>{"99FF", "98FB"}));
    EXPECT_EQ(FramesOf(reg::Incl_Null, 0x12345), (std::vector<std::string>{"9923", "9845"}));
}

TEST_F(WriteRegTest, NoInterfaceSendsNothing) {
    sim.p.settings.InterfaceType = Interface::None;
    EXPECT_TRUE(FramesOf(reg::Msc_Ctrl, 1).empty());
    EXPECT_TRUE(sim.memory.Take("port-out").empty());
}

}  // namespace
}  // namespace qvin
