#include "analysis/power_density.h"

#include <fftw3.h>

#include <cmath>
#include <memory>
#include <mutex>
#include <numbers>
#include <utility>
#include <vector>

namespace qvin::analysis {

namespace {

// FFTW's planner is not thread-safe; plans are made one at a time.
std::mutex gPlanner;

struct PlanDeleter {
    void operator()(fftw_plan_s* p) const {
        std::lock_guard lock(gPlanner);
        fftw_destroy_plan(p);
    }
};

struct FftwFree {
    void operator()(void* p) const { fftw_free(p); }
};

bool PowerOfTwo(std::size_t n) { return n != 0 && (n & (n - 1)) == 0; }

// The stretches of readings without a missing one: [begin, end) each.
std::vector<std::pair<std::size_t, std::size_t>> Runs(std::span<const double> y) {
    std::vector<std::pair<std::size_t, std::size_t>> runs;
    for (std::size_t i = 0; i < y.size();) {
        while (i < y.size() && std::isnan(y[i])) ++i;
        const std::size_t begin = i;
        while (i < y.size() && !std::isnan(y[i])) ++i;
        if (i > begin) runs.emplace_back(begin, i);
    }
    return runs;
}

// Segments of `length` overlapping by half that fit inside the stretches.
std::size_t SegmentsIn(const std::vector<std::pair<std::size_t, std::size_t>>& runs, std::size_t length) {
    std::size_t n = 0;
    for (const auto& [begin, end] : runs)
        if (end - begin >= length) n += (end - begin - length) / (length / 2) + 1;
    return n;
}

}  // namespace

std::optional<Spectrum> WelchSpectrum(std::span<const double> y, double tau0, std::size_t length, std::string* why) {
    auto refuse = [why](std::string text) -> std::optional<Spectrum> {
        if (why) *why = std::move(text);
        return std::nullopt;
    };
    if (!(tau0 > 0) || !std::isfinite(tau0)) return refuse("no time between samples");
    const std::size_t n = y.size();
    const auto runs = Runs(y);
    if (length == 0) {
        // The longest that gives eight segments between the gaps; where none does, the
        // longest that gives any.
        length = 16;
        for (std::size_t l = 65536; l >= 16; l /= 2)
            if (SegmentsIn(runs, l) >= 8) {
                length = l;
                break;
            }
        if (SegmentsIn(runs, length) < 8)
            for (std::size_t l = 65536; l > 16; l /= 2)
                if (SegmentsIn(runs, l) >= 1) {
                    length = l;
                    break;
                }
    }
    if (!PowerOfTwo(length) || length < 16) return refuse("a segment is a power of two readings, 16 at least");
    if (n < length) return refuse("too few samples for a spectrum (" + std::to_string(length) + " at least)");

    // The Hann window, periodic, as spectral estimation uses it.
    std::vector<double> window(length);
    double sumSquares = 0;
    for (std::size_t i = 0; i < length; ++i) {
        window[i] = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * static_cast<double>(i) / static_cast<double>(length));
        sumSquares += window[i] * window[i];
    }
    const std::size_t bins = length / 2 + 1;
    std::unique_ptr<double, FftwFree> in(static_cast<double*>(fftw_malloc(sizeof(double) * length)));
    std::unique_ptr<fftw_complex, FftwFree> out(static_cast<fftw_complex*>(fftw_malloc(sizeof(fftw_complex) * bins)));
    if (!in || !out) return refuse("no memory for the spectrum");
    std::unique_ptr<fftw_plan_s, PlanDeleter> plan;
    {
        std::lock_guard lock(gPlanner);
        plan.reset(fftw_plan_dft_r2c_1d(static_cast<int>(length), in.get(), out.get(), FFTW_ESTIMATE));
    }
    if (!plan) return refuse("no FFT plan for " + std::to_string(length) + " readings");

    Spectrum s;
    s.segmentLength = length;
    s.density.assign(bins, 0.0);
    // Segments laid from the start of each stretch between gaps: none spans a gap.
    const std::size_t step = length / 2;
    std::vector<std::size_t> starts;
    for (const auto& [begin, end] : runs)
        for (std::size_t start = begin; start + length <= end; start += step) starts.push_back(start);
    for (const std::size_t start : starts) {
        const std::span<const double> seg = y.subspan(start, length);
        double mean = 0;
        for (const double v : seg) mean += v;
        mean /= static_cast<double>(length);
        for (std::size_t i = 0; i < length; ++i) in.get()[i] = (seg[i] - mean) * window[i];
        fftw_execute(plan.get());
        for (std::size_t k = 0; k < bins; ++k) {
            const double re = out.get()[k][0], im = out.get()[k][1];
            s.density[k] += re * re + im * im;
        }
        ++s.segments;
    }
    if (s.segments == 0) return refuse("no " + std::to_string(length) + " samples in a row without a gap");
    // One-sided density: each segment's |X|^2 / (fs * sum w^2), the bins between 0 and the
    // Nyquist frequency doubled for their negative twins.
    const double fs = 1.0 / tau0;
    const double scale = 1.0 / (fs * sumSquares * static_cast<double>(s.segments));
    s.frequency.resize(bins);
    for (std::size_t k = 0; k < bins; ++k) {
        s.frequency[k] = static_cast<double>(k) * fs / static_cast<double>(length);
        s.density[k] *= scale * (k == 0 || k == bins - 1 ? 1.0 : 2.0);
    }
    double floor = 0;
    std::size_t counted = 0;
    for (std::size_t k = length / 4; k < bins; ++k, ++counted) floor += s.density[k];
    s.whiteFloor = std::sqrt(floor / static_cast<double>(counted));
    return s;
}

}  // namespace qvin::analysis
