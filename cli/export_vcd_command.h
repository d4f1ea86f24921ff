#pragma once
// qvin-cli export-vcd RECORDING --out FILE.vcd: the recorded session's SPI bus as a waveform.

#include "cli/commands.h"

namespace qvin::cli {

Action ExportVcdCommand(Command& c);

}  // namespace qvin::cli
