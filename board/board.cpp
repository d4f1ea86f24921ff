#include "board/board.h"

#include <cstdlib>

#include "core/excerpt.h"

#include "platform/port/ppdev_port.h"
#include "platform/usb/libusb_driver.h"
#include "board/replay_board.h"
#include "sim/sim_board.h"

namespace qvin {

namespace {

class HardwareBoard final : public Board {
public:
    std::string_view name() const override { return "hardware"; }
    PortIo& port() override { return port_; }
    UsbDriver& usb() override { return usb_; }

private:
    PpdevPort port_;
    LibusbDriver usb_;
};

class SimulatedBoard final : public Board {
public:
    SimulatedBoard(Clock& clock, Trace& trace) : board_(clock, &trace) {}
    std::string_view name() const override { return "sim"; }
    PortIo& port() override { return board_.port; }
    UsbDriver& usb() override { return board_.usbLink; }
    sim::SimBoard* simulated() override { return &board_; }

private:
    sim::SimBoard board_;
};

std::unique_ptr<Board> MakeSimulated(Clock& clock, Trace& trace, std::string& error) {
    if (const char* a = std::getenv("QVIN_SIM_ANGLE"); a && *a) {
        if (auto bad = sim::AngleProblem(a)) {
            error = *bad;
            return nullptr;
        }
    }
    if (const char* n = std::getenv("QVIN_SIM_NOISE"); n && *n) {
        sim::NoiseOptions unused;
        if (auto bad = sim::ParseNoise(n, unused)) {
            error = "QVIN_SIM_NOISE: " + *bad;
            return nullptr;
        }
    }
    auto board = std::make_unique<SimulatedBoard>(clock, trace);
    if (auto bad = sim::AddFaultsFromEnvironment(board->simulated()->faults)) {
        error = *bad;
        return nullptr;
    }
    return board;
}

const BoardKind kKinds[] = {
    {"hardware", [](Clock&, Trace&, std::string&) -> std::unique_ptr<Board> { return std::make_unique<HardwareBoard>(); }},
    {"sim", MakeSimulated},
};

}  // namespace

std::span<const BoardKind> BoardKinds() { return kKinds; }

std::unique_ptr<Board> MakeBoard(std::string_view name, Clock& clock, Trace& trace, std::string* error) {
    std::string why;
    if (name.substr(0, 7) == "replay:") {
        const std::string file(name.substr(7));
        std::unique_ptr<Board> board;
        if (file.empty()) why = "replay needs the recording's file name (replay:FILE)";
        else board = ReplayBoard::Open(file, &clock, why);
        if (error) *error = why;
        return board;
    }
    for (const BoardKind& k : kKinds) {
        if (name != k.name) continue;
        auto board = k.make(clock, trace, why);
        if (error) *error = why;
        return board;
    }
    if (error) *error = "unknown board '" + std::string(name) + "'";
    return nullptr;
}

std::string BoardNameFromEnvironment(std::string* error) {
    const char* b = std::getenv("QVIN_BOARD");
    if (!b || !*b) return "hardware";
    const std::string_view name = b;
    if (name == "sim" || name == "hardware" || (name.substr(0, 7) == "replay:" && name.size() > 7)) return std::string(name);
    if (error)
        *error = "QVIN_BOARD=" + Excerpt(name) + " names no board (sim, hardware or replay:FILE; unset for the hardware)";
    return "hardware";
}

}  // namespace qvin
