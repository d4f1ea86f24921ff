#pragma once
// qvin-cli noise --png: the Allan deviation of each output on log-log axes, with its 68 %
// intervals as error bars, the noise model fitted to it drawn over it and its terms named
// beside it, under a title that names the file, its samples and the time between them;
// guides of slope -1/2 (white noise) and +1/2 (random walk) where no model could be fitted.
// Drawn without a display.

#include <string>
#include <vector>

#include "analysis/allan_picture.h"

namespace qvin::qt {

// Why the picture could not be written, or nothing.
std::string DrawAllanPng(const analysis::AllanPicture& picture, const std::string& file);

}  // namespace qvin::qt
