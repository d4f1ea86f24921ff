#include <gtest/gtest.h>

#include "core/hex_text.h"

namespace qvin {
namespace {

struct HexCase {
    const char* text;
    std::int32_t asInt;
    std::int16_t asShort;
};

TEST(HexText, ReadsUpToFourDigitsAndCountsOtherCharactersAsZero) {
    const HexCase cases[] = {
        {"", 0, 0},          {"1F", 31, 31},          {"1f", 31, 31},       {"01F", 31, 31},
        {"0x1F", 31, 31},    {"FFFF", 65535, -1},     {"9000", 36864, -28672}, {"378", 888, 888},
        {"G1", 1, 1},        {" 12", 18, 18},         {"7FFF", 32767, 32767}, {"8000", 32768, -32768},
        {"-1", 1, 1},        // the minus sign is a 0 digit
        {"12345", 0x2345, 0x2345},  // longer text: its last four characters
        {"xxxxxFFFF", 65535, -1},
    };
    for (const HexCase& c : cases) {
        EXPECT_EQ(HexToInt(c.text), c.asInt) << '"' << c.text << '"';
        EXPECT_EQ(HexToShort(c.text), c.asShort) << '"' << c.text << '"';
    }
}

}  // namespace
}  // namespace qvin
