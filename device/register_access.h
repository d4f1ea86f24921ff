#pragma once
// Register reads and writes by register index, routed to the selected interface.
// Frames are 16 bits, most significant bit first: a write frame is 0x8000 + address * 256
// + data byte, a read request address * 256, answered during the next frame.

#include <cstdint>
#include <optional>

#include "device/program.h"
#include "device/register_burst.h"

namespace qvin {

// Reads a register into p.reg (RegData, RegValue, NewDataFlag, ErrorFlag) and returns
// what it read. Does nothing for a register that cannot be read or an index outside the
// map, and leaves p.reg as it was when the interface is not usable or fails the request:
// then it returns nothing.
std::optional<RegReading> ReadReg(Program& p, std::int16_t index);
// Writes bits 0 to 15 of value as two byte writes.
void WriteReg(Program& p, std::int16_t index, std::int32_t value);

std::int32_t ReadRegWord(Program& p, std::int16_t address);
void WriteRegBytes(Program& p, std::int32_t a1, std::int32_t d1, std::int32_t a2, std::int32_t d2);

}  // namespace qvin
