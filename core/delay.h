#pragma once
// Calibrated busy-wait delays. The chip is paced with a counted empty loop whose length
// is measured once at start-up; every pause of 0.01 ms or more then also waits on the
// monotonic clock until its full length has passed, because the same loop can run twice
// as fast a moment later (frequency scaling, shared cores) and a command or flash write
// cut short leaves the chip in a wrong state.

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

    // Measures how many loop iterations make 10 microseconds (DelayCount).
    void CalibrateDelay();

    Clock& clock() { return clock_; }

    std::int32_t DelayCount = 1000;  // empty-loop iterations per 10 us
    bool DelayCalibrated = false;

    // A non-empty command line starts the calibration from a fifth of the default count.
    bool ShortStart = false;
    // Length of the final calibration trial. 3000 ms gives the most precise count; a
    // command-line tool may shorten it, since delays never end early in any case.
    float FinalTrialMs = 3000.0f;
    // Told true when the calibration starts and false when it ends (busy cursor, progress).
    std::function<void(bool busy)> OnCalibrating;

private:
    // The counted loop alone: round(t * 100) passes of DelayCount iterations.
    void CountedDelay(float t);
    // Seconds a counted delay of t milliseconds takes, as the calibration measures it.
    float Measure(float t);

    Clock& clock_;
};

}  // namespace qvin
