#pragma once
// One pass over registers as the main window and the CLI's single reads take it: each read
// in turn with the register protocol's single read, its value and flags gathered, and the
// pass given up at the first read the interface did not carry (what was read stays).

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "device/program.h"
#include "device/register_burst.h"

namespace qvin {

struct OutputPass {
    std::vector<RegReading> readings;  // in the order asked, as far as they were read
    bool fresh = false;                // some register had new data
    bool alarm = false;                // some register had its error flag set
    std::int64_t firstTakenNs = 0;     // when the first read had ended
    bool lost = false;                 // the interface failed: `readings` stops short
};

// `each` sees every reading as it comes (a window fills its boxes), with its place.
OutputPass ReadPass(Program& p, std::span<const std::int16_t> indexes,
                    const std::function<void(std::size_t, const RegReading&)>& each = {});

}  // namespace qvin
