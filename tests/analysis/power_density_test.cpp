// Welch's spectrum checked against what physics says of it: white noise of variance s^2
// sampled every tau0 has the one-sided density 2 s^2 tau0; the density summed over the band
// is the variance (Parseval); a sine of amplitude A puts A^2 / 2 at its frequency.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "analysis/deviations.h"
#include "analysis/power_density.h"

namespace qvin::analysis {
namespace {

std::vector<double> WhiteNoise(std::size_t n, double sigma, std::uint32_t seed) {
    std::mt19937_64 rng(seed);
    std::normal_distribution<double> g(0.0, sigma);
    std::vector<double> y(n);
    for (double& v : y) v = 10.0 + g(rng);  // an offset the segments' means take away
    return y;
}

TEST(Spectrum, WhiteNoisesFloorIsSqrt2TimesTheAllanCoefficientN) {
    const double tau0 = 0.001, sigma = 0.02;
    const std::vector<double> y = WhiteNoise(400'000, sigma, 3);
    std::string why;
    const auto s = WelchSpectrum(y, tau0, 0, &why);
    ASSERT_TRUE(s) << why;
    EXPECT_EQ(s->segmentLength, 65536u);
    EXPECT_GE(s->segments, 8u);
    EXPECT_DOUBLE_EQ(s->frequency.back(), 0.5 / tau0);
    // N, the Allan deviation at 1 s (white noise: sigma(tau) = N / sqrt(tau)), is
    // sigma sqrt(tau0); the one-sided density's square root is sqrt(2) N.
    const double n = sigma * std::sqrt(tau0);
    EXPECT_NEAR(s->whiteFloor / (std::sqrt(2.0) * n), 1.0, 0.05);
    // And against N as the Allan deviation itself gives it, at tau 0.1 s.
    bool compared = false;
    for (const AllanPoint& p : DeviationCurve(y, tau0, Deviation::Oadev, {})) {
        if (p.m != 128) continue;
        EXPECT_NEAR(s->whiteFloor / (std::sqrt(2.0) * p.adev * std::sqrt(p.tau)), 1.0, 0.05);
        compared = true;
    }
    EXPECT_TRUE(compared);
    // Flat: the lower and the upper half of the band agree.
    double low = 0, high = 0;
    const std::size_t bins = s->density.size();
    for (std::size_t k = 1; k < bins / 2; ++k) low += s->density[k];
    for (std::size_t k = bins / 2; k + 1 < bins; ++k) high += s->density[k];
    EXPECT_NEAR(low / high, 1.0, 0.02);
}

TEST(Spectrum, SumsToTheVarianceAndPutsASineAtItsFrequency) {
    const double tau0 = 0.01, amplitude = 3.0;
    const std::size_t length = 1024;
    const double f0 = 100.0 * (1.0 / tau0) / static_cast<double>(length);  // on bin 100
    std::vector<double> y = WhiteNoise(length * 20, 0.1, 9);
    for (std::size_t i = 0; i < y.size(); ++i) y[i] += amplitude * std::sin(2 * std::numbers::pi * f0 * static_cast<double>(i) * tau0);
    const auto s = WelchSpectrum(y, tau0, length);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->segments, 39u);  // 20 lengths, overlapping by half
    const double df = s->frequency[1];
    double total = 0;
    for (const double d : s->density) total += d * df;
    EXPECT_NEAR(total, amplitude * amplitude / 2 + 0.01, 0.03 * (amplitude * amplitude / 2));
    // The Hann window spreads the sine over its bin and the two beside it.
    double peak = 0;
    for (std::size_t k = 98; k <= 102; ++k) peak += s->density[k] * df;
    EXPECT_NEAR(peak, amplitude * amplitude / 2, 0.01 * amplitude * amplitude / 2);
    EXPECT_EQ(std::max_element(s->density.begin(), s->density.end()) - s->density.begin(), 100);
}

TEST(Spectrum, NoSegmentSpansAGapAndTooLittleIsRefused) {
    std::vector<double> y = WhiteNoise(16 * 64, 1.0, 5);
    const auto whole = WelchSpectrum(y, 1.0, 64);
    ASSERT_TRUE(whole);
    EXPECT_EQ(whole->segments, 31u);
    y[100] = NAN;  // inside segments 3 and 4 (each 64 long, 32 apart)
    const auto gapped = WelchSpectrum(y, 1.0, 64);
    ASSERT_TRUE(gapped);
    EXPECT_EQ(gapped->segments, 29u);
    for (const double d : gapped->density) EXPECT_TRUE(std::isfinite(d));
    // A capture with a gap every thousand samples: the segments fit between the gaps (eight
    // at least: 512 long, two between each pair), none across one.
    std::vector<double> gapped1000 = WhiteNoise(20 * 1001, 1.0, 6);
    for (std::size_t i = 1000; i < gapped1000.size(); i += 1001) gapped1000[i] = NAN;
    const auto between = WelchSpectrum(gapped1000, 1.0);
    ASSERT_TRUE(between);
    EXPECT_EQ(between->segmentLength, 512u);
    EXPECT_EQ(between->segments, 40u);
    EXPECT_NEAR(between->whiteFloor, std::sqrt(2.0), 0.05 * std::sqrt(2.0));
    std::string why;
    EXPECT_FALSE(WelchSpectrum(std::vector<double>(15, 1.0), 1.0, 0, &why));
    EXPECT_EQ(why, "too few samples for a spectrum (16 at least)");
    EXPECT_FALSE(WelchSpectrum(y, 1.0, 48, &why));
    EXPECT_EQ(why, "a segment is a power of two readings, 16 at least");
    std::vector<double> holes(64, 1.0);
    for (std::size_t i = 0; i < holes.size(); i += 10) holes[i] = NAN;
    EXPECT_FALSE(WelchSpectrum(holes, 1.0, 16, &why));
    EXPECT_EQ(why, "no 16 samples in a row without a gap");
}

}  // namespace
}  // namespace qvin::analysis
