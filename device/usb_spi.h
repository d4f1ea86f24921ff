#pragma once
// SPI through the USB adapter: up to 16 words per request, sent on pipe 0, the words
// clocked back read from pipe 1.

#include "device/program.h"

namespace qvin {

// Sends p.spi.SpiWriteWords[1..n] and fills p.spi.SpiReadWords[1..n]. Does nothing while
// no adapter is selected (UsbReady false).
void UsbSpiTransfer(Program& p, int n);

}  // namespace qvin
