#pragma once
// Several registers read in one exchange. The chip answers each read request during the
// next frame, so each frame can carry the next request while it clocks out the answer to
// the one before: N registers in N + 1 frames (the last request sent again only to clock
// its answer out, as a single read over the adapter sends it). Over the USB adapter up to
// 15 registers go in one transfer of up to 16 words (the adapter's delay between words is
// the pause between frames); over the parallel port every frame is bit by bit, each with
// its chip-select cycle and closing pause. Each answer is decoded as ReadReg decodes it.
// The windows keep ReadReg, frame for frame; this is for captures and the bench.

#include <cstdint>
#include <span>
#include <vector>

#include "device/program.h"

namespace qvin {

// One register's word as ReadReg decodes it; the flags are false for a register without.
struct RegReading {
    std::int32_t raw = 0;
    std::int32_t data = 0;  // masked, sign-extended count
    float value = 0;        // data * scale + offset, as ReadReg rounds it
    bool newData = false;
    bool error = false;
};
RegReading DecodeRegister(const RegisterInfo& r, std::int32_t raw);

struct BurstResult {
    std::vector<RegReading> answers;  // in the order asked
    // When the part had taken the first request at the latest: after the transfer that
    // carried it, or after its frame on the parallel port.
    std::int64_t firstTakenNs = 0;
    bool ok = false;  // false: the adapter failed (said once, as any transfer failure), nothing read
};

// Reads the registers `indexes` (each readable, 1 to 65: the caller checks) and ends with
// ReadReg's pause. p.reg is left as it was.
BurstResult ReadRegisters(Program& p, std::span<const std::int16_t> indexes);

}  // namespace qvin
