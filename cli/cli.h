#pragma once
// qvin-cli: the chip's registers from the command line, through a parallel port or a
// USB adapter, on real hardware or the simulated board.

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "core/clock.h"

namespace qvin::cli {

enum ExitCode { kOk = 0, kBadInput = 1, kNoInterface = 2, kFileError = 3 };

struct CliContext {
    Clock& clock;
    std::istream& in;
    std::ostream& out;
    std::ostream& err;
    std::string boardName;    // "sim" or "hardware" unless --sim says otherwise
    std::string settingsFile = "Qvin27319.cfg";
    float calibrationMs = 300.0f;  // final calibration trial; delays never end early anyway
    // plot's drawing (Qt): the words after "plot", standard output and error, the exit
    // status. Empty in a build without the Qt front end.
    std::function<int(const std::vector<std::string>&, std::ostream&, std::ostream&)> plot{};
};

int RunCli(const std::vector<std::string>& args, CliContext& ctx);

}  // namespace qvin::cli
