#include "sim/lpt_spi_slave.h"

namespace qvin::sim {

namespace {
constexpr std::uint8_t kSelect = 0x01, kClock = 0x02, kDataInverted = 0x04;
constexpr std::uint8_t kStatusDataInverted = 0x40;
// nERROR and SELECT high, as a powered board shows them.
constexpr std::uint8_t kStatusIdle = 0x18;
}  // namespace

void LptSpiSlave::WriteData(std::uint8_t value) {
    const bool select = value & kSelect;
    const bool clock = value & kClock;
    const bool mosi = !(value & kDataInverted);

    if (select && !selected_) {  // frame starts: the answer is known before the first edge
        out_ = chip_.PendingOutput();
        in_ = 0;
        bitsIn_ = bitsOut_ = 0;
        miso_ = out_ & 0x8000;
    } else if (select && selected_) {
        if (clock && !clock_) {
            if (bitsOut_ < 16) miso_ = (out_ >> (15 - bitsOut_)) & 1;
            ++bitsOut_;
        } else if (!clock && clock_) {
            if (bitsIn_ < 16) in_ = static_cast<std::uint16_t>((in_ << 1) | (mosi ? 1 : 0));
            ++bitsIn_;
        }
    } else if (!select && selected_) {  // frame ends
        if (bitsIn_ == 16) chip_.Receive(in_);
        else ++dropped_;
        miso_ = false;
    }
    selected_ = select;
    clock_ = clock;
    data_ = value;
}

std::uint8_t LptSpiSlave::ReadStatus() const {
    return static_cast<std::uint8_t>(kStatusIdle | (miso_ ? 0 : kStatusDataInverted));
}

}  // namespace qvin::sim
