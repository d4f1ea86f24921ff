#include "analysis/stability.h"

#include "analysis/confidence.h"
#include "analysis/noise_id.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace qvin::analysis {

namespace {

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

// Running sums of the samples (less their mean) and of how many are present, with NaN
// (a gap) counting as absent: an average over any span is then two subtractions.
struct Sums {
    double mean = 0;
    std::vector<double> x;             // x[i] = sum of present y[0..i-1] less the mean
    std::vector<std::uint32_t> counts;  // present samples among y[0..i-1]; empty when all are
    std::uint32_t count(std::size_t i) const { return counts.empty() ? static_cast<std::uint32_t>(i) : counts[i]; }
};

Sums Cumulative(std::span<const double> y) {
    const double mean = Describe(y).mean;
    const bool gaps = std::any_of(y.begin(), y.end(), [](double v) { return std::isnan(v); });
    Sums s{mean, std::vector<double>(y.size() + 1, 0.0), std::vector<std::uint32_t>(gaps ? y.size() + 1 : 0, 0)};
    // Kahan's compensation, so that ten million samples keep the digits of their differences.
    double sum = 0, carry = 0;
    for (std::size_t i = 0; i < y.size(); ++i) {
        const bool present = !std::isnan(y[i]);
        if (present) {
            const double term = (y[i] - mean) - carry;
            const double next = sum + term;
            carry = (next - sum) - term;
            sum = next;
        }
        s.x[i + 1] = sum;
        if (gaps) s.counts[i + 1] = s.counts[i] + (present ? 1 : 0);
    }
    return s;
}

// Each term compares the averages of two neighbouring spans of m sample times. A span
// with samples missing is averaged over those present, when at least half of it is (all
// of it for m = 1): the missing are left out of the sums, and no difference is ever taken
// between samples that were not neighbours in time.
std::optional<AllanPoint> FromSums(const Sums& s, double tau0, std::size_t m) {
    const std::size_t n = s.x.size() - 1;
    if (m == 0 || n < 2 * m) return std::nullopt;
    const std::uint32_t least = static_cast<std::uint32_t>((m + 1) / 2);
    double sum = 0;
    std::size_t terms = 0;
    for (std::size_t i = 0; i + 2 * m <= n; ++i) {
        const std::uint32_t ca = s.count(i + m) - s.count(i), cb = s.count(i + 2 * m) - s.count(i + m);
        if (ca < least || cb < least) continue;
        const double d = (s.x[i + 2 * m] - s.x[i + m]) / cb - (s.x[i + m] - s.x[i]) / ca;
        sum += d * d;
        ++terms;
    }
    if (terms == 0) return std::nullopt;
    const double avar = sum / (2.0 * static_cast<double>(terms));
    AllanPoint p;
    p.m = m;
    p.tau = static_cast<double>(m) * tau0;
    p.adev = std::sqrt(avar);
    p.terms = terms;
    // The white-noise degrees of freedom of the samples present, as if in one record; the
    // curve replaces them with the noise it finds there.
    p.edf = std::max(WhiteNoiseEdf(static_cast<double>(s.count(n)), static_cast<double>(m)), 1.0);
    const Interval i = DeviationInterval(p.adev, p.edf, kOneSigma);
    p.lo = i.lo;
    p.hi = i.hi;
    return p;
}

}  // namespace

std::optional<AllanPoint> OverlappingAdev(std::span<const double> y, double tau0, std::size_t m) {
    return FromSums(Cumulative(y), tau0, m);
}

std::vector<std::size_t> AveragingFactors(std::size_t samples, TauSet set) {
    std::vector<std::size_t> out;
    const std::size_t last = samples / 4;
    if (set == TauSet::All) {
        for (std::size_t m = 1; m <= last; ++m) out.push_back(m);
    } else if (set == TauSet::Octave) {
        for (std::size_t m = 1; m <= last; m *= 2) out.push_back(m);
    } else {
        for (std::size_t decade = 1; decade <= last; decade *= 10)
            for (const std::size_t k : {1, 2, 4})
                if (k * decade <= last) out.push_back(k * decade);
    }
    return out;
}

