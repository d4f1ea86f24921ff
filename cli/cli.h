#pragma once
// qvin-cli: the chip's registers from the command line, through a parallel port or a
// USB adapter, on real hardware or the simulated board.

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "analysis/allan_picture.h"
#include "core/clock.h"
#include "core/exit_status.h"

namespace qvin::cli {

// Draws the curves into a PNG file (Qt); why it could not, or nothing.
using AllanPng = std::function<std::string(const analysis::AllanPicture&, const std::string& file)>;

struct CliContext {
    Clock& clock;
    std::istream& in;
    std::ostream& out;
    std::ostream& err;
    std::string boardName;    // "sim" or "hardware" unless --sim says otherwise
    std::string settingsFile = "Qvin27319.cfg";
    float calibrationMs = 300.0f;  // final calibration trial; delays never end early anyway
    // plot's drawing (Qt): the data log, the PNG file, its width and height. Empty in a
    // build without the Qt front end.
    std::function<Outcome(const std::string&, const std::string&, int, int)> plot{};
    // noise --png's drawing (Qt); empty without the Qt front end.
    AllanPng allanPng{};
    std::string boardError{};  // why QVIN_BOARD names no board; refused unless --sim or --replay
    std::string version{};     // what --version prints after "qvin-cli "
};

int RunCli(const std::vector<std::string>& args, CliContext& ctx);

}  // namespace qvin::cli
