#pragma once
// An FTDI MPSSE engine as the chip's SPI master, for an emulated FT232H: the command stream
// the host writes is carried out on the pins (ADBUS0 clock, 1 data out, 2 data in, 3 chip
// select), bit by bit, and what the commands read is queued for the host. The part sees
// what a real one would: a frame is taken when chip select rises after exactly 16 clocks,
// it samples data on the clock's fall and shifts its answer out on the rise. A host on the
// wrong edges reads and writes every bit one clock late, as on a real bus.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>
#include <vector>

#include "sim/spi_target.h"

namespace qvin::test {

class MpsseEngine {
public:
    explicit MpsseEngine(sim::SpiTarget& chip) : chip_(chip) {}

    struct Frame {
        std::uint16_t mosi, miso;
        std::int64_t gapNs;      // chip select high before it, in clocks at the set rate
        bool clockIdledLow;      // as chip select fell
        bool edgesRight;         // every bit written as the clock rose and read as it fell
    };
    std::vector<Frame> frames;   // the frames the part took
    int aborted = 0;             // chip select rose after other than 16 clocks
    int badCommands = 0;
    bool stuckMisoHigh = false;  // a fault: the line from the part reads 1

    void Write(std::span<const std::uint8_t> bytes) {
        pending_.insert(pending_.end(), bytes.begin(), bytes.end());
        while (Step()) {
        }
    }
    // At most `n` bytes of what the commands read.
    std::vector<std::uint8_t> Read(std::size_t n) {
        std::vector<std::uint8_t> out;
        while (!answer_.empty() && out.size() < n) {
            out.push_back(answer_.front());
            answer_.pop_front();
        }
        return out;
    }
    std::size_t waiting() const { return answer_.size(); }
    // The adapter's buffers emptied (a reset or purge request): answers not yet read are gone.
    void Purge() {
        answer_.clear();
        pending_.clear();
    }
    // The clock's period as set (60 MHz, or 12 MHz with divide-by-5 on, over (1 + divisor) * 2).
    std::int64_t periodNs() const { return (1 + divisor_) * 2 * 1000 / (divideBy5_ ? 12 : 60); }

private:
    // One whole command from the front of the stream; false when it is not all there yet.
    bool Step() {
        if (pending_.empty()) return false;
        const std::uint8_t cmd = pending_[0];
        auto need = [&](std::size_t n) { return pending_.size() >= n; };
        auto take = [&](std::size_t n) { pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(n)); };
        if (cmd < 0x80 && (cmd & 0x40) == 0 && (cmd & 0x30) != 0) return Shift(cmd);
        switch (cmd) {
            case 0x80:
                if (!need(3)) return false;
                SetLow(pending_[1]);
                take(3);
                return true;
            case 0x82:
            case 0x86:
            case 0x9E:
                if (!need(3)) return false;
                if (cmd == 0x86) divisor_ = pending_[1] | pending_[2] << 8;
                take(3);
                return true;
            case 0x81: answer_.push_back(Pins()); take(1); return true;
            case 0x83: answer_.push_back(0); take(1); return true;
            case 0x84: case 0x85: case 0x87: case 0x8C: case 0x8D: case 0x96: case 0x97:
                take(1);
                return true;
            case 0x8A: divideBy5_ = false; take(1); return true;
            case 0x8B: divideBy5_ = true; take(1); return true;
            case 0x8E:
                if (!need(2)) return false;
                Clocks(pending_[1] + 1);
                take(2);
                return true;
            case 0x8F:
                if (!need(3)) return false;
                Clocks((pending_[1] + (pending_[2] << 8) + 1) * 8);
                take(3);
                return true;
            default:
                ++badCommands;
                answer_.insert(answer_.end(), {0xFA, cmd});
                take(1);
                return true;
        }
    }

