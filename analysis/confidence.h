#pragma once
// How far a deviation computed from a finite record can be trusted: the equivalent degrees
// of freedom of its variance for a given noise type, and the chi-squared interval they give
// at any confidence, from the exact quantile.

#include <optional>

namespace qvin::analysis {

// The interval of a deviation with `edf` equivalent degrees of freedom that holds the true
// value with probability `confidence` (0.683 for one sigma): edf s^2 / chi2(edf) at the
// upper and lower quantiles.
struct Interval {
    double lo, hi;
};
Interval DeviationInterval(double deviation, double edf, double confidence);

// Greenhall's algorithm (Greenhall and Riley, 2003) for the variances built from d-th
// differences of phase: d = 2 the Allan family, d = 3 the Hadamard family; `modified` for
// the modified Allan (and time) variance, `overlapping` for the overlapped estimators.
// alpha is the power-law exponent of the readings' spectrum (S_y ~ f^alpha), 2 to -4, where
// the variance converges (alpha + 2 d > 1); m the averaging factor; n the number of phase
// points (readings + 1). Nothing where the algorithm has no answer.
std::optional<double> GreenhallEdf(int alpha, int d, double m, double n, bool overlapping, bool modified);

}  // namespace qvin::analysis
