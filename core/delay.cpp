#include "core/delay.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "core/number_text.h"

namespace qvin {

namespace {
std::int32_t ClampCount(double v) {
    if (!(v >= 1.0)) return 1;
    if (v >= static_cast<double>(std::numeric_limits<std::int32_t>::max()))
        return std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(RoundHalfEven(v));
}
}  // namespace

void DelayTimer::Delay(float& t) {
    if (t == 0.0f) {
        clock_.Spin(1, 40);
        return;
    }
    if (t < 0.01f) t = 0.01f;
    if (!DelayCalibrated) CalibrateDelay();
    const std::int64_t start = clock_.NowNs();
    const std::int64_t deadline = start + static_cast<std::int64_t>(std::ceil(static_cast<double>(t) * 1e6));
    if (ClockPaced) {
        // On a machine whose processors are busy, a thread that spins for long, or wakes
        // from a long sleep, now and then waits a whole time slice of another thread
        // (milliseconds) before it runs again; one that wakes from a short sleep seldom
        // does. So: one sleep to kSteppedTailNs before the spin margin (a late wake from it
        // is made up there), sleeps of at most kSleepStepNs up to the margin, a short one up
        // to the shortest margin, then the spin.
        const std::int64_t margin = SpinMarginFor(deadline - start);
        if (deadline - margin - kSteppedTailNs - start > 0) clock_.SleepUntil(deadline - margin - kSteppedTailNs);
        for (std::int64_t now = clock_.NowNs(); deadline - margin - now > 0; now = clock_.NowNs())
            clock_.SleepUntil(std::min(now + kSleepStepNs, deadline - margin));
        const std::int64_t last = SpinMargins.front().marginNs;
        if (deadline - clock_.NowNs() > 2 * last) clock_.SleepUntil(deadline - last);
    } else {
        CountedDelay(t);
    }
    clock_.SpinUntil(deadline);
}

void DelayTimer::CountedDelay(float t) {
    const std::int64_t n = RoundHalfEven(static_cast<double>(t) * 100.0);
    // Split very long pauses so the pass count fits the clock's 32-bit argument.
    std::int64_t left = n;
    while (left > 0) {
        const std::int32_t chunk =
            static_cast<std::int32_t>(left > 1'000'000'000 ? 1'000'000'000 : left);
        clock_.Spin(chunk, DelayCount);
        left -= chunk;
    }
}

float DelayTimer::Measure(float t) {
    const std::int64_t t0 = clock_.NowNs();
    CountedDelay(t);
    const std::int64_t t1 = clock_.NowNs();
    return static_cast<float>(static_cast<double>(t1 - t0) / 1e9);
}

std::int64_t DelayTimer::SpinMarginFor(std::int64_t pauseNs) const {
    std::int64_t margin = SpinMargins.front().marginNs;
    for (const SpinMargin& m : SpinMargins)
        if (pauseNs >= m.fromNs) margin = m.marginNs;
    return margin;
}

std::int64_t DelayTimer::MeasureSpinMargin(const SpinMargin& m, int sleeps) {
    std::vector<std::int64_t> late;
    for (int i = 0; i < sleeps; ++i) {
        const std::int64_t deadline = clock_.NowNs() + m.sleepNs;
        clock_.SleepUntil(deadline);
        late.push_back(std::max<std::int64_t>(0, clock_.NowNs() - deadline));
    }
    std::sort(late.begin(), late.end());
    const std::int64_t typical = late[late.size() * static_cast<std::size_t>(m.percentile) / 100];
    const auto margin = static_cast<std::int64_t>(kMarginFactor * static_cast<double>(typical));
    return std::clamp(margin, m.minNs, kMaxMarginNs);
}

void DelayTimer::CalibrateDelay() {
    DelayCalibrated = true;
    DelayCount = 1000;
    if (OnCalibrating) OnCalibrating(true);
    if (ShortStart) DelayCount = 200;
    ClockPaced = clock_.ResolutionNs() <= kFinestPacingResolutionNs;

    // The trials and their thresholds: 500 ms and 3000 ms where the count paces every pause;
    // a hundredth of that where it is only the fallback.
    const float firstMs = ClockPaced ? 5.0f : 500.0f;
    const float finalMs = ClockPaced ? std::min(FinalTrialMs, 20.0f) : FinalTrialMs;
    const float scale = firstMs / 500.0f;
    float d = Measure(firstMs);
    if (d < 0.005f * scale) {
        DelayCount = ClampCount(static_cast<double>(DelayCount) * 40.0);
        d = Measure(firstMs);
    }
    if (d < 0.1f * scale) {
        DelayCount = ClampCount(static_cast<double>(DelayCount) * 6.0);
        d = Measure(firstMs);
    }
    if (d < 0.0005f * scale) d = 0.0005f * scale;
    DelayCount = ClampCount(firstMs / 1000.0 / static_cast<double>(d) * DelayCount);

    const float finalSeconds = finalMs / 1000.0f;
    d = Measure(finalMs);
    if (d < 0.1f * scale) d = 0.1f * scale;
    DelayCount = ClampCount(static_cast<double>(finalSeconds) / static_cast<double>(d) * DelayCount);

    if (ClockPaced) {
        // About 30 ms of sleeps for each length class.
        for (SpinMargin& m : SpinMargins)
            m.marginNs = MeasureSpinMargin(m, static_cast<int>(std::max<std::int64_t>(5, 30'000'000 / (m.sleepNs + 30'000))));
    }
    if (OnCalibrating) OnCalibrating(false);
}

}  // namespace qvin
