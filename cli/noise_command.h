#pragma once
// qvin-cli noise: what captured samples say of the sensor (statistics, the deviations, the
// noise terms with their uncertainty, the spectrum), as text, CSV, JSON or a picture.

#include "cli/commands.h"

namespace qvin::cli {

Action Noise(Command& c);

}  // namespace qvin::cli
