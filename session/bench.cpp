#include "session/bench.h"

#include <cstdlib>

#include "board/replay_board.h"
#include "core/exit_status.h"

namespace qvin::session {

Bench::Bench(Clock& clock, const std::string& boardName, MessageService& messages, const SimSettings& sim, TraceOpening opening)
    : clock(clock) {
    std::string why;
    board = MakeBoard(boardName, clock, trace, &why, sim);
    if (!board) {
        const BoardKind* kind = FindBoardKind(boardName);
        throw Error(kind ? kind->failure : kBadInput, why);
    }
    if (!board->replay())
        if (const char* t = std::getenv("QVIN_TRACE"); t && *t) traceTarget_ = t;
    if (opening == TraceOpening::AtOnce) OpenTrace();
    program = std::make_unique<Program>(clock, board->port(), board->usb(), trace, messages);
    program->spiBus = &board->spi();
}

void Bench::OpenTrace() {
    if (traceOpened_) return;
    traceOpened_ = true;
    if (traceTarget_.empty()) return;
    traceFailed_ = !trace.OpenFromEnvironment();
    // Each line of a recording with its time, so that it can be drawn as it happened.
    if (trace.on()) trace.SetClock(&clock);
}

void Bench::Start(const std::filesystem::path& settingsFile) { StartProgram(*program, settingsFile); }

void Bench::UseRecordedInterface() {
    if (const ReplayBoard* r = board->replay()) qvin::UseRecordedInterface(*r, program->settings);
}

}  // namespace qvin::session
