#pragma once
// A bus that carries the part's 16-bit frames directly, as a Linux SPI controller does
// through the kernel's spidev driver (/dev/spidevB.C): the host is the bus master, chip
// select is asserted for each frame and released between frames.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace qvin {

// An adapter that carries the frames and can be listed (an FTDI adapter; a controller's
// device is known by its path instead).
struct SpiAdapterInfo {
    std::string device;  // as Open takes it: "ftdi:SERIAL"
    std::string kind, description;
};

class SpiBus {
public:
    virtual ~SpiBus() = default;
    // The adapters present; why they cannot be listed in `why`.
    virtual std::vector<SpiAdapterInfo> Adapters(std::string& why) {
        why.clear();
        return {};
    }
    // Opens the device and sets the part's SPI mode, word size and clock; why it cannot be
    // used ("/dev/spidev0.0: Permission denied"), or nothing.
    virtual std::string Open(const std::string& device) = 0;
    virtual bool IsOpen() const = 0;
    // The device opened, or nothing.
    virtual std::string device() const = 0;
    // `out.size()` frames in one exchange, each with chip select of its own and `gapUs`
    // microseconds after it; the words clocked back during each into `in` (as many).
    // False when the exchange failed: nothing of it is an answer, and lastError() says why.
    virtual bool Transfer(std::span<const std::uint16_t> out, std::span<std::uint16_t> in, unsigned gapUs) = 0;
    virtual std::string lastError() const = 0;
    virtual void Close() = 0;
};

// No SPI device on this board (a replay of a recording made on another interface).
class NoSpiBus final : public SpiBus {
public:
    std::string Open(const std::string& device) override { return device + ": no SPI device on this board"; }
    bool IsOpen() const override { return false; }
    std::string device() const override { return {}; }
    bool Transfer(std::span<const std::uint16_t>, std::span<std::uint16_t>, unsigned) override { return false; }
    std::string lastError() const override { return "no SPI device on this board"; }
    void Close() override {}
};

}  // namespace qvin
