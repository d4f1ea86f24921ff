#pragma once
// An FTDI FT232H, FT2232H or FT4232H in MPSSE mode (through libftdi1) as the part's SPI
// master: the first channel (A), clock on ADBUS0, data to the part on ADBUS1, from it on
// ADBUS2 and chip select on ADBUS3; SPI mode 1 at 1 MHz, 16-bit frames MSB first, chip
// select released between frames for the pause the part needs.
//
// Devices are named "ftdi:" (the first such adapter found) or "ftdi:SERIAL".

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/spi/spi_bus.h"

struct ftdi_context;

namespace qvin {

inline constexpr const char* kFtdiPrefix = "ftdi:";
inline bool IsFtdiDevice(const std::string& device) { return device.rfind(kFtdiPrefix, 0) == 0; }

struct FtdiAdapter {
    std::string serial, description, chip;  // chip: "FT232H", "FT2232H" or "FT4232H"
    int bus = 0, address = 0;
};

// The MPSSE commands the bus sends, for anything that must speak them (the tests' engine).
namespace mpsse {
inline constexpr std::uint8_t kSetLowBits = 0x80;      // value, direction of ADBUS0-7
inline constexpr std::uint8_t kLoopbackOff = 0x85;
inline constexpr std::uint8_t kSetDivisor = 0x86;      // low, high: 60 MHz / ((1 + divisor) * 2)
inline constexpr std::uint8_t kSendImmediate = 0x87;
inline constexpr std::uint8_t kDivideBy5Off = 0x8A;
inline constexpr std::uint8_t kThreePhaseOff = 0x8D;
inline constexpr std::uint8_t kClockBits = 0x8E;       // n: n + 1 clocks, no data
inline constexpr std::uint8_t kClockBytes = 0x8F;      // low, high: (n + 1) * 8 clocks, no data
inline constexpr std::uint8_t kAdaptiveOff = 0x97;
// Bytes out as the clock rises, in as it falls, MSB first: length - 1 (low, high), the bytes.
inline constexpr std::uint8_t kShiftMode1 = 0x34;
inline constexpr std::uint8_t kBadCommandReply = 0xFA;  // the engine's answer to a command it does not know
// ADBUS pins.
inline constexpr std::uint8_t kClock = 0x01, kDataOut = 0x02, kDataIn = 0x04, kChipSelect = 0x08;
inline constexpr std::uint8_t kOutputs = kClock | kDataOut | kChipSelect;
}  // namespace mpsse

class FtdiMpsseBus final : public SpiBus {
public:
    static constexpr std::uint32_t kClockHz = 1'000'000;
    static constexpr std::size_t kMaxFrames = 64;

    // `answerMs`: how long an exchange's answer may take before the adapter counts as lost.
    explicit FtdiMpsseBus(int answerMs = 1000);
    ~FtdiMpsseBus() override;
    FtdiMpsseBus(const FtdiMpsseBus&) = delete;
    FtdiMpsseBus& operator=(const FtdiMpsseBus&) = delete;

    // The MPSSE-capable adapters present; why none can be listed in `why` (USB not there).
    static std::vector<FtdiAdapter> List(std::string& why);

    std::string Open(const std::string& device) override;
    bool IsOpen() const override { return open_; }
    std::string device() const override { return device_; }
    bool Transfer(std::span<const std::uint16_t> out, std::span<std::uint16_t> in, unsigned gapUs) override;
    std::string lastError() const override { return error_; }
    void Close() override;

private:
    bool Write(const std::vector<std::uint8_t>& bytes);
    bool Read(std::uint8_t* to, std::size_t n);
    std::string Failed(const std::string& what);
    int answerMs_;
    ftdi_context* ftdi_ = nullptr;
    bool open_ = false;
    std::string device_, error_;
};

}  // namespace qvin
