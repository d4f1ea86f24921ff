#pragma once
// The USB adapter's commands: the first byte of each message the program sends on pipe 0.

#include <cstdint>

namespace qvin::adapter {

inline constexpr std::uint8_t kFirmwareVersion = 0;  // replies its major and minor version
inline constexpr std::uint8_t kReadSetup = 1;        // replies its word delay and static bits
inline constexpr std::uint8_t kSetDelay = 11;        // the delay between words, in microseconds
inline constexpr std::uint8_t kSetBits = 12;         // the static bits (the chip selects)
inline constexpr std::uint8_t kTransferPos = 13;     // channel, N, then N words; replies N words
inline constexpr std::uint8_t kTransferNeg = 14;     // the same, the words read inverted

}  // namespace qvin::adapter