bool NoiseAlongCurve::Identify(AllanPoint& p) {
    if (known_) {
        p.alpha = *known_;
        p.alphaBy = AllanPoint::NoiseBy::Autocorrelation;
        return true;
    }
    const std::size_t readings = phase_.empty() ? 0 : phase_.size() - 1;
    std::optional<NoiseType> noise;
    if (readings / p.m + 1 >= kLeastForAutocorrelation || !lastByAutocorrelation_) noise = IdentifyNoiseInPhase(phase_, p.m, differences_);
    if (noise && !noise->byRatio) {
        p.alpha = noise->alpha;
        p.alphaBy = AllanPoint::NoiseBy::Autocorrelation;
        lastByAutocorrelation_ = noise->alpha;
    } else if (lastByAutocorrelation_) {
        p.alpha = *lastByAutocorrelation_;
        p.alphaBy = AllanPoint::NoiseBy::Carried;
    } else if (noise) {
        p.alpha = noise->alpha;
        p.alphaBy = AllanPoint::NoiseBy::Ratios;
    } else {
        return false;
    }
    return true;
}

namespace {

// The curve from the running sums of n samples present; `held`, the phase where samples
// are missing (otherwise read off the sums).
std::vector<AllanPoint> CurveFromSums(const Sums& sums, const std::vector<double>& held, std::size_t n, double tau0, const AllanOptions& options) {
    std::vector<AllanPoint> curve;
    NoiseAlongCurve noise(sums.counts.empty() ? Phase(sums.x, sums.mean) : Phase(held), 2, options.alpha);
    for (const std::size_t m : AveragingFactors(n, options.taus)) {
        auto p = FromSums(sums, tau0, m);
        if (!p) continue;
        if (noise.Identify(*p))
            if (const auto edf = GreenhallEdf(p->alpha, 2, static_cast<double>(m), static_cast<double>(n + 1), true, false)) p->edf = *edf;
        const Interval i = DeviationInterval(p->adev, p->edf, options.confidence);
        p->lo = i.lo;
        p->hi = i.hi;
        curve.push_back(*p);
    }
    return curve;
}

// Cumulative, in the samples' own memory: x[i] where y[i] was, x[n] after.
Sums CumulativeInPlace(std::vector<double>&& y) {
    const double mean = Describe(y).mean;
    const bool gaps = std::any_of(y.begin(), y.end(), [](double v) { return std::isnan(v); });
    Sums s{mean, {}, std::vector<std::uint32_t>(gaps ? y.size() + 1 : 0, 0)};
    double sum = 0, carry = 0;
    for (std::size_t i = 0; i < y.size(); ++i) {
        const double v = y[i];
        y[i] = sum;
        const bool present = !std::isnan(v);
        if (present) {
            const double term = (v - mean) - carry;
            const double next = sum + term;
            carry = (next - sum) - term;
            sum = next;
        }
        if (gaps) s.counts[i + 1] = s.counts[i] + (present ? 1 : 0);
    }
    y.push_back(sum);
    s.x = std::move(y);
    return s;
}

}  // namespace

std::vector<AllanPoint> AdevCurve(std::span<const double> y, double tau0, const AllanOptions& options) {
    const std::size_t n = Describe(y).count;
    if (n < 4) return {};
    const Sums sums = Cumulative(y);
    // The phase read off the sums where no sample is missing; otherwise the samples present
    // run together, and that needs a copy.
    std::vector<double> held;
    if (!sums.counts.empty()) held = PhaseOf(y);
    return CurveFromSums(sums, held, n, tau0, options);
}

std::vector<AllanPoint> AdevCurve(std::vector<double>&& y, double tau0, const AllanOptions& options) {
    const std::size_t n = Describe(y).count;
    if (n < 4) return {};
    std::vector<double> held;
    if (n < y.size()) held = PhaseOf(y);
    const Sums sums = CumulativeInPlace(std::move(y));
    return CurveFromSums(sums, held, n, tau0, options);
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