    // Data shifting: bit 0 writes on the clock's fall, 1 counts bits, 2 reads on the fall,
    // 3 LSB first, 4 writes, 5 reads.
    bool Shift(std::uint8_t cmd) {
        const bool bits = cmd & 0x02, write = cmd & 0x10, read = cmd & 0x20, lsbFirst = cmd & 0x08;
        std::size_t count, header = bits ? 2 : 3;
        if (pending_.size() < header) return false;
        count = bits ? pending_[1] + 1u : (pending_[1] | pending_[2] << 8) + 1u;
        const std::size_t dataBytes = write ? (bits ? 1 : count) : 0;
        if (pending_.size() < header + dataBytes) return false;
        const bool rightEdges = !(cmd & 0x01) && (cmd & 0x04);
        const std::size_t nBits = bits ? count : count * 8;
        std::uint8_t in = 0;
        std::size_t inBits = 0;
        for (std::size_t k = 0; k < nBits; ++k) {
            const std::uint8_t byte = write ? pending_[header + k / 8] : 0;
            const int bit = lsbFirst ? static_cast<int>(k % 8) : 7 - static_cast<int>(k % 8);
            const bool out = write ? (byte >> bit) & 1 : (pins_ & 0x02);
            const bool got = Clock(out, rightEdges);
            if (read) {
                in = static_cast<std::uint8_t>(lsbFirst ? in | (got << (inBits % 8)) : (in << 1) | got);
                if (++inBits % 8 == 0 || k + 1 == nBits) {
                    answer_.push_back(bits && !lsbFirst ? static_cast<std::uint8_t>(in << (8 - inBits % 8) % 8) : in);
                    in = 0;
                }
            }
        }
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(header + dataBytes));
        return true;
    }

    // One clock with `out` on the data line; what the host reads from the part.
    bool Clock(bool out, bool rightEdges) {
        if (!selected_) return true;  // nobody drives the line: it rests high
        const int k = bitsInFrame_++;
        // On the wrong edges the part takes the bit before and the host reads the bit before.
        const bool taken = rightEdges ? out : lastOut_;
        lastOut_ = out;
        if (!rightEdges) edgesRight_ = false;
        mosi_ = static_cast<std::uint16_t>(mosi_ << 1 | taken);
        const auto bitOf = [&](int i) { return i < 0 || i > 15 ? true : static_cast<bool>((miso_ >> (15 - i)) & 1); };
        const bool line = rightEdges ? bitOf(k) : bitOf(k - 1);
        return stuckMisoHigh || line;
    }

    void Clocks(std::int64_t n) {
        if (selected_) {
            for (std::int64_t i = 0; i < n; ++i) Clock(lastOut_, true);
        } else {
            gapClocks_ += n;
        }
    }

    void SetLow(std::uint8_t value) {
        const bool select = !(value & 0x08);
        if (select && !selected_) {
            clockIdledLow_ = !(value & 0x01);
            miso_ = chip_.PendingOutput();
            mosi_ = 0;
            bitsInFrame_ = 0;
            edgesRight_ = true;
            gapNs_ = gapClocks_ * periodNs();
        } else if (!select && selected_) {
            if (bitsInFrame_ == 16) {
                chip_.Receive(mosi_);
                frames.push_back({mosi_, miso_, gapNs_, clockIdledLow_, edgesRight_});
            } else {
                ++aborted;
            }
            gapClocks_ = 0;
        }
        selected_ = select;
        pins_ = value;
        lastOut_ = value & 0x02;
    }
    std::uint8_t Pins() const { return static_cast<std::uint8_t>((pins_ & ~0x04) | 0x04); }

    sim::SpiTarget& chip_;
    std::vector<std::uint8_t> pending_;
    std::deque<std::uint8_t> answer_;
    std::uint8_t pins_ = 0x08;
    bool selected_ = false, lastOut_ = false, clockIdledLow_ = true, edgesRight_ = true;
    bool divideBy5_ = true;  // as the engine starts
    int divisor_ = 0;
    std::uint16_t mosi_ = 0, miso_ = 0xFFFF;
    int bitsInFrame_ = 0;
    std::int64_t gapClocks_ = 1'000'000, gapNs_ = 0;  // long idle before the first frame
};

}  // namespace qvin::test
