#pragma once
// Facts the windows need from the chip's registers: identification, what drives the two
// digital pins, and the sample and averaging periods.

#include <cstdint>

#include "device/program.h"

namespace qvin {

// Reverse rotation lives in bit 5 of Msc_Ctrl. Bit 9 would be cleared as a side effect by
// the self-test and data-ready controls, which rewrite the upper bits.
inline constexpr std::int32_t kReverseRotationBit = 0x0020;
inline constexpr std::int32_t kSelfTestBit = 0x0100;
inline constexpr std::int32_t kFactoryKey = 389;

// Unlocks the part, then reads revision, date, flash cycles, product and rotation.
void ReadPartInfo(Program& p);
// Reads Gpio_Ctrl, Alm_Ctrl and Msc_Ctrl and works out Dio0Use and Dio1Use.
void ReadPinUsage(Program& p);
// The sample period in milliseconds for a Smpl_Prd value.
float SmplPrdToMs(std::int32_t v);
// The update period for averaging `code` (limited to 0..8, also in the caller's
// variable) at a sample period of periodMs; sets RollAvgCount.
float AvgUpdatePeriod(Program& p, float periodMs, std::int32_t& code);

}  // namespace qvin
