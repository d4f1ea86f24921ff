#include "analysis/sample_count.h"

#include <algorithm>
#include <cmath>

namespace qvin::analysis {

SampleCount::SampleCount(double periodSeconds) : period_(periodSeconds), phases_{{0.0, periodSeconds}} {}

namespace {

// (from, to] folded into [0, period): one arc, or two where it wraps.
std::vector<std::pair<double, double>> Fold(double from, double to, double period) {
    if (to - from >= period) return {{0.0, period}};
    const double a = from - std::floor(from / period) * period;
    const double b = a + (to - from);
    if (b <= period) return {{a, b}};
    return {{a, period}, {0.0, b - period}};
}

}  // namespace

void SampleCount::Keep(const Arcs& allowed) {
    Arcs next;
    for (const auto& [a, b] : phases_)
        for (const auto& [c, d] : allowed)
            if (std::max(a, c) < std::min(b, d)) next.emplace_back(std::max(a, c), std::min(b, d));
    if (next.empty()) {
        next = allowed;  // drifted: start again from what this read says
        if (next.empty()) next = {{0.0, period_}};
    }
    phases_ = std::move(next);
}

void SampleCount::Allow(double from, double to) { Keep(Fold(from, to, period_)); }

// The middle of the widest stretch still possible.
double SampleCount::Phase() const {
    const auto widest = std::max_element(phases_.begin(), phases_.end(),
                                         [](const auto& x, const auto& y) { return x.second - x.first < y.second - y.first; });
    double mid = (widest->first + widest->second) / 2;
    // A stretch that wraps round (ends at the period and goes on from 0) is one stretch,
    // whichever of its two pieces is the longer.
    if (phases_.size() == 2 && phases_[0].second == period_ && phases_[1].first == 0.0)
        mid = (phases_[0].first + phases_[1].second + period_) / 2;
    return std::fmod(mid, period_);
}

std::int64_t SampleCount::Read(double start, double end, bool fresh) {
    // A sample appeared since the part took the read before (at the earliest when that
    // read began).
    if (read_ && fresh) Allow(lastStart_, end);
    read_ = true;
    lastStart_ = start;
    if (!fresh) return 0;
    // The newest sample the part had when it took the read, numbered from time zero. The
    // first was numbered before anything was known of the phase: it is numbered again with
    // what the second read tells.
    const double phase = Phase();
    auto numberAt = [&](double mid) { return static_cast<std::int64_t>(std::floor((mid - phase) / period_)); };
    std::int64_t number = numberAt((start + end) / 2);
    std::int64_t missed = 0;
    if (kept_ == 1) last_ = numberAt(firstMid_);
    if (kept_ > 0) {
        number = std::max(number, last_ + 1);
        missed = number - last_ - 1;
        if (missed > 0) {
            ++gaps_;
            missed_ += missed;
            if (missed > longestGap_) {
                longestGap_ = missed;
                longestGapAt_ = lastKept_;
            }
        }
    } else {
        firstMid_ = (start + end) / 2;
    }
    last_ = number;
    lastKept_ = start;
    ++kept_;
    return missed;
}

}  // namespace qvin::analysis
