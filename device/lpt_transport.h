#pragma once
// SPI over the parallel port, bit by bit: data register bit 0 chip select (high during a
// frame), bit 1 clock, bit 2 data to the chip (inverted); status bit 6 data from the chip
// (inverted). Every port write is followed by the shortest pause.

#include <cstdint>

#include "device/program.h"

namespace qvin {

// Byte-wide port access with the protocol trace.
void vbOut(Program& p, std::uint16_t port, std::uint8_t value);
std::uint8_t vbInp(Program& p, std::uint16_t port);

void LptSpiWrite(Program& p, std::int32_t word);
std::int32_t LptSpiRead(Program& p, std::int16_t address);
// One frame both ways: sends `word` and returns the 16 bits the chip shifted out meanwhile
// (the answer to the request of the frame before). Each bit as a write frame clocks it,
// with the input sampled where a read frame samples it: after the clock rises.
std::int32_t LptSpiExchange(Program& p, std::int32_t word);
void LptReset(Program& p);
// The port at the settings' address made usable: access granted (InstallGiveIO says why
// not, once), then the port reset. Records the outcome in GiveIoInstalled and
// PortPrepareFailed; false when the port cannot be used.
bool PreparePort(Program& p);

}  // namespace qvin
