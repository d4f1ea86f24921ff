// The noise terms fitted to series of known noise, whose Allan variance follows from their
// spectra: white noise of sigma per reading gives N = sigma sqrt(tau0); flicker made by
// Kasdin and Walter's fractional integration of white noise of sigma gives B = sigma (its
// one-sided spectrum is sigma^2 / (pi f) at low frequencies, whose Allan floor is
// (2 ln 2 / pi) sigma^2); a random walk of steps of sigma gives K = sigma / sqrt(tau0).
// Each term must hold the truth within its stated uncertainty in at least 90 % of 50
// seeds, and a noise that is absent must not be reported.

#include <gtest/gtest.h>

#include <fftw3.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <random>
#include <vector>

#include "analysis/noise_terms.h"
#include "analysis/stability.h"

namespace qvin::analysis {
namespace {

std::vector<double> White(std::mt19937_64& rng, std::size_t n, double sigma) {
    std::normal_distribution<double> g(0.0, sigma);
    std::vector<double> y(n);
    for (double& v : y) v = g(rng);
    return y;
}

// White noise through the filter (1 - z^-1)^-1/2, by a linear convolution done with FFTs,
// at eight times the reading rate, each reading the average of eight: as a sensor averages
// its input between readings. Made at the reading rate itself, the series would hold more
// than the flicker model near the Nyquist frequency (its Allan deviation at tau0 is 1.20
// times the floor, at 4 tau0 still 1.03), which the fit rightly reads as white noise.
class Flicker {
public:
    explicit Flicker(std::size_t readings) : readings_(readings), n_(readings * kOver), m_(2 * n_), a_(m_), f_(m_ / 2 + 1), h_(m_ / 2 + 1) {
        forward_ = fftw_plan_dft_r2c_1d(static_cast<int>(m_), a_.data(), reinterpret_cast<fftw_complex*>(f_.data()), FFTW_ESTIMATE);
        backward_ = fftw_plan_dft_c2r_1d(static_cast<int>(m_), reinterpret_cast<fftw_complex*>(f_.data()), a_.data(), FFTW_ESTIMATE);
        std::fill(a_.begin(), a_.end(), 0.0);
        a_[0] = 1.0;
        for (std::size_t k = 1; k < n_; ++k) a_[k] = a_[k - 1] * (static_cast<double>(k) - 0.5) / static_cast<double>(k);
        fftw_execute(forward_);
        h_ = f_;
    }
    ~Flicker() {
        fftw_destroy_plan(forward_);
        fftw_destroy_plan(backward_);
    }
    Flicker(const Flicker&) = delete;
    Flicker& operator=(const Flicker&) = delete;

