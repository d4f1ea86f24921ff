#include "sim/noise.h"

#include <cmath>
#include <numbers>
#include <vector>

#include "core/excerpt.h"
#include "core/number_text.h"

namespace qvin::sim {

namespace {

std::uint64_t Mix(std::uint64_t x) {  // splitmix64's finaliser
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

double Unit(std::uint64_t x) { return (static_cast<double>(x >> 11) + 0.5) / 9007199254740992.0; }  // (0, 1)

// A decimal number, digits with an optional fraction, no sign.
std::optional<double> Amount(const std::string& text) {
    const NumberScan s = ScanLeadingNumber(text);
    if (text.empty() || s.length != text.size() || text.find_first_not_of("0123456789.") != std::string::npos) return std::nullopt;
    if (!(s.value >= 0 && s.value <= 1000)) return std::nullopt;
    return s.value;
}

}  // namespace

std::optional<std::string> ParseNoise(const std::string& text, NoiseOptions& out) {
    NoiseOptions n = DefaultNoise();
    if (text.size() > 256) return "QVIN_SIM_NOISE is longer than 256 characters";
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t comma = text.find(',', start);
        const std::string item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        start = comma == std::string::npos ? text.size() + 1 : comma + 1;
        const std::string shown = Quoted(item, 40);
        if (item == "off") {
            n.on = false;
            continue;
        }
        const std::size_t eq = item.find('=');
        const std::string key = item.substr(0, eq), value = eq == std::string::npos ? "" : item.substr(eq + 1);
        if (eq == std::string::npos)
            return "noise setting " + shown + " needs a value (off, white=DEG, walk=DEG, drift=DEG or seed=N)";
        if (key == "seed") {
            const auto v = Amount(value);
            if (!v || *v < 1 || *v != std::floor(*v)) return "noise setting " + shown + ": the seed is a whole number from 1 to 1000";
            n.seed = static_cast<std::uint64_t>(*v);
            continue;
        }
        const auto v = Amount(value);
        if (!v) return "noise setting " + shown + ": the amount is a number of degrees from 0 to 1000";
        if (key == "white") n.whiteDeg = *v;
        else if (key == "walk") n.walkDegPerRootS = *v;
        else if (key == "drift") n.driftDegPerC = *v;
        else return "noise setting " + shown + ": unknown setting (off, white, walk, drift or seed)";
    }
    out = n;
    return std::nullopt;
}

double NoiseModel::Normal(std::uint64_t a, std::uint64_t b) const {
    // Box-Muller on two uniforms drawn from the seed, the stream and the position.
    const std::uint64_t h = Mix(Mix(o_.seed * 0x100000001B3ull ^ a) ^ b);
    const double u1 = Unit(h), u2 = Unit(Mix(h));
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * std::numbers::pi * u2);
}

double NoiseModel::White(std::int64_t sample) const { return o_.whiteDeg * Normal(1, static_cast<std::uint64_t>(sample)); }

double NoiseModel::CachedWhite(std::int64_t sample) {
    auto& slot = raw_[static_cast<std::uint64_t>(sample) % kRawCached];
    if (slot.first != sample) slot = {sample, White(sample)};
    return slot.second;
}

double NoiseModel::AveragedWhite(std::int64_t sample, int count) {
    if (count < 1) count = 1;
    double sum = 0;
    for (int i = 0; i < count; ++i) sum += CachedWhite(sample - i);
    return sum / count;
}

double NoiseModel::Knot(std::int64_t k) {
    if (k <= 0) return 0.0;
    // Forward from the latest knot kept (or from the start when asked further back).
    std::int64_t at = 0;
    double value = 0;
    for (auto it = walk_.rbegin(); it != walk_.rend(); ++it)
        if (it->first <= k) {
            at = it->first;
            value = it->second;
            break;
        }
    while (at < k) {
        ++at;
        value += o_.walkDegPerRootS * Normal(2, static_cast<std::uint64_t>(at));
        if (walk_.empty() || at > walk_.back().first) {
            walk_.emplace_back(at, value);
            if (walk_.size() > 8) walk_.pop_front();
        }
    }
    return value;
}

double NoiseModel::Walk(double seconds) {
    if (!(seconds > 0) || o_.walkDegPerRootS == 0) return 0.0;
    const auto k = static_cast<std::int64_t>(std::floor(seconds));
    const double a = Knot(k), b = Knot(k + 1), f = seconds - static_cast<double>(k);
    return a + (b - a) * f;
}

double NoiseModel::InclinationError(std::int64_t sample, int averaged, double seconds, double celsius) {
    if (!o_.on) return 0.0;
    return AveragedWhite(sample, averaged) + Walk(seconds) + o_.driftDegPerC * (celsius - 25.0);
}

}  // namespace qvin::sim
