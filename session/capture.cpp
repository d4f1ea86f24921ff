#include "session/capture.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <sstream>

#include "analysis/sample_count.h"
#include "core/clock.h"
#include "core/number_text.h"
#include "device/part_info.h"
#include "device/register_map.h"

namespace qvin::session {

namespace {

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string Names() {
    std::string all;
    for (const OutputName& o : kOutputs) all += (all.empty() ? "" : ", ") + Lower(o.name);
    return all;
}

}  // namespace

std::vector<std::size_t> ParseOutputs(const std::string& text) {
    if (Lower(text) == "all") return {0, 1, 2, 3, 4};
    std::vector<std::size_t> picked;
    std::stringstream list(text);
    for (std::string item; std::getline(list, item, ',');) {
        const std::string want = Lower(item);
        const auto it = std::find_if(kOutputs.begin(), kOutputs.end(), [&](const OutputName& o) { return Lower(o.name) == want; });
        if (it == kOutputs.end()) throw Error(kBadInput, "no output '" + item.substr(0, 40) + "' (the outputs: " + Names() + ", or all)");
        const auto k = static_cast<std::size_t>(it - kOutputs.begin());
        if (std::find(picked.begin(), picked.end(), k) != picked.end()) throw Error(kBadInput, "output " + Lower(it->name) + " is named twice");
        picked.push_back(k);
    }
    if (picked.empty() || text.back() == ',') throw Error(kBadInput, "name the outputs to capture (" + Names() + ", or all)");
    return picked;
}

std::int32_t SamplePeriodCode(double ms) {
    const double shortest = SmplPrdToMs(0), longest = SmplPrdToMs(255);
    if (!(ms >= shortest * 0.999 && ms <= longest * 1.001))
        throw Error(kBadInput, "sample period " + FormatGeneral(static_cast<float>(ms)) + " ms is out of range (" + FormatFixed(shortest, 3) +
                                   " to " + FormatFixed(longest, 1) + " ms)");
    std::int32_t best = 0;
    for (std::int32_t code = 1; code < 256; ++code)
        if (std::abs(SmplPrdToMs(code) - ms) < std::abs(SmplPrdToMs(best) - ms)) best = code;
    return best;
}

CaptureSummary Capture(Session& s, const CaptureRequest& request, const std::function<void(const CaptureRow&)>& onRow,
                       const std::function<bool()>& stop) {
    if (request.outputs.empty()) throw Error(kBadInput, "name the outputs to capture (" + Names() + ", or all)");
    s.Connect();
    const std::int32_t own = s.Read(reg::Smpl_Prd).count & 0xFF;
    std::int32_t code = own;
    if (request.samplePeriodMs) {
        code = SamplePeriodCode(*request.samplePeriodMs);
        s.Write(reg::Smpl_Prd, code);
    }
    // The part's own period comes back however the capture ends; a failure to put it back
    // after a failure says nothing over the first.
    struct Restore {
        Session& s;
        std::int32_t own;
        bool changed;
        ~Restore() {
            if (!changed) return;
            try {
                s.Write(reg::Smpl_Prd, own);
            } catch (...) {
            }
        }
    } restore{s, own, code != own};

    CaptureSummary sum;
    sum.periodMs = SmplPrdToMs(code);
    // A late wake-up between two passes loses the samples that went by: the thread keeps
    // its processor while the adapter works and through the pauses.
    const BusyWaiting busy;
    analysis::SampleCount counter(sum.periodMs / 1000.0);
    Clock& clock = s.program().clock;
    const std::int64_t start = clock.NowNs();
    const std::int64_t end = request.seconds ? start + static_cast<std::int64_t>(*request.seconds * 1e9) : 0;
    CaptureRow row;
    for (;;) {
        if (request.count && sum.kept >= *request.count) break;
        if (request.seconds && clock.NowNs() >= end) break;
        if (stop && stop()) {
            sum.stopped = true;
            break;
        }
        Session::OutputsRead read = s.ReadOutputs(request.outputs, !request.singleReads);
        ++sum.reads;
        const double t = static_cast<double>(read.beforeNs - start) / 1e9;
        const std::int64_t missed = counter.Read(t, static_cast<double>(read.takenNs - start) / 1e9, read.firstNew);
        if (read.firstNew) {
            row.values = std::move(read.values);
            row.alarm = read.alarm;
            row.status = read.status;
            row.seconds = t;
            row.missed = missed;
            ++sum.kept;
            onRow(row);
        }
    }
    sum.seconds = static_cast<double>(clock.NowNs() - start) / 1e9;
    sum.missed = counter.missed();
    sum.gaps = counter.gaps();
    sum.longestGap = counter.longestGap();
    sum.longestGapAt = counter.longestGapAt();
    if (restore.changed) {
        restore.changed = false;
        s.Write(reg::Smpl_Prd, own);
    }
    return sum;
}

std::string CaptureReport(const CaptureSummary& c, std::size_t outputs) {
    std::ostringstream o;
    o << "capture: " << c.kept << (c.kept == 1 ? " sample" : " samples") << " kept, " << c.missed << " missed in " << FormatFixed(c.seconds, 1)
      << " s (sample period " << FormatFixed(c.periodMs, 3) << " ms, " << c.reads << " passes of " << outputs
      << (outputs == 1 ? " output" : " outputs") << ", " << FormatFixed(c.passMs(), 3) << " ms each)";
    if (c.missed > 0) {
        o << "; " << c.gaps << (c.gaps == 1 ? " gap" : " gaps") << ", the longest " << c.longestGap << (c.longestGap == 1 ? " sample" : " samples")
          << " after " << FormatFixed(c.longestGapAt, 3) << " s";
        // A pass slower than the part: say what would keep every sample.
        if (c.passMs() > c.periodMs * 0.5) {
            o << "\ncapture: the interface cannot keep up: a pass takes " << FormatFixed(c.passMs(), 3) << " ms and the part makes a sample every "
              << FormatFixed(c.periodMs, 3) << " ms; to keep every sample, ";
            if (outputs > 1) o << "capture fewer outputs (--outputs) or ";
            o << "set a longer sample period (--sample-period " << FormatFixed(std::ceil(c.passMs() * 2.0 * 10.0) / 10.0, 1) << " or more)";
        }
    }
    return o.str();
}

}  // namespace qvin::session
