#pragma once
// The program's notion of time: a monotonic clock to wait on, and a counted busy loop for
// the shortest pauses and for clocks too coarse to wait on. Delays are built from both
// (see delay.h); the simulated chip reads the same clock, so under the virtual clock a
// whole scenario runs without real waiting.

#include <cstdint>

namespace qvin {

class Clock {
public:
    virtual ~Clock() = default;
    // Runs `outer` passes of an empty loop of `inner` iterations.
    virtual void Spin(std::int32_t outer, std::int32_t inner) = 0;
    // Monotonic time in nanoseconds since an arbitrary origin.
    virtual std::int64_t NowNs() const = 0;
    // Returns once NowNs() has reached the deadline, busy all the while.
    virtual void SpinUntil(std::int64_t deadlineNs) = 0;
    // Gives the processor away until about the deadline; may return a little early or, when
    // the scheduler is slow to wake the thread, late.
    virtual void SleepUntil(std::int64_t deadlineNs) = 0;
    // The smallest step NowNs() takes.
    virtual std::int64_t ResolutionNs() const = 0;
    // Lets `ns` pass while a simulated device works (an adapter request, a timeout):
    // the virtual clock moves on at once, the real one waits it out.
    virtual void Elapse(std::int64_t ns) = 0;
};

// Real time: a loop the optimiser cannot remove, measured with std::chrono::steady_clock.
class RealClock final : public Clock {
public:
    void Spin(std::int32_t outer, std::int32_t inner) override;
    std::int64_t NowNs() const override;
    void SpinUntil(std::int64_t deadlineNs) override;
    // Asks for no timer slack on the calling thread, so a sleep wakes as close to its
    // deadline as the scheduler allows; and, while it sleeps, for short scheduler slices
    // and, where the system allows it, kPriorityBoost nice levels more (clock.cpp says why).
    // Under BusyWaiting it spins instead.
    void SleepUntil(std::int64_t deadlineNs) override;
    static constexpr int kPriorityBoost = 5;
    std::int64_t ResolutionNs() const override;
    // Sleeps, as a thread does that waits for a device to answer, and spins the last
    // kElapseSpinNs so that the simulated device takes its time exactly; under BusyWaiting
    // it spins throughout, as the real adapter's driver then polls.
    void Elapse(std::int64_t ns) override;
    static constexpr std::int64_t kElapseSpinNs = 30'000;
};

// While one lives on a thread, that thread's waits on the real clock spin instead of
// sleeping: the pauses, and the time a simulated or a real adapter takes to answer. A
// capture holds one. The part makes a sample every 1.1 ms, and a thread that sleeps wakes
// late now and then (on a 2-core VM, more than 0.5 ms late in about 1 of 1,400 short
// sleeps and more than 2 ms late in 1 of 12,000), and every sample that goes by meanwhile
// is lost. The price is a processor kept busy for as long as it lives.
//
// Where the processors are all busy it is the other way round: a thread that spins uses up
// its share and is put aside for whole time slices, while one that sleeps is let in first
// when it wakes (with two other busy programs on two processors, a capture missed 30 % of
// the samples spinning and 9 % sleeping). So a spin that finds itself put aside
// (kPutAsideNs between two looks at the clock) kPutAsideLimit times within kWindowNs
// sleeps instead for kSleepForNs, then tries spinning again: 10.6 % missed there, and
// still none or a few in 20 s on an idle machine. (Half a millisecond and two times were
// too few: another thread of the program waking now and then set it off.)
class BusyWaiting {
public:
    // A fresh outermost scope spins again, whatever an earlier one saw.
    BusyWaiting() {
        if (depth_++ == 0) sleepUntilNs_ = 0, putAside_ = 0;
    }
    ~BusyWaiting() { --depth_; }
    BusyWaiting(const BusyWaiting&) = delete;
    BusyWaiting& operator=(const BusyWaiting&) = delete;
    // Whether the calling thread holds one.
    static bool Active() { return depth_ > 0; }
    // Whether the thread should spin now (Active, and not sleeping for a while after its
    // spins were put aside); `nowNs` is the clock's time.
    static bool SpinNow(std::int64_t nowNs) { return depth_ > 0 && nowNs >= sleepUntilNs_; }
    // A spin saw the clock jump by `gapNs` between two looks.
    static void Saw(std::int64_t nowNs, std::int64_t gapNs);
    // How often this thread's spins were put aside so often that it went to sleep instead.
    static int TimesGaveUp() { return gaveUp_; }

    static constexpr std::int64_t kPutAsideNs = 1'000'000;
    static constexpr int kPutAsideLimit = 3;
    static constexpr std::int64_t kWindowNs = 200'000'000;
    static constexpr std::int64_t kSleepForNs = 5'000'000'000;

private:
    static thread_local int depth_;
    static thread_local std::int64_t sleepUntilNs_, windowStartNs_;
    static thread_local int putAside_, gaveUp_;
};

// Simulated time: every loop iteration costs a fixed number of nanoseconds and time
// advances only through Spin, SpinUntil and Advance. Counts every iteration so tests
// can check exactly how long a delay spun.
class VirtualClock final : public Clock {
public:
    explicit VirtualClock(double nsPerIteration = 1.0) : nsPerIteration_(nsPerIteration) {}

    void Spin(std::int32_t outer, std::int32_t inner) override;
    std::int64_t NowNs() const override;
    void SpinUntil(std::int64_t deadlineNs) override;
    void SleepUntil(std::int64_t deadlineNs) override;
    std::int64_t ResolutionNs() const override { return resolutionNs_; }
    void Elapse(std::int64_t ns) override { Advance(ns); }

    void Advance(std::int64_t ns);
    // A coarser clock, as some systems have (tests of the counted-loop path).
    void SetResolutionNs(std::int64_t ns) { resolutionNs_ = ns; }
    // Simulated time spent asleep (as opposed to spinning), for tests of processor use.
    std::int64_t SleptNs() const { return sleptNs_; }
    void SetNsPerIteration(double ns) { nsPerIteration_ = ns; }
    std::int64_t Iterations() const { return iterations_; }
    void ResetIterations() { iterations_ = 0; }

private:
    double nsPerIteration_;
    double nowNs_ = 0.0;
    std::int64_t iterations_ = 0;
    std::int64_t resolutionNs_ = 1;
    std::int64_t sleptNs_ = 0;
};

}  // namespace qvin
