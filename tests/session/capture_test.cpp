// A capture on the simulated part, against what the part itself did: every sample it made
// from the first kept to the last is kept once or counted missed, however the reads are
// delayed; the sample period asked for holds during the capture and the part's own comes
// back after it, also when the capture fails.

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "analysis/sample_count.h"
#include "core/clock.h"
#include "session/capture.h"
#include "session/session.h"
#include "sim/sim_board.h"
#include "support/sim_session.h"

namespace qvin {
namespace {

using Bench = test::SimSession;

// Runs a capture of Incl_360 with pauses of up to `stallMs` after one row in `every`, and
// returns the samples the part made between the first and the last sample kept (the
// sample each kept read was answered from, as the chip numbered it).
struct Outcome {
    session::CaptureSummary sum;
    std::int64_t made = 0;
    std::int64_t missedInRows = 0;
    std::int64_t repeats = 0;  // rows answered from the sample of the row before
};
Outcome CaptureWithStalls(Bench& b, std::vector<std::size_t> outputs, double stallMs, int every, std::uint32_t seed) {
    std::vector<std::int64_t> answered;  // the sample behind each read request of Incl_Out
    b.chip.onFrame = [&](std::uint16_t mosi, std::int64_t) {
        if (mosi == 0x0C00) answered.push_back(b.chip.SampleIndex());
    };
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::int64_t first = -1, last = -1;
    Outcome o;
    session::CaptureRequest r;
    r.outputs = std::move(outputs);
    r.count = 3000;
    o.sum = session::Capture(
        b.s, r,
        [&](const session::CaptureRow& row) {
            // A pass sends each request once and has it answered in the next frame.
            const std::int64_t sample = answered.at(answered.size() - 1);
            if (first < 0) first = sample;
            if (sample <= last) ++o.repeats;
            last = sample;
            o.missedInRows += row.missed;
            if (std::uniform_int_distribution<int>(0, every - 1)(rng) == 0)
                b.clock.Advance(static_cast<std::int64_t>(stallMs * 1e6 * u(rng)));
        },
        {});
    o.made = last - first + 1;
    return o;
}

TEST(Capture, KeepsOrCountsEverySampleThePartMadeHoweverTheReadsAreDelayed) {
    // Quick reads, the odd long pause, pauses of a few periods after many rows, and five
    // outputs (a pass near the sample period), each against the part's own numbering.
    struct Case {
        std::vector<std::size_t> outputs;
        double stallMs;
        int every;
    } cases[] = {{{3}, 0.0, 1}, {{3}, 5.0, 50}, {{3}, 3.0, 3}, {{3, 0, 1, 2, 4}, 2.5, 5}, {{3, 0, 1, 2, 4}, 0.0, 1}};
    std::uint32_t seed = 0;
    for (const Case& c : cases) {
        Bench b;
        // The capture starts anywhere in the part's sample period.
        b.clock.Advance(static_cast<std::int64_t>(b.chip.SamplePeriodNs() * (0.17 + 0.31 * seed++)));
        const Outcome o = CaptureWithStalls(b, c.outputs, c.stallMs, c.every, 7);
        SCOPED_TRACE(testing::Message() << c.outputs.size() << " outputs, pauses to " << c.stallMs << " ms after 1 row in " << c.every);
        EXPECT_EQ(o.sum.kept, 3000);
        // The first samples are placed before the part's phase is known: one either way.
        EXPECT_NEAR(static_cast<double>(o.sum.kept + o.sum.missed), static_cast<double>(o.made), 1.0);
        EXPECT_EQ(o.missedInRows, o.sum.missed);
        EXPECT_EQ(o.repeats, 0);
        if (c.stallMs == 0 && c.outputs.size() == 1) {
            EXPECT_EQ(o.sum.missed, 0);
        }
        if (c.stallMs > 0) {
            EXPECT_GT(o.sum.missed, 0);
        }
    }
}

// One pause of 20 samples after the 100th row: one gap, placed after the row before it.
TEST(Capture, TheLongestGapIsPlacedAfterTheSampleBeforeIt) {
    Bench b;
    session::CaptureRequest r;
    r.outputs = {3};
    r.count = 200;
    std::vector<double> times;
    const auto sum = session::Capture(
        b.s, r,
        [&](const session::CaptureRow& row) {
            times.push_back(row.seconds);
            if (times.size() == 100) b.clock.Advance(static_cast<std::int64_t>(20.5 * b.chip.SamplePeriodNs()));
        },
        {});
    EXPECT_EQ(sum.gaps, 1);
    EXPECT_NEAR(static_cast<double>(sum.longestGap), 20.0, 1.0);
    EXPECT_DOUBLE_EQ(sum.longestGapAt, times[99]);
}

TEST(Capture, TheAskedSamplePeriodHoldsMeanwhileAndThePartsOwnComesBackEvenOnFailure) {
    Bench b;
    const double own = b.chip.SamplePeriodNs();
    session::CaptureRequest r;
    r.outputs = {3};
    r.seconds = 1.0;
    r.samplePeriodMs = 20.0;  // 5 periods of the slow time base: 18.92 ms
    double during = 0;
    bool busy = false;  // the capture keeps its processor (no late wake-up between passes), and only meanwhile
    const auto sum = session::Capture(b.s, r, [&](const session::CaptureRow&) {
        during = b.chip.SamplePeriodNs();
        busy = BusyWaiting::Active();
    }, {});
    EXPECT_TRUE(busy);
    EXPECT_FALSE(BusyWaiting::Active());
    EXPECT_NEAR(during, 18.92e6, 1e3);
    EXPECT_NEAR(sum.periodMs, 18.92, 1e-3);
    EXPECT_NEAR(static_cast<double>(sum.kept), 1000.0 / 18.92, 1.5);
    EXPECT_EQ(sum.missed, 0);
    EXPECT_EQ(b.chip.SamplePeriodNs(), own);
    // A capture that ends in an error puts it back all the same.
    r.seconds.reset();
    r.count = 100;
    EXPECT_THROW(session::Capture(b.s, r, [&](const session::CaptureRow& row) { if (row.seconds > 0.1) throw session::Error(3, "disk full"); }, {}),
                 session::Error);
    EXPECT_EQ(b.chip.SamplePeriodNs(), own);
    EXPECT_FALSE(BusyWaiting::Active());
}

TEST(Capture, OutputsAndSamplePeriodsAreReadStrictly) {
    EXPECT_EQ(session::ParseOutputs("INCL_360,temp_out"), (std::vector<std::size_t>{3, 2}));
    EXPECT_EQ(session::ParseOutputs("all").size(), 5u);
    for (const char* bad : {"", "incl_360,", "tilt", "incl_360,incl_360", ",temp_out"}) EXPECT_THROW(session::ParseOutputs(bad), session::Error) << bad;
    EXPECT_EQ(session::SamplePeriodCode(1.0986), 8);       // the part's default
    EXPECT_EQ(session::SamplePeriodCode(3.784), 128);      // the slow time base's first
    EXPECT_EQ(session::SamplePeriodCode(0.12207), 0);
    EXPECT_THROW(session::SamplePeriodCode(0.1), session::Error);
    EXPECT_THROW(session::SamplePeriodCode(500), session::Error);
}

TEST(SampleCount, AClockThatDriftsFromTheNominalPeriodIsCountedToItsDrift) {
    // The part's period 0.1 % longer than its registers say: the count from the nominal
    // period is off by no more than that.
    const double nominal = 1.0986e-3, actual = nominal * 1.001;
    analysis::SampleCount count(nominal);
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::int64_t last = -1, first = -1, kept = 0;
    double t = 0.0003;
    for (int i = 0; i < 200000; ++i) {
        double busy = 0.2e-3 * (0.9 + 0.2 * u(rng));
        if (u(rng) < 0.01) busy += 3e-3 * u(rng);
        const auto sample = static_cast<std::int64_t>((t + busy * u(rng)) / actual);
        const bool fresh = sample > last;
        if (fresh) {
            if (first < 0) first = sample;
            last = sample;
            ++kept;
        }
        count.Read(t, t + busy, fresh);
        t += busy;
    }
    const std::int64_t truth = last - first + 1 - kept;
    EXPECT_EQ(count.kept(), kept);
    EXPECT_NEAR(static_cast<double>(count.missed()), static_cast<double>(truth), 0.002 * static_cast<double>(kept + truth));
}

}  // namespace
}  // namespace qvin
