// How fast the noise analysis is: the octave table of each deviation for 10 million
// samples, with the noise type and the degrees of freedom at each averaging time (target:
// under 2 s each), and the noise terms fitted to the Allan one.
// The capture's own pace is bench_burst_capture's.
// Then noise's work on a 10-million-row capture file (read, statistics, spectrum, Allan
// table, noise terms) against a bare read of the same file (target: 5 s).
// Usage: bench_allan_and_capture [ROUNDS]

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "analysis/deviations.h"
#include "analysis/power_density.h"
#include "analysis/series.h"
#include "analysis/noise_terms.h"
#include "analysis/stability.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 5;

    std::mt19937_64 rng(1);
    std::normal_distribution<double> g(0.0, 1.0);
    std::vector<double> y(10'000'000);
    for (double& v : y) v = 30.0 + 0.02 * g(rng);
    std::vector<double> allan;
    for (int r = 0; r < rounds; ++r) {
        const auto t = std::chrono::steady_clock::now();
        const auto curve = qvin::analysis::OctaveAdev(y, 0.001);
        allan.push_back(Seconds(t));
        if (curve.size() < 20) return 1;
    }
    std::printf("octave Allan table of %zu samples (%d rounds): ", y.size(), rounds);
    for (double s : allan) std::printf("%.3f ", s);
    std::printf("s\n");
    const auto curve = qvin::analysis::OctaveAdev(y, 0.001);
    std::printf("noise terms fitted to it: ");
    for (int r = 0; r < rounds; ++r) {
        const auto t = std::chrono::steady_clock::now();
        const auto terms = qvin::analysis::FitNoiseTerms(curve);
        std::printf("%.4f ", Seconds(t));
        if (!terms.fitted) return 1;
    }
    std::printf("s\n");
    for (const qvin::analysis::Deviation d : qvin::analysis::kDeviations) {
        std::printf("%-6s octave table (%d rounds): ", qvin::analysis::DeviationName(d).c_str(), rounds);
        for (int r = 0; r < rounds; ++r) {
            const auto t = std::chrono::steady_clock::now();
            const auto c = qvin::analysis::DeviationCurve(y, 0.001, d, {});
            std::printf("%.3f ", Seconds(t));
            if (c.empty()) return 1;
        }
        std::printf("s\n");
    }

    // A capture of 10 million rows, as qvin-cli writes them.
    const std::filesystem::path file = std::filesystem::temp_directory_path() / ("bench-capture-" + std::to_string(::getpid()) + ".csv");
    {
        std::ofstream out(file, std::ios::binary);
        out << "seconds since 2026-12-07T10:00:00.000Z,SUPPLY_OUT (V),AUX_ADC (V),TEMP_OUT (dgrC),INCL_360 (dgr),INCL_180 (dgr),Alarm,Status,Missed\n";
        char row[160];
        for (std::size_t i = 0; i < y.size(); ++i) {
            const int len = std::snprintf(row, sizeof row, "%.9g,3.3001,0,24.99998,%.5g,%.5g,0,0,0\n", static_cast<double>(i) * 0.0010986, y[i], y[i]);
            out.write(row, len);
        }
    }
    std::vector<char> block(1 << 20);
    std::printf("10-million-row capture, %.0f MB (%d rounds): bare read / noise's work\n", static_cast<double>(std::filesystem::file_size(file)) / 1e6, rounds);
    for (int r = 0; r < rounds; ++r) {
        auto t = std::chrono::steady_clock::now();
        {
            std::ifstream in(file, std::ios::binary);
            while (in.read(block.data(), static_cast<std::streamsize>(block.size())) || in.gcount() > 0) {
            }
        }
        const double bare = Seconds(t);
        t = std::chrono::steady_clock::now();
        std::string why;
        qvin::analysis::SeriesOptions o;
        o.column = "incl_360";
        const auto s = qvin::analysis::ReadSeries(file, o, why);
        if (!s) return 1;
        const auto& column = s->columns[0];
        const auto stats = qvin::analysis::Describe(column);
        const auto spectrum = qvin::analysis::WelchSpectrum(column, s->tau0);
        const auto table = qvin::analysis::DeviationCurve(column, s->tau0, qvin::analysis::Deviation::Oadev, {});
        const auto terms = qvin::analysis::FitNoiseTerms(table);
        const double work = Seconds(t);
        if (stats.count != y.size() || !spectrum || !terms.fitted) return 1;
        std::printf("  %.3f s / %.3f s (%.0f times)\n", bare, work, work / bare);
    }
    std::filesystem::remove(file);
    return 0;
}
