#include "analysis/confidence.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <boost/math/distributions/chi_squared.hpp>

namespace qvin::analysis {

Interval DeviationInterval(double deviation, double edf, double confidence) {
    constexpr double kNothingKnown = std::numeric_limits<double>::infinity();
    // No degrees of freedom, or certainty asked for: the interval says nothing; infinitely many: the value itself.
    if (!(edf > 0) || !(confidence < 1)) return {0, kNothingKnown};
    if (std::isinf(edf) || !(confidence > 0)) return {deviation, deviation};
    const double tail = (1.0 - confidence) / 2.0;
    const boost::math::chi_squared chi(edf);
    const double low = boost::math::quantile(chi, tail), high = boost::math::quantile(chi, 1.0 - tail);
    return {deviation * std::sqrt(edf / high), deviation * std::sqrt(edf / low)};
}

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// The generalized autocovariance of the phase noise of exponent alpha, up to a constant.
double Sw(double t, int alpha) {
    const double a = std::abs(t);
    switch (alpha) {
        case 2: return -a;
        case 1: return t == 0 ? 0 : t * t * std::log(a);
        case 0: return a * a * a;
        case -1: return t == 0 ? 0 : std::pow(t, 4) * std::log(a);
        case -2: return std::pow(a, 5);
        case -3: return t == 0 ? 0 : std::pow(t, 6) * std::log(a);
        default: return std::pow(a, 7);  // -4
    }
}

// After the averaging filter of factor f (infinite: the limit of long averages).
double Sx(double t, double f, int alpha) {
    if (f == kInfinity) return Sw(t, alpha + 2);
    return f * f * (2 * Sw(t, alpha) - Sw(t - 1 / f, alpha) - Sw(t + 1 / f, alpha));
}

// After the d-th difference.
double Sz(double t, double f, int alpha, int d) {
    switch (d) {
        case 1: return 2 * Sx(t, f, alpha) - Sx(t - 1, f, alpha) - Sx(t + 1, f, alpha);
        case 2:
            return 6 * Sx(t, f, alpha) - 4 * Sx(t - 1, f, alpha) - 4 * Sx(t + 1, f, alpha) + Sx(t - 2, f, alpha) + Sx(t + 2, f, alpha);
        default:
            return 20 * Sx(t, f, alpha) - 15 * Sx(t - 1, f, alpha) - 15 * Sx(t + 1, f, alpha) + 6 * Sx(t - 2, f, alpha) +
                   6 * Sx(t + 2, f, alpha) - Sx(t - 3, f, alpha) - Sx(t + 3, f, alpha);
    }
}

double BasicSum(double j, double m, double s, double f, int alpha, int d) {
    double sum = std::pow(Sz(0, f, alpha, d), 2) + (1 - j / m) * std::pow(Sz(j / s, f, alpha, d), 2);
    for (int k = 1; k < static_cast<int>(j); ++k) sum += 2 * (1 - k / m) * std::pow(Sz(k / s, f, alpha, d), 2);
    return sum;
}

struct Pair {
    double a0, a1;
};
// Greenhall and Riley's Tables 1 (modified, F = 1) and 2 (unmodified), rows alpha = 2 to
// -4, columns d = 1 to 3; a0 < 0 where the variance does not converge.
constexpr Pair kTable1[7][3] = {{{2.0 / 3, 1.0 / 3}, {7.0 / 9, 1.0 / 2}, {22.0 / 25, 2.0 / 3}},
                                {{0.840, 0.345}, {0.997, 0.616}, {1.141, 0.843}},
                                {{1.079, 0.368}, {1.033, 0.607}, {1.184, 0.848}},
                                {{-1, -1}, {1.048, 0.534}, {1.180, 0.816}},
                                {{-1, -1}, {1.302, 0.535}, {1.175, 0.777}},
                                {{-1, -1}, {-1, -1}, {1.194, 0.703}},
                                {{-1, -1}, {-1, -1}, {1.489, 0.702}}};
constexpr Pair kTable2[7][3] = {{{3.0 / 2, 1.0 / 2}, {35.0 / 18, 1.0}, {231.0 / 100, 3.0 / 2}},
                                {{78.6, 25.2}, {790.0, 410.0}, {9950.0, 6520.0}},
                                {{2.0 / 3, 1.0 / 6}, {2.0 / 3, 1.0 / 3}, {7.0 / 9, 1.0 / 2}},
                                {{-1, -1}, {0.852, 0.375}, {0.997, 0.617}},
                                {{-1, -1}, {1.079, 0.368}, {1.033, 0.607}},
                                {{-1, -1}, {-1, -1}, {1.053, 0.553}},
                                {{-1, -1}, {-1, -1}, {1.302, 0.535}}};
// Table 3 (unmodified, alpha = 1): b0 + b1 ln m.
constexpr Pair kTable3[3] = {{6.0, 4.0}, {15.23, 12.0}, {47.8, 40.0}};

std::optional<double> FromTable(const Pair (&table)[7][3], int alpha, int d, double r, double scale = 1.0) {
    const Pair p = table[2 - alpha][d - 1];
    if (p.a0 < 0) return std::nullopt;
    return 1.0 / ((p.a0 - p.a1 / r) / (r * scale));
}

double Binomial(int n, int k) { return std::tgamma(n + 1.0) / (std::tgamma(k + 1.0) * std::tgamma(n - k + 1.0)); }

}  // namespace

