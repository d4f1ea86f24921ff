#pragma once
// The back ends one run talks to, chosen by name from a plain table: "hardware" (the
// parallel port through ppdev, USB adapters through libusb) or "sim" (the simulated
// evaluation board, with the fault rules of QVIN_SIM_FAULTS seeded by QVIN_SIM_SEED), or
// "replay:FILE" (the answers of a recording made with QVIN_TRACE). QVIN_BOARD names the
// board for a run. This module sits above platform/ and sim/.

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/clock.h"
#include "core/exit_status.h"
#include "core/trace.h"
#include "platform/port/port_io.h"
#include "platform/spi/spi_bus.h"
#include "platform/usb/usb_driver.h"

namespace qvin {

namespace sim {
struct SimBoard;
}
class ReplayBoard;

class Board {
public:
    virtual ~Board() = default;
    virtual std::string_view name() const = 0;
    virtual PortIo& port() = 0;
    virtual UsbDriver& usb() = 0;
    virtual SpiBus& spi() = 0;
    // The simulated board behind the back ends, or nullptr on real hardware.
    virtual sim::SimBoard* simulated() { return nullptr; }
    // The recording behind a replay, or nullptr.
    virtual ReplayBoard* replay() { return nullptr; }
};

// The simulated board's settings as a caller gives them (the Python module's arguments),
// in the form of the variables they stand for: each one given is used instead of its
// QVIN_SIM_* variable, which is then not read at all.
struct SimSettings {
    std::optional<std::string> angle, noise, faults, seed;
};

struct BoardKind {
    const char* name;       // "sim"; "replay:", which takes what follows it ("replay:FILE")
    bool takesArgument;     // the name is a prefix of the board's name
    ExitStatus failure;     // what a board that cannot be made ends a command with
    // nullptr with `error` set when the board cannot be made as asked.
    std::unique_ptr<Board> (*make)(std::string_view argument, Clock& clock, Trace& trace, const SimSettings& sim, std::string& error);
};

std::span<const BoardKind> BoardKinds();
// The kind a board's name names, and in `argument` what follows a prefix; nullptr for none.
const BoardKind* FindBoardKind(std::string_view name, std::string_view* argument = nullptr);
// nullptr for an unknown name, or with `error` saying why the board cannot be made (a bad
// fault rule, a recording that cannot be read).
std::unique_ptr<Board> MakeBoard(std::string_view name, Clock& clock, Trace& trace, std::string* error = nullptr,
                                 const SimSettings& sim = {});
// "sim", "hardware" or "replay:FILE" as QVIN_BOARD says; "hardware" when it is unset or empty.
// Any other value gives "hardware" with `error` saying what QVIN_BOARD may be.
std::string BoardNameFromEnvironment(std::string* error = nullptr);
// The board name that replays `file`.
inline constexpr const char* kReplayPrefix = "replay:";
inline std::string ReplayBoardName(const std::string& file) { return kReplayPrefix + file; }

}  // namespace qvin
