#pragma once
// The adapter's SPI commands, sent on pipe 0 of the current adapter with replies on
// pipe 1. Each does nothing while no adapter is selected (UsbReady false); a failed
// request says so once and clears UsbReady, so later commands do nothing until an adapter
// is selected again.

#include <cstdint>

#include "device/program.h"

namespace qvin {

// Reads the adapter's word delay and static bits into SpiDelay and SpiStaticBits.
void UsbSpiReadSetup(Program& p);
// Sets the delay between words; 0 becomes 1, also in the caller's variable.
void UsbSpiSetup(Program& p, std::uint8_t& delay);
void UsbSpiSetBits(Program& p, std::uint8_t bits);
// A newly chosen adapter gets the program's SPI set-up: the delay, then the static bits.
void UsbSpiSendSetUp(Program& p);
// Sends SpiWriteWords[1..n] and fills SpiReadWords[1..n].
void UsbSpiTransfer(Program& p, int n);

}  // namespace qvin
