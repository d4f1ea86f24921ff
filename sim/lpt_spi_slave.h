#pragma once
// The evaluation board's parallel-port wiring, seen from the chip: data register bit 0
// is chip select (high for a frame), bit 1 the clock, bit 2 the data to the chip
// (inverted); status register bit 6 carries the chip's data back (inverted).
// The chip takes a data bit on each falling clock edge and puts its next bit out on
// each rising edge, so the host samples it while the clock is high.

#include <cstdint>

#include "sim/spi_target.h"

namespace qvin::sim {

class LptSpiSlave {
public:
    explicit LptSpiSlave(SpiTarget& chip) : chip_(chip) {}

    void WriteData(std::uint8_t value);
    std::uint8_t ReadStatus() const;
    std::uint8_t Data() const { return data_; }
    // Frames cut short by chip select (fewer than 16 clocks) are dropped by the chip.
    std::uint64_t DroppedFrames() const { return dropped_; }

private:
    SpiTarget& chip_;
    std::uint8_t data_ = 0;
    bool selected_ = false, clock_ = false, miso_ = false;
    int bitsIn_ = 0, bitsOut_ = 0;
    std::uint16_t in_ = 0, out_ = 0;
    std::uint64_t dropped_ = 0;
};

}  // namespace qvin::sim
