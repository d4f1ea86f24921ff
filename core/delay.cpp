#include "core/delay.h"

#include <cmath>
#include <cstdint>
#include <limits>

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
    CountedDelay(t);
    clock_.SpinUntil(start + static_cast<std::int64_t>(std::ceil(static_cast<double>(t) * 1e6)));
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

void DelayTimer::CalibrateDelay() {
    DelayCalibrated = true;
    DelayCount = 1000;
    if (OnCalibrating) OnCalibrating(true);
    if (ShortStart) DelayCount = 200;

    float d = Measure(500.0f);
    if (d < 0.005f) {
        DelayCount = ClampCount(static_cast<double>(DelayCount) * 40.0);
        d = Measure(500.0f);
    }
    if (d < 0.1f) {
        DelayCount = ClampCount(static_cast<double>(DelayCount) * 6.0);
        d = Measure(500.0f);
    }
    if (d < 0.0005f) d = 0.0005f;
    DelayCount = ClampCount(0.5 / static_cast<double>(d) * DelayCount);

    const float finalSeconds = FinalTrialMs / 1000.0f;
    d = Measure(FinalTrialMs);
    if (d < 0.1f) d = 0.1f;
    DelayCount = ClampCount(static_cast<double>(finalSeconds) / static_cast<double>(d) * DelayCount);

    if (OnCalibrating) OnCalibrating(false);
}

}  // namespace qvin
