#include <gtest/gtest.h>

#include <cmath>

#include "device/register_access.h"
#include "sim/qvin_chip.h"
#include "sim/sim_board.h"
#include "support/sim_fixture.h"

namespace qvin {
namespace {

using test::SimProgram;

// Reads through the whole stack: register access, bit-banged port, bit-level slave, chip.
struct SimChip : ::testing::Test {
    explicit SimChip(sim::ChipOptions o = {}) : sim(o) {}
    std::int32_t Read(std::int16_t index) {
        ReadReg(sim.p, index);
        return sim.p.reg.RegData;
    }
    float Value(std::int16_t index) {
        ReadReg(sim.p, index);
        return sim.p.reg.RegValue;
    }
    void Wait(double ms) { sim.clock.Advance(static_cast<std::int64_t>(ms * 1e6)); }
    SimProgram sim;
};

struct SimChipAt30Degrees : SimChip {
    SimChipAt30Degrees() : SimChip(sim::ChipOptions{30.0, 6.0, {}}) {}
};

TEST_F(SimChip, PowerOnContents) {
    EXPECT_EQ(Read(reg::Product), 27319);
    EXPECT_EQ(Read(reg::Smpl_Prd), 8);
    EXPECT_EQ(Read(reg::Avg_Cnt), 7);
    EXPECT_EQ(Read(reg::Rev_Day), 0x1513);
    EXPECT_EQ(Read(reg::Msc_Ctrl), 0);
    EXPECT_EQ(Read(reg::Status), 0);
    EXPECT_EQ(Read(reg::Fls_Cyc), 0);
}

TEST_F(SimChip, SensorModelGivesPlausibleOutputs) {
    EXPECT_NEAR(Value(reg::Supply_Out), 3.3, 0.01);
    EXPECT_NEAR(Value(reg::Temp_Out), 25.0, 0.5);
    EXPECT_NEAR(Value(reg::Aux_ADC), 0.0, 0.001);
}

TEST_F(SimChipAt30Degrees, AngleOutputsAndAccelerationsAgree) {
    EXPECT_NEAR(Value(reg::Incl_Out), 30.0, 0.03);
    EXPECT_NEAR(Value(reg::Incl_180_Out), 30.0, 0.03);
    const double x = Value(reg::Xaccel_Out), y = Value(reg::Yaccel_Out);
    EXPECT_NEAR(std::atan2(x, y) * 180 / M_PI, 30.0, 0.1);
    EXPECT_NEAR(std::hypot(x, y), 1.0, 0.01);

    sim.board.chip.SetAngle(200.0);
    Wait(5);
    EXPECT_NEAR(Value(reg::Incl_Out), 200.0, 0.03);
    EXPECT_NEAR(Value(reg::Incl_180_Out), -160.0, 0.03);
}

TEST_F(SimChip, InclinationTurnsWithTheClock) {
    const float a = Value(reg::Incl_Out);
    Wait(5000);  // six degrees a second
    EXPECT_NEAR(Value(reg::Incl_Out) - a, 30.0, 0.1);
}

TEST_F(SimChip, NewDataFlagMeansASampleSinceThisOutputWasLastRead) {
    ReadReg(sim.p, reg::Supply_Out);
    EXPECT_EQ(sim.p.reg.NewDataFlag, 0x8000);
    ReadReg(sim.p, reg::Supply_Out);  // well within one 1.1 ms sample
    EXPECT_EQ(sim.p.reg.NewDataFlag, 0);
    ReadReg(sim.p, reg::Temp_Out);  // each output has its own flag
    EXPECT_EQ(sim.p.reg.NewDataFlag, 0x8000);
    Wait(2);
    ReadReg(sim.p, reg::Supply_Out);
    EXPECT_EQ(sim.p.reg.NewDataFlag, 0x8000);
}

TEST_F(SimChip, PowerDownStopsSamplingForHalfSecondSteps) {
    ReadReg(sim.p, reg::Supply_Out);
    WriteReg(sim.p, reg::Pwr_Mde, 4);  // two seconds
    Wait(1500);
    ReadReg(sim.p, reg::Supply_Out);
    EXPECT_EQ(sim.p.reg.NewDataFlag, 0);
    EXPECT_EQ(Read(reg::Pwr_Mde), 4);
    Wait(600);
    ReadReg(sim.p, reg::Supply_Out);
    EXPECT_EQ(sim.p.reg.NewDataFlag, 0x8000);
    EXPECT_EQ(Read(reg::Pwr_Mde), 0);
}

TEST_F(SimChipAt30Degrees, AutoNullAndNullReset) {
    WriteReg(sim.p, reg::Command, sim::kAutoNull);
    EXPECT_NEAR(Value(reg::Incl_Out), 0.0, 0.03);
    EXPECT_EQ(Read(reg::Incl_Null), 1200);  // 30 degrees in 0.025 degree steps
    WriteReg(sim.p, reg::Command, sim::kNullReset);
    EXPECT_EQ(Read(reg::Incl_Null), 0);
    WriteReg(sim.p, reg::Incl_Null, -40);  // a null of -1 degree reads one degree more
    EXPECT_NEAR(Value(reg::Incl_Out), 31.0, 0.03);
}

TEST_F(SimChipAt30Degrees, ReverseRotationIsBitFiveOfMscCtrl) {
    WriteReg(sim.p, reg::Msc_Ctrl, 0x0020);
    EXPECT_NEAR(Value(reg::Incl_Out), 330.0, 0.03);
    EXPECT_NEAR(Value(reg::Incl_180_Out), -30.0, 0.03);
    WriteReg(sim.p, reg::Msc_Ctrl, 0x0200);  // bit 9 means nothing to the chip
    EXPECT_NEAR(Value(reg::Incl_Out), 30.0, 0.03);
}

TEST_F(SimChip, AuxiliaryAdcMeasuresTheLatchedDac) {
    WriteReg(sim.p, reg::Aux_DAC, 2048);
    EXPECT_NEAR(Value(reg::Aux_ADC), 0.0, 0.001);  // not latched yet
    WriteReg(sim.p, reg::Command, sim::kLatchDac);
    Wait(2);
    EXPECT_NEAR(Value(reg::Aux_ADC), 2048 * 0.0006105, 0.001);
}

TEST_F(SimChip, FlashUpdateCountsCycles) {
    WriteReg(sim.p, reg::Command, sim::kFlashUpdate);
    WriteReg(sim.p, reg::Command, sim::kFlashUpdate);
    EXPECT_EQ(Read(reg::Fls_Cyc), 2);
}

TEST_F(SimChip, AlarmLatchesRaisesErrorBitsAndClearsOnCommand) {
    // Alarm 1 on the supply, fixed threshold: supply count > 100.
    WriteReg(sim.p, reg::Alm_Mag1, 0x8000 | 100);
    WriteReg(sim.p, reg::Alm_Ctrl, 1 << 8);
    EXPECT_EQ(Read(reg::Status), sim::kAlarm1);
    ReadReg(sim.p, reg::Incl_Out);
    EXPECT_EQ(sim.p.reg.ErrorFlag, 0x4000);
    WriteReg(sim.p, reg::Alm_Ctrl, 0);  // the condition is gone, the latch stays
    EXPECT_EQ(Read(reg::Status), sim::kAlarm1);
    WriteReg(sim.p, reg::Command, sim::kClearAlarms);
    EXPECT_EQ(Read(reg::Status), 0);
    ReadReg(sim.p, reg::Incl_Out);
    EXPECT_EQ(sim.p.reg.ErrorFlag, 0);
}

TEST_F(SimChip, RateOfChangeAlarmSeesTheTurningInclination) {
    // Alarm 2 on Incl_360 in rate-of-change mode: more than 2 counts over 256 samples
    // (about 0.28 s, in which the inclination turns about 1.7 degrees).
    WriteReg(sim.p, reg::Alm_Smp2, 255);
    WriteReg(sim.p, reg::Alm_Mag2, 0x8000 | 2);
    Wait(1000);
    WriteReg(sim.p, reg::Alm_Ctrl, 0x8000 | (6 << 12));
    EXPECT_EQ(Read(reg::Status), sim::kAlarm2);
}

TEST_F(SimChipAt30Degrees, Incl180ThresholdsCompareAsSignedAngles) {
    // "Above -90 degrees" (code 16384 - 3600) holds at +30 degrees.
    WriteReg(sim.p, reg::Alm_Mag1, 0x8000 | (16384 - 3600));
    WriteReg(sim.p, reg::Alm_Ctrl, 7 << 8);
    EXPECT_EQ(Read(reg::Status), sim::kAlarm1);
    WriteReg(sim.p, reg::Command, sim::kClearAlarms);
    WriteReg(sim.p, reg::Alm_Mag1, 0x8000 | 1600);  // above +40: not at +30
    EXPECT_EQ(Read(reg::Status), 0);
}

TEST_F(SimChip, FilteredAlarmDataLagsTheTurningInclination) {
    // Averaged over 256 samples (0.28 s) the turning inclination lags about 0.8 degrees:
    // a threshold 0.25 degrees below the present angle is passed by the present sample
    // but not yet by the average.
    WriteReg(sim.p, reg::Avg_Cnt, 7);
    Wait(2000);
    const std::int32_t now = Read(reg::Incl_Out);
    WriteReg(sim.p, reg::Alm_Mag1, 0x8000 | (now - 10));
    WriteReg(sim.p, reg::Alm_Ctrl, 0x0010 | (6 << 8));
    EXPECT_EQ(Read(reg::Status), 0);
    WriteReg(sim.p, reg::Alm_Ctrl, 6 << 8);
    EXPECT_EQ(Read(reg::Status), sim::kAlarm1);
}

TEST_F(SimChipAt30Degrees, PinsFollowGpioAlarmAndDataReadyByRank) {
    sim::QvinChip& chip = sim.board.chip;
    using P = sim::PinState;
    EXPECT_EQ(chip.Pin(0), (P{P::Input, true}));
    chip.SetInputLevel(0, false);
    EXPECT_EQ(chip.Pin(0), (P{P::Input, false}));
    WriteReg(sim.p, reg::Gpio_Ctrl, 0x0101);  // DIO0 an output, high
    EXPECT_EQ(chip.Pin(0), (P{P::Gpio, true}));
    // The alarm output on DIO0, active low, overrides: no alarm, so high.
    WriteReg(sim.p, reg::Alm_Ctrl, 0x0004);
    EXPECT_EQ(chip.Pin(0), (P{P::Alarm, true}));
    chip.RaiseStatus(sim::kAlarm2);
    EXPECT_EQ(chip.Pin(0), (P{P::Alarm, false}));
    // Data ready on DIO0, active high: high while a new inclination waits.
    WriteReg(sim.p, reg::Msc_Ctrl, 0x0006);
    Wait(5);
    EXPECT_EQ(chip.Pin(0), (P{P::DataReady, true}));
    ReadReg(sim.p, reg::Incl_Out);
    EXPECT_EQ(chip.Pin(0), (P{P::DataReady, false}));
    EXPECT_EQ(chip.Pin(1), (P{P::Input, true}));
}

TEST_F(SimChip, FactoryRegistersNeedTheKeyAndReadOnlyRegistersIgnoreWrites) {
    WriteReg(sim.p, reg::X_Offset, 77);
    EXPECT_EQ(Read(reg::X_Offset), 0);
    WriteReg(sim.p, reg::KeyCode, 389);
    WriteReg(sim.p, reg::X_Offset, 77);
    EXPECT_EQ(Read(reg::X_Offset), 77);
    WriteReg(sim.p, reg::Product, 1);
    EXPECT_EQ(Read(reg::Product), 27319);
    WriteReg(sim.p, reg::KeyCode, 0);
    WriteReg(sim.p, reg::X_Offset, 5);
    EXPECT_EQ(Read(reg::X_Offset), 77);
}

TEST(SimChipFrames, AnswerComesDuringTheNextFrameAndCutFramesAreDropped) {
    VirtualClock clock;
    sim::QvinChip chip(clock);
    sim::LptSpiSlave slave(chip);
    EXPECT_EQ(chip.Transfer(0x5600), 0);
    EXPECT_EQ(chip.Transfer(0x0000), 27319);
    EXPECT_EQ(chip.Transfer(0x0000), 0);  // a write-free zero frame asks for address 0

    // Chip select dropped after three clocks: the chip sees no frame.
    slave.WriteData(0x04);
    slave.WriteData(0x05);
    for (int i = 0; i < 3; ++i) {
        slave.WriteData(0x07);
        slave.WriteData(0x05);
    }
    slave.WriteData(0x00);
    EXPECT_EQ(slave.DroppedFrames(), 1u);
    EXPECT_EQ(chip.Frames(), 3u);
    EXPECT_EQ(slave.ReadStatus() & 0x40, 0x40);  // idle line reads as data 0
}

// A clock on which every look at the time costs `costNs`: a simulation whose computing
// takes time, as it does on the real clock.
class CostlyClock final : public Clock {
public:
    explicit CostlyClock(std::int64_t costNs) : costNs_(costNs) {}
    void Spin(std::int32_t, std::int32_t) override {}
    std::int64_t NowNs() const override { return now_ += costNs_; }
    void SpinUntil(std::int64_t deadlineNs) override { now_ = std::max(now_, deadlineNs); }
    void SleepUntil(std::int64_t deadlineNs) override { now_ = std::max(now_, deadlineNs); }
    std::int64_t ResolutionNs() const override { return 1; }
    void Elapse(std::int64_t ns) override { now_ += std::max<std::int64_t>(ns, 0); }

private:
    std::int64_t costNs_;
    mutable std::int64_t now_ = 1'000'000'000;
};

// How long the simulated adapter takes to run one register read's transfer (two words on
// channel 1) on a clock whose every look costs `costNs`.
std::int64_t TransferTime(std::int64_t costNs) {
    CostlyClock clock(costNs);
    sim::ChipOptions o;
    o.noise = sim::DefaultNoise();
    sim::SimBoard board(clock, nullptr, o);
    auto adapter = board.usb.Open("Ezusb-0");
    std::vector<std::uint8_t> message{0x0D, 0x01, 0x02, 0x08, 0x00, 0x00, 0x00};  // read Incl_Out, then a word
    std::int32_t count = static_cast<std::int32_t>(message.size());
    const std::int64_t t0 = clock.NowNs();
    EXPECT_TRUE(adapter->BulkTransfer(0, message, count));
    return clock.NowNs() - t0;
}

// The adapter answers a fixed time after the request, as a real one does: the time the
// simulation spends computing the chip's sample is part of it, not added to it.
TEST(SimulatedAdapter, ARequestTakesItsTimeFromWhenItWasMadeHoweverLongTheSimulationComputes) {
    const std::int64_t exact = TransferTime(0);
    EXPECT_GE(exact, sim::kBulkRoundTripNs);
    // Looks at the clock (the chip reads it for each sample) cost 1 us each: only the
    // looks before and after the request may add to its time.
    EXPECT_LE(TransferTime(1'000), exact + 2'000);
}

}  // namespace
}  // namespace qvin
