#include "core/clock.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <cstdio>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace qvin {

namespace {

struct SchedAttr {
    std::uint32_t size;
    std::uint32_t policy;
    std::uint64_t flags;
    std::int32_t nice;
    std::uint32_t priority;
    std::uint64_t runtime, deadline, period;
};

// While it sleeps on the clock, a thread asks the scheduler for short time slices (0.1 ms,
// allowed without privileges): with the EEVDF scheduler (Linux 6.6 on) a task with a short
// slice has an early deadline, so when it wakes on a processor a busy thread holds, it is
// let in at once instead of after that thread's slice (milliseconds). Older kernels refuse
// or ignore it; nothing else changes.
//
// Where the system allows it (root, or a RLIMIT_NICE of 25 or more, as audio programs are
// often given), it also asks for up to kPriorityBoost nice levels more. A thread that has
// just worked (a paint) has had more than its fair share, and EEVDF does not let it
// displace a busy thread on waking until the next tick (4 ms at 250 Hz); with a few levels
// more its fair share covers its work, and its pauses keep their time on a busy machine.
// Where it is not allowed, the thread keeps its level.
//
// Both are taken back when the sleep ends: the thread may be the caller's own (a Python
// program's), which must not go on at another level than it chose.
class ShortSlicesWhileAsleep {
public:
    ShortSlicesWhileAsleep() {
#ifdef SYS_sched_setattr
        thread_local int allowedBoost = RealClock::kPriorityBoost;  // lowered once refused
        if (allowedBoost < 0 || syscall(SYS_sched_getattr, 0, &before_, sizeof before_, 0U) != 0 || before_.policy != 0) return;
        SchedAttr attr = before_;
        attr.size = sizeof attr;  // SCHED_ATTR_SIZE_VER0
        attr.flags = 0;
        attr.runtime = 100'000;   // the slice asked for, in nanoseconds
        for (int boost = allowedBoost; boost >= 0; --boost) {
            attr.nice = std::max(before_.nice - boost, -20);
            if (syscall(SYS_sched_setattr, 0, &attr, 0U) == 0) {
                allowedBoost = boost;
                changed_ = true;
                return;
            }
            if (errno != EPERM) break;
        }
        allowedBoost = -1;  // this kernel takes neither
#endif
    }
    ~ShortSlicesWhileAsleep() {
#ifdef SYS_sched_setattr
        if (changed_) {
            before_.size = sizeof before_;
            before_.flags = 0;
            syscall(SYS_sched_setattr, 0, &before_, 0U);
        }
#endif
    }
    ShortSlicesWhileAsleep(const ShortSlicesWhileAsleep&) = delete;
    ShortSlicesWhileAsleep& operator=(const ShortSlicesWhileAsleep&) = delete;

private:
    SchedAttr before_{};
    bool changed_ = false;
};

}  // namespace

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

thread_local int BusyWaiting::depth_ = 0;
thread_local std::int64_t BusyWaiting::sleepUntilNs_ = 0;
thread_local std::int64_t BusyWaiting::windowStartNs_ = 0;
thread_local int BusyWaiting::putAside_ = 0;
thread_local int BusyWaiting::gaveUp_ = 0;

void BusyWaiting::Saw(std::int64_t nowNs, std::int64_t gapNs) {
    if (gapNs < kPutAsideNs) return;
    if (nowNs - windowStartNs_ > kWindowNs) {
        windowStartNs_ = nowNs;
        putAside_ = 0;
    }
    if (++putAside_ >= kPutAsideLimit) {
        sleepUntilNs_ = nowNs + kSleepForNs;
        putAside_ = 0;
        ++gaveUp_;
    }
}

void RealClock::SleepUntil(std::int64_t deadlineNs) {
    if (BusyWaiting::SpinNow(NowNs())) {
        // Spins, watching for being put aside.
        for (std::int64_t last = NowNs(), now = last; now < deadlineNs; last = now) {
#if defined(__x86_64__) || defined(__i386__)
            __builtin_ia32_pause();
#endif
            now = NowNs();
            BusyWaiting::Saw(now, now - last);
        }
        return;
    }
    // The default slack lets the kernel wake a sleeper up to 50 us late to batch timers.
    thread_local const bool noSlack = prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL) == 0;
    (void)noSlack;
    const ShortSlicesWhileAsleep slices;
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
