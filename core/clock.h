#pragma once
// The program's notion of time: a counted busy loop plus a monotonic clock.
// Delays are built from both (see delay.h); the simulated chip reads the same clock,
// so under the virtual clock a whole scenario runs without real waiting.

#include <cstdint>

namespace qvin {

class Clock {
public:
    virtual ~Clock() = default;
    // Runs `outer` passes of an empty loop of `inner` iterations.
    virtual void Spin(std::int32_t outer, std::int32_t inner) = 0;
    // Monotonic time in nanoseconds since an arbitrary origin.
    virtual std::int64_t NowNs() const = 0;
    // Returns once NowNs() has reached the deadline.
    virtual void SpinUntil(std::int64_t deadlineNs) = 0;
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
    // Sleeps through all but the last millisecond of a long wait, then spins.
    void Elapse(std::int64_t ns) override;
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
    void Elapse(std::int64_t ns) override { Advance(ns); }

    void Advance(std::int64_t ns);
    void SetNsPerIteration(double ns) { nsPerIteration_ = ns; }
    std::int64_t Iterations() const { return iterations_; }
    void ResetIterations() { iterations_ = 0; }

private:
    double nsPerIteration_;
    double nowNs_ = 0.0;
    std::int64_t iterations_ = 0;
};

}  // namespace qvin
