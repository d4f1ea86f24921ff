#include "board/board.h"

#include <cstdlib>

#include "core/excerpt.h"

#include "platform/port/ppdev_port.h"
#include "platform/spi/host_spi_buses.h"
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
    SpiBus& spi() override { return spi_; }

private:
    PpdevPort port_;
    LibusbDriver usb_;
    HostSpiBuses spi_;
};

class SimulatedBoard final : public Board {
public:
    SimulatedBoard(Clock& clock, Trace& trace, const sim::ChipOptions& options) : board_(clock, &trace, options) {}
    std::string_view name() const override { return "sim"; }
    PortIo& port() override { return board_.port; }
    UsbDriver& usb() override { return board_.usbLink; }
    SpiBus& spi() override { return board_.spi; }
    sim::SimBoard* simulated() override { return &board_; }

private:
    sim::SimBoard board_;
};

// The setting given, else its variable's value, else nothing.
std::optional<std::string> Setting(const std::optional<std::string>& given, const char* variable) {
    if (given) return given;
    if (const char* v = std::getenv(variable); v && *v) return std::string(v);
    return std::nullopt;
}

std::unique_ptr<Board> MakeSimulated(std::string_view, Clock& clock, Trace& trace, const SimSettings& settings, std::string& error) {
    sim::ChipOptions options;
    if (const auto a = Setting(settings.angle, "QVIN_SIM_ANGLE")) {
        if (auto bad = sim::AngleProblem(a->c_str())) {
            error = *bad;
            return nullptr;
        }
        options.fixedAngleDeg = LeadingNumber(*a);
    }
    options.noise = sim::DefaultNoise();
    if (const auto n = Setting(settings.noise, "QVIN_SIM_NOISE")) {
        if (auto bad = sim::ParseNoise(*n, options.noise)) {
            error = (settings.noise ? "noise: " : "QVIN_SIM_NOISE: ") + *bad;
            return nullptr;
        }
    }
    auto board = std::make_unique<SimulatedBoard>(clock, trace, options);
    if (auto bad = sim::AddFaultsFromEnvironment(board->simulated()->faults, settings.seed, settings.faults)) {
        error = *bad;
        return nullptr;
    }
    return board;
}

std::unique_ptr<Board> MakeHardware(std::string_view, Clock&, Trace&, const SimSettings&, std::string&) {
    return std::make_unique<HardwareBoard>();
}

std::unique_ptr<Board> MakeReplay(std::string_view file, Clock& clock, Trace&, const SimSettings&, std::string& error) {
    if (file.empty()) {
        error = "replay needs the recording's file name (replay:FILE)";
        return nullptr;
    }
    return ReplayBoard::Open(std::string(file), &clock, error);
}

const BoardKind kKinds[] = {
    {"hardware", false, kBadInput, MakeHardware},
    {"sim", false, kBadInput, MakeSimulated},
    {kReplayPrefix, true, kFileError, MakeReplay},
};

}  // namespace

std::span<const BoardKind> BoardKinds() { return kKinds; }

const BoardKind* FindBoardKind(std::string_view name, std::string_view* argument) {
    for (const BoardKind& k : kKinds) {
        const std::string_view kind = k.name;
        if (k.takesArgument ? name.substr(0, kind.size()) != kind : name != kind) continue;
        if (argument) *argument = name.substr(kind.size());
        return &k;
    }
    return nullptr;
}

std::unique_ptr<Board> MakeBoard(std::string_view name, Clock& clock, Trace& trace, std::string* error, const SimSettings& sim) {
    std::string_view argument;
    const BoardKind* kind = FindBoardKind(name, &argument);
    if (!kind) {
        if (error) *error = "unknown board '" + std::string(name) + "'";
        return nullptr;
    }
    std::string why;
    auto board = kind->make(argument, clock, trace, sim, why);
    if (error) *error = why;
    return board;
}

std::string BoardNameFromEnvironment(std::string* error) {
    const char* b = std::getenv("QVIN_BOARD");
    if (!b || !*b) return "hardware";
    const std::string_view name = b;
    std::string_view argument;
    if (const BoardKind* kind = FindBoardKind(name, &argument); kind && (!kind->takesArgument || !argument.empty())) return std::string(name);
    if (error)
        *error = "QVIN_BOARD=" + Excerpt(name) + " names no board (sim, hardware or replay:FILE; unset for the hardware)";
    return "hardware";
}

}  // namespace qvin
