#include "core/clock.h"

#include <chrono>
#include <ctime>
#include <sys/prctl.h>
#include <thread>

namespace qvin {

void RealClock::Spin(std::int32_t outer, std::int32_t inner) {
    for (std::int32_t i = 0; i < outer; ++i) {
        for (std::int32_t j = 0; j < inner; ++j) {
            // The empty asm claims to read and change j, so the loop must really run.
            asm volatile("" : "+r"(j));
        }
    }
}

std::int64_t RealClock::NowNs() const {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void RealClock::SpinUntil(std::int64_t deadlineNs) {
    while (NowNs() < deadlineNs) {
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#endif
    }
}

void RealClock::SleepUntil(std::int64_t deadlineNs) {
    // The default slack lets the kernel wake a sleeper up to 50 us late to batch timers.
    thread_local const bool noSlack = prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL) == 0;
    (void)noSlack;
    std::this_thread::sleep_until(std::chrono::steady_clock::time_point(std::chrono::nanoseconds(deadlineNs)));
}

std::int64_t RealClock::ResolutionNs() const {
    timespec res{};
    if (clock_getres(CLOCK_MONOTONIC, &res) != 0) return 1'000'000;
    return static_cast<std::int64_t>(res.tv_sec) * 1'000'000'000 + res.tv_nsec;
}

void RealClock::Elapse(std::int64_t ns) {
    const std::int64_t deadline = NowNs() + ns;
    if (ns > kElapseSpinNs) SleepUntil(deadline - kElapseSpinNs);
    SpinUntil(deadline);
}

void VirtualClock::Spin(std::int32_t outer, std::int32_t inner) {
    if (outer <= 0 || inner <= 0) return;
    const std::int64_t n = static_cast<std::int64_t>(outer) * inner;
    iterations_ += n;
    nowNs_ += static_cast<double>(n) * nsPerIteration_;
}

std::int64_t VirtualClock::NowNs() const { return static_cast<std::int64_t>(nowNs_); }

void VirtualClock::SpinUntil(std::int64_t deadlineNs) {
    if (static_cast<double>(deadlineNs) > nowNs_) nowNs_ = static_cast<double>(deadlineNs);
}

void VirtualClock::SleepUntil(std::int64_t deadlineNs) {
    if (static_cast<double>(deadlineNs) > nowNs_) {
        sleptNs_ += deadlineNs - static_cast<std::int64_t>(nowNs_);
        nowNs_ = static_cast<double>(deadlineNs);
    }
}

void VirtualClock::Advance(std::int64_t ns) {
    if (ns > 0) nowNs_ += static_cast<double>(ns);
}

}  // namespace qvin
