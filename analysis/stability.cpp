#include "analysis/stability.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace qvin::analysis {

namespace {

// The chi-squared quantile by the Wilson-Hilferty approximation (good to a few tenths of
// a percent from 2 degrees of freedom up, which is finer than any interval needs).
double ChiSquared(double nu, double z) {
    const double a = 2.0 / (9.0 * nu);
    const double c = 1.0 - a + z * std::sqrt(a);
    return nu * c * c * c;
}

// Equivalent degrees of freedom of an overlapping Allan variance for white noise (Howe,
// Allan and Barnes): N data, averaging factor m.
double WhiteNoiseEdf(double n, double m) {
    return (3.0 * (n - 1.0) / (2.0 * m) - 2.0 * (n - 2.0) / n) * (4.0 * m * m) / (4.0 * m * m + 5.0);
}

}  // namespace

Stats Describe(std::span<const double> y) {
    Stats s;
    // Two passes: the mean, then the squares about it, so a large offset costs no digits.
    // A NaN marks a gap between samples and is no sample.
    long double sum = 0;
    for (double v : y) {
        if (std::isnan(v)) continue;
        if (s.count++ == 0) s.min = s.max = v;
        sum += v;
        s.min = std::min(s.min, v);
        s.max = std::max(s.max, v);
    }
    if (s.count == 0) return s;
    s.mean = static_cast<double>(sum / static_cast<long double>(s.count));
    if (s.count > 1) {
        long double sq = 0;
        for (double v : y)
            if (!std::isnan(v)) sq += (static_cast<long double>(v) - s.mean) * (static_cast<long double>(v) - s.mean);
        s.stdDev = static_cast<double>(std::sqrt(sq / static_cast<long double>(s.count - 1)));
    }
    s.peakToPeak = s.max - s.min;
    return s;
}

std::optional<double> NormalAdev(std::span<const double> y, std::size_t m) {
    if (m == 0 || y.size() < 2 * m) return std::nullopt;
    const std::size_t blocks = y.size() / m;
    long double sum = 0;
    double prev = 0;
    for (std::size_t k = 0; k < blocks; ++k) {
        long double b = 0;
        for (std::size_t i = 0; i < m; ++i) b += y[k * m + i];
        const double avg = static_cast<double>(b / static_cast<long double>(m));
        if (k > 0) sum += (static_cast<long double>(avg) - prev) * (static_cast<long double>(avg) - prev);
        prev = avg;
    }
    return static_cast<double>(std::sqrt(sum / (2.0L * static_cast<long double>(blocks - 1))));
}

