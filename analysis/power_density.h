#pragma once
// The one-sided power spectral density of a series of readings by Welch's method: Hann
// windowed segments overlapping by half, each less its mean, their periodograms averaged.
// No segment holds a missing reading (NaN): the gaps are never bridged.

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace qvin::analysis {

struct Spectrum {
    std::vector<double> frequency;  // Hz, from 0 to half the sample rate
    std::vector<double> density;    // units^2/Hz, one-sided: summed over frequency it is the variance
    std::size_t segmentLength = 0;  // readings a segment
    std::size_t segments = 0;       // averaged (those with a missing reading left out)
    // The white floor in units/sqrt(Hz): the square root of the mean density over the upper
    // half of the band (a quarter to a half of the sample rate). On white noise it is
    // sqrt(2) times the angle-random-walk coefficient N (the Allan deviation at 1 s).
    double whiteFloor = 0;
};

// Segments of `segmentLength` readings (a power of two, at least 16), laid from the start of
// each stretch between missing readings; or, with 0, the longest power of two, at most 65536,
// that gives at least eight segments between the gaps (where none does, the longest that
// gives any). Nothing, with `why`, when no whole segment without a gap fits.
std::optional<Spectrum> WelchSpectrum(std::span<const double> y, double tau0, std::size_t segmentLength = 0, std::string* why = nullptr);

}  // namespace qvin::analysis
