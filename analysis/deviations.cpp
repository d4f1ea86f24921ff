#include "analysis/deviations.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "analysis/confidence.h"
#include "analysis/noise_id.h"
#include "core/number_text.h"

namespace qvin::analysis {

namespace {

constexpr const char* kNames[] = {"adev", "oadev", "mdev", "tdev", "hdev", "ohdev", "totdev"};

// Differences of the phase at spacing m: second (the Allan family) and third (Hadamard).
double Second(const std::vector<double>& x, std::size_t i, std::size_t m) { return x[i + 2 * m] - 2 * x[i + m] + x[i]; }
double Third(const std::vector<double>& x, std::size_t i, std::size_t m) { return x[i + 3 * m] - 3 * x[i + 2 * m] + 3 * x[i + m] - x[i]; }

struct Variance {
    double value = 0;
    std::size_t terms = 0;
};

Variance Compute(Deviation d, const std::vector<double>& x, std::size_t m, double tau) {
    const std::size_t n = x.size();  // phase points
    long double sum = 0;
    Variance v;
    switch (d) {
        case Deviation::Adev:
        case Deviation::Oadev: {
            const std::size_t stride = d == Deviation::Adev ? m : 1;
            for (std::size_t i = 0; i + 2 * m < n; i += stride, ++v.terms) sum += std::pow(static_cast<long double>(Second(x, i, m)), 2);
            v.value = static_cast<double>(sum / (2.0L * v.terms * tau * tau));
            break;
        }
        case Deviation::Hdev:
        case Deviation::Ohdev: {
            const std::size_t stride = d == Deviation::Hdev ? m : 1;
            for (std::size_t i = 0; i + 3 * m < n; i += stride, ++v.terms) sum += std::pow(static_cast<long double>(Third(x, i, m)), 2);
            v.value = static_cast<double>(sum / (6.0L * v.terms * tau * tau));
            break;
        }
        case Deviation::Mdev:
        case Deviation::Tdev: {
            if (n < 3 * m + 1) break;
            v.terms = n - 3 * m + 1;
            long double inner = 0;
            for (std::size_t i = 0; i < m; ++i) inner += Second(x, i, m);
            for (std::size_t j = 0; j < v.terms; ++j) {
                sum += inner * inner;
                if (j + 1 < v.terms) inner += Second(x, j + m, m) - Second(x, j, m);
            }
            v.value = static_cast<double>(sum / (2.0L * m * m * v.terms * tau * tau));
            break;
        }
        case Deviation::Totdev: {
            // The record reflected at both ends (x*[-j] = 2 x[0] - x[j], x*[n-1+j] = 2 x[n-1] - x[n-1-j]).
            auto at = [&](std::ptrdiff_t k) {
                const auto last = static_cast<std::ptrdiff_t>(n) - 1;
                if (k < 0) return 2 * x[0] - x[static_cast<std::size_t>(-k)];
                if (k > last) return 2 * x[static_cast<std::size_t>(last)] - x[static_cast<std::size_t>(2 * last - k)];
                return x[static_cast<std::size_t>(k)];
            };
            const auto mm = static_cast<std::ptrdiff_t>(m);
            for (std::ptrdiff_t i = 1; i + 1 < static_cast<std::ptrdiff_t>(n); ++i, ++v.terms)
                sum += std::pow(static_cast<long double>(at(i - mm) - 2 * at(i) + at(i + mm)), 2);
            v.value = static_cast<double>(sum / (2.0L * v.terms * tau * tau));
            break;
        }
    }
    return v;
}

// The total deviation's degrees of freedom (NIST SP 1065, table 7), b N / m - c, for white,
// flicker and random-walk noise; elsewhere the white-noise Allan value.
double TotalEdf(int alpha, double n, double m) {
    switch (alpha) {
        case 0: return 1.50 * n / m;
        case -1: return 1.17 * n / m - 0.22;
        case -2: return 0.93 * n / m - 0.36;
        default: return (3 * (n - 1) / (2 * m) - 2 * (n - 2) / n) * 4 * m * m / (4 * m * m + 5);
    }
}

}  // namespace

std::optional<Deviation> DeviationNamed(std::string_view name) {
    std::string lower(name);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (std::size_t i = 0; i < std::size(kNames); ++i)
        if (lower == kNames[i]) return kDeviations[i];
    return std::nullopt;
}

std::string DeviationName(Deviation d) { return kNames[static_cast<std::size_t>(d)]; }

namespace {

std::vector<AllanPoint> CurveOf(std::span<const double> y, double tau0, Deviation d, const AllanOptions& options, std::string* why) {
    if (d == Deviation::Oadev) return AdevCurve(y, tau0, options);
    if (std::any_of(y.begin(), y.end(), [](double v) { return std::isnan(v); })) {
        if (why) *why = DeviationName(d) + " needs a record without missing samples (oadev leaves them out)";
        return {};
    }
    const std::size_t n = y.size();
    if (n < 4) return {};
    // The phase in seconds times the readings' units.
    std::vector<double> x(n + 1, 0.0);
    for (std::size_t i = 0; i < n; ++i) x[i + 1] = x[i] + y[i] * tau0;
    const std::vector<double> phase = PhaseOf(y);
    const bool hadamard = d == Deviation::Hdev || d == Deviation::Ohdev;
    const int differences = hadamard ? 3 : 2;
    std::vector<std::size_t> factors = AveragingFactors(d == Deviation::Totdev ? n * 2 : n, options.taus);
    NoiseAlongCurve noise(phase, differences, options.alpha);
    std::vector<AllanPoint> curve;
    for (const std::size_t m : factors) {
        const double tau = static_cast<double>(m) * tau0;
        const Variance v = Compute(d, x, m, tau);
        if (v.terms == 0) continue;
        AllanPoint p{};
        p.m = m;
        p.tau = tau;
        p.terms = v.terms;
        p.adev = std::sqrt(v.value);
        if (d == Deviation::Tdev) p.adev *= tau / std::sqrt(3.0);
        noise.Identify(p);
        const double points = static_cast<double>(n + 1), factor = static_cast<double>(m);
        std::optional<double> edf;
        switch (d) {
            case Deviation::Adev: edf = GreenhallEdf(p.alpha, 2, factor, points, false, false); break;
            case Deviation::Mdev:
            case Deviation::Tdev: edf = GreenhallEdf(p.alpha, 2, factor, points, true, true); break;
            case Deviation::Hdev: edf = GreenhallEdf(p.alpha, 3, factor, points, false, false); break;
            case Deviation::Ohdev: edf = GreenhallEdf(p.alpha, 3, factor, points, true, false); break;
            case Deviation::Totdev: edf = TotalEdf(p.alpha, points, factor); break;
            case Deviation::Oadev: break;
        }
        p.edf = std::max(edf.value_or(1.0), 1.0);
        const Interval i = DeviationInterval(p.adev, p.edf, options.confidence);
        p.lo = i.lo;
        p.hi = i.hi;
        curve.push_back(p);
    }
    return curve;
}

}  // namespace

namespace {

// Every deviation is in proportion to the readings: readings near either end of a double's
// range are first brought near 1 by a power of two (exactly, and back after), so that their
// sums, differences and squares stay in range. The power, or false for an infinite reading.
bool ScaleOf(std::span<const double> y, int& exponent, std::string* why) {
    double largest = 0;
    for (const double v : y) {
        if (std::isinf(v)) {
            if (why) *why = "an infinite reading cannot be analysed";
            return false;
        }
        if (!std::isnan(v)) largest = std::max(largest, std::fabs(v));
    }
    exponent = 0;
    if (largest > 1e100 || (largest > 0 && largest < 1e-100)) std::frexp(largest, &exponent);
    return true;
}

std::vector<AllanPoint> Unscaled(std::vector<AllanPoint> curve, int exponent, Deviation d, std::string* why) {
    for (AllanPoint& p : curve) {
        p.adev = std::ldexp(p.adev, exponent);
        p.lo = std::ldexp(p.lo, exponent);
        p.hi = std::ldexp(p.hi, exponent);
        if (!std::isfinite(p.adev) || !std::isfinite(p.hi)) {
            if (why) *why = DeviationName(d) + " at tau " + FormatGeneralDouble(p.tau) + " s passes the largest number a double holds (1.8e308)";
            return {};
        }
    }
    return curve;
}

}  // namespace

std::vector<AllanPoint> DeviationCurve(std::span<const double> y, double tau0, Deviation d, const AllanOptions& options, std::string* why) {
    int exponent = 0;
    if (!ScaleOf(y, exponent, why)) return {};
    std::vector<double> scaled;
    if (exponent != 0) {
        scaled.assign(y.begin(), y.end());
        for (double& v : scaled) v = std::ldexp(v, -exponent);
        y = scaled;
    }
    return Unscaled(CurveOf(y, tau0, d, options, why), exponent, d, why);
}

std::vector<AllanPoint> DeviationCurve(std::vector<double>&& y, double tau0, Deviation d, const AllanOptions& options, std::string* why) {
    if (d != Deviation::Oadev) return DeviationCurve(std::span<const double>(y), tau0, d, options, why);
    int exponent = 0;
    if (!ScaleOf(y, exponent, why)) return {};
    if (exponent != 0)
        for (double& v : y) v = std::ldexp(v, -exponent);
    return Unscaled(AdevCurve(std::move(y), tau0, options), exponent, d, why);
}

}  // namespace qvin::analysis
