#pragma once
// A simulated QVIN27319: the register file at its SPI addresses, a small deterministic
// sensor model on the program clock, and the command, key and flash behaviour.
//
// Frames: a write frame (bit 15 set) stores one byte; a read request names an address
// whose 16-bit contents the chip shifts out during the next frame. Outputs carry bit 15
// when a sample is new since that output was last read and bit 14 while an alarm or error
// bit of Status is set.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>

#include "core/clock.h"
#include "core/trace.h"
#include "sim/noise.h"
#include "sim/spi_target.h"

namespace qvin::sim {

// Register addresses the model gives a meaning to.
namespace addr {
inline constexpr std::uint8_t Fls_Cyc = 0x00, Supply_Out = 0x02, Xaccel_Out = 0x04,
                              Yaccel_Out = 0x06, Aux_ADC = 0x08, Temp_Out = 0x0A,
                              Incl_Out = 0x0C, Incl_180_Out = 0x0E, Incl_Null = 0x18,
                              Alm_Mag1 = 0x20, Alm_Mag2 = 0x22, Alm_Smp1 = 0x24, Alm_Smp2 = 0x26,
                              Alm_Ctrl = 0x28, Aux_DAC = 0x30, Gpio_Ctrl = 0x32, Msc_Ctrl = 0x34,
                              Smpl_Prd = 0x36, Avg_Cnt = 0x38, Pwr_Mde = 0x3A, Status = 0x3C,
                              Command = 0x3E, KeyCode = 0x50, Rev_Day = 0x52, Mon_Year = 0x54,
                              Product = 0x56;
}  // namespace addr

inline constexpr std::uint16_t kProductCode = 27319;
inline constexpr std::uint16_t kFactoryKey = 389;
inline constexpr std::uint16_t kReverseRotationBit = 0x0020;  // Msc_Ctrl
inline constexpr std::uint16_t kSelfTestBit = 0x0100;         // Msc_Ctrl

// Command register values; several may be given at once.
enum Command : std::uint16_t {
    kAutoNull = 1, kNullReset = 2, kLatchDac = 4, kFlashUpdate = 8, kClearAlarms = 16
};

// Status register bits.
enum StatusBit : std::uint16_t {
    kSupplyLow = 0x0001, kSupplyHigh = 0x0002, kControlWriteFail = 0x0004, kSpiWriteFail = 0x0008,
    kSelfTestFail = 0x0020, kInvalidOrientation = 0x0040, kAlarm1 = 0x0100, kAlarm2 = 0x0200
};

// What drives a digital pin (DIO0, DIO1) and the level on it. Data ready outranks the
// alarm output, which outranks a general-purpose output; a pin nobody drives is an input
// and shows what the board puts on it.
struct PinState {
    enum Driver { Input, Gpio, Alarm, DataReady } driver = Input;
    bool high = false;
    bool operator==(const PinState&) const = default;
};

struct ChipOptions {
    std::optional<double> fixedAngleDeg;  // hold the inclination here instead of turning
    double turnDegPerSecond = 6.0;        // one turn a minute
    NoiseOptions noise;                   // none unless asked for
};

class QvinChip final : public SpiTarget {
public:
    explicit QvinChip(const Clock& clock, Trace* trace = nullptr, ChipOptions options = {});

    // A frame, whole (Transfer) or in two halves for a bit-level master that must know
    // the outgoing word before the first clock edge.
    std::uint16_t PendingOutput() override { return pending_; }
    void Receive(std::uint16_t mosi) override;

    // Direct access for tests and the bench, without side effects on flags.
    std::uint16_t Word(std::uint8_t address) const;
    void SetWord(std::uint8_t address, std::uint16_t value);
    // Makes an output register answer exactly `raw` (flags included) until cleared.
    void OverrideOutput(std::uint8_t address, std::optional<std::uint16_t> raw);
    // Latches Status bits as if the chip had raised them.
    void RaiseStatus(std::uint16_t bits) { statusLatched_ |= bits; }

    void SetAngle(std::optional<double> degrees) { options_.fixedAngleDeg = degrees; }
    void SetNoise(NoiseOptions n) { noise_.Set(n); }
    const NoiseOptions& Noise() const { return noise_.options(); }
    // The inclination in degrees (0 to 360) the sensor sees now, before null and rotation.
    double SensorAngle() const;
    // The latched auxiliary DAC code the loop-back ADC measures.
    std::uint16_t LatchedDac() const { return latchedDac_; }
    std::uint64_t Frames() const { return frames_; }
    // Called with every frame the chip receives, at the simulated time it completes
    // (tests check the pauses between frames).
    std::function<void(std::uint16_t mosi, std::int64_t ns)> onFrame;
    // The number of the newest sample, counted from start-up (what the new-data bits follow).
    std::int64_t SampleIndex() const;
    // The sample period its Smpl_Prd sets.
    double SamplePeriodNs() const;
    // The digital pins: what drives each and its level now.
    PinState Pin(int dio) const;
    // The level the board puts on a pin that is an input (pulled up by default).
    void SetInputLevel(int dio, bool high) { inputHigh_[dio & 1] = high; }

private:
    struct Sample {
        std::uint16_t supply, xaccel, yaccel, auxAdc, temp, incl, incl180;
    };

    std::int64_t Now() const { return clock_.NowNs(); }
    // The sample's outputs; with `averagedNoise` the inclination's white noise is the mean
    // over the rolling average's window, as the outputs show it, else one raw sample's.
    Sample SampleAt(std::int64_t index, bool averagedNoise = true) const;
    std::uint16_t OutputWord(std::uint8_t address);
    std::uint16_t StatusWord();
    void UpdateAlarms();
    bool AlarmTripped(int which) const;
    // An alarm source's value at a sample, averaged over the averaging window when filtered.
    double AlarmSource(int source, std::int64_t index, bool filtered) const;
    std::uint16_t ReadWord(std::uint8_t address);
    void WriteByte(std::uint8_t address, std::uint8_t value);
    void RunCommand(std::uint16_t command);
    bool Writable(std::uint8_t address) const;
    void Reanchor(std::int64_t indexBeforeChange);

    const Clock& clock_;
    Trace* trace_;
    ChipOptions options_;
    mutable NoiseModel noise_;  // keeps the last few seconds of its random walk
    std::array<std::uint8_t, 128> bytes_{};
    std::uint16_t pending_ = 0;
    std::uint64_t frames_ = 0;

    std::int64_t originNs_;
    // Sample numbering stays monotonic when the sample period changes: samples count
    // from the anchor at the anchor's index.
    std::int64_t anchorNs_;
    std::int64_t anchorIndex_ = 0;
    std::int64_t sleepUntilNs_ = 0;
    std::int64_t frozenIndex_ = 0;
    std::array<std::int64_t, 8> lastReadIndex_{};
    std::array<std::optional<std::uint16_t>, 8> overrides_{};
    std::uint16_t statusLatched_ = 0;
    std::uint16_t latchedDac_ = 0;
    std::array<bool, 2> inputHigh_{true, true};
};

}  // namespace qvin::sim
