#include "sim/qvin_chip.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numbers>

namespace qvin::sim {

namespace {

constexpr double kSupplyVoltsPerCount = 0.00122;
constexpr double kAuxAdcVoltsPerCount = 0.000611;
constexpr double kAuxDacVoltsPerCount = 0.0006105;
constexpr double kTempScale = -0.47, kTempOffset = 625.66;
constexpr double kInclDegPerCount = 0.025;
constexpr double kAccelGPerCount = 0.000462;
constexpr int kInclCountsPerTurn = 14400;  // 360 / 0.025
constexpr double kSelfTestDeflectionG = 0.1;

std::uint16_t Clamp12(double counts) {
    const long v = std::lround(counts);
    return static_cast<std::uint16_t>(v < 0 ? 0 : v > 0xFFF ? 0xFFF : v);
}

std::uint16_t Signed14(long v) {
    if (v < -8192) v = -8192;
    if (v > 8191) v = 8191;
    return static_cast<std::uint16_t>(v & 0x3FFF);
}

int OutputSlot(std::uint8_t address) { return (address & 0x0E) / 2; }  // 0x02 -> 1 ... 0x0E -> 7

}  // namespace

QvinChip::QvinChip(const Clock& clock, Trace* trace, ChipOptions options)
    : clock_(clock), trace_(trace), options_(options), noise_(options.noise), originNs_(clock.NowNs()), anchorNs_(originNs_) {
    // Power-on contents: identification in packed decimal (revision 1.3, day 15,
    // September 2026), sample period 8, averaging 7, everything else 0.
    SetWord(addr::Product, kProductCode);
    SetWord(addr::Rev_Day, 0x1513);
    SetWord(addr::Mon_Year, 0x2609);
    SetWord(addr::Smpl_Prd, 8);
    SetWord(addr::Avg_Cnt, 7);
    lastReadIndex_.fill(-1);
}

void QvinChip::Receive(std::uint16_t mosi) {
    const std::uint16_t miso = pending_;
    ++frames_;
    const auto address = static_cast<std::uint8_t>((mosi >> 8) & 0x7F);
    if (mosi & 0x8000) {
        WriteByte(address, static_cast<std::uint8_t>(mosi & 0xFF));
        pending_ = 0;
    } else {
        pending_ = ReadWord(address);
    }
    if (trace_) trace_->Spi(mosi, miso);
    if (onFrame) onFrame(mosi, Now());
}

std::uint16_t QvinChip::Word(std::uint8_t address) const {
    const std::uint8_t a = address & 0x7F;
    return static_cast<std::uint16_t>(bytes_[a] | (bytes_[(a + 1) & 0x7F] << 8));
}

void QvinChip::SetWord(std::uint8_t address, std::uint16_t value) {
    const std::uint8_t a = address & 0x7F;
    const std::int64_t index = SampleIndex();
    bytes_[a] = static_cast<std::uint8_t>(value & 0xFF);
    bytes_[(a + 1) & 0x7F] = static_cast<std::uint8_t>(value >> 8);
    if ((a & 0x7E) == addr::Smpl_Prd || ((a + 1) & 0x7E) == addr::Smpl_Prd) Reanchor(index);
}

void QvinChip::OverrideOutput(std::uint8_t address, std::optional<std::uint16_t> raw) {
    if (address >= addr::Supply_Out && address <= addr::Incl_180_Out)
        overrides_[OutputSlot(address)] = raw;
}

double QvinChip::SamplePeriodNs() const {
    // Bit 7 of Smpl_Prd picks the time base, bits 0 to 6 count base periods less one.
    const std::uint16_t v = Word(addr::Smpl_Prd) & 0xFF;
    const double baseMs = v < 128 ? 0.12207 : 3.784;
    return baseMs * ((v & 127) + 1) * 1e6;
}

void QvinChip::Reanchor(std::int64_t indexBeforeChange) {
    // A new sample period starts now; the next sample gets the next number, so the
    // new-data flags never see the count run backwards.
    anchorIndex_ = indexBeforeChange + 1;
    anchorNs_ = Now();
}

std::int64_t QvinChip::SampleIndex() const {
    if (Now() < sleepUntilNs_) return frozenIndex_;
    return anchorIndex_ + static_cast<std::int64_t>(static_cast<double>(Now() - anchorNs_) / SamplePeriodNs());
}

double QvinChip::SensorAngle() const {
    if (options_.fixedAngleDeg) {
        const double a = std::fmod(*options_.fixedAngleDeg, 360.0);
        return a < 0 ? a + 360.0 : a;
    }
    const double seconds = static_cast<double>(Now() - originNs_) / 1e9;
    return std::fmod(seconds * options_.turnDegPerSecond, 360.0);
}

QvinChip::Sample QvinChip::SampleAt(std::int64_t index, bool averagedNoise) const {
    const double tNs = static_cast<double>(anchorNs_) + static_cast<double>(index - anchorIndex_) * SamplePeriodNs();
    const double t = (tNs - static_cast<double>(originNs_)) / 1e9;
    double angle;
    if (options_.fixedAngleDeg) {
        angle = SensorAngle();
    } else {
        angle = std::fmod(std::max(t, 0.0) * options_.turnDegPerSecond, 360.0);
    }
    const std::uint16_t msc = Word(addr::Msc_Ctrl);

    Sample s{};
    const double volts = 3.3 + 0.002 * std::sin(2 * std::numbers::pi * t / 7.0);
    s.supply = Clamp12(volts / kSupplyVoltsPerCount);
    const double celsius = 25.0 + 0.3 * std::sin(2 * std::numbers::pi * t / 90.0);
    s.temp = Clamp12((celsius - kTempOffset) / kTempScale);
    s.auxAdc = Clamp12(latchedDac_ * kAuxDacVoltsPerCount / kAuxAdcVoltsPerCount);

    const double rad = angle * std::numbers::pi / 180.0;
    double gx = std::sin(rad), gy = std::cos(rad);
    if (msc & kSelfTestBit) gx += kSelfTestDeflectionG;
    s.xaccel = Signed14(std::lround(gx / kAccelGPerCount));
    s.yaccel = Signed14(std::lround(gy / kAccelGPerCount));

    // The rolling average (2 ^ (Avg_Cnt + 1) samples) lowers the white noise; the walk and
    // the drift with temperature pass through it.
    const int averaged = averagedNoise ? 2 << std::min(Word(addr::Avg_Cnt) & 0xF, 7) : 1;
    angle += noise_.InclinationError(index, averaged, t, celsius);
    long counts = std::lround(angle / kInclDegPerCount);
    if (msc & kReverseRotationBit) counts = kInclCountsPerTurn - counts;
    counts -= static_cast<std::int16_t>(Word(addr::Incl_Null));
    counts %= kInclCountsPerTurn;
    if (counts < 0) counts += kInclCountsPerTurn;
    s.incl = static_cast<std::uint16_t>(counts);
    s.incl180 = Signed14(counts > kInclCountsPerTurn / 2 ? counts - kInclCountsPerTurn : counts);
    return s;
}

double QvinChip::AlarmSource(int source, std::int64_t index, bool filtered) const {
    auto pick = [source](const Sample& s) -> int {
        switch (source) {
            case 1: return s.supply;
            case 4: return s.auxAdc;
            case 5: return s.temp;
            case 6: return s.incl;
            case 7: return s.incl180;
            default: return 0;
        }
    };
    // Filtered data is the rolling average the outputs use: 2 ^ (Avg_Cnt + 1) samples.
    const int samples = filtered ? 2 << std::min(Word(addr::Avg_Cnt) & 0xF, 7) : 1;
    double sum = 0;
    for (int i = 0; i < samples; ++i) {
        int v = pick(SampleAt(index - i, false));  // raw samples, averaged here when filtered
        if (source == 7 && v > 8191) v -= 16384;  // two's complement, so -1 and 1 average to 0
        sum += v;
    }
    return sum / samples;
}

bool QvinChip::AlarmTripped(int which) const {
    const std::uint16_t ctrl = Word(addr::Alm_Ctrl);
    const int source = (ctrl >> (which == 1 ? 8 : 12)) & 7;
    if (source != 1 && source < 4) return false;  // disabled, or a code without a source
    const bool rateMode = ctrl & (which == 1 ? 0x0800 : 0x8000);
    const bool filtered = ctrl & (which == 1 ? 0x0010 : 0x0020);
    const std::uint16_t mag = Word(which == 1 ? addr::Alm_Mag1 : addr::Alm_Mag2);
    const bool greater = mag & 0x8000;
    double threshold = mag & 0x3FFF;
    if (source == 7 && !rateMode && threshold > 8191) threshold -= 16384;

    const std::int64_t index = SampleIndex();
    double value = AlarmSource(source, index, filtered);
    if (rateMode) {
        // The change over the sample period, however it goes.
        const int span = (Word(which == 1 ? addr::Alm_Smp1 : addr::Alm_Smp2) & 0xFF) + 1;
        value = std::abs(value - AlarmSource(source, index - span, filtered));
    }
    return greater ? value > threshold : value < threshold;
}

PinState QvinChip::Pin(int dio) const {
    dio &= 1;
    const std::uint16_t gpio = Word(addr::Gpio_Ctrl), alarm = Word(addr::Alm_Ctrl), misc = Word(addr::Msc_Ctrl);
    auto selects = [dio](std::uint16_t ctrl) { return (ctrl & 4) && (ctrl & 1) == dio; };
    if (selects(misc)) {
        // Active while a new sample waits to be read.
        const bool fresh = SampleIndex() > lastReadIndex_[OutputSlot(addr::Incl_Out)];
        return {PinState::DataReady, fresh == ((misc & 2) != 0)};
    }
    if (selects(alarm)) {
        const bool active = (statusLatched_ & (kAlarm1 | kAlarm2)) != 0;
        return {PinState::Alarm, active == ((alarm & 2) != 0)};
    }
    if (gpio & (1 << dio)) return {PinState::Gpio, (gpio & (0x100 << dio)) != 0};
    return {PinState::Input, inputHigh_[static_cast<std::size_t>(dio)]};
}

void QvinChip::UpdateAlarms() {
    if (AlarmTripped(1)) statusLatched_ |= kAlarm1;
    if (AlarmTripped(2)) statusLatched_ |= kAlarm2;
}

std::uint16_t QvinChip::StatusWord() {
    UpdateAlarms();
    return statusLatched_;
}

std::uint16_t QvinChip::OutputWord(std::uint8_t address) {
    const int slot = OutputSlot(address);
    const bool error = StatusWord() != 0;
    if (overrides_[slot]) return *overrides_[slot];

    const std::int64_t index = SampleIndex();
    const bool fresh = index > lastReadIndex_[slot];
    lastReadIndex_[slot] = index;
    const Sample s = SampleAt(index);
    std::uint16_t data = 0;
    switch (address) {
        case addr::Supply_Out: data = s.supply; break;
        case addr::Xaccel_Out: data = s.xaccel; break;
        case addr::Yaccel_Out: data = s.yaccel; break;
        case addr::Aux_ADC: data = s.auxAdc; break;
        case addr::Temp_Out: data = s.temp; break;
        case addr::Incl_Out: data = s.incl; break;
        case addr::Incl_180_Out: data = s.incl180; break;
        default: break;
    }
    return static_cast<std::uint16_t>(data | (fresh ? 0x8000 : 0) | (error ? 0x4000 : 0));
}

std::uint16_t QvinChip::ReadWord(std::uint8_t address) {
    if (address >= addr::Supply_Out && address <= addr::Incl_180_Out + 1) return OutputWord(address & 0x7E);
    if ((address & 0x7E) == addr::Status) return StatusWord();
    if ((address & 0x7E) == addr::Command) return 0;  // commands are not kept
    if ((address & 0x7E) == addr::Pwr_Mde && Now() >= sleepUntilNs_) {
        SetWord(addr::Pwr_Mde, 0);  // awake again
    }
    return Word(address);
}

bool QvinChip::Writable(std::uint8_t a) const {
    const std::uint8_t even = a & 0x7E;
    switch (even) {
        case addr::Fls_Cyc:
        case addr::Status:
        case addr::Rev_Day:
        case addr::Product:
        case 0x58:
        case 0x7C:
            return false;
        default:
            break;
    }
    if (even >= addr::Supply_Out && even <= addr::Incl_180_Out) return false;
    // Calibration, identification and trim registers take writes only while unlocked.
    if (a >= 0x40 && even != addr::KeyCode) return Word(addr::KeyCode) == kFactoryKey;
    return true;
}

void QvinChip::WriteByte(std::uint8_t a, std::uint8_t value) {
    if (!Writable(a)) return;
    if (a == addr::Command) {  // the low byte carries the command
        RunCommand(value);
        return;
    }
    if (a == addr::Command + 1) return;
    const std::int64_t index = SampleIndex();
    bytes_[a] = value;
    if ((a & 0x7E) == addr::Smpl_Prd) Reanchor(index);
    if ((a & 0x7E) == addr::Pwr_Mde) {
        // Power down for the given number of half seconds: no new samples meanwhile.
        const std::uint16_t halfSeconds = Word(addr::Pwr_Mde) & 0xFF;
        if (halfSeconds == 0) {
            sleepUntilNs_ = 0;
        } else {
            if (Now() >= sleepUntilNs_) frozenIndex_ = index;
            sleepUntilNs_ = Now() + static_cast<std::int64_t>(halfSeconds) * 500'000'000;
        }
    }
}

void QvinChip::RunCommand(std::uint16_t command) {
    if (command & kAutoNull) {
        // Null so that the inclination reads 0 now: the null takes the reading before null.
        SetWord(addr::Incl_Null, 0);
        const Sample s = SampleAt(SampleIndex());
        SetWord(addr::Incl_Null, s.incl);
    }
    if (command & kNullReset) SetWord(addr::Incl_Null, 0);
    if (command & kLatchDac) latchedDac_ = Word(addr::Aux_DAC) & 0x0FFF;
    if (command & kFlashUpdate) SetWord(addr::Fls_Cyc, static_cast<std::uint16_t>(Word(addr::Fls_Cyc) + 1));
    if (command & kClearAlarms) statusLatched_ = 0;
}

}  // namespace qvin::sim
