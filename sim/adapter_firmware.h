#pragma once
// The USB-to-SPI adapter's firmware: one-byte commands on the OUT pipe, replies on the IN
// pipe. The chip sits on chip-select channel 1; the other channels have nothing attached,
// so their data line floats high and every word reads back as 0xFFFF. Command 14 samples
// the data line with inverted polarity, so its words come back inverted.

#include <cstdint>
#include <span>
#include <vector>

#include "sim/spi_target.h"

namespace qvin::sim {

class AdapterFirmware {
public:
    explicit AdapterFirmware(SpiTarget* chip) : chip_(chip) {}

    // A message arriving on the command pipe. Malformed messages (unknown command, too
    // short, more than 16 words) are ignored and leave no reply. Returns how long the
    // adapter is busy with it: a transfer clocks 16 bits a word at 1 MHz, with its delay
    // (in microseconds) between words.
    std::int64_t Command(std::span<const std::uint8_t> message);
    // Up to `max` bytes of the pending reply; empty when nothing is pending (the host's
    // read then times out). Whatever is not taken is dropped.
    std::vector<std::uint8_t> TakeReply(std::size_t max);

    std::uint8_t delay() const { return delay_; }
    std::uint8_t staticBits() const { return staticBits_; }
    std::uint8_t major = 2, minor = 0;

private:
    SpiTarget* chip_;
    std::uint8_t delay_ = 25;
    std::uint8_t staticBits_ = 0x78;
    std::vector<std::uint8_t> reply_;
};

}  // namespace qvin::sim
