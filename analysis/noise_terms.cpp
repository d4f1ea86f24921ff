#include "analysis/noise_terms.h"

#include "analysis/confidence.h"

#include <boost/math/distributions/students_t.hpp>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdio>
#include <cmath>
#include <numbers>
#include <vector>

namespace qvin::analysis {

namespace {

constexpr int kTerms = 5;
// The power of tau each term's coefficient multiplies, and the coefficient over the
// term's square: 3 Q^2, N^2, (2 ln 2 / pi) B^2, K^2 / 3, R^2 / 2.
constexpr int kPower[kTerms] = {-2, -1, 0, 1, 2};
const double kFactor[kTerms] = {3.0, 1.0, 2.0 * std::numbers::ln2 / std::numbers::pi, 1.0 / 3.0, 0.5};

// The noise each term is: its power-law exponent of the readings' spectrum.
constexpr int kAlpha[kTerms] = {2, 0, -1, -2, -2};

// How much the Allan variances at neighbouring octave averaging times move together (they
// are read from the same data), by the noise that dominates them: measured over 300
// simulated records of each noise, 0.48-0.57 for white, 0.57-0.71 for flicker and 0.73-0.90
// for random-walk noise; the upper ends are taken, so that the uncertainties err wide.
// Points further apart are taken to correlate as the product of the steps between them.
// Left out, the fit would count each point as news and state uncertainties half as large
// as the terms really scatter.
double NeighbourCorrelation(int alpha) { return alpha >= 0 ? 0.57 : alpha == -1 ? 0.71 : 0.90; }

struct Point {
    double tau, avar;
    double m, phasePoints;  // averaging factor, and the record's length in phase points
    double edf = 0;         // for the noise the model says dominates there
    int alpha = 0;          // that noise
};

using Coefficients = std::array<double, kTerms>;
using Set = unsigned;  // bit k: term k takes part

double Basis(int k, double tau) { return std::pow(tau, kPower[k]); }

double Model(const Coefficients& c, double tau) {
    double v = 0;
    for (int k = 0; k < kTerms; ++k) v += c[static_cast<std::size_t>(k)] * Basis(k, tau);
    return v;
}

// The least-squares problem with the points' covariance taken out: every basis column and
// the Allan variances multiplied by L^-1, where L L^T is the points' covariance (their
// variances 2 AVAR^2 / edf, correlated as NeighbourCorrelation says). Then every point
// counts as one independent unit-variance measurement.
struct System {
    std::size_t n = 0;
    std::array<std::vector<long double>, kTerms> a;
    std::vector<long double> b;
};

bool Whiten(const std::vector<Point>& pts, const std::vector<double>& variance, System& sys) {
    const std::size_t n = pts.size();
    // The covariance, then its Cholesky factor in place (lower triangle).
    std::vector<long double> l(n * n, 0.0L);
    for (std::size_t i = 0; i < n; ++i) {
        long double corr = 1.0L;
        for (std::size_t j = i; j < n; ++j) {
            if (j > i) corr *= std::sqrt(NeighbourCorrelation(pts[j - 1].alpha) * NeighbourCorrelation(pts[j].alpha));
            l[j * n + i] = corr * std::sqrt(static_cast<long double>(variance[i]) * variance[j]);
        }
    }
    for (std::size_t j = 0; j < n; ++j) {
        long double d = l[j * n + j];
        for (std::size_t k = 0; k < j; ++k) d -= l[j * n + k] * l[j * n + k];
        if (!(d > 0)) return false;
        l[j * n + j] = std::sqrt(d);
        for (std::size_t i = j + 1; i < n; ++i) {
            long double v = l[i * n + j];
            for (std::size_t k = 0; k < j; ++k) v -= l[i * n + k] * l[j * n + k];
            l[i * n + j] = v / l[j * n + j];
        }
    }
    auto solveLower = [&](std::vector<long double>& x) {
        for (std::size_t i = 0; i < n; ++i) {
            long double v = x[i];
            for (std::size_t k = 0; k < i; ++k) v -= l[i * n + k] * x[k];
            x[i] = v / l[i * n + i];
        }
    };
    sys.n = n;
    sys.b.resize(n);
    for (std::size_t i = 0; i < n; ++i) sys.b[i] = pts[i].avar;
    solveLower(sys.b);
    for (int k = 0; k < kTerms; ++k) {
        auto& col = sys.a[static_cast<std::size_t>(k)];
        col.resize(n);
        for (std::size_t i = 0; i < n; ++i) col[i] = Basis(k, pts[i].tau);
        solveLower(col);
    }
    return true;
}

struct Solution {
    Coefficients c{};
    std::array<std::array<double, kTerms>, kTerms> cov{};  // of the coefficients in the set
    double chi2 = 0;
    bool ok = false;
};

// Least squares over the terms in `set` (no sign constraint), by modified Gram-Schmidt on
// columns scaled to unit length, and the covariance of the coefficients.
Solution Solve(const System& sys, Set set) {
    std::array<int, kTerms> cols{};
    std::size_t p = 0;
    for (int k = 0; k < kTerms; ++k)
        if (set & (1u << k)) cols[p++] = k;
    const std::size_t n = sys.n;
    Solution s;
    if (p == 0 || n < p) return s;
    std::vector<long double> a(p * n);  // column j at a[j * n]
    std::array<long double, kTerms> scale{}, qb{}, x{};
    std::array<std::array<long double, kTerms>, kTerms> r{}, inv{};
    for (std::size_t j = 0; j < p; ++j) {
        const auto& col = sys.a[static_cast<std::size_t>(cols[j])];
        long double norm = 0;
        for (std::size_t i = 0; i < n; ++i) norm += col[i] * col[i];
        scale[j] = std::sqrt(norm);
        if (!(scale[j] > 0) || !std::isfinite(static_cast<double>(scale[j]))) return s;
        for (std::size_t i = 0; i < n; ++i) a[j * n + i] = col[i] / scale[j];
    }
    for (std::size_t j = 0; j < p; ++j) {
        for (std::size_t k = 0; k < j; ++k) {
            long double dot = 0;
            for (std::size_t i = 0; i < n; ++i) dot += a[k * n + i] * a[j * n + i];
            r[k][j] = dot;
            for (std::size_t i = 0; i < n; ++i) a[j * n + i] -= dot * a[k * n + i];
        }
        long double norm = 0;
        for (std::size_t i = 0; i < n; ++i) norm += a[j * n + i] * a[j * n + i];
        norm = std::sqrt(norm);
        // Columns that are (nearly) alike cannot be told apart by these points.
        if (!(norm > 1e-9L)) return s;
        r[j][j] = norm;
        for (std::size_t i = 0; i < n; ++i) a[j * n + i] /= norm;
    }
    for (std::size_t j = 0; j < p; ++j)
        for (std::size_t i = 0; i < n; ++i) qb[j] += a[j * n + i] * sys.b[i];
    for (std::size_t j = p; j-- > 0;) {
        long double v = qb[j];
        for (std::size_t k = j + 1; k < p; ++k) v -= r[j][k] * x[k];
        x[j] = v / r[j][j];
    }
    // R^-1, then the covariance R^-1 R^-T, both unscaled.
    for (std::size_t c = 0; c < p; ++c) {
        for (std::size_t j = p; j-- > 0;) {
            long double v = j == c ? 1.0L : 0.0L;
            for (std::size_t k = j + 1; k < p; ++k) v -= r[j][k] * inv[k][c];
            inv[j][c] = v / r[j][j];
        }
    }
    for (std::size_t j = 0; j < p; ++j) {
        s.c[static_cast<std::size_t>(cols[j])] = static_cast<double>(x[j] / scale[j]);
        for (std::size_t k = 0; k < p; ++k) {
            long double v = 0;
            for (std::size_t m = 0; m < p; ++m) v += inv[j][m] * inv[k][m];
            s.cov[static_cast<std::size_t>(cols[j])][static_cast<std::size_t>(cols[k])] = static_cast<double>(v / (scale[j] * scale[k]));
        }
    }
    for (std::size_t i = 0; i < n; ++i) {
        long double d = sys.b[i];
        for (int k = 0; k < kTerms; ++k) d -= sys.a[static_cast<std::size_t>(k)][i] * s.c[static_cast<std::size_t>(k)];
        s.chi2 += static_cast<double>(d * d);
    }
    s.ok = true;
    return s;
}

// The least-squares fit with no coefficient below zero among the terms in `allowed`: the
// best of the fits over each subset whose coefficients all come out positive (with five
// terms at most, every subset is tried).
// A term in `free` may come out below zero.
Solution NonNegative(const System& sys, Set allowed, Set free, Set& used) {
    Solution best;
    used = 0;
    for (Set set = 1; set < (1u << kTerms); ++set) {
        if ((set & ~allowed) != 0) continue;
        const Solution s = Solve(sys, set);
        if (!s.ok) continue;
        bool positive = true;
        for (int k = 0; k < kTerms; ++k)
            if ((set & (1u << k)) && !(free & (1u << k)) && !(s.c[static_cast<std::size_t>(k)] > 0)) positive = false;
        if (positive && (!best.ok || s.chi2 < best.chi2)) {
            best = s;
            used = set;
        }
    }
    return best;
}

// Sets each point's noise and degrees of freedom: the noise of the model's largest term
// there, white before there is a model. Not the noise read from the points themselves:
// on a few dozen averages that is now and then misread, and the degrees of freedom of a
// misread white phase noise would pin the fit to that point.
void SetNoise(std::vector<Point>& pts, const Coefficients* c) {
    for (Point& p : pts) {
        p.alpha = 0;
        if (c) {
            double largest = 0;
            for (int k = 0; k < kTerms; ++k)
                if (const double v = (*c)[static_cast<std::size_t>(k)] * Basis(k, p.tau); v > largest) {
                    largest = v;
                    p.alpha = kAlpha[k];
                }
        }
        p.edf = GreenhallEdf(p.alpha, 2, p.m, p.phasePoints, true, false).value_or(1.0);
    }
}

// Fitted with the variances read from the model itself (a point that happens to lie low
// would otherwise weigh too much): the variance of an Allan variance from edf averages
// is 2 AVAR^2 / edf.
Solution Fit(std::vector<Point>& pts, Set allowed, Set free, Set& used) {
    SetNoise(pts, nullptr);
    std::vector<double> variance(pts.size());
    for (std::size_t i = 0; i < pts.size(); ++i) variance[i] = 2.0 * pts[i].avar * pts[i].avar / pts[i].edf;
    Solution s;
    System sys;
    for (int pass = 0; pass < 6; ++pass) {
        if (!Whiten(pts, variance, sys)) return {};
        s = NonNegative(sys, allowed, free, used);
        if (!s.ok) return s;
        SetNoise(pts, &s.c);
        for (std::size_t i = 0; i < pts.size(); ++i) {
            const double m = Model(s.c, pts[i].tau);
            variance[i] = 2.0 * (m > 0 ? m * m : pts[i].avar * pts[i].avar) / pts[i].edf;
        }
    }
    return s;
}

}  // namespace

std::string TermText(const NoiseTerm& t) {
    const double v = t.value, du = t.uncertainty;
    const int digits = du > 0 && v > 0 ? std::clamp(static_cast<int>(std::floor(std::log10(v)) - std::floor(std::log10(du))) + 2, 2, 9) : 9;
    char text[64];
    std::snprintf(text, sizeof text, "%.*g +- %.2g", digits, v, du);
    return text;
}

std::string TermUnit(std::size_t term, const std::string& unit) {
    switch (term) {
        case 0: return unit + " s";
        case 1: return unit + "/sqrt(Hz)";
        case 2: return unit;
        case 3: return unit + " sqrt(Hz)";
        default: return unit + "/s";
    }
}

namespace {

// The fit over these points: terms that stand above their uncertainty, the rest left out.
// `chi2` and `dof` say how well the model follows the points.
NoiseTerms FitPoints(std::vector<Point> pts, bool averaged, double& chi2, double& dof) {
    // Past a rolling average's length its Allan variance lies below the white noise's by
    // a term in 1/tau^2 (for white noise averaged over L readings, sigma^2 tau0 / tau
    // (1 - (L^2 - 1) / (3 L m)) at m = tau / tau0 readings): where the readings are averaged
    // the tau^-2 term may be negative and stands for that, not for quantization.
    const Set free = averaged ? 1u : 0u;
    NoiseTerms out;
    out.points = pts.size();
    out.fitted = true;
    chi2 = 0;
    dof = static_cast<double>(pts.size());
    Set allowed = (1u << kTerms) - 1;
    for (;;) {
        Set used = 0;
        const Solution s = Fit(pts, allowed, free, used);
        if (!s.ok || used == 0) return out;
        const std::size_t p = static_cast<std::size_t>(std::popcount(used));
        // Points that scatter more than their degrees of freedom say widen every term, and
        // so does a fit with few points to spare: the coverage factor for about 95 % is
        // Student's t at n - p degrees of freedom (2 with many; 2.18 at 12).
        dof = static_cast<double>(pts.size()) - static_cast<double>(p);
        chi2 = s.chi2;
        const double spread = dof > 0 ? std::max(1.0, s.chi2 / dof) : 1.0;
        const double coverage = dof >= 1 ? boost::math::quantile(boost::math::students_t(dof), 0.975) : 12.71;
        // The least significant term goes, and the rest are fitted again without it.
        int weakest = -1;
        double weakestRatio = 0;
        std::array<double, kTerms> u{};
        for (int k = 0; k < kTerms; ++k) {
            if (!(used & (1u << k))) continue;
            const auto kk = static_cast<std::size_t>(k);
            u[kk] = coverage * std::sqrt(std::max(0.0, s.cov[kk][kk] * spread));
            const double ratio = std::abs(s.c[kk]) / u[kk];
            if (!(ratio > 1.0) && (weakest < 0 || ratio < weakestRatio)) {
                weakest = k;
                weakestRatio = ratio;
            }
        }
        if (weakest >= 0) {
            allowed = used & ~(1u << weakest);
            if (allowed == 0) return out;
            continue;
        }
        out.reducedChiSquare = dof > 0 ? s.chi2 / dof : 0;
        for (int k = 0; k < kTerms; ++k) {
            if (!(used & (1u << k)) || (free & (1u << k))) continue;
            const auto kk = static_cast<std::size_t>(k);
            // term = sqrt(c / factor); its uncertainty by the first-order propagation.
            const double value = std::sqrt(s.c[kk] / kFactor[kk]);
            out.terms[kk] = NoiseTerm{value, value * u[kk] / (2.0 * s.c[kk])};
        }
        return out;
    }
}

}  // namespace

// Beyond this reduced chi-square the model does not follow the points at all. Records of
// the model's own noises reach 5 now and then (the points' scatter is skewed and their
// correlation only modelled), so a tighter test, a chi-squared quantile even at 99.9 %,
// cut off white regions that only scattered, and the terms read from the rest held the
// truth less often than they claimed (42 of 50 seeds for N).
constexpr double kGrossMisfit = 10.0;

NoiseTerms FitNoiseTerms(std::span<const AllanPoint> curve) {
    std::vector<Point> pts;
    for (const AllanPoint& p : curve)
        if (p.adev > 0 && std::isfinite(p.adev) && p.tau > 0 && p.m > 0 && p.terms > 0)
            pts.push_back({p.tau, p.adev * p.adev, static_cast<double>(p.m), static_cast<double>(p.terms + 2 * p.m)});
    if (pts.size() < kMinTermPoints) {
        NoiseTerms none;
        none.points = pts.size();
        return none;
    }
    // Readings that are averages over several readings' time (a rolling average, a filter)
    // are correlated: the curve rises from tau0, or falls more slowly than white noise,
    // up to about the averaging time, which none of the model's noises does. A clear hump
    // (its top at least 1.5 times the first and the last point's deviation, falling after)
    // is left out to an octave past its top, where the averaging has let go: its falling
    // side has too few averages to refuse a walk fitted to its rising one. Then the fit starts at the first
    // averaging time from which the model follows the points at all (a reduced chi-square
    // below kGrossMisfit), keeping kMinTermPoints at least; where it never does, from the
    // first point, said to fit poorly. Where the averaging has not quite let go at that point it
    // still pulls the terms: a rolling average's Allan variance beyond its length lies
    // below the white noise's by a term in 1/tau^2, which no noise of the model has.
    std::size_t start = 0;
    const auto top = std::max_element(pts.begin(), pts.end(), [](const Point& a, const Point& b) { return a.avar < b.avar; });
    // Falling after the top means two points at least, each lower than the one before: a
    // walk's last point alone, read from a few averages, often lies low.
    const bool falls = pts.end() - top >= 3 && (top + 1)->avar < top->avar && (top + 2)->avar < (top + 1)->avar;
    if (top != pts.begin() && falls && top->avar >= 2.25 * pts.front().avar && top->avar >= 2.25 * pts.back().avar)
        start = static_cast<std::size_t>(top - pts.begin()) + 1;
    if (pts.size() - start < kMinTermPoints) {
        NoiseTerms none;
        none.points = pts.size() - start;
        none.fromTau = pts[start].tau;
        none.averaged = true;
        return none;
    }
    NoiseTerms first;
    for (std::size_t from = start; from + kMinTermPoints <= pts.size(); ++from) {
        double chi2 = 0, dof = 0;
        // A curve that follows the model only past its start is taken as averaged readings.
        NoiseTerms t = FitPoints(std::vector<Point>(pts.begin() + static_cast<std::ptrdiff_t>(from), pts.end()), from > 0, chi2, dof);
        t.averaged = from > 0;
        t.fromTau = from > 0 ? pts[from].tau : 0;
        if (dof < 1 || chi2 <= kGrossMisfit * dof) return t;
        if (from == start) first = t;
    }
    return first;
}

double ModelAdev(const NoiseTerms& t, double tau) {
    double v = 0;
    for (int k = 0; k < kTerms; ++k)
        if (const auto& term = t.terms[static_cast<std::size_t>(k)]) v += kFactor[k] * term->value * term->value * Basis(k, tau);
    return std::sqrt(v);
}

}  // namespace qvin::analysis
