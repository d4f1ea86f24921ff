#pragma once
// Statistics and Allan deviations of a sampled output (an inclination, a voltage), as the
// frequency-stability literature computes them for fractional frequency data: no board, no
// toolkit, plain arrays. Cumulative sums make each averaging time one pass over the data.
// A NaN in the samples marks a missing sample (missed, or a pass without new data): it is
// no sample, and left out of every sum; the series holds one NaN for each sample missing.

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "analysis/noise_id.h"

namespace qvin::analysis {

struct Stats {
    std::size_t count = 0;
    double mean = 0, stdDev = 0;  // the sample standard deviation (n - 1)
    double min = 0, max = 0, peakToPeak = 0;
};
Stats Describe(std::span<const double> y);

struct AllanPoint {
    std::size_t m;        // averaging factor: tau = m tau0
    double tau;           // seconds
    double adev;          // Allan deviation, in the data's units
    double lo, hi;        // its confidence interval (68.3 % unless asked otherwise)
    double edf;           // equivalent degrees of freedom behind the interval
    std::size_t terms;    // differences averaged
    int alpha = 0;        // the dominant noise's exponent there (noise_id.h)
    // How alpha was found: the lag-1 autocorrelation; carried on from the longest shorter
    // averaging time where that had 30 points (too few here); the B1 and R(n) ratios (too
    // few points at every averaging time).
    enum class NoiseBy { Autocorrelation, Carried, Ratios } alphaBy = NoiseBy::Autocorrelation;
};

// One standard deviation's share of a normal distribution: erf(1/sqrt(2)).
inline constexpr double kOneSigma = 0.682689492137085897;

// Which averaging factors a curve takes: octave 1, 2, 4, 8 ...; decade 1, 2, 4, 10, 20,
// 40, 100 ...; all: every one. Up to a quarter of the samples.
enum class TauSet { Octave, Decade, All };
std::vector<std::size_t> AveragingFactors(std::size_t samples, TauSet set);

struct AllanOptions {
    TauSet taus = TauSet::Octave;
    double confidence = kOneSigma;
    std::optional<int> alpha;  // the noise type taken as known at every averaging time, not read
};

// The normal (non-overlapping) Allan deviation at averaging factor m; nothing when the
// data hold fewer than 2 m samples. For data without gaps.
std::optional<double> NormalAdev(std::span<const double> y, std::size_t m);
// The overlapping Allan deviation at averaging factor m, with its interval. A span of m
// sample times with samples missing is averaged over those present, when at least half
// are (all, for m = 1); a term whose span has fewer is left out.
std::optional<AllanPoint> OverlappingAdev(std::span<const double> y, double tau0, std::size_t m);
// The noise type along a curve, at averaging factors taken in increasing order: read from
// the lag-1 autocorrelation where 30 points of the phase remain; beyond, the type of the
// longest factor that had them is carried on (the ratio methods on 5 to 30 points misread
// the published records' white noise as flicker; the reference tables keep the type); the
// ratios only for a record too short for the autocorrelation anywhere. `known`: the type
// taken as given at every factor.
class NoiseAlongCurve {
public:
    NoiseAlongCurve(Phase phase, int differences, std::optional<int> known) : phase_(phase), differences_(differences), known_(known) {}
    NoiseAlongCurve(std::span<const double> phase, int differences, std::optional<int> known)
        : NoiseAlongCurve(Phase(phase), differences, known) {}
    // Sets p.alpha and p.alphaBy at p.m; false when nothing could be told (too few averages).
    bool Identify(AllanPoint& p);

private:
    Phase phase_;
    int differences_;
    std::optional<int> known_, lastByAutocorrelation_;
};

// The overlapping Allan deviation at the averaging factors asked for, each with the noise
// identified there and the interval from Greenhall's degrees of freedom for that noise.
std::vector<AllanPoint> AdevCurve(std::span<const double> y, double tau0, const AllanOptions& options = {});
// The same in the samples' own memory, which it takes (ten million samples need no second
// record's worth).
std::vector<AllanPoint> AdevCurve(std::vector<double>&& y, double tau0, const AllanOptions& options = {});
// Octave averaging times from tau0 up to a quarter of the samples: m = 1, 2, 4, ...
inline std::vector<AllanPoint> OctaveAdev(std::span<const double> y, double tau0) { return AdevCurve(y, tau0); }

// What the Allan curve says of the sensor: the white-noise density from the region of
// slope -1/2 (units per square root of hertz: ADEV(tau) = N / sqrt(tau)), and the bias
// instability, the curve's minimum over 0.664, with the averaging time where it lies.
struct NoiseFigures {
    std::optional<double> whiteDensity;  // units/sqrt(Hz)
    std::size_t whitePoints = 0;          // points of the curve it was read from
    double biasInstability = 0;
    double biasTau = 0;
};
NoiseFigures ReadNoise(std::span<const AllanPoint> curve);

// The local slope of log ADEV over log tau between neighbouring points.
std::vector<double> Slopes(std::span<const AllanPoint> curve);

}  // namespace qvin::analysis
