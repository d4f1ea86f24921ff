#pragma once
// Hexadecimal text typed by the user (register values, SPI words, port addresses).
// Never rejects a character: anything that is not a hex digit counts as 0, and only
// the last four characters are read, so "0x1F" is 31 and "12345" is 0x2345.

#include <cstdint>
#include <string_view>

namespace qvin {

std::int32_t HexToInt(std::string_view text);    // 0 to 65535
std::int16_t HexToShort(std::string_view text);  // the same bits, signed

}  // namespace qvin
