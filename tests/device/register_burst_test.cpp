// Several registers in one exchange on both simulated interfaces: N registers in N + 1
// frames, each frame carrying the next request while it clocks out the answer to the one
// before, with the parallel port's pause after every frame and the adapter's transfers of
// at most 16 words; every answer decoded as a single read decodes it; a fault in the
// middle of an exchange never shows a word as another register's.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "device/register_access.h"
#include "device/register_burst.h"
#include "sim/qvin_chip.h"
#include "support/sim_fixture.h"

namespace qvin {
namespace {

using test::SimProgram;

struct Frame {
    std::uint16_t mosi;
    std::int64_t ns;
};

std::vector<std::int16_t> Registers(int n) {
    // Outputs with and without flags, signed and unsigned, constants, set-up registers.
    const std::int16_t pool[] = {reg::Product, reg::Supply_Out, reg::Xaccel_Out, reg::Temp_Out, reg::Incl_Null, reg::Incl_180_Out,
                                 reg::Status, reg::Smpl_Prd, reg::Avg_Cnt, reg::Rev_Day, reg::Incl_Out, reg::Aux_ADC,
                                 reg::Alm_Mag1, reg::Msc_Ctrl, reg::Yaccel_Out, reg::Mon_Year, reg::Aux_DAC};
    std::vector<std::int16_t> out;
    for (int i = 0; i < n; ++i) out.push_back(pool[static_cast<std::size_t>(i) % std::size(pool)]);
    return out;
}

struct Burst : ::testing::TestWithParam<Interface> {
    Burst() {
        if (GetParam() == Interface::UsbAdapter) sim.UseUsb();
        sim.board.chip.onFrame = [this](std::uint16_t mosi, std::int64_t ns) { frames.push_back({mosi, ns}); };
        // Words whose decoding matters: both flags, sign extension, an offset.
        sim.board.chip.OverrideOutput(sim::addr::Xaccel_Out, 0xFFFF);
        sim.board.chip.OverrideOutput(sim::addr::Supply_Out, 0xC800);
        sim.board.chip.OverrideOutput(sim::addr::Temp_Out, 1278);
        sim.board.chip.OverrideOutput(sim::addr::Incl_180_Out, 0x7FF0);
        sim.board.chip.OverrideOutput(sim::addr::Incl_Out, 0x8400);
        sim.board.chip.OverrideOutput(sim::addr::Aux_ADC, 0x8123);
        sim.board.chip.OverrideOutput(sim::addr::Yaccel_Out, 0xB001);
        WriteReg(sim.p, reg::Incl_Null, -5);
        frames.clear();
    }
    SimProgram sim;
    std::vector<Frame> frames;
};

TEST_P(Burst, EachAnswerIsWhatASingleReadOfItsRegisterGives) {
    for (const int n : {1, 2, 6, 15, 16, 40}) {
        const auto regs = Registers(n);
        const BurstResult burst = ReadRegisters(sim.p, regs);
        ASSERT_TRUE(burst.ok);
        ASSERT_EQ(burst.answers.size(), regs.size());
        for (std::size_t i = 0; i < regs.size(); ++i) {
            ReadReg(sim.p, regs[i]);
            const RegReading& a = burst.answers[i];
            SCOPED_TRACE(testing::Message() << n << " registers, #" << i << " " << sim.p.map[regs[i]].RegName);
            // New-data bits follow the part's samples; everything else is the same word.
            EXPECT_EQ(a.raw & 0x7FFF, sim.p.reg.RegRaw & 0x7FFF);
            EXPECT_EQ(a.data, sim.p.reg.RegData);
            EXPECT_EQ(a.value, sim.p.reg.RegValue);
            if (sim.p.map[regs[i]].RegHasError) {
                EXPECT_EQ(a.error, sim.p.reg.ErrorFlag != 0);
            }
        }
    }
    // The decoding, as the register map says, not only as ReadReg does it.
    const BurstResult b = ReadRegisters(sim.p, std::vector<std::int16_t>{reg::Xaccel_Out, reg::Supply_Out, reg::Temp_Out, reg::Product});
    EXPECT_EQ(b.answers[0].data, -1);
    EXPECT_TRUE(b.answers[0].newData && b.answers[0].error);
    EXPECT_EQ(b.answers[1].data, 2048);
    EXPECT_NEAR(b.answers[1].value, 2.4986, 1e-4);
    EXPECT_NEAR(b.answers[2].value, 25.0, 1e-4);
    EXPECT_EQ(b.answers[3].data, 27319);
    EXPECT_FALSE(b.answers[3].newData || b.answers[3].error) << "Product has no flags";
}

// N + 1 frames: the requests in order and the last again; over the parallel port each
// frame has its own chip-select cycle and the 0.1 ms pause after it, over the adapter at
// most 16 words a transfer.
TEST_P(Burst, NRegistersTakeNPlusOneFramesInTheirOrder) {
    const auto regs = Registers(20);
    sim.memory.Take();
    const std::int64_t start = sim.clock.NowNs();
    ASSERT_TRUE(ReadRegisters(sim.p, regs).ok);
    std::vector<std::uint16_t> want;
    auto request = [&](std::size_t i) { return static_cast<std::uint16_t>((sim.p.map[regs[i]].RegAddr & 0x7F) << 8); };
    if (GetParam() == Interface::ParallelPort) {
        for (std::size_t i = 0; i < regs.size(); ++i) want.push_back(request(i));
        want.push_back(request(regs.size() - 1));
    } else {
        for (std::size_t i = 0; i < 15; ++i) want.push_back(request(i));
        want.push_back(request(14));
        for (std::size_t i = 15; i < 20; ++i) want.push_back(request(i));
        want.push_back(request(19));
    }
    std::vector<std::uint16_t> got;
    for (const Frame& f : frames) got.push_back(f.mosi);
    EXPECT_EQ(got, want);
    if (GetParam() == Interface::ParallelPort) {
        // 16 bits of at least four port writes each, then the pause.
        for (std::size_t i = 1; i < frames.size(); ++i) EXPECT_GE(frames[i].ns - frames[i - 1].ns, 100'000) << i;
        EXPECT_EQ(sim.memory.Take("port-out").size(), frames.size() * (2 + 16 * 4 + 1)) << "each frame 67 port writes";
        EXPECT_EQ(sim.memory.Take("port-in").size(), 0u);
    } else {
        const auto sent = sim.memory.Take("usb-out 0 0D");
        ASSERT_EQ(sent.size(), 2u);
        EXPECT_NE(sent[0].find("0D 01 10"), std::string::npos) << sent[0];  // channel 1, 16 words
        EXPECT_NE(sent[1].find("0D 01 06"), std::string::npos) << sent[1];
    }
    EXPECT_GE(sim.clock.NowNs() - start, 100'000) << "ReadReg's pause after the exchange";
}

// The data line stuck high from the third frame on: the answers it carries read as the
// line showed them (0xFFFF), the ones before as they were; nothing is shifted.
TEST_P(Burst, AStuckLineInTheMiddleShowsInItsOwnAnswersOnly) {
    ASSERT_FALSE(sim.board.faults.Add("miso-high@3+"));
    const BurstResult b = ReadRegisters(sim.p, std::vector<std::int16_t>{reg::Product, reg::Supply_Out, reg::Temp_Out, reg::Incl_Null});
    ASSERT_TRUE(b.ok);
    EXPECT_EQ(b.answers[0].data, 27319);
    for (std::size_t i = 1; i < 4; ++i) EXPECT_EQ(b.answers[i].raw, 0xFFFF) << i;
}

INSTANTIATE_TEST_SUITE_P(OnBothInterfaces, Burst, ::testing::Values(Interface::ParallelPort, Interface::UsbAdapter),
                         [](const auto& info) { return info.param == Interface::ParallelPort ? "Port" : "Usb"; });

// A transfer that fails in the middle of a long exchange (refused, its reply lost, one
// byte short): said once, the adapter given up, and no answer at all, not the words of
// the transfer before.
TEST(BurstOverUsb, AFailedTransferInTheMiddleReadsNothing) {
    for (const char* fault : {"send-fail@2", "receive-fail@2", "short-reply@2"}) {
        SimProgram sim;
        sim.UseUsb();
        ASSERT_FALSE(sim.board.faults.Add(fault));
        sim.messages.Take();
        const BurstResult b = ReadRegisters(sim.p, Registers(20));
        EXPECT_FALSE(b.ok) << fault;
        EXPECT_TRUE(b.answers.empty()) << fault;
        EXPECT_EQ(sim.messages.Take().size(), 1u) << fault;
        EXPECT_FALSE(sim.p.UsbReady());
    }
}

}  // namespace
}  // namespace qvin
