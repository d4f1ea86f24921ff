#pragma once
// Pauses that never end early and end as soon as their length has passed. A pause of
// 0.01 ms or more waits on the monotonic clock: it sleeps for most of a long pause, giving
// the processor away, and spins only the last stretch (the scheduler's wake-up latency)
// so that a late wake-up cannot make it late. The shortest pause (the parallel port's bit
// edges) is a fixed count of an empty loop; where the clock is too coarse to wait on, the
// counted loop measured at start-up paces every pause, topped up on the clock, because
// the same loop can run twice as fast a moment later (frequency scaling, shared cores)
// and a command or flash write cut short leaves the chip in a wrong state.

#include <array>
#include <cstdint>
#include <functional>

#include "core/clock.h"

namespace qvin {

class DelayTimer {
public:
    explicit DelayTimer(Clock& clock) : clock_(clock) {}

    // Pauses t milliseconds. t == 0 is the shortest pause (40 loop iterations, never
    // calibrates); 0 < t < 0.01 and negative t are raised to 0.01, also in the caller's
    // variable. Calibrates first when that has not happened yet.
    void Delay(float& t);
    // A pause whose length is not the caller's variable (a constant, an expression).
    void Delay(const float& t) {
        float v = t;
        Delay(v);
    }

    // Measures how many loop iterations make 10 microseconds (DelayCount) and, where the
    // clock paces the pauses, the margin they spin before their deadline. With the clock
    // pacing, the count only serves as a fallback and is sized by short trials.
    void CalibrateDelay();

    Clock& clock() { return clock_; }

    std::int32_t DelayCount = 1000;  // empty-loop iterations per 10 us
    bool DelayCalibrated = false;

    // Pauses wait on the clock (true) or run the counted loop first (a clock coarser than
    // kFinestPacingResolutionNs). Set by the calibration.
    bool ClockPaced = true;
    static constexpr std::int64_t kFinestPacingResolutionNs = 1'000;
    // How long before its deadline a pause stops sleeping and spins, by the pause's length:
    // an idle processor wakes later from a long sleep than from a short one. The calibration
    // measures each from sleeps of its `sleepNs`: 1.5 times the median lateness for pauses
    // under 0.3 ms, so that they spin little and on a busy machine the scheduler finds this
    // thread mostly asleep and wakes it at once, and 1.5 times the 90th percentile for the
    // longer ones, never below `minNs` (a 10 ms sleep is no sure guide to a 100 ms one, and
    // 300 us is 3 % of a 10 ms pause), nor above kMaxMarginNs. A caller may set them after.
    struct SpinMargin {
        std::int64_t fromNs;   // pauses from this length up (to the next entry's)
        std::int64_t sleepNs;  // the sleeps the calibration measures it with
        int percentile;
        std::int64_t minNs;
        std::int64_t marginNs;
    };
    std::array<SpinMargin, 3> SpinMargins{{{0, 100'000, 50, 20'000, 20'000},
                                           {300'000, 1'000'000, 90, 40'000, 40'000},
                                           {3'000'000, 10'000'000, 90, 300'000, 300'000}}};
    static constexpr std::int64_t kMaxMarginNs = 2'000'000;
    // The last kSteppedTailNs before the spin margin are slept in steps of kSleepStepNs.
    static constexpr std::int64_t kSteppedTailNs = 6'000'000;
    static constexpr std::int64_t kSleepStepNs = 2'000'000;
    static constexpr double kMarginFactor = 1.5;
    // The margin for a pause of this length.
    std::int64_t SpinMarginFor(std::int64_t pauseNs) const;

    // A non-empty command line starts the calibration from a fifth of the default count.
    bool ShortStart = false;
    // Length of the final calibration trial of the counted loop. 3000 ms gives the most
    // precise count, which matters only where the clock is too coarse; with the clock
    // pacing, 20 ms is used at most. A command-line tool may shorten it, since delays never
    // end early in any case.
    float FinalTrialMs = 3000.0f;
    // Told true when the calibration starts and false when it ends (busy cursor, progress).
    std::function<void(bool busy)> OnCalibrating;

private:
    // The counted loop alone: round(t * 100) passes of DelayCount iterations.
    void CountedDelay(float t);
    // Seconds a counted delay of t milliseconds takes, as the calibration measures it.
    float Measure(float t);
    // A spin margin from sleeps of the given length: kMarginFactor times the given
    // percentile of how late the scheduler woke this thread.
    std::int64_t MeasureSpinMargin(const SpinMargin& m, int sleeps);

    Clock& clock_;
};

}  // namespace qvin
