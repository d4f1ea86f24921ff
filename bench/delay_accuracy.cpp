// How exact are the pauses, and what do they cost the processor? For each length: how
// many calls ended early (must be none), the median, 90th and 99th-percentile overshoot and the
// share of the pause this thread spent on a processor, beside std::this_thread::sleep_for
// for the same length in the same run, the two taking turns call by call. Twice: on a quiet machine, and loaded with a busy
// thread per core competing for the processors, as on a shared machine.
//
//   bench_delay_accuracy [quiet|loaded]   (both when not told)

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <thread>
#include <vector>

#include "core/clock.h"
#include "bench/load.h"
#include "bench/ordinary_user.h"
#include "core/delay.h"

namespace {

struct Stats {
    double earlyShare, medianUs, p90Us, p99Us, cpuShare;
};

double ThreadCpuNs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e9 + static_cast<double>(ts.tv_nsec);
}

// One kind of pause's calls, measured.
struct Samples {
    std::vector<double> overshootUs;
    int early = 0;
    double cpuNs = 0, wallNs = 0;

    template <typename Pause>
    void Take(qvin::RealClock& clock, double ms, Pause pause) {
        const double c0 = ThreadCpuNs();
        const std::int64_t t0 = clock.NowNs();
        pause();
        const std::int64_t t1 = clock.NowNs();
        cpuNs += ThreadCpuNs() - c0;
        wallNs += static_cast<double>(t1 - t0);
        const double tookUs = static_cast<double>(t1 - t0) / 1e3;
        if (tookUs < ms * 1e3) ++early;
        overshootUs.push_back(tookUs - ms * 1e3);
    }
    Stats Result() {
        std::sort(overshootUs.begin(), overshootUs.end());
        const std::size_t n = overshootUs.size();
        return {static_cast<double>(early) / static_cast<double>(n), overshootUs[n / 2], overshootUs[n * 9 / 10],
                overshootUs[n * 99 / 100], cpuNs / wallNs};
    }
};

bool Run(qvin::RealClock& clock, qvin::DelayTimer& timer, const char* mode) {
    std::printf("%s:\n", mode);
    std::printf("%8s %6s | %-45s | %-45s | %s\n", "t (ms)", "calls", "Delay: early  median   p90   p99 (us)  cpu",
                "sleep_for: early median p90 p99 (us) cpu", "p99 ratio");
    const struct {
        float ms;
        int calls;
    } cases[] = {{0.1f, 2000}, {1.0f, 1000}, {10.0f, 300}, {100.0f, 50}};
    bool anyEarly = false;
    for (const auto& c : cases) {
        // Call by call in turn, so that both meet the same moments of the machine.
        const auto len = std::chrono::duration<double, std::milli>(c.ms);
        Samples delay, sleep;
        for (int i = 0; i < c.calls; ++i) {
            delay.Take(clock, c.ms, [&] { timer.Delay(c.ms); });
            sleep.Take(clock, c.ms, [&] { std::this_thread::sleep_for(len); });
        }
        const Stats d = delay.Result(), s = sleep.Result();
        anyEarly |= d.earlyShare > 0;
        std::printf("%8.1f %6d | %5.1f%% %8.1f %8.1f %8.1f %6.1f%%     | %5.1f%% %8.1f %8.1f %8.1f %6.1f%%    | %6.3f\n", c.ms,
                    c.calls, 100 * d.earlyShare, d.medianUs, d.p90Us, d.p99Us, 100 * d.cpuShare, 100 * s.earlyShare, s.medianUs,
                    s.p90Us, s.p99Us, 100 * s.cpuShare, d.p99Us / s.p99Us);
    }
    std::printf("\n");
    return anyEarly;
}

}  // namespace

int main(int argc, char** argv) {
    qvin::bench::AsAnOrdinaryUserIfAsked();
    const bool quiet = argc < 2 || std::strcmp(argv[1], "loaded") != 0;
    const bool loaded = argc < 2 || std::strcmp(argv[1], "quiet") != 0;
    qvin::RealClock clock;
    qvin::DelayTimer timer(clock);
    const std::int64_t c0 = clock.NowNs();
    timer.CalibrateDelay();
    std::printf("calibration: %.3f s, DelayCount %d iterations per 10 us, pauses %s, spin margins",
                static_cast<double>(clock.NowNs() - c0) / 1e9, timer.DelayCount, timer.ClockPaced ? "on the clock" : "counted");
    for (const auto& m : timer.SpinMargins)
        std::printf(" %.0f us (from %.1f ms)", static_cast<double>(m.marginNs) / 1e3, static_cast<double>(m.fromNs) / 1e6);
    std::printf("\n\n");
    bool anyEarly = false;
    if (quiet) anyEarly |= Run(clock, timer, "quiet");
    if (loaded) {
        qvin::bench::Load load;
        char title[64];
        std::snprintf(title, sizeof title, "loaded (%zu busy threads)", load.size());
        anyEarly |= Run(clock, timer, title);
    }
    std::printf("%s\n", anyEarly ? "FAIL: a Delay ended early" : "no Delay ended early");
    return anyEarly ? 1 : 0;
}
