#pragma once
// A program wired to the simulated board on the virtual clock, its parallel port
// selected and prepared, with the protocol trace captured in memory.

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "core/clock.h"
#include "core/trace.h"
#include "core/trace_capture.h"
#include "device/program.h"
#include "sim/sim_board.h"
#include "support/recorded_messages.h"
#include "device/usb_adapter.h"

namespace qvin::test {

using MemoryTrace = TraceCapture;

struct SimProgram {
    explicit SimProgram(sim::ChipOptions options = {})
        : board(clock, &trace, options), p(clock, board.port, board.usbLink, trace, messages) {
        trace.Attach(memory.stream());
        StartProgram(p, "/nonexistent/Qvin27319.cfg");
        p.settings.InterfaceType = Interface::ParallelPort;
        p.settings.PortAddress = 0x378;
        board.port.Prepare(0x378);
        memory.Take();
    }

    // Switches to the simulated USB adapter, as the main window does when the settings
    // name it.
    void UseUsb() {
        p.settings.InterfaceType = Interface::UsbAdapter;
        FindUsbBoards(p);
        memory.Take();
    }

    VirtualClock clock;
    MemoryTrace memory;
    Trace trace;
    RecordedMessages messages;
    sim::SimBoard board;
    Program p;
};

}  // namespace qvin::test
