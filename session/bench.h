#pragma once
// What every front end (the windows, qvin-cli, the Python module) stands on: the board from
// the board table, the trace of its exchanges (QVIN_TRACE; never for a replay, which writes
// nothing over the recording it reads) and the program context over the board's port, USB
// adapters and SPI bus, started as the program starts.

#include <filesystem>
#include <memory>
#include <string>

#include "board/board.h"
#include "core/clock.h"
#include "core/messages.h"
#include "core/trace.h"
#include "device/program.h"
#include "session/error.h"

namespace qvin::session {

class Bench {
public:
    // When the trace is opened: at once (the windows), or with the first exchange, when a
    // command that reads files only may name the trace's file as its input.
    enum class TraceOpening { AtOnce, WithFirstExchange };

    // `boardName` as MakeBoard takes it. Error with the board kind's failure status (bad
    // input, a recording that cannot be read) when the board cannot be made. `messages`
    // hears the program's messages ("Error Writing SPI").
    Bench(Clock& clock, const std::string& boardName, MessageService& messages, const SimSettings& sim = {},
          TraceOpening opening = TraceOpening::AtOnce);

    // The start sequence: the settings file read, the register map built, the timing
    // calibrated (as the program's timer is set before).
    void Start(const std::filesystem::path& settingsFile);
    // A replay answers only through the interface it recorded: the settings point at it.
    void UseRecordedInterface();

    // Opens the trace QVIN_TRACE names, once; said on standard error when it cannot be
    // written (traceFailed()).
    void OpenTrace();
    bool traceFailed() const { return traceFailed_; }
    // The trace's file (QVIN_TRACE) or nothing: no file a command may write.
    const std::string& traceTarget() const { return traceTarget_; }

    Clock& clock;
    Trace trace;
    std::unique_ptr<Board> board;
    std::unique_ptr<Program> program;

private:
    std::string traceTarget_;
    bool traceOpened_ = false;
    bool traceFailed_ = false;
};

}  // namespace qvin::session
