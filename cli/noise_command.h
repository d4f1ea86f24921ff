#pragma once
// qvin-cli capture and noise: samples as fast as the interface allows into a CSV file, and
// what they say of the sensor (statistics, Allan deviation, white noise, bias instability).

#include "cli/commands.h"

namespace qvin::cli {

Action Capture(Command& c);
Action Noise(Command& c);
// export-vcd RECORDING --out FILE.vcd: the recorded session's SPI bus as a waveform.
Action ExportVcdCommand(Command& c);

}  // namespace qvin::cli
