#include "core/clock.h"

#include <chrono>
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

void RealClock::Elapse(std::int64_t ns) {
    const std::int64_t deadline = NowNs() + ns;
    constexpr std::int64_t kSpinLastNs = 1'000'000;
    if (ns > 2 * kSpinLastNs) std::this_thread::sleep_for(std::chrono::nanoseconds(ns - kSpinLastNs));
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

void VirtualClock::Advance(std::int64_t ns) {
    if (ns > 0) nowNs_ += static_cast<double>(ns);
}

}  // namespace qvin
