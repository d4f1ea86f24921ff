// Register reads per second through the simulated parallel port and the simulated USB
// adapter, beside the ceilings that the mandatory waits allow: over the port a read
// costs three 0.1 ms pauses (the request frame, the answer frame and the end of the
// register access) and the shortest pause at each of its 100 bit edges, at most about
// 3320 reads/s; over USB the last pause plus the adapter's own
// time for the two-word transfer (two bus round trips, two words clocked, one delay
// between them), at most about 5080 reads/s; over a Linux SPI controller (spidev) the last
// pause plus one exchange of two frames (a system call, 16 bits at 1 MHz and the 25 us word
// delay after each frame), at most about 4720 reads/s.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>

#include "bench/load.h"
#include "bench/ordinary_user.h"
#include "core/clock.h"
#include "core/trace.h"
#include "device/program.h"
#include "device/register_access.h"
#include "device/transports.h"
#include "device/usb_adapter.h"
#include "device/usb_spi.h"
#include "sim/sim_board.h"

namespace {

struct NoMessages final : qvin::MessageService {
    void Message(std::string_view, std::string_view) override {}
};

constexpr double kSpidevReadSeconds = 0.1e-3 + (qvin::sim::kSpidevCallNs + 2 * (qvin::sim::kSpidevFrameNs + 25'000)) * 1e-9;
constexpr double kSpidevCeilingPerSecond = 1.0 / kSpidevReadSeconds;
constexpr double kUsbReadSeconds = 0.1e-3 + (2 * qvin::sim::kBulkRoundTripNs + 2 * 16'000 + 25'000) * 1e-9;
constexpr double kUsbCeilingPerSecond = 1.0 / kUsbReadSeconds;

template <typename ClockT>
struct BenchOn {
    explicit BenchOn(qvin::Interface interfaceType) : board(clock, nullptr, {}), p(clock, board.port, board.usbLink, trace, messages) {
        p.timer.FinalTrialMs = 300.0f;
        qvin::StartProgram(p, "/nonexistent/Qvin27319.cfg");
        p.settings.InterfaceType = interfaceType;
        p.settings.PortAddress = 0x378;
        board.port.Prepare(0x378);
        if (interfaceType == qvin::Interface::UsbAdapter) qvin::FindUsbBoards(p);
        if (interfaceType == qvin::Interface::Spidev) {
            p.spiBus = &board.spi;
            p.spiDevice = "/dev/spidev0.0";
            qvin::FindTransport(qvin::Interface::Spidev)->open(p, std::nullopt);
        }
    }
    ClockT clock;
    qvin::Trace trace;
    NoMessages messages;
    qvin::sim::SimBoard board;
    qvin::Program p;
};
using Bench = BenchOn<qvin::RealClock>;

// Each bit edge on the parallel port waits the shortest pause, a fixed count of an empty
// loop (40 iterations), as mandatory as the 0.1 ms pauses: the ceiling counts the edges of
// one read (the virtual clock counts the loop's iterations) at the time this machine takes
// for them (the best of a few batches).
double LptCeilingPerSecond() {
    static const double ceiling = [] {
        BenchOn<qvin::VirtualClock> counted(qvin::Interface::ParallelPort);
        qvin::ReadReg(counted.p, qvin::reg::Incl_Out);
        counted.clock.ResetIterations();
        qvin::ReadReg(counted.p, qvin::reg::Incl_Out);
        const std::int64_t edges = counted.clock.Iterations() / 40;
        qvin::RealClock real;
        double best = 1e9;
        for (int batch = 0; batch < 5; ++batch) {
            const std::int64_t t0 = real.NowNs();
            for (int read = 0; read < 100; ++read)
                for (std::int64_t e = 0; e < edges; ++e) real.Spin(1, 40);
            best = std::min(best, static_cast<double>(real.NowNs() - t0) / 100 * 1e-9);
        }
        std::printf("parallel port: %lld bit edges a read, %.2f us of their pauses\n", static_cast<long long>(edges), best * 1e6);
        return 1.0 / (3 * 0.1e-3 + best);
    }();
    return ceiling;
}

void ReadsAgainstCeiling(benchmark::State& state, Bench& bench, double ceiling) {
    for (auto _ : state) {
        qvin::ReadReg(bench.p, qvin::reg::Incl_Out);
        benchmark::DoNotOptimize(bench.p.reg.RegData);
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["reads_per_s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["ceiling_per_s"] = ceiling;
}

void BM_ReadRegSimulatedLpt(benchmark::State& state) {
    static Bench bench(qvin::Interface::ParallelPort);
    ReadsAgainstCeiling(state, bench, LptCeilingPerSecond());
}
BENCHMARK(BM_ReadRegSimulatedLpt)->Unit(benchmark::kMicrosecond)->MinTime(2.0)->UseRealTime();

void BM_ReadRegSimulatedUsb(benchmark::State& state) {
    static Bench bench(qvin::Interface::UsbAdapter);
    ReadsAgainstCeiling(state, bench, kUsbCeilingPerSecond);
}
BENCHMARK(BM_ReadRegSimulatedUsb)->Unit(benchmark::kMicrosecond)->MinTime(2.0)->UseRealTime();

void BM_ReadRegSimulatedSpidev(benchmark::State& state) {
    static Bench bench(qvin::Interface::Spidev);
    ReadsAgainstCeiling(state, bench, kSpidevCeilingPerSecond);
}
BENCHMARK(BM_ReadRegSimulatedSpidev)->Unit(benchmark::kMicrosecond)->MinTime(2.0)->UseRealTime();

// The same two under load: a busy thread per core competes for the processors.
void BM_ReadRegSimulatedLptLoaded(benchmark::State& state) {
    static Bench bench(qvin::Interface::ParallelPort);
    qvin::bench::Load load;
    ReadsAgainstCeiling(state, bench, LptCeilingPerSecond());
}
BENCHMARK(BM_ReadRegSimulatedLptLoaded)->Unit(benchmark::kMicrosecond)->MinTime(2.0)->UseRealTime();

void BM_ReadRegSimulatedUsbLoaded(benchmark::State& state) {
    static Bench bench(qvin::Interface::UsbAdapter);
    qvin::bench::Load load;
    ReadsAgainstCeiling(state, bench, kUsbCeilingPerSecond);
}
BENCHMARK(BM_ReadRegSimulatedUsbLoaded)->Unit(benchmark::kMicrosecond)->MinTime(2.0)->UseRealTime();

// One adapter operation on the simulated back end: open, two bulk transfers, close.
void BM_AdapterOperationSimulated(benchmark::State& state) {
    static Bench bench(qvin::Interface::UsbAdapter);
    bench.p.spi.SpiWriteWords[1] = 0x0C00;
    bench.p.spi.SpiWriteWords[2] = 0x0C00;
    for (auto _ : state) {
        qvin::UsbSpiTransfer(bench.p, 2);
        benchmark::DoNotOptimize(bench.p.spi.SpiReadWords[2]);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AdapterOperationSimulated)->Unit(benchmark::kNanosecond);

// The same read with the pauses' counted loops only (virtual clock): the cost of the
// bit-banging, the trace hooks and the simulated chip themselves.
void BM_ReadRegSimulatedLptNoWaiting(benchmark::State& state) {
    static BenchOn<qvin::VirtualClock> bench(qvin::Interface::ParallelPort);
    for (auto _ : state) {
        qvin::ReadReg(bench.p, qvin::reg::Incl_Out);
        benchmark::DoNotOptimize(bench.p.reg.RegData);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ReadRegSimulatedLptNoWaiting)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    qvin::bench::AsAnOrdinaryUserIfAsked();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
