#pragma once
// Getting access to the parallel port before the first port access: on Linux, opening
// and claiming the ppdev device for PortAddress.

#include "device/program.h"

namespace qvin {

// Claims the port at PortAddress. On failure says "The required I/O drivers could not be
// installed." with the title "Error" and a second line naming the device and the reason.
// Returns whether the port can now be used.
bool InstallGiveIO(Program& p);

}  // namespace qvin
