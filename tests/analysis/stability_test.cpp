// The statistics and Allan deviations against the published values of the frequency-
// stability literature's 1000-point test data, and against what physics says of white
// noise and of a random walk.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "analysis/stability.h"

namespace qvin::analysis {
namespace {

// n(i+1) = 16807 n(i) mod 2147483647 from n(0) = 1234567890, values n / 2147483647.
std::vector<double> TestSuite1000() {
    std::vector<double> y;
    std::uint64_t n = 1234567890;
    for (int i = 0; i < 1000; ++i) {
        y.push_back(static_cast<double>(n) / 2147483647.0);
        n = (16807 * n) % 2147483647;
    }
    return y;
}

// The value as the published tables print it: seven significant digits.
std::string Seven(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.6e", v);
    return buf;
}

TEST(Stability, ThePublishedValuesOfTheThousandPointTestData) {
    const std::vector<double> y = TestSuite1000();
    EXPECT_EQ(Seven(Describe(y).stdDev), "2.884664e-01");
    // Normal (non-overlapping) Allan deviation at averaging factors 1, 10, 100.
    EXPECT_EQ(Seven(*NormalAdev(y, 1)), "2.922319e-01");
    EXPECT_EQ(Seven(*NormalAdev(y, 10)), "9.965736e-02");
    EXPECT_EQ(Seven(*NormalAdev(y, 100)), "3.897804e-02");
    // Overlapping Allan deviation.
    EXPECT_EQ(Seven(OverlappingAdev(y, 1.0, 1)->adev), "2.922319e-01");
    EXPECT_EQ(Seven(OverlappingAdev(y, 1.0, 10)->adev), "9.159953e-02");
    EXPECT_EQ(Seven(OverlappingAdev(y, 1.0, 100)->adev), "3.241343e-02");
    EXPECT_FALSE(NormalAdev(y, 501));
    EXPECT_FALSE(OverlappingAdev(y, 1.0, 501));
}

TEST(Stability, DescribeKeepsItsDigitsOnALargeOffset) {
    std::vector<double> y;
    for (int i = 0; i < 1000; ++i) y.push_back(1e9 + (i % 2 ? 1.0 : -1.0));
    const Stats s = Describe(y);
    EXPECT_DOUBLE_EQ(s.mean, 1e9);
    EXPECT_NEAR(s.stdDev, std::sqrt(1000.0 / 999.0), 1e-6);
    EXPECT_EQ(s.peakToPeak, 2.0);
    EXPECT_EQ(s.count, 1000u);
}

// A least-squares slope of log ADEV over log tau between two averaging factors.
double FittedSlope(const std::vector<AllanPoint>& curve, std::size_t fromM, std::size_t toM) {
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    int n = 0;
    for (const AllanPoint& p : curve) {
        if (p.m < fromM || p.m > toM) continue;
        const double x = std::log(p.tau), yv = std::log(p.adev);
        sx += x, sy += yv, sxx += x * x, sxy += x * yv;
        ++n;
    }
    return (n * sxy - sx * sy) / (n * sxx - sx * sx);
}

TEST(Stability, WhiteNoiseFallsAsOneOverTheRootOfTauAtItsKnownLevel) {
    std::mt19937_64 rng(42);
    std::normal_distribution<double> g(0.0, 2.0);  // sigma 2 units a sample
    const double tau0 = 0.01;                      // 100 samples a second
    std::vector<double> y(1 << 20);
    for (double& v : y) v = 5.0 + g(rng);
    const std::vector<AllanPoint> curve = OctaveAdev(y, tau0);
    ASSERT_GE(curve.size(), 15u);
    EXPECT_EQ(curve.back().m, y.size() / 4);
    // Over two decades of tau the slope is -1/2.
    EXPECT_NEAR(FittedSlope(curve, 1, 128), -0.5, 0.05);
    EXPECT_NEAR(FittedSlope(curve, 64, 8192), -0.5, 0.05);
    // ADEV(tau0) is the sample's sigma; the density is sigma sqrt(tau0) per root hertz.
    EXPECT_NEAR(curve[0].adev, 2.0, 0.02);
    const NoiseFigures f = ReadNoise(curve);
    ASSERT_TRUE(f.whiteDensity);
    EXPECT_NEAR(*f.whiteDensity, 2.0 * std::sqrt(tau0), 0.03 * 2.0 * std::sqrt(tau0));
    EXPECT_GE(f.whitePoints, 10u);
    // The interval holds the value and, relative to it, widens as fewer averages remain.
    for (const AllanPoint& p : curve) EXPECT_TRUE(p.lo < p.adev && p.adev < p.hi) << p.m;
    EXPECT_LT((curve[0].hi - curve[0].lo) / curve[0].adev, (curve[10].hi - curve[10].lo) / curve[10].adev);
    // And holds the true value (sigma / sqrt(m)) at most averaging times: a 68 % interval.
    int holds = 0;
    for (const AllanPoint& p : curve) holds += p.lo <= 2.0 / std::sqrt(double(p.m)) && 2.0 / std::sqrt(double(p.m)) <= p.hi;
    EXPECT_GE(holds, static_cast<int>(curve.size()) / 2);
}

TEST(Stability, ARandomWalkRisesAsTheRootOfTauAndItsMinimumIsTheBiasInstability) {
    std::mt19937_64 rng(7);
    std::normal_distribution<double> g(0.0, 1.0);
    std::vector<double> y(1 << 20);
    double walk = 0;
    for (double& v : y) v = (walk += 0.01 * g(rng));
    const std::vector<AllanPoint> curve = OctaveAdev(y, 1.0);
    EXPECT_NEAR(FittedSlope(curve, 4, 512), 0.5, 0.05);
    // White noise on top of a walk: a bottom, whose value over 0.664 is the bias instability.
    for (std::size_t i = 0; i < y.size(); ++i) y[i] += g(rng);
    const std::vector<AllanPoint> both = OctaveAdev(y, 1.0);
    const NoiseFigures f = ReadNoise(both);
    double lowest = 1e300;
    for (const AllanPoint& p : both) lowest = std::min(lowest, p.adev);
    EXPECT_DOUBLE_EQ(f.biasInstability, lowest / 0.664);
    EXPECT_GT(f.biasTau, 1.0);
    EXPECT_LT(f.biasTau, both.back().tau);
}

}  // namespace
}  // namespace qvin::analysis
