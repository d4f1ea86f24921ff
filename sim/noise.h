#pragma once
// The simulated sensor's imperfections, as an engineer measures them on a part: white noise
// on every raw sample (which the chip's rolling average lowers by the square root of the
// samples it averages), a slow random walk of the zero (the bias instability), and a drift
// with temperature. Deterministic: the same seed, sample and time give the same noise.
//
// QVIN_SIM_NOISE (and the scenario command noise) take a comma list:
//   off | white=DEG | walk=DEG | drift=DEG | seed=N
//   white  standard deviation of one raw inclination sample, degrees (default 0.4)
//   walk   random walk of the zero, degrees per square root of a second (default 0.0005)
//   drift  degrees per degree Celsius away from 25 °C (default 0.005)
// With the default sample period (1.099 ms) and averaging (256 samples), a reading scatters
// by about 0.025 degrees, one step of the output, and the zero wanders by a few thousandths
// of a degree over minutes: a quiet MEMS inclinometer.

#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <utility>

namespace qvin::sim {

struct NoiseOptions {
    bool on = false;
    double whiteDeg = 0.4;
    double walkDegPerRootS = 0.0005;
    double driftDegPerC = 0.005;
    std::uint64_t seed = 1;
};

// The default model, as a real part would show it.
inline NoiseOptions DefaultNoise() {
    NoiseOptions n;
    n.on = true;
    return n;
}

// Reads a QVIN_SIM_NOISE text onto the default model; why it is refused, or nothing.
std::optional<std::string> ParseNoise(const std::string& text, NoiseOptions& out);

class NoiseModel {
public:
    explicit NoiseModel(NoiseOptions o = {}) : o_(o) { raw_.fill({kNone, 0.0}); }
    const NoiseOptions& options() const { return o_; }
    void Set(NoiseOptions o) {
        o_ = o;
        walk_.clear();
        raw_.fill({kNone, 0.0});
    }

    // One raw sample's white noise (degrees), a standard normal draw scaled.
    double White(std::int64_t sample) const;
    // The mean of the white noise over `count` raw samples ending at `sample`.
    double AveragedWhite(std::int64_t sample, int count);
    // The zero's random walk at `seconds` since the chip started (degrees).
    double Walk(double seconds);
    // The inclination error at a sample: averaged white noise, walk and temperature drift.
    double InclinationError(std::int64_t sample, int averaged, double seconds, double celsius);

private:
    double Normal(std::uint64_t a, std::uint64_t b) const;
    double Knot(std::int64_t k);
    // White(sample), from the cache when it was drawn lately.
    double CachedWhite(std::int64_t sample);

    NoiseOptions o_;
    // The raw samples' white noise drawn lately, by sample number modulo the size: a
    // reading averages up to 256 of them, and the next reading shares all but the few
    // that came since, so each is drawn once instead of at every reading.
    static constexpr std::int64_t kNone = INT64_MIN;
    static constexpr std::size_t kRawCached = 1024;
    std::array<std::pair<std::int64_t, double>, kRawCached> raw_;
    // The walk's value at whole seconds (knots), the latest few kept: reads go forward in
    // time, and an alarm's look back spans less than a second.
    std::deque<std::pair<std::int64_t, double>> walk_;
};

}  // namespace qvin::sim
