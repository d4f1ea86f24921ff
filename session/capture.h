#pragma once
// A capture: the chosen outputs read as fast as the interface allows, each new sample kept
// once with its time, and the samples that went by unread counted from the part's own
// sample period. qvin-cli's capture and the Python module's run this one loop.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "session/session.h"

namespace qvin::session {

struct CaptureRequest {
    std::vector<std::size_t> outputs{0, 1, 2, 3, 4};  // indices into kOutputs, in the order given
    std::optional<std::int64_t> count;                 // samples to keep
    std::optional<double> seconds;                     // or for how long
    std::optional<double> samplePeriodMs;              // the part's sample period meanwhile
    bool singleReads = false;                          // one read a register, as the windows read (to compare)
};

struct CaptureRow {
    double seconds;             // since the capture began, when its first output was read
    std::vector<float> values;  // in the request's order
    bool alarm;                 // an output's error bit
    std::int32_t status;        // the status register, read with the outputs
    std::int64_t missed;        // samples that went by unread just before this one
};

struct CaptureSummary {
    std::int64_t kept = 0, missed = 0, gaps = 0, reads = 0;
    std::int64_t longestGap = 0;
    double longestGapAt = 0;    // seconds
    double seconds = 0;         // how long it ran
    double periodMs = 0;        // the part's sample period
    bool stopped = false;       // ended by the caller's stop, before its count or time
    // The time a pass of the outputs took, in milliseconds (reads over the time).
    double passMs() const { return reads > 0 ? seconds * 1000.0 / static_cast<double>(reads) : 0; }
};

// The outputs by name ("incl_360,temp_out", any case; "all"); Error kBadInput otherwise.
std::vector<std::size_t> ParseOutputs(const std::string& text);
// The Smpl_Prd code whose period is nearest `ms`; Error kBadInput outside what the part can do.
std::int32_t SamplePeriodCode(double ms);

// Runs the capture: `onRow` hears each kept sample as it comes; `stop` is asked between
// passes. With a sample period asked for, the part's own is put back afterwards, also
// when the capture fails. Errors as the session's.
CaptureSummary Capture(Session& s, const CaptureRequest& request, const std::function<void(const CaptureRow&)>& onRow,
                       const std::function<bool()>& stop);

// What a capture ends with: "capture: 20001 samples kept, 0 missed in 20.0 s ..." and,
// when it missed samples, what would keep them all.
std::string CaptureReport(const CaptureSummary& c, std::size_t outputs);

}  // namespace qvin::session
