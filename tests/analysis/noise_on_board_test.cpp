// The simulated part's noise as an engineer would measure it through the program: the
// chip's averaging lowers the white noise by the square root of the samples it averages,
// and the noise settings are read strictly.

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "analysis/stability.h"
#include "core/clock.h"
#include "session/session.h"
#include "sim/noise.h"
#include "sim/sim_board.h"
#include "support/recorded_messages.h"

namespace qvin {
namespace {

// The inclination's scatter at an averaging code: readings 100 ms apart, well beyond the
// rolling average's window, so that each is a fresh draw of the averaged noise.
double Scatter(session::Session& s, int avgCode, int count) {
    s.Write(s.RegisterIndex("Avg_Cnt"), avgCode);
    s.Pause(1000.0f);
    std::vector<double> y;
    for (int i = 0; i < count; ++i) {
        y.push_back(s.ReadPass().values[3]);
        s.Pause(100.0f);
    }
    return analysis::Describe(y).stdDev;
}

TEST(NoiseOnTheBoard, AveragingFourTimesMoreSamplesHalvesTheWhiteNoise) {
    VirtualClock clock;
    test::RecordedMessages messages;
    session::Options o;
    o.board = "sim";
    o.settingsFile = "/nonexistent/Qvin27319.cfg";
    session::Session s(clock, o, messages);
    sim::QvinChip& chip = s.board().simulated()->chip;
    chip.SetAngle(30.0);
    sim::NoiseOptions white = sim::DefaultNoise();
    white.walkDegPerRootS = 0;
    white.driftDegPerC = 0;
    chip.SetNoise(white);
    const double at16 = Scatter(s, 3, 800);  // 16 samples averaged: 0.4 / 4 = 0.1 degrees
    const double at64 = Scatter(s, 5, 800);  // 64 samples: 0.05 degrees
    EXPECT_NEAR(at16 / at64, 2.0, 0.2);
    EXPECT_NEAR(at16, 0.1, 0.01);
    // Without noise the part sits still to the count.
    chip.SetNoise({});
    EXPECT_EQ(Scatter(s, 3, 50), 0.0);
}

TEST(NoiseOnTheBoard, TheSameSeedGivesTheSameNoiseAndAnotherSeedOther) {
    sim::NoiseOptions a = sim::DefaultNoise(), b = sim::DefaultNoise();
    b.seed = 2;
    sim::NoiseModel x(a), y(a), z(b);
    int same = 0, differ = 0;
    for (std::int64_t i = 0; i < 100; ++i) {
        same += x.White(i) == y.White(i);
        differ += x.White(i) != z.White(i);
    }
    EXPECT_EQ(same, 100);
    EXPECT_EQ(differ, 100);
    // The walk goes back as it went: an alarm looking back a second sees what was there.
    const double later = x.Walk(12.5), earlier = x.Walk(11.2);
    EXPECT_EQ(y.Walk(11.2), earlier);
    EXPECT_EQ(y.Walk(12.5), later);
}

// A reading averages up to 256 raw samples, most of them shared with the reading before;
// however the readings go (forward a few samples, back for an alarm's look, far ahead,
// another averaging, another seed), each is the plain mean of its samples' noise.
TEST(NoiseOnTheBoard, EveryReadingIsTheMeanOfItsOwnRawSamples) {
    sim::NoiseModel model(sim::DefaultNoise());
    auto plainMean = [&](std::int64_t sample, int count) {
        double sum = 0;
        for (int i = 0; i < count; ++i) sum += model.White(sample - i);
        return sum / count;
    };
    const struct {
        std::int64_t sample;
        int count;
    } reads[] = {{300, 256}, {307, 256}, {314, 256}, {60, 256}, {315, 256}, {315, 16}, {2000, 256}, {2001, 512},
                 {1001, 256}, {-5, 4},   {3025, 256}, {3026, 1}};
    for (const auto& r : reads) EXPECT_EQ(model.AveragedWhite(r.sample, r.count), plainMean(r.sample, r.count)) << r.sample;
    sim::NoiseOptions other = sim::DefaultNoise();
    other.seed = 7;
    model.Set(other);
    EXPECT_EQ(model.AveragedWhite(3025, 256), plainMean(3025, 256)) << "after a new seed";
}

TEST(NoiseOnTheBoard, SettingsAreReadStrictly) {
    sim::NoiseOptions n;
    EXPECT_FALSE(sim::ParseNoise("white=0.2,walk=0,drift=0.01,seed=3", n));
    EXPECT_TRUE(n.on);
    EXPECT_EQ(n.whiteDeg, 0.2);
    EXPECT_EQ(n.walkDegPerRootS, 0.0);
    EXPECT_EQ(n.seed, 3u);
    EXPECT_FALSE(sim::ParseNoise("off", n));
    EXPECT_FALSE(n.on);
    for (const char* bad : {"white", "white=-1", "white=abc", "white=1e3", "walk=nan", "loud=1", "seed=0", "seed=1.5", "white=0x10"}) {
        const auto why = sim::ParseNoise(bad, n);
        ASSERT_TRUE(why) << bad;
        EXPECT_NE(why->find(std::string(bad).substr(0, 4)), std::string::npos) << *why;
    }
}

}  // namespace
}  // namespace qvin
