#pragma once
// The timed loop of the outputs that qvin-cli's watch and the module's watch share: a
// number of passes (or no end), a pause between one and the next and none after the last,
// each pass numbered from 1 and timed from the loop's start.

#include <cstdint>
#include <functional>
#include <optional>

#include "session/session.h"

namespace qvin::session {

struct PacedPass {
    std::int64_t index;  // from 1
    double seconds;      // since the loop started, on the session's clock
    Pass pass;
};

class PacedPasses {
public:
    // How a front end reads a pass and waits: the module takes its board's lock for the one
    // and cuts the other into slices that Ctrl-C can end. By default, the session's own.
    struct Steps {
        std::function<Pass()> read;
        std::function<void(double ms)> pause;
    };
    // `count` passes (none: without end), `pauseMs` apart.
    PacedPasses(Session& s, std::optional<std::int64_t> count, double pauseMs, Steps steps = {});
    // The next pass, after the pause that comes before it; none when `count` were read.
    std::optional<PacedPass> Next();
    // Whether the pass just read was the last one.
    bool last() const { return count_ && done_ >= *count_; }

private:
    const Clock& clock_;
    std::optional<std::int64_t> count_;
    double pauseMs_;
    Steps steps_;
    std::int64_t startNs_;
    std::int64_t done_ = 0;
};

}  // namespace qvin::session
