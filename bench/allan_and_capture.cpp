// How fast the noise analysis is: the octave table of each deviation for 10 million
// samples, with the noise type and the degrees of freedom at each averaging time (target:
// under 2 s each), and the noise terms fitted to the Allan one.
// The capture's own pace is bench_burst_capture's.
// Usage: bench_allan_and_capture [ROUNDS]

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "analysis/deviations.h"
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

    return 0;
}
