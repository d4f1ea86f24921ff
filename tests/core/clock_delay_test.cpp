#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <chrono>
#include <thread>

#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "core/clock.h"
#include "core/delay.h"

namespace qvin {
namespace {

// A loop cost of 1 ns per iteration makes 10 us exactly 10000 iterations.
struct CalibratedTimer : ::testing::Test {
    void SetUp() override {
        timer.CalibrateDelay();
        clock.ResetIterations();
    }
    VirtualClock clock{1.0};
    DelayTimer timer{clock};
};

TEST_F(CalibratedTimer, CalibrationFindsIterationsPerTenMicroseconds) {
    EXPECT_TRUE(timer.DelayCalibrated);
    EXPECT_EQ(timer.DelayCount, 10000);
}

TEST_F(CalibratedTimer, ZeroIsFortyIterationsAndNeverCalibrates) {
    VirtualClock fresh;
    DelayTimer t(fresh);
    t.Delay(0.0f);
    EXPECT_EQ(fresh.Iterations(), 40);
    EXPECT_FALSE(t.DelayCalibrated);
}

TEST_F(CalibratedTimer, TinyAndNegativePausesAreRaisedInTheCallersVariable) {
    for (float t : {0.004f, -3.0f}) {
        float v = t;
        const std::int64_t start = clock.NowNs();
        timer.Delay(v);
        EXPECT_FLOAT_EQ(v, 0.01f);
        EXPECT_EQ(clock.NowNs() - start, 10'000) << "one 10 us unit for " << t;
    }
}

TEST_F(CalibratedTimer, PauseEndsAtItsDeadlineSleepingAllButTheMargin) {
    EXPECT_TRUE(timer.ClockPaced);
    for (float ms : {0.01f, 0.1f, 1.0f, 10.0f, 100.0f}) {
        const std::int64_t start = clock.NowNs(), slept = clock.SleptNs();
        const auto length = static_cast<std::int64_t>(std::ceil(static_cast<double>(ms) * 1e6));
        timer.Delay(ms);
        EXPECT_EQ(clock.NowNs() - start, length) << ms << " ms";
        // Sleeping for all but the spin margin, and of that all but the shortest margin when
        // it is more than twice as long; a pause shorter than the shortest margin only spins.
        const std::int64_t margin = std::min(length, timer.SpinMarginFor(length));
        const std::int64_t shortest = timer.SpinMargins.front().marginNs;
        const std::int64_t spun = margin > 2 * shortest ? shortest : margin;
        EXPECT_EQ(clock.SleptNs() - slept, length - spun) << ms << " ms";
    }
    EXPECT_EQ(clock.Iterations(), 0);  // no counted loop at all
}

// A busy machine as the pauses meet it: a long sleep now and then wakes a time slice late
// (here always, 3 ms), a short one on time. The long sleep stops short of the spin margin
// by the stepped tail, which takes up the late wake: the pause still ends on its deadline.
class LateFromLongSleeps final : public Clock {
public:
    void Spin(std::int32_t outer, std::int32_t inner) override { clock_.Spin(outer, inner); }
    std::int64_t NowNs() const override { return clock_.NowNs(); }
    void SpinUntil(std::int64_t deadlineNs) override { clock_.SpinUntil(deadlineNs); }
    void SleepUntil(std::int64_t deadlineNs) override {
        const bool longSleep = deadlineNs - clock_.NowNs() > DelayTimer::kSleepStepNs;
        clock_.SleepUntil(deadlineNs);
        if (late && longSleep) clock_.Advance(3'000'000);
    }
    std::int64_t ResolutionNs() const override { return clock_.ResolutionNs(); }
    void Elapse(std::int64_t ns) override { clock_.Elapse(ns); }
    bool late = false;

private:
    VirtualClock clock_{1.0};
};

TEST(DelayPacing, ALongSleepThatWakesLateIsMadeUpBeforeTheDeadline) {
    LateFromLongSleeps clock;
    DelayTimer timer(clock);
    timer.CalibrateDelay();
    clock.late = true;
    for (float ms : {10.0f, 25.0f, 100.0f, 1000.0f}) {
        const std::int64_t start = clock.NowNs();
        timer.Delay(ms);
        EXPECT_EQ(clock.NowNs() - start, static_cast<std::int64_t>(ms * 1e6)) << ms << " ms";
    }
}

// A clock too coarse to wait on: the counted loop paces the pauses, topped up on the clock.
struct CoarseClockTimer : ::testing::Test {
    void SetUp() override {
        clock.SetResolutionNs(10'000'000);
        timer.CalibrateDelay();
        clock.ResetIterations();
    }
    VirtualClock clock{1.0};
    DelayTimer timer{clock};
};

TEST_F(CoarseClockTimer, PauseRunsTheFullCountOfUnits) {
    EXPECT_FALSE(timer.ClockPaced);
    EXPECT_EQ(timer.DelayCount, 10000);
    timer.Delay(0.1f);
    EXPECT_EQ(clock.Iterations(), 10LL * timer.DelayCount);
    clock.ResetIterations();
    timer.Delay(0.125f);  // 12.5 units round to the even 12
    EXPECT_EQ(clock.Iterations(), 12LL * timer.DelayCount);
    EXPECT_EQ(clock.SleptNs(), 0);
}

TEST_F(CoarseClockTimer, NeverEndsEarlyWhenTheLoopSpeedsUp) {
    clock.SetNsPerIteration(0.5);
    for (float ms : {0.01f, 0.1f, 1.0f, 250.0f}) {
        const std::int64_t start = clock.NowNs();
        timer.Delay(ms);
        EXPECT_GE(clock.NowNs() - start, static_cast<std::int64_t>(ms * 1e6)) << ms << " ms";
    }
}

TEST(DelayCalibration, ClockPacedCalibrationIsShortAndMeasuresTheMargin) {
    VirtualClock clock(1.0);
    DelayTimer timer(clock);
    timer.CalibrateDelay();
    EXPECT_TRUE(timer.ClockPaced);
    EXPECT_EQ(timer.DelayCount, 10000);
    // Trials of 5 and 20 ms and about 30 ms of sleeps of each kind, not 3.5 seconds.
    EXPECT_LT(clock.NowNs(), 200'000'000);
    // The virtual clock wakes exactly on time: the smallest margins.
    for (const auto& m : timer.SpinMargins) EXPECT_EQ(m.marginNs, m.minNs);
    // Each pause length takes the margin of its class.
    timer.SpinMargins = {{{0, 100'000, 50, 1, 10}, {300'000, 1'000'000, 50, 1, 20}, {3'000'000, 10'000'000, 90, 1, 30}}};
    EXPECT_EQ(timer.SpinMarginFor(10'000), 10);
    EXPECT_EQ(timer.SpinMarginFor(299'999), 10);
    EXPECT_EQ(timer.SpinMarginFor(300'000), 20);
    EXPECT_EQ(timer.SpinMarginFor(100'000'000), 30);
}

TEST_F(CalibratedTimer, NeverEndsEarlyWhenTheLoopSpeedsUp) {
    clock.SetNsPerIteration(0.5);  // the same loop now runs twice as fast
    for (float ms : {0.01f, 0.1f, 1.0f, 10.0f, 250.0f}) {
        const std::int64_t start = clock.NowNs();
        timer.Delay(ms);
        EXPECT_GE(clock.NowNs() - start, static_cast<std::int64_t>(ms * 1e6)) << ms << " ms";
    }
}

TEST(DelayCalibration, FastMachineScalesByFortyThenSix) {
    // 0.01 ns per iteration: the first 500 ms trial takes 0.5 ms, the second (x40) 20 ms,
    // both too short, so the count is multiplied by 40 and by 6 before the final scaling.
    // (The full-length trials: the clock is too coarse to pace the pauses.)
    VirtualClock clock(0.01);
    clock.SetResolutionNs(10'000'000);
    DelayTimer timer(clock);
    timer.CalibrateDelay();
    // Trials: 5e7 + 2e9 + 1.2e10 iterations, then the final 3 s trial.
    EXPECT_EQ(timer.DelayCount, 1'000'000);
    EXPECT_EQ(clock.Iterations(), 50'000'000LL + 2'000'000'000LL + 12'000'000'000LL + 300'000LL * 1'000'000);
}

TEST(DelayCalibration, SlowMachineKeepsScalingOnceAndReportsBusy) {
    VirtualClock clock(100.0);  // 100 ns per iteration: 100 iterations make 10 us
    clock.SetResolutionNs(10'000'000);
    DelayTimer timer(clock);
    std::vector<bool> busy;
    timer.OnCalibrating = [&](bool b) { busy.push_back(b); };
    timer.ShortStart = true;
    timer.CalibrateDelay();
    EXPECT_EQ(timer.DelayCount, 100);
    EXPECT_EQ(busy, (std::vector<bool>{true, false}));
}

// The pause that calibrates still lasts its whole length once the calibration is over,
// and so does every pause after it.
TEST(DelayCalibration, DelayCalibratesOnFirstUseThenPausesInFull) {
    VirtualClock clock;
    DelayTimer timer(clock);
    std::int64_t calibratedAt = -1;
    timer.OnCalibrating = [&](bool busy) {
        if (!busy) calibratedAt = clock.NowNs();
    };
    timer.Delay(1.0f);
    EXPECT_TRUE(timer.DelayCalibrated);
    EXPECT_EQ(timer.DelayCount, 10000);
    ASSERT_GE(calibratedAt, 0);
    EXPECT_GE(clock.NowNs() - calibratedAt, 1'000'000);
    for (float ms : {0.01f, 0.1f, 5.0f}) {
        const std::int64_t start = clock.NowNs();
        timer.Delay(ms);
        EXPECT_GE(clock.NowNs() - start, static_cast<std::int64_t>(std::ceil(ms * 1e6))) << ms << " ms";
    }
}

TEST(RealClock, PauseLastsAtLeastItsLength) {
    RealClock clock;
    DelayTimer timer(clock);
    timer.FinalTrialMs = 20.0f;
    timer.CalibrateDelay();
    const std::int64_t start = clock.NowNs();
    timer.Delay(2.0f);
    EXPECT_GE(clock.NowNs() - start, 2'000'000);
    // The same for the pause that calibrates on first use.
    DelayTimer fresh(clock);
    fresh.FinalTrialMs = 20.0f;
    std::int64_t calibratedAt = -1;
    fresh.OnCalibrating = [&](bool busy) {
        if (!busy) calibratedAt = clock.NowNs();
    };
    fresh.Delay(2.0f);
    EXPECT_GE(clock.NowNs() - calibratedAt, 2'000'000);
}

// What the thread that waits on the clock asked the scheduler for: its nice level and its
// slice (sched_getattr's runtime; 0 where the kernel keeps no slice of its own).
struct Asked {
    int nice = 0;
    std::uint64_t sliceNs = 0;
};

// Of the thread `tid` (0: this one).
Asked AskedOf(pid_t tid) {
    struct {
        std::uint32_t size, policy;
        std::uint64_t flags;
        std::int32_t nice;
        std::uint32_t priority;
        std::uint64_t runtime, deadline, period;
    } attr{};
    Asked a;
    if (syscall(SYS_sched_getattr, tid, &attr, sizeof attr, 0U) == 0) {
        a.nice = attr.nice;
        a.sliceNs = attr.runtime;
    }
    return a;
}

// Whether this thread may lower its nice level by `levels` (tried on a level it then leaves).
bool MayRaisePriority(int levels) {
    const int nice = getpriority(PRIO_PROCESS, 0);
    if (nice - levels < -20 || setpriority(PRIO_PROCESS, 0, nice - levels) != 0) return false;
    return setpriority(PRIO_PROCESS, 0, nice) == 0;
}

// Runs `body` on a thread of its own: nice levels and capabilities belong to a thread.
template <typename F>
void OnOwnThread(F body) {
    std::thread(body).join();
}

// What this thread asked for while it slept 150 ms on the real clock (seen by another
// thread 50 ms in), and after.
std::pair<Asked, Asked> AskedWhileAsleep() {
    const pid_t tid = static_cast<pid_t>(syscall(SYS_gettid));
    Asked during;
    std::thread watcher([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        during = AskedOf(tid);
    });
    RealClock clock;
    clock.SleepUntil(clock.NowNs() + 150'000'000);
    watcher.join();
    return {during, AskedOf(0)};
}

// The thread that waits asks for short slices, and for a few nice levels more only where
// the system allows it; where it does not, it keeps its level and still gets its slices.
// Either is taken back when the wait ends: the thread may be a Python program's own.
TEST(RealClock, TheWaitingThreadIsRaisedOnlyWhileItWaitsAndOnlyWhereAllowed) {
    OnOwnThread([] {
        const Asked idle = AskedOf(0);
        const bool allowed = MayRaisePriority(RealClock::kPriorityBoost);
        const auto [during, after] = AskedWhileAsleep();
        EXPECT_EQ(during.nice, allowed ? idle.nice - RealClock::kPriorityBoost : idle.nice);
        if (during.sliceNs != idle.sliceNs) {
            EXPECT_EQ(during.sliceNs, 100'000u);
        }
        EXPECT_EQ(after.nice, idle.nice);
        EXPECT_EQ(after.sliceNs, idle.sliceNs);
    });
    // Without the right to raise its priority (what root has, dropped here), as an ordinary
    // user is: the level stays, the slices are still asked for.
    OnOwnThread([] {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct caps[2]{};
        ASSERT_EQ(syscall(SYS_capget, &header, caps), 0);
        caps[CAP_SYS_NICE / 32].effective &= ~(1u << (CAP_SYS_NICE % 32));
        ASSERT_EQ(syscall(SYS_capset, &header, caps), 0);
        rlimit limit{};
        getrlimit(RLIMIT_NICE, &limit);
        const Asked idle = AskedOf(0);
        if (limit.rlim_cur != RLIM_INFINITY && 20 - static_cast<int>(limit.rlim_cur) > idle.nice - 1) {
            const auto [during, after] = AskedWhileAsleep();
            EXPECT_EQ(during.nice, idle.nice);
            EXPECT_EQ(after.nice, idle.nice);
            EXPECT_EQ(after.sliceNs, idle.sliceNs);
        }
    });
}


// The times this thread gave its processor away of its own accord (blocked or slept).
long VoluntarySwitches() {
    rusage u{};
    getrusage(RUSAGE_THREAD, &u);
    return u.ru_nvcsw;
}

// Under BusyWaiting a thread's waits on the real clock keep the processor (a capture
// cannot afford a late wake-up): the pauses, the simulated adapter's time and the plain
// sleeps alike, each still to its deadline. Only that thread: another sleeps as before,
// and so does this one once the last scope ends.
TEST(RealClock, BusyWaitingKeepsTheProcessorThroughEveryWaitOfItsThreadAlone) {
    OnOwnThread([] {
        RealClock clock;
        DelayTimer timer(clock);
        timer.FinalTrialMs = 20.0f;
        timer.CalibrateDelay();
        // Counts the waits made while the thread meant to spin (and did not give up on
        // it: a machine busy with other work may put it aside until it sleeps instead, the
        // next test) and the switches those waits made, apart from all switches.
        struct Waits {
            long switches = 0, spinning = 0, spinningSwitches = 0;
        };
        auto waits = [&] {
            Waits w;
            auto wait = [&](std::int64_t ns, auto&& how) {
                const bool spin = BusyWaiting::SpinNow(clock.NowNs());
                const int gaveUp = BusyWaiting::TimesGaveUp();
                const long before = VoluntarySwitches();
                const std::int64_t start = clock.NowNs();
                how();
                EXPECT_GE(clock.NowNs() - start, ns);
                const long made = VoluntarySwitches() - before;
                w.switches += made;
                if (spin && BusyWaiting::TimesGaveUp() == gaveUp) ++w.spinning, w.spinningSwitches += made;
            };
            for (int i = 0; i < 50; ++i) {
                wait(200'000, [&] { clock.SleepUntil(clock.NowNs() + 200'000); });
                wait(300'000, [&] { clock.Elapse(300'000); });
                wait(500'000, [&] { timer.Delay(0.5f); });
            }
            return w;
        };
        const Waits before = waits();
        EXPECT_GE(before.switches, 100);
        EXPECT_EQ(before.spinning, 0);
        Waits held;
        for (int attempt = 0; attempt < 10 && held.spinning < 100; ++attempt) {
            long elsewhere = 0;
            const BusyWaiting outer;
            {
                const BusyWaiting inner;
                EXPECT_TRUE(BusyWaiting::Active());
            }
            EXPECT_TRUE(BusyWaiting::Active());
            std::thread other([&] {
                const long start = VoluntarySwitches();
                for (int i = 0; i < 50; ++i) clock.SleepUntil(clock.NowNs() + 200'000);
                elsewhere = VoluntarySwitches() - start;
            });
            const Waits w = waits();
            other.join();
            EXPECT_GE(elsewhere, 40);
            held.spinning += w.spinning;
            held.spinningSwitches += w.spinningSwitches;
        }
        ASSERT_GE(held.spinning, 100) << "every try was put aside: the machine is too busy to tell";
        // A few switches come from elsewhere (a page fault, the scheduler's own); a sleeping
        // thread makes at least one a wait.
        EXPECT_LE(held.spinningSwitches, 10);
        EXPECT_FALSE(BusyWaiting::Active());
        const Waits after = waits();
        EXPECT_GE(after.switches, 100);
        EXPECT_EQ(after.spinning, 0);
    });
}

// Three gaps of a millisecond within 0.2 s mean the spinner is being put aside: it sleeps
// for a while instead; two, or gaps spread wider, or shorter ones, are not enough. A new
// outermost scope (the next capture) spins again.
TEST(BusyWaiting, GivesUpAfterThreeLongGapsInAWindowAndAFreshScopeSpinsAgain) {
    OnOwnThread([] {
        constexpr std::int64_t ms = 1'000'000;
        std::int64_t t = 1'000'000 * ms;
        const int gaveUp = BusyWaiting::TimesGaveUp();
        {
            const BusyWaiting hold;
            BusyWaiting::Saw(t, ms);
            BusyWaiting::Saw(t += 10 * ms, ms);
            BusyWaiting::Saw(t += 10 * ms, ms - 1);
            for (int i = 0; i < 100; ++i) BusyWaiting::Saw(t += 1, 999'999);
            EXPECT_TRUE(BusyWaiting::SpinNow(t));
            BusyWaiting::Saw(t += 300 * ms, ms);  // the window started over
            BusyWaiting::Saw(t += 10 * ms, ms);
            EXPECT_TRUE(BusyWaiting::SpinNow(t));
            EXPECT_EQ(BusyWaiting::TimesGaveUp(), gaveUp);
            BusyWaiting::Saw(t += 10 * ms, 5 * ms);
            EXPECT_EQ(BusyWaiting::TimesGaveUp(), gaveUp + 1);
            EXPECT_FALSE(BusyWaiting::SpinNow(t));
            EXPECT_FALSE(BusyWaiting::SpinNow(t + 4'999 * ms));
            EXPECT_TRUE(BusyWaiting::SpinNow(t + 5'000 * ms));
            {
                const BusyWaiting inner;  // not a fresh start
                EXPECT_FALSE(BusyWaiting::SpinNow(t));
            }
            BusyWaiting::Saw(t += ms, ms);
            BusyWaiting::Saw(t += ms, ms);
        }
        EXPECT_FALSE(BusyWaiting::SpinNow(t + 5'000 * ms));  // none held
        const BusyWaiting again;
        EXPECT_TRUE(BusyWaiting::SpinNow(t));
        BusyWaiting::Saw(t += ms, ms);
        EXPECT_TRUE(BusyWaiting::SpinNow(t));  // the earlier scope's gaps were forgotten
        EXPECT_EQ(BusyWaiting::TimesGaveUp(), gaveUp + 1);
    });
}

// Where every processor is busy a spinning thread is put aside for whole slices: the
// waits under BusyWaiting see it and sleep instead (giving the processor away of their own
// accord), as a thread does that the scheduler lets in first when it wakes.
TEST(RealClock, BusyWaitingSleepsWhereEveryProcessorIsBusy) {
    OnOwnThread([] {
        std::atomic<bool> stop{false};
        std::vector<std::thread> busy;
        for (unsigned i = 0; i < std::max(1u, std::thread::hardware_concurrency()); ++i)
            busy.emplace_back([&stop] {
                while (!stop.load(std::memory_order_relaxed)) {
                }
            });
        RealClock clock;
        const BusyWaiting hold;
        const long before = VoluntarySwitches();
        const std::int64_t until = clock.NowNs() + 1'500'000'000;
        while (clock.NowNs() < until && VoluntarySwitches() - before < 50) clock.SleepUntil(clock.NowNs() + 200'000);
        const long switches = VoluntarySwitches() - before;
        const int gaveUp = BusyWaiting::TimesGaveUp();
        stop = true;
        for (std::thread& t : busy) t.join();
        EXPECT_GE(switches, 50);
        EXPECT_GE(gaveUp, 1);
    });
}

}  // namespace
}  // namespace qvin
