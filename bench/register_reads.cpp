// Register reads per second through the simulated parallel port, beside the ceiling
// that the mandatory pauses allow: each read costs three 0.1 ms pauses (the request
// frame, the answer frame and the end of the register access), so at most 3333 reads/s.

#include <benchmark/benchmark.h>

#include "core/clock.h"
#include "core/trace.h"
#include "device/program.h"
#include "device/register_access.h"
#include "sim/sim_board.h"

namespace {

struct NoMessages final : qvin::MessageService {
    void Message(std::string_view, std::string_view) override {}
};

constexpr double kCeilingPerSecond = 1.0 / (3 * 0.1e-3);

struct Bench {
    Bench() : board(clock, nullptr, {}), p(clock, board.port, board.usb, trace, messages) {
        p.timer.FinalTrialMs = 300.0f;
        qvin::StartProgram(p, "/nonexistent/Qvin27319.cfg");
        p.settings.InterfaceType = 1;
        p.settings.PortAddress = 0x378;
        board.port.Prepare(0x378);
    }
    qvin::RealClock clock;
    qvin::Trace trace;
    NoMessages messages;
    qvin::sim::SimBoard board;
    qvin::Program p;
};

void BM_ReadRegSimulatedLpt(benchmark::State& state) {
    static Bench bench;
    for (auto _ : state) {
        qvin::ReadReg(bench.p, qvin::reg::Incl_Out);
        benchmark::DoNotOptimize(bench.p.reg.RegData);
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["reads_per_s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["ceiling_per_s"] = kCeilingPerSecond;
}
BENCHMARK(BM_ReadRegSimulatedLpt)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

// The same read with the pauses' counted loops only (virtual clock): the cost of the
// bit-banging, the trace hooks and the simulated chip themselves.
void BM_ReadRegSimulatedLptNoWaiting(benchmark::State& state) {
    qvin::VirtualClock clock;
    qvin::Trace trace;
    qvin::sim::SimBoard board(clock, nullptr, {});
    NoMessages messages;
    qvin::Program p(clock, board.port, board.usb, trace, messages);
    qvin::StartProgram(p, "/nonexistent/Qvin27319.cfg");
    p.settings.InterfaceType = 1;
    p.settings.PortAddress = 0x378;
    board.port.Prepare(0x378);
    for (auto _ : state) {
        qvin::ReadReg(p, qvin::reg::Incl_Out);
        benchmark::DoNotOptimize(p.reg.RegData);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ReadRegSimulatedLptNoWaiting)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
