#pragma once
// qvin-cli: the chip's registers from the command line, through a parallel port or a
// USB adapter, on real hardware or the simulated board.

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "analysis/noise_terms.h"
#include "analysis/stability.h"
#include "core/clock.h"

namespace qvin::cli {

enum ExitCode { kOk = 0, kBadInput = 1, kNoInterface = 2, kFileError = 3 };

// One output's Allan curve, for the noise command's picture, with the noise terms fitted
// to it.
struct AllanCurve {
    std::string name;  // "INCL_360 (dgr)"
    std::string unit;  // "dgr"
    std::vector<analysis::AllanPoint> points;
    analysis::NoiseTerms terms;
};
// The picture: its title (the file, its samples and the time between them) and the curves.
struct AllanPicture {
    std::string title;
    std::vector<AllanCurve> curves;
};
// Draws the curves into a PNG file (Qt); why it could not, or nothing.
using AllanPng = std::function<std::string(const AllanPicture&, const std::string& file)>;

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
    // noise --png's drawing (Qt); empty without the Qt front end.
    AllanPng allanPng{};
    std::string boardError{};  // why QVIN_BOARD names no board; refused unless --sim or --replay
    std::string version{};     // what --version prints after "qvin-cli "
};

int RunCli(const std::vector<std::string>& args, CliContext& ctx);

}  // namespace qvin::cli
