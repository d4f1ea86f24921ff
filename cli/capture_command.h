#pragma once
// qvin-cli capture: samples of the chosen outputs as fast as the interface allows, into a
// CSV file or standard output, every pass accounted for.

#include "cli/commands.h"

namespace qvin::cli {

Action Capture(Command& c);

}  // namespace qvin::cli
