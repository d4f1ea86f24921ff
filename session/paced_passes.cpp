#include "session/paced_passes.h"

namespace qvin::session {

PacedPasses::PacedPasses(Session& s, std::optional<std::int64_t> count, double pauseMs, Steps steps)
    : clock_(s.clock()), count_(count), pauseMs_(pauseMs), steps_(std::move(steps)), startNs_(clock_.NowNs()) {
    if (!steps_.read) steps_.read = [&s] { return s.ReadPass(); };
    if (!steps_.pause) steps_.pause = [&s](double ms) { s.Pause(static_cast<float>(ms)); };
}

std::optional<PacedPass> PacedPasses::Next() {
    if (last()) return std::nullopt;
    if (done_ > 0) steps_.pause(pauseMs_);
    const Pass p = steps_.read();
    ++done_;
    return PacedPass{done_, static_cast<double>(clock_.NowNs() - startNs_) / 1e9, p};
}

}  // namespace qvin::session
