#pragma once
// The chip as the board's two SPI masters (the parallel-port wiring and the USB adapter)
// see it: the word it will shift out during the next frame, known before the first clock
// edge, and the word it received once a whole frame has been clocked.

#include <cstdint>

namespace qvin::sim {

class SpiTarget {
public:
    virtual ~SpiTarget() = default;
    // Asked once at the start of every frame.
    virtual std::uint16_t PendingOutput() = 0;
    // Told at the end of every complete frame.
    virtual void Receive(std::uint16_t mosi) = 0;
    // A whole frame at once: the word shifted out while `mosi` was clocked in.
    std::uint16_t Transfer(std::uint16_t mosi) {
        const std::uint16_t out = PendingOutput();
        Receive(mosi);
        return out;
    }
};

}  // namespace qvin::sim
