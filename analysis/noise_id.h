#pragma once
// Which power-law noise dominates the readings at an averaging factor: the exponent alpha
// of their spectrum, S_y(f) ~ f^alpha (2 white phase, 1 flicker phase, 0 white frequency,
// -1 flicker frequency, -2 random-walk frequency, in the frequency-stability terms; for a
// sensor's readings 0 is white noise, the angle or velocity random walk, -1 the bias
// instability's flicker, -2 the rate random walk). Read as the frequency-stability tools
// read it (Riley and Greenhall, 2004): from the lag-1 autocorrelation of the phase
// (the running sum of the readings) taken every m-th point, differenced until it looks
// white; where fewer than 30 points remain, from the ratio of the standard to the Allan
// variance (B1) and, between the two phase noises, of the modified to the Allan variance
// (R(n)). A curve carries the type found at its longest averaging time with 30 points on
// to the longer ones rather than read it from so few (stability.h).

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

namespace qvin::analysis {

// Points of the phase the lag-1 autocorrelation needs.
inline constexpr std::size_t kLeastForAutocorrelation = 30;

struct NoiseType {
    int alpha = 0;         // rounded: 2, 1, 0, -1 or -2 (-3, -4 with Hadamard's dmax)
    double estimate = 0;   // the lag-1 method's unrounded value (the ratio methods: alpha)
    bool byRatio = false;  // from B1 and R(n), too few points for the autocorrelation
};
// The phase, held as points or read off the running sums of the readings less their mean
// (phase[i] = sums[i] + i mean), where no reading is missing: a record of ten million then
// needs no second copy of itself.
class Phase {
public:
    Phase(std::span<const double> points) : points_(points) {}
    Phase(std::span<const double> sumsLessMean, double mean) : points_(sumsLessMean), mean_(mean), derived_(true) {}
    double operator[](std::size_t i) const { return derived_ ? points_[i] + static_cast<double>(i) * mean_ : points_[i]; }
    std::size_t size() const { return points_.size(); }
    bool empty() const { return points_.empty(); }

private:
    std::span<const double> points_;
    double mean_ = 0;
    bool derived_ = false;
};

// `dmax`: the differences the variance takes (2 Allan, 3 Hadamard). Nothing for fewer than
// 4 averages of m readings. NaN readings (missing) are left out.
std::optional<NoiseType> IdentifyNoise(std::span<const double> y, std::size_t m, int dmax = 2);
// The same from the phase: x[0] = 0, x[i + 1] = x[i] + the i-th reading present.
std::vector<double> PhaseOf(std::span<const double> y);
std::optional<NoiseType> IdentifyNoiseInPhase(const Phase& x, std::size_t m, int dmax = 2);

}  // namespace qvin::analysis
