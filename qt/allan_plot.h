#pragma once
// qvin-cli noise --png: the Allan deviation of each output on log-log axes, with its 68 %
// intervals as error bars and guides of slope -1/2 (white noise) and +1/2 (random walk),
// drawn without a display.

#include <string>
#include <vector>

#include "cli/cli.h"

namespace qvin::qt {

// Why the picture could not be written, or nothing.
std::string DrawAllanPng(const std::vector<cli::AllanCurve>& curves, const std::string& file);

}  // namespace qvin::qt
