#pragma once
// How many samples a capture missed, from when it read and the part's sample period. The
// part makes a sample every period, at a phase of its own. Each read that finds a new
// sample tells something of that phase: a sample appeared since the read before. Read
// after read this narrows the phase to a sliver, and the phase numbers every sample kept: the numbers it skips were missed. When the part's
// clock drifts out of the sliver, the phase is learned afresh from the reads that follow.
// The first samples are numbered before the phase is known: the count may be one off.

#include <cstdint>
#include <utility>
#include <vector>

namespace qvin::analysis {

class SampleCount {
public:
    explicit SampleCount(double periodSeconds);

    // One read of the output, begun at `start` and ended at `end` (seconds; the part took
    // it somewhere between), that found a new sample or not. Returns the samples missed
    // just before a new one (0 for a read that found none).
    std::int64_t Read(double start, double end, bool fresh);

    std::int64_t kept() const { return kept_; }
    std::int64_t missed() const { return missed_; }
    std::int64_t gaps() const { return gaps_; }
    std::int64_t longestGap() const { return longestGap_; }  // samples
    double longestGapAt() const { return longestGapAt_; }    // the last read before it, seconds
    double period() const { return period_; }

private:
    using Arcs = std::vector<std::pair<double, double>>;  // [from, to) within [0, period)
    // Keeps the phases where a sample could appear in (from, to]; when nothing is left (the
    // part's clock drifted), those alone.
    void Allow(double from, double to);
    void Keep(const Arcs& allowed);
    double Phase() const;

    double period_;
    Arcs phases_;
    bool read_ = false;
    double lastStart_ = 0;
    std::int64_t kept_ = 0, missed_ = 0, gaps_ = 0, longestGap_ = 0;
    double longestGapAt_ = 0, lastKept_ = 0;
    std::int64_t last_ = 0;  // the newest kept sample's number
    double firstMid_ = 0;    // the middle of the read that kept the first
};

}  // namespace qvin::analysis
