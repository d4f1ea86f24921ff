#pragma once
// The back ends one run talks to, chosen by name from a plain table: "hardware" (the
// parallel port through ppdev, USB adapters through libusb) or "sim" (the simulated
// evaluation board, with the fault rules of QVIN_SIM_FAULTS seeded by QVIN_SIM_SEED).
// QVIN_BOARD=sim picks the simulated board. This module sits above platform/ and sim/.

#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "core/clock.h"
#include "core/trace.h"
#include "platform/port/port_io.h"
#include "platform/usb/usb_driver.h"

namespace qvin {

namespace sim {
struct SimBoard;
}

class Board {
public:
    virtual ~Board() = default;
    virtual std::string_view name() const = 0;
    virtual PortIo& port() = 0;
    virtual UsbDriver& usb() = 0;
    // The simulated board behind the back ends, or nullptr on real hardware.
    virtual sim::SimBoard* simulated() { return nullptr; }
};

struct BoardKind {
    const char* name;
    // nullptr with `error` set when the board cannot be made as asked.
    std::unique_ptr<Board> (*make)(Clock& clock, Trace& trace, std::string& error);
};

std::span<const BoardKind> BoardKinds();
// nullptr for an unknown name, or with `error` saying why the board cannot be made (a bad
// fault rule).
std::unique_ptr<Board> MakeBoard(std::string_view name, Clock& clock, Trace& trace, std::string* error = nullptr);
// "sim" when QVIN_BOARD says so, otherwise "hardware".
std::string BoardNameFromEnvironment();

}  // namespace qvin