std::optional<double> GreenhallEdf(int alpha, int d, double m, double n, bool overlapping, bool modified) {
    // The variance converges for alpha + 2 d > 1.
    if (d < 1 || d > 3 || alpha > 2 || alpha < -4 || alpha + 2 * d <= 1 || !(m >= 1)) return std::nullopt;
    const double f = modified ? 1 : m;       // the filter: a modified variance averages phase first
    const double s = overlapping ? m : 1;    // the stride: an overlapped estimator steps by tau0
    const double l = m / f + m * d;          // the filter's length in phase samples
    if (n < l + 1) return std::nullopt;
    const double big = 1 + std::floor(s * (n - l) / m);
    const double j = std::min(big, (d + 1) * s);
    constexpr double kMaxJ = 100;
    const double r = big / s;
    auto basic = [&](double jj, double mm, double ss, double ff) {
        return 1.0 / (BasicSum(jj, mm, ss, ff, alpha, d) / (std::pow(Sz(0, ff, alpha, d), 2) * mm));
    };
    if (modified) {
        if (j <= kMaxJ) return basic(j, big, s, 1);
        if (r > d + 1) return FromTable(kTable1, alpha, d, r);
        return basic(kMaxJ, kMaxJ, kMaxJ / r, 1);
    }
    if (alpha <= 0) {
        if (j <= kMaxJ) return basic(j, big, s, m * (d + 1) <= kMaxJ ? m : kInfinity);
        if (r > d + 1) return FromTable(kTable2, alpha, d, r);
        return basic(kMaxJ, kMaxJ, kMaxJ / r, kInfinity);
    }
    if (alpha == 1) {
        const Pair b = kTable3[d - 1];
        const double scale = std::pow(b.a0 + b.a1 * std::log(m), 2);
        if (j <= kMaxJ) return basic(j, big, s, m);
        if (r > d + 1) return FromTable(kTable2, alpha, d, r, scale);
        return 1.0 / (BasicSum(kMaxJ, kMaxJ, kMaxJ / r, kMaxJ / r, 1, d) / (scale * kMaxJ));
    }
    // alpha = 2, unmodified.
    if (std::ceil(r) <= d) return std::nullopt;
    const double a0 = Binomial(4 * d, 2 * d) / std::pow(Binomial(2 * d, d), 2), a1 = d / 2.0;
    return 1.0 / ((a0 - a1 / r) / big);
}

}  // namespace qvin::analysis
