#pragma once
// A program wired to the simulated board on the virtual clock, its parallel port
// selected and prepared, with the protocol trace captured in memory.

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "core/clock.h"
#include "core/trace.h"
#include "device/program.h"
#include "sim/sim_board.h"
#include "support/recorded_messages.h"
#include "device/usb_adapter.h"

namespace qvin::test {

class MemoryTrace {
public:
    MemoryTrace() { stream_ = open_memstream(&buf_, &size_); }
    ~MemoryTrace() {
        std::fclose(stream_);
        std::free(buf_);
    }
    std::FILE* stream() { return stream_; }
    // Lines since the last call that start with `prefix`.
    std::vector<std::string> Take(const std::string& prefix = "") {
        std::fflush(stream_);
        std::vector<std::string> lines;
        std::istringstream in(std::string(buf_ + consumed_, size_ - consumed_));
        consumed_ = size_;
        for (std::string line; std::getline(in, line);)
            if (line.rfind(prefix, 0) == 0) lines.push_back(line);
        return lines;
    }

private:
    char* buf_ = nullptr;
    std::size_t size_ = 0, consumed_ = 0;
    std::FILE* stream_;
};

struct SimProgram {
    explicit SimProgram(sim::ChipOptions options = {})
        : board(clock, &trace, options), p(clock, board.port, board.usb, trace, messages) {
        trace.Attach(memory.stream());
        StartProgram(p, "/nonexistent/Qvin27319.cfg");
        p.settings.InterfaceType = 1;
        p.settings.PortAddress = 0x378;
        board.port.Prepare(0x378);
        memory.Take();
    }

    // Switches to the simulated USB adapter, as the main window does when the settings
    // name it.
    void UseUsb() {
        p.settings.InterfaceType = 2;
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
