// How fast the noise analysis and the capture are.
//  - the octave Allan table of 10 million samples (target: under a second);
//  - a capture's passes against the same passes read bare, on the simulated board with its
//    real pauses, in alternating rounds in one process (target: 97 % of the ceiling).
// Usage: bench_allan_and_capture [ROUNDS]

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <sstream>
#include <vector>

#include "analysis/stability.h"
#include "cli/cli.h"
#include "core/clock.h"
#include "session/session.h"
#include "sim/sim_board.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

class Quiet final : public qvin::MessageService {
public:
    void Message(std::string_view, std::string_view) override {}
};

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

    // The read ceiling: bare passes through the session, back to back.
    const int passes = 2000;
    std::vector<double> ratio;
    for (int r = 0; r < rounds; ++r) {
        qvin::RealClock clock;
        Quiet quiet;
        qvin::session::Options o;
        o.board = "sim";
        o.settingsFile = "/nonexistent/Qvin27319.cfg";
        qvin::session::Session s(clock, o, quiet);
        s.ReadPass();
        auto t = std::chrono::steady_clock::now();
        for (int i = 0; i < passes; ++i) s.ReadPass();
        const double bare = Seconds(t) / passes;

        // A capture of N samples less one of a single sample: its passes without its start.
        auto timed = [&clock](int n) {
            std::istringstream in;
            std::ostringstream out, err;
            qvin::cli::CliContext ctx{clock, in, out, err, "sim"};
            ctx.settingsFile = "/nonexistent/Qvin27319.cfg";
            ctx.calibrationMs = 20.0f;
            const auto t0 = std::chrono::steady_clock::now();
            if (qvin::cli::RunCli({"capture", "--count", std::to_string(n)}, ctx) != 0) std::exit(1);
            return Seconds(t0);
        };
        const double captured = (timed(passes + 1) - timed(1)) / passes;
        ratio.push_back(bare / captured);
    }
    std::printf("capture's pass rate against bare reads (%d rounds of %d): ", rounds, passes);
    for (double r : ratio) std::printf("%.3f ", r);
    std::printf("\n");
    return 0;
}
