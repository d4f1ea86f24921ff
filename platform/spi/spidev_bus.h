#pragma once
// The kernel's spidev driver: the part's frames as SPI_IOC_MESSAGE transfers, 16 bits MSB
// first in two bytes (every controller takes 8-bit words), SPI mode 1 (the clock idles low,
// data changes as it rises and is taken as it falls), 1 MHz.

#include "platform/spi/spi_bus.h"

namespace qvin {

class SpidevBus final : public SpiBus {
public:
    static constexpr std::uint32_t kClockHz = 1'000'000;
    // The most frames one exchange carries (the kernel's own limit is a page of transfers).
    static constexpr std::size_t kMaxFrames = 64;

    SpidevBus() = default;
    ~SpidevBus() override { Close(); }
    SpidevBus(const SpidevBus&) = delete;
    SpidevBus& operator=(const SpidevBus&) = delete;

    std::string Open(const std::string& device) override;
    bool IsOpen() const override { return fd_ >= 0; }
    std::string device() const override { return device_; }
    bool Transfer(std::span<const std::uint16_t> out, std::span<std::uint16_t> in, unsigned gapUs) override;
    std::string lastError() const override { return error_; }
    void Close() override;

private:
    int fd_ = -1;
    std::string device_, error_;
};

}  // namespace qvin
