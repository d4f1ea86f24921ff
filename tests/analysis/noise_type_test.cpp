// Intervals that say what the data support: the exact chi-squared quantiles against the
// printed tables, the noise type of series whose law is known, and intervals that hold
// the true deviation as often as they claim, for white and random-walk noise alike.

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "analysis/confidence.h"
#include "analysis/deviations.h"
#include "analysis/noise_id.h"
#include "analysis/stability.h"

namespace qvin::analysis {
namespace {

// Chi-squared quantiles as the statistical tables print them (NIST/SEMATECH e-Handbook,
// table of critical values): one degree of freedom at 2.5 % and 97.5 %, ten at 5 % and 95 %.
TEST(Confidence, IntervalsComeFromTheExactChiSquaredQuantiles) {
    const Interval one = DeviationInterval(1.0, 1.0, 0.95);
    EXPECT_NEAR(one.lo, std::sqrt(1.0 / 5.024), 1e-4);
    EXPECT_NEAR(one.hi / std::sqrt(1.0 / 0.000982), 1.0, 1e-3);
    const Interval ten = DeviationInterval(2.0, 10.0, 0.90);
    EXPECT_NEAR(ten.lo, 2.0 * std::sqrt(10.0 / 18.307), 1e-4);
    EXPECT_NEAR(ten.hi, 2.0 * std::sqrt(10.0 / 3.940), 1e-3);
    // No degrees of freedom (or none that are numbers), or certainty: nothing is known; infinitely many: the value.
    for (const double edf : {0.0, -1.0, std::nan("")}) {
        EXPECT_EQ(DeviationInterval(1.0, edf, kOneSigma).lo, 0.0) << edf;
        EXPECT_TRUE(std::isinf(DeviationInterval(1.0, edf, kOneSigma).hi)) << edf;
    }
    EXPECT_TRUE(std::isinf(DeviationInterval(1.0, 10, 1.0).hi));
    EXPECT_EQ(DeviationInterval(2.0, INFINITY, kOneSigma).lo, 2.0);
    // A wider confidence, a wider interval; more degrees of freedom, a narrower one.
    EXPECT_LT(DeviationInterval(1.0, 50, 0.95).lo, DeviationInterval(1.0, 50, kOneSigma).lo);
    EXPECT_GT(DeviationInterval(1.0, 500, kOneSigma).lo, DeviationInterval(1.0, 50, kOneSigma).lo);
}

std::vector<double> White(std::size_t n, std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> g(0.0, 1.0);
    std::vector<double> y(n);
    for (double& v : y) v = g(rng);
    return y;
}
std::vector<double> RandomWalk(std::size_t n, std::uint32_t seed) {
    std::vector<double> y = White(n, seed);
    for (std::size_t i = 1; i < n; ++i) y[i] += y[i - 1];
    return y;
}
std::vector<double> Differenced(std::size_t n, std::uint32_t seed) {
    const std::vector<double> w = White(n + 1, seed);
    std::vector<double> y(n);
    for (std::size_t i = 0; i < n; ++i) y[i] = w[i + 1] - w[i];
    return y;
}

TEST(NoiseType, KnownLawsAreNamedAtEveryAveragingTime) {
    for (const std::size_t m : {1, 4, 16, 64}) {
        SCOPED_TRACE(testing::Message() << "m " << m);
        EXPECT_EQ(IdentifyNoise(White(20'000, 1), m)->alpha, 0);
        EXPECT_EQ(IdentifyNoise(RandomWalk(20'000, 2), m)->alpha, -2);
        EXPECT_EQ(IdentifyNoise(Differenced(20'000, 3), m)->alpha, 2);
        EXPECT_FALSE(IdentifyNoise(White(20'000, 1), m)->byRatio);
    }
    // A random walk of a random walk (-4): only the Hadamard family, three differences deep,
    // converges there and may name it; the Allan family stops at -2.
    std::vector<double> walk2 = RandomWalk(20'000, 5);
    for (std::size_t i = 1; i < walk2.size(); ++i) walk2[i] += walk2[i - 1];
    EXPECT_EQ(IdentifyNoise(walk2, 4, 3)->alpha, -4);
    EXPECT_EQ(IdentifyNoise(walk2, 4, 2)->alpha, -2);
    for (const auto& p : DeviationCurve(walk2, 1.0, Deviation::Ohdev, {})) {
        if (p.alphaBy != AllanPoint::NoiseBy::Autocorrelation) continue;
        EXPECT_EQ(p.alpha, -4) << "ohdev at m " << p.m;
    }
    EXPECT_TRUE(IdentifyNoise(White(100, 4), 8)->byRatio) << "12 averages: too few for the autocorrelation";
    EXPECT_FALSE(IdentifyNoise(White(100, 4), 30)) << "3 averages tell nothing";
}

// Over 400 records, the one-sigma interval at each averaging time holds the true Allan
// deviation 68.3 % of the time (three binomial sigmas: 61 to 75.5 %). True values: unit
// white noise 1/m; a random walk of unit steps (2 m^2 + 1) / (6 m).
TEST(NoiseType, IntervalsHoldTheTruthAsOftenAsTheyClaim) {
    struct Law {
        const char* name;
        std::vector<double> (*make)(std::size_t, std::uint32_t);
        double (*truth)(double m);
    } laws[] = {{"white", White, [](double m) { return 1 / m; }},
                {"random walk", RandomWalk, [](double m) { return (2 * m * m + 1) / (6 * m); }}};
    for (const Law& law : laws) {
        std::vector<int> held(5, 0);
        const int records = 400;
        for (int seed = 0; seed < records; ++seed) {
            const auto curve = AdevCurve(law.make(1024, 1000 + static_cast<std::uint32_t>(seed)), 1.0);
            for (std::size_t k = 0; k < held.size(); ++k) {
                const double truth = std::sqrt(law.truth(static_cast<double>(curve[k].m)));
                held[k] += curve[k].lo <= truth && truth <= curve[k].hi;
            }
        }
        for (std::size_t k = 0; k < held.size(); ++k) {
            const double share = static_cast<double>(held[k]) / records;
            EXPECT_GT(share, 0.61) << law.name << ", m " << (1 << k);
            EXPECT_LT(share, 0.755) << law.name << ", m " << (1 << k);
        }
    }
}

// Every deviation is in proportion to the readings: readings near the top or the bottom of
// a double's range give the same curve times their scale, not infinity or zero; a curve
// that truly passes the range is refused in words.
TEST(Deviations, AreInProportionToTheReadingsAcrossTheWholeRange) {
    const std::vector<double> y = White(2000, 11);
    for (const Deviation d : kDeviations) {
        const std::vector<AllanPoint> base = DeviationCurve(y, 1.0, d, {});
        ASSERT_FALSE(base.empty());
        for (const double scale : {1e300, 1e-300, 1e200}) {
            std::vector<double> scaled(y);
            for (double& v : scaled) v *= scale;
            std::string why;
            const std::vector<AllanPoint> curve = DeviationCurve(scaled, 1.0, d, {}, &why);
            ASSERT_EQ(curve.size(), base.size()) << DeviationName(d) << " at " << scale << ": " << why;
            for (std::size_t i = 0; i < curve.size(); ++i) {
                EXPECT_NEAR(curve[i].adev / scale, base[i].adev, base[i].adev * 1e-9) << DeviationName(d) << " m " << curve[i].m;
                EXPECT_NEAR(curve[i].hi / scale, base[i].hi, base[i].hi * 1e-9) << DeviationName(d) << " m " << curve[i].m;
                EXPECT_EQ(curve[i].alpha, base[i].alpha) << DeviationName(d) << " m " << curve[i].m;
            }
        }
    }
    std::vector<double> extreme(1000);
    for (std::size_t i = 0; i < extreme.size(); ++i) extreme[i] = i % 2 ? -1.5e308 : 1.5e308;  // the deviation is sqrt(2) times that
    std::string why;
    EXPECT_TRUE(DeviationCurve(extreme, 1.0, Deviation::Oadev, {}, &why).empty());
    EXPECT_NE(why.find("passes the largest number a double holds"), std::string::npos) << why;
    extreme[5] = INFINITY;
    why.clear();
    EXPECT_TRUE(DeviationCurve(extreme, 1.0, Deviation::Mdev, {}, &why).empty());
    EXPECT_EQ(why, "an infinite reading cannot be analysed");
}

}  // namespace
}  // namespace qvin::analysis
