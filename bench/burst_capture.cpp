// A capture of the five outputs and the status at the bus's limit, each register read
// singly (two frames, and over the adapter a transfer, each) against all of them in one
// exchange (N + 1 frames, one transfer): samples kept a second against the part's sample
// rate, the share missed, and the frames a second the bus carried, on both simulated
// interfaces with their real pauses.
// Usage: bench_burst_capture [ROUNDS [SECONDS]] (default 5 rounds of 2 s)

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/clock.h"
#include "device/part_info.h"
#include "session/capture.h"
#include "session/session.h"
#include "sim/sim_board.h"

namespace {

class Quiet final : public qvin::MessageService {
public:
    void Message(std::string_view, std::string_view) override {}
};

struct Round {
    double kept = 0, missedShare = 0, frames = 0;
};

Round Run(bool lpt, bool single, double seconds) {
    qvin::RealClock clock;
    Quiet quiet;
    qvin::session::Options o;
    o.board = "sim";
    o.settingsFile = "/nonexistent/Qvin27319.cfg";
    o.calibrationMs = 20.0f;
    o.interface.interface = lpt ? qvin::Interface::ParallelPort : qvin::Interface::UsbAdapter;
    if (lpt) o.interface.port = 0x378;
    qvin::session::Session s(clock, o, quiet);
    s.Connect();
    long long frames = 0;
    s.board().simulated()->chip.onFrame = [&frames](std::uint16_t, std::int64_t) { ++frames; };
    qvin::session::CaptureRequest r;
    r.seconds = seconds;
    r.singleReads = single;
    const auto sum = qvin::session::Capture(s, r, [](const qvin::session::CaptureRow&) {}, {});
    Round out;
    out.kept = static_cast<double>(sum.kept) / sum.seconds;
    out.missedShare = static_cast<double>(sum.missed) / static_cast<double>(sum.kept + sum.missed);
    out.frames = static_cast<double>(frames) / sum.seconds;
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
    const double seconds = argc > 2 ? std::atof(argv[2]) : 2.0;
    const double partRate = 1000.0 / qvin::SmplPrdToMs(8);  // the part's default sample period
    std::printf("five outputs and the status, %d rounds of %.1f s; the part makes %.1f samples/s\n", rounds, seconds, partRate);
    for (const bool lpt : {false, true}) {
        for (const bool single : {true, false}) {
            std::printf("%-13s %-13s", lpt ? "parallel port" : "USB adapter", single ? "single reads" : "one exchange");
            for (int i = 0; i < rounds; ++i) {
                const Round r = Run(lpt, single, seconds);
                std::printf("  %.0f/s (%.1f %%, missed %.2f %%, %.0f frames/s)", r.kept, 100.0 * r.kept / partRate, 100.0 * r.missedShare, r.frames);
            }
            std::printf("\n");
        }
    }
    return 0;
}
