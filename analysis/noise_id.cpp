#include "analysis/noise_id.h"

#include <algorithm>
#include <cmath>
#include <span>
#include <vector>

namespace qvin::analysis {

namespace {

// The lag-1 autocorrelation of z_j, the d-th difference of x[0], x[m], x[2m] ... (each
// difference taken as the one before it less its own, in the order a difference in place
// would take them, so the sums are those of the differenced copy to the last bit).
double Lag1OfDifferences(const Phase& x, std::size_t m, int d) {
    const std::size_t every = (x.size() - 1) / m + 1;
    const auto levels = static_cast<std::size_t>(d);
    if (every <= levels) return 0;
    const std::size_t count = every - levels;
    auto z = [&](std::size_t j) {
        double w[16];
        for (std::size_t k = 0; k <= levels; ++k) w[k] = x[(j + k) * m];
        for (std::size_t level = 1; level <= levels; ++level)
            for (std::size_t k = 0; k + level <= levels; ++k) w[k] = w[k + 1] - w[k];
        return w[0];
    };
    double mean = 0;
    for (std::size_t j = 0; j < count; ++j) mean += z(j);
    mean /= static_cast<double>(count);
    double num = 0, den = 0;
    double here = z(0) - mean;
    for (std::size_t j = 0; j < count; ++j) {
        den += here * here;
        if (j + 1 < count) {
            const double after = z(j + 1) - mean;
            num += here * after;
            here = after;
        }
    }
    return den > 0 ? num / den : 0;
}

// The expected B1 (standard over Allan variance) of k averages for the bias exponent mu.
double B1Theory(double k, int mu) {
    switch (mu) {
        case 2: return k * (k + 1) / 6;
        case 1: return k / 2;
        case 0: return k * std::log(k) / (2 * (k - 1) * std::log(2.0));
        case -1: return 1;
        case -2: return (k * k - 1) / (1.5 * k * (k - 1));
        default: return k * (1 - std::pow(k, mu)) / (2 * (k - 1) * (1 - std::pow(2.0, mu)));
    }
}

// The Allan and modified Allan variances at factor m of the phase x (tau0 taken as 1).
double AllanVariance(const Phase& x, std::size_t m) {
    double sum = 0;
    std::size_t terms = 0;
    for (std::size_t i = 0; i + 2 * m < x.size(); i += m, ++terms) sum += std::pow(x[i + 2 * m] - 2 * x[i + m] + x[i], 2);
    return terms ? sum / (2.0 * static_cast<double>(terms) * static_cast<double>(m * m)) : 0;
}
double ModifiedAllanVariance(const Phase& x, std::size_t m) {
    if (x.size() < 3 * m + 1) return 0;
    const std::size_t terms = x.size() - 3 * m + 1;
    double inner = 0, sum = 0;
    for (std::size_t i = 0; i < m; ++i) inner += x[i + 2 * m] - 2 * x[i + m] + x[i];
    for (std::size_t j = 0; j < terms; ++j) {
        sum += inner * inner;
        if (j + 1 < terms) inner += (x[j + m + 2 * m] - 2 * x[j + m + m] + x[j + m]) - (x[j + 2 * m] - 2 * x[j + m] + x[j]);
    }
    return sum / (2.0 * static_cast<double>(m) * m * m * m * static_cast<double>(terms));
}

}  // namespace

std::vector<double> PhaseOf(std::span<const double> y) {
    std::vector<double> x{0.0};
    x.reserve(y.size() + 1);
    for (double v : y)
        if (!std::isnan(v)) x.push_back(x.back() + v);
    return x;
}

std::optional<NoiseType> IdentifyNoise(std::span<const double> y, std::size_t m, int dmax) {
    const std::vector<double> phase = PhaseOf(y);
    return IdentifyNoiseInPhase(Phase(phase), m, dmax);
}

std::optional<NoiseType> IdentifyNoiseInPhase(const Phase& x, std::size_t m, int dmax) {
    if (m == 0 || x.empty()) return std::nullopt;
    const std::size_t n = x.size() - 1;  // readings
    if (n / m < 4) return std::nullopt;
    const int lowest = 2 - 2 * dmax;  // where the variance still converges
    NoiseType out;
    // The phase every m readings, differenced d times, is read off x as it is needed rather
    // than copied: at m = 1 a copy would be as large as the record.
    const std::size_t every = (x.size() - 1) / m + 1;
    if (every >= kLeastForAutocorrelation) {
        // Not detrended (the reference tools' tables are not): a drift of the readings counts
        // as the random walk it is at these averaging times; the mean goes in the correlation.
        for (int d = 0;; ++d) {
            const double r1 = Lag1OfDifferences(x, m, d);
            const double rho = r1 / (1 + r1);
            if (rho < 0.25 || d >= dmax) {
                out.estimate = -2 * (rho + d) + 2;
                out.alpha = std::clamp(static_cast<int>(-std::nearbyint(2 * rho) - 2 * d) + 2, lowest, 2);
                return out;
            }
        }
    }
    // Few averages: B1 picks the bias exponent mu, R(n) tells the two phase noises apart.
    out.byRatio = true;
    const std::size_t k = n / m;
    std::vector<double> averages(k);
    for (std::size_t i = 0; i < k; ++i) averages[i] = (x[(i + 1) * m] - x[i * m]) / static_cast<double>(m);
    double mean = 0;
    for (double a : averages) mean += a;
    mean /= static_cast<double>(k);
    double var = 0;
    for (double a : averages) var += (a - mean) * (a - mean);
    var /= static_cast<double>(k - 1);
    const double avar = AllanVariance(x, m);
    if (!(avar > 0)) return std::nullopt;
    const double b1 = var / avar;
    int mu = -2;
    double best = std::abs(std::log(b1 / B1Theory(static_cast<double>(k), -2)));
    for (int candidate = -1; candidate <= 2 * dmax - 3; ++candidate) {
        const double off = std::abs(std::log(b1 / B1Theory(static_cast<double>(k), candidate)));
        if (off < best) best = off, mu = candidate;
    }
    out.alpha = -mu - 1;  // mu -1 white frequency (0), 0 flicker (-1), 1 random walk (-2) ...
    if (mu == -2) {
        // R(n): 1/m for white phase noise; for flicker phase, Greenhall's ratio.
        const double rn = ModifiedAllanVariance(x, m) / avar;
        const double flicker = (3 * std::log(256.0 / 27.0) / 8) / ((1.038 + 3 * std::log(M_PI * static_cast<double>(m))) / 4);
        out.alpha = rn < std::sqrt(flicker / static_cast<double>(m)) ? 2 : 1;
    }
    out.alpha = std::clamp(out.alpha, lowest, 2);
    out.estimate = out.alpha;
    return out;
}

}  // namespace qvin::analysis
