// Captures, data logs and value files read for analysis: any bytes are read or refused
// with a reason; what is read holds as many NaN as it says samples are missing (a hole
// longer than the record held as long as the record), a time between samples above zero
// where there are two samples, and deviations finite and inside their intervals, or refused
// with a reason.
#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

#include "analysis/deviations.h"
#include "analysis/series.h"
#include "analysis/stability.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const int fd = memfd_create("series", 0);
    if (fd < 0 || ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) return 0;
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    qvin::analysis::SeriesOptions options;
    if (size > 0 && data[0] == '#') options.tau0 = 0.01;  // read plain values too
    if (size > 1 && data[1] == '2') options.run = 2;
    std::string error;
    const auto s = qvin::analysis::ReadSeries(path, options, error);
    if (!s) {
        if (error.empty()) __builtin_trap();
        return 0;
    }
    for (const auto& column : s->columns) {
        std::size_t present = 0, missing = 0;
        for (const double v : column) (std::isnan(v) ? missing : present)++;
        if (present != s->samples) __builtin_trap();
        if (missing > s->missing) __builtin_trap();
        // Only a log's run without a loop delay in its header has no time between samples.
        if (s->samples > 1 && !(s->tau0 > 0) && !s->nominalTau0) __builtin_trap();
        if (!(s->tau0 > 0) || column.size() > 200'000) continue;
        // Deviations of any readings are finite and inside their intervals, or refused with a
        // reason (readings whose deviation passes a double's range).
        std::string why;
        for (const auto& p : qvin::analysis::DeviationCurve(column, s->tau0, qvin::analysis::Deviation::Oadev, {}, &why))
            if (!std::isfinite(p.adev) || !std::isfinite(p.hi) || !(p.lo <= p.adev && p.adev <= p.hi) || p.terms == 0) __builtin_trap();
        // Another deviation, chosen by the input's length: a curve or a reason, never a throw.
        const auto d = qvin::analysis::kDeviations[size % std::size(qvin::analysis::kDeviations)];
        qvin::analysis::AllanOptions every;
        every.taus = qvin::analysis::TauSet::Decade;
        why.clear();
        const auto curve = qvin::analysis::DeviationCurve(column, s->tau0, d, every, &why);
        for (const auto& p : curve)
            if (!std::isfinite(p.adev) || !std::isfinite(p.hi) || !(p.lo <= p.adev && p.adev <= p.hi)) __builtin_trap();
    }
    (void)qvin::analysis::GapSummary(*s);
    return 0;
}
