#pragma once
// A session on the simulated board and the virtual clock, as qvin-cli --sim opens one.

#include "core/clock.h"
#include "session/session.h"
#include "sim/sim_board.h"
#include "support/recorded_messages.h"

namespace qvin::test {

struct SimSession {
    VirtualClock clock;
    RecordedMessages messages;
    session::Session s{clock, [] {
                           session::Options o;
                           o.board = "sim";
                           o.settingsFile = "/nonexistent/Qvin27319.cfg";
                           return o;
                       }(),
                       messages};
    sim::SimBoard& board = *s.board().simulated();
    sim::QvinChip& chip = board.chip;
};

}  // namespace qvin::test