namespace {

// The "phase" of one stretch of samples without a gap: x[0] = 0, x[i] = sum of y[0..i-1]
// less the mean. Summed with Kahan's compensation, so that ten million samples keep the
// digits of their differences.
std::vector<double> Phase(std::span<const double> y, double mean) {
    std::vector<double> x(y.size() + 1, 0.0);
    double sum = 0, carry = 0;
    for (std::size_t i = 0; i < y.size(); ++i) {
        const double term = (y[i] - mean) - carry;
        const double next = sum + term;
        carry = (next - sum) - term;
        sum = next;
        x[i + 1] = sum;
    }
    return x;
}

// The stretches between gaps (NaN), each as its phase: a difference is only ever taken
// between samples that were neighbours, never across a gap.
std::vector<std::vector<double>> Phases(std::span<const double> y) {
    const double mean = Describe(y).mean;
    std::vector<std::vector<double>> phases;
    std::size_t begin = 0;
    for (std::size_t i = 0; i <= y.size(); ++i) {
        if (i < y.size() && !std::isnan(y[i])) continue;
        if (i > begin) phases.push_back(Phase(y.subspan(begin, i - begin), mean));
        begin = i + 1;
    }
    return phases;
}

// The sum of the squared second differences of one stretch's phase at averaging factor m.
double SquaredSum(const std::vector<double>& x, std::size_t m, std::size_t terms) {
    // Four partial sums: the loop pipelines, and long records lose fewer digits.
    double part[4] = {0, 0, 0, 0};
    const double* a = x.data();
    const double* b = x.data() + m;
    const double* c = x.data() + 2 * m;
    std::size_t i = 0;
    for (; i + 4 <= terms; i += 4)
        for (std::size_t k = 0; k < 4; ++k) {
            const double d = c[i + k] - 2 * b[i + k] + a[i + k];
            part[k] += d * d;
        }
    for (; i < terms; ++i) {
        const double d = c[i] - 2 * b[i] + a[i];
        part[0] += d * d;
    }
    return (part[0] + part[1]) + (part[2] + part[3]);
}

std::optional<AllanPoint> FromPhases(const std::vector<std::vector<double>>& phases, double tau0, std::size_t m) {
    if (m == 0) return std::nullopt;
    double sum = 0, edf = 0;
    std::size_t terms = 0;
    for (const std::vector<double>& x : phases) {
        const std::size_t n = x.size() - 1;
        if (n < 2 * m) continue;
        const std::size_t t = x.size() - 2 * m;
        sum += SquaredSum(x, m, t);
        terms += t;
        // Stretches apart are independent: their degrees of freedom add up.
        edf += WhiteNoiseEdf(static_cast<double>(n), static_cast<double>(m));
    }
    if (terms == 0) return std::nullopt;
    const double md = static_cast<double>(m);
    const double avar = sum / (2.0 * md * md * static_cast<double>(terms));
    AllanPoint p;
    p.m = m;
    p.tau = static_cast<double>(m) * tau0;
    p.adev = std::sqrt(avar);
    p.terms = terms;
    p.edf = std::max(edf, 1.0);
    // 68 % (one sigma) bounds of the variance, then the deviation.
    p.lo = std::sqrt(avar * p.edf / ChiSquared(p.edf, 1.0));
    p.hi = std::sqrt(avar * p.edf / ChiSquared(p.edf, -1.0));
    return p;
}

}  // namespace

std::optional<AllanPoint> OverlappingAdev(std::span<const double> y, double tau0, std::size_t m) {
    return FromPhases(Phases(y), tau0, m);
}

std::vector<AllanPoint> OctaveAdev(std::span<const double> y, double tau0) {
    std::vector<AllanPoint> curve;
    const std::size_t n = Describe(y).count;
    if (n < 4) return curve;
    const auto phases = Phases(y);
    for (std::size_t m = 1; m <= n / 4; m *= 2)
        if (auto p = FromPhases(phases, tau0, m)) curve.push_back(*p);
    return curve;
}

std::vector<double> Slopes(std::span<const AllanPoint> curve) {
    std::vector<double> s;
    for (std::size_t i = 1; i < curve.size(); ++i) {
        const double a = curve[i - 1].adev, b = curve[i].adev;
        s.push_back(a > 0 && b > 0 ? std::log(b / a) / std::log(curve[i].tau / curve[i - 1].tau)
                                   : std::numeric_limits<double>::quiet_NaN());
    }
    return s;
}

NoiseFigures ReadNoise(std::span<const AllanPoint> curve) {
    NoiseFigures f;
    if (curve.empty()) return f;
    const auto lowest = std::min_element(curve.begin(), curve.end(), [](const AllanPoint& a, const AllanPoint& b) { return a.adev < b.adev; });
    f.biasInstability = lowest->adev / 0.664;
    f.biasTau = lowest->tau;
    // The white-noise region: points on either side of which the curve falls with a slope
    // near -1/2 (within 0.1), read as ADEV(tau) sqrt(tau), averaged in the log.
    const std::vector<double> s = Slopes(curve);
    double logSum = 0;
    for (std::size_t i = 0; i < curve.size(); ++i) {
        const bool before = i > 0 && std::abs(s[i - 1] + 0.5) <= 0.1;
        const bool after = i < s.size() && std::abs(s[i] + 0.5) <= 0.1;
        if ((before || after) && curve[i].adev > 0) {
            logSum += std::log(curve[i].adev * std::sqrt(curve[i].tau));
            ++f.whitePoints;
        }
    }
    if (f.whitePoints) f.whiteDensity = std::exp(logSum / static_cast<double>(f.whitePoints));
    return f;
}

}  // namespace qvin::analysis
