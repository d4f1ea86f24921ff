// How exact are the calibrated pauses? For each length: how many calls ended early (must
// be none), and the median and 90th-percentile overshoot, beside std::this_thread::sleep_for
// for the same length in the same run.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "core/clock.h"
#include "core/delay.h"

namespace {

struct Stats {
    double earlyShare, medianUs, p90Us;
};

template <typename Pause>
Stats Measure(qvin::RealClock& clock, double ms, int calls, Pause pause) {
    std::vector<double> overshootUs;
    int early = 0;
    for (int i = 0; i < calls; ++i) {
        const std::int64_t t0 = clock.NowNs();
        pause();
        const double tookUs = static_cast<double>(clock.NowNs() - t0) / 1e3;
        if (tookUs < ms * 1e3) ++early;
        overshootUs.push_back(tookUs - ms * 1e3);
    }
    std::sort(overshootUs.begin(), overshootUs.end());
    return {static_cast<double>(early) / calls, overshootUs[overshootUs.size() / 2],
            overshootUs[overshootUs.size() * 9 / 10]};
}

}  // namespace

int main() {
    qvin::RealClock clock;
    qvin::DelayTimer timer(clock);
    const std::int64_t c0 = clock.NowNs();
    timer.CalibrateDelay();
    std::printf("calibration: %.2f s, DelayCount %d iterations per 10 us\n\n",
                static_cast<double>(clock.NowNs() - c0) / 1e9, timer.DelayCount);

    std::printf("%8s %6s | %-28s | %-28s | %s\n", "t (ms)", "calls", "Delay: early  median   p90 (us)",
                "sleep_for: early median p90", "p90 ratio");
    const struct {
        float ms;
        int calls;
    } cases[] = {{0.1f, 2000}, {1.0f, 500}, {10.0f, 100}, {100.0f, 20}};
    bool anyEarly = false;
    for (const auto& c : cases) {
        const Stats d = Measure(clock, c.ms, c.calls, [&] { timer.Delay(c.ms); });
        const auto len = std::chrono::duration<double, std::milli>(c.ms);
        const Stats s = Measure(clock, c.ms, c.calls, [&] { std::this_thread::sleep_for(len); });
        anyEarly |= d.earlyShare > 0;
        std::printf("%8.1f %6d | %5.1f%% %8.1f %8.1f      | %5.1f%% %8.1f %8.1f     | %6.3f\n", c.ms, c.calls,
                    100 * d.earlyShare, d.medianUs, d.p90Us, 100 * s.earlyShare, s.medianUs, s.p90Us,
                    d.p90Us / s.p90Us);
    }
    std::printf("\n%s\n", anyEarly ? "FAIL: a Delay ended early" : "no Delay ended early");
    return anyEarly ? 1 : 0;
}
