#include "core/hex_text.h"

namespace qvin {

namespace {
int DigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return 0;
}
}  // namespace

std::int32_t HexToInt(std::string_view text) {
    if (text.size() > 4) text = text.substr(text.size() - 4);
    std::int32_t v = 0;
    for (char c : text) v = v * 16 + DigitValue(c);
    return v;
}

std::int16_t HexToShort(std::string_view text) {
    std::int32_t v = HexToInt(text);
    if (v > 0x7FFF) v -= 0x10000;
    return static_cast<std::int16_t>(v);
}

}  // namespace qvin