    std::vector<double> Make(std::mt19937_64& rng, double sigma) {
        std::normal_distribution<double> g(0.0, sigma);
        std::fill(a_.begin(), a_.end(), 0.0);
        for (std::size_t i = 0; i < n_; ++i) a_[i] = g(rng);
        fftw_execute(forward_);
        for (std::size_t k = 0; k < f_.size(); ++k) f_[k] *= h_[k];
        fftw_execute(backward_);
        std::vector<double> y(readings_, 0.0);
        for (std::size_t i = 0; i < n_; ++i) y[i / kOver] += a_[i] / static_cast<double>(m_ * kOver);
        return y;
    }

private:
    static constexpr std::size_t kOver = 8;
    std::size_t readings_, n_, m_;
    std::vector<double> a_;
    std::vector<std::complex<double>> f_, h_;
    fftw_plan forward_, backward_;
};

std::vector<double> Walk(std::mt19937_64& rng, std::size_t n, double sigma) {
    std::vector<double> y = White(rng, n, sigma);
    for (std::size_t i = 1; i < n; ++i) y[i] += y[i - 1];
    return y;
}

void Add(std::vector<double>& y, const std::vector<double>& more) {
    for (std::size_t i = 0; i < y.size(); ++i) y[i] += more[i];
}

bool Holds(const std::optional<NoiseTerm>& t, double truth) { return t && std::abs(t->value - truth) <= t->uncertainty; }

struct Tally {
    int heldN = 0, heldB = 0, heldK = 0, falseB = 0, falseK = 0;
};

TEST(NoiseTerms, WhiteNoiseGivesNAndNothingElse) {
    const double tau0 = 0.01, sigma = 0.2;
    const double n = sigma * std::sqrt(tau0);
    Tally t;
    for (std::uint64_t seed = 1; seed <= 50; ++seed) {
        std::mt19937_64 rng(seed);
        const NoiseTerms f = FitNoiseTerms(OctaveAdev(White(rng, 1 << 16, sigma), tau0));
        t.heldN += Holds(f.N(), n);
        t.falseB += f.B().has_value();
        t.falseK += f.K().has_value();
        if (seed == 1) {
            ASSERT_TRUE(f.N());
            EXPECT_NEAR(f.N()->value, n, 0.03 * n);
        }
    }
    // 49 of 50 here, and no other term in any.
    EXPECT_GE(t.heldN, 45);
    EXPECT_LE(t.falseB + t.falseK, 5);
}

TEST(NoiseTerms, WhiteFlickerAndWalkTogetherEachComeBackWithinTheirUncertainty) {
    // Levels that cross over inside the record: white up to 0.14 s, the flicker floor from
    // there to 5 s, the walk beyond.
    const double tau0 = 0.01, white = 0.05, flicker = 0.02, walk = 1.03e-3;
    Tally t;
    Flicker flickerOf(1 << 16);
    for (std::uint64_t seed = 1; seed <= 50; ++seed) {
        std::mt19937_64 rng(seed);
        std::vector<double> y = White(rng, 1 << 16, white);
        Add(y, flickerOf.Make(rng, flicker));
        Add(y, Walk(rng, y.size(), walk));
        const NoiseTerms f = FitNoiseTerms(OctaveAdev(y, tau0));
        t.heldN += Holds(f.N(), white * std::sqrt(tau0));
        t.heldB += Holds(f.B(), flicker);
        t.heldK += Holds(f.K(), walk / std::sqrt(tau0));
    }
    // 45, 47 and 48 of 50 here.
    EXPECT_GE(t.heldN, 45);
    EXPECT_GE(t.heldB, 45);
    EXPECT_GE(t.heldK, 45);
}

// Readings that are each the mean of the last 16 of a white noise (a part's rolling
// average): the curve rises to the averaging time and falls after, which no term of the
// model does. The fit begins past that hump, and the white noise beyond it is that of the
// noise averaged (a mean over 16 keeps the density: N = sigma sqrt(tau0)); nothing else
// is reported.
TEST(NoiseTerms, ARollingAverageIsLeftOutAndTheWhiteNoiseBeyondItIsFound) {
    const double tau0 = 0.001, sigma = 0.4;
    const std::size_t window = 16;
    int held = 0, others = 0;
    for (std::uint64_t seed = 1; seed <= 20; ++seed) {
        std::mt19937_64 rng(seed);
        const std::vector<double> raw = White(rng, (1 << 16) + window, sigma);
        std::vector<double> y(1 << 16);
        double sum = 0;
        for (std::size_t i = 0; i < window; ++i) sum += raw[i];
        for (std::size_t i = 0; i < y.size(); ++i) {
            y[i] = sum / static_cast<double>(window);
            sum += raw[i + window] - raw[i];
        }
        const NoiseTerms f = FitNoiseTerms(OctaveAdev(y, tau0));
        EXPECT_GT(f.fromTau, static_cast<double>(window) * tau0) << seed;
        held += Holds(f.N(), sigma * std::sqrt(tau0));
        others += f.Q().has_value() + f.B().has_value() + f.K().has_value() + f.R().has_value();
    }
    // 18 of 20 here, and nothing else; without the averaging's own term N came out 12 %
    // low, in none.
    EXPECT_GE(held, 18);
    EXPECT_LE(others, 2);
}

}  // namespace
}  // namespace qvin::analysis
