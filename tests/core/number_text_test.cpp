#include <gtest/gtest.h>

#include "core/number_text.h"

namespace qvin {
namespace {

TEST(LeadingNumber, ReadsAsFarAsTheNumberGoes) {
    EXPECT_DOUBLE_EQ(LeadingNumber("25.0"), 25.0);
    EXPECT_DOUBLE_EQ(LeadingNumber("  -12.5abc"), -12.5);
    EXPECT_DOUBLE_EQ(LeadingNumber("+3"), 3.0);
    EXPECT_DOUBLE_EQ(LeadingNumber(".5"), 0.5);
    EXPECT_DOUBLE_EQ(LeadingNumber("7."), 7.0);
    EXPECT_DOUBLE_EQ(LeadingNumber("1e3 ms"), 1000.0);
    EXPECT_DOUBLE_EQ(LeadingNumber("2E-2"), 0.02);
    EXPECT_DOUBLE_EQ(LeadingNumber("4e"), 4.0);    // an exponent needs digits
    EXPECT_DOUBLE_EQ(LeadingNumber("4e+x"), 4.0);
    EXPECT_DOUBLE_EQ(LeadingNumber("1,5"), 1.0);
    EXPECT_DOUBLE_EQ(LeadingNumber("abc"), 0.0);
    EXPECT_DOUBLE_EQ(LeadingNumber(""), 0.0);
    EXPECT_DOUBLE_EQ(LeadingNumber("-"), 0.0);
    EXPECT_DOUBLE_EQ(LeadingNumber("."), 0.0);
    EXPECT_EQ(ScanLeadingNumber("abc").length, 0u);
    EXPECT_EQ(ScanLeadingNumber(" 12x").length, 3u);
}

TEST(RoundHalfEven, HalvesGoToTheEvenNeighbour) {
    EXPECT_EQ(RoundHalfEven(12.5), 12);
    EXPECT_EQ(RoundHalfEven(13.5), 14);
    EXPECT_EQ(RoundHalfEven(-2.5), -2);
    EXPECT_EQ(RoundHalfEven(2.5000001), 3);
    EXPECT_EQ(RoundHalfEven(-0.4), 0);
    EXPECT_EQ(RoundHalfEven(1e300), INT64_MAX);
}

TEST(FormatFixed, ShowsTheGivenDecimalsWithALeadingDigit) {
    EXPECT_EQ(FormatFixed(4.99951, 3), "5.000");
    EXPECT_EQ(FormatFixed(25.5, 2), "25.50");
    EXPECT_EQ(FormatFixed(0.25, 1), "0.2");  // the binary value is exactly halfway
    EXPECT_EQ(FormatFixed(0.123, 4), "0.1230");
    EXPECT_EQ(FormatFixed(-1.5, 3), "-1.500");
    EXPECT_EQ(FormatFixed(-0.0001, 3), "0.000");  // no negative zero on screen
    // A value of any size is written whole, never cut at a buffer's end.
    const std::string huge = FormatFixed(-1e300, 3);
    EXPECT_EQ(huge.size(), 1u + 301u + 4u);
    EXPECT_EQ(huge.substr(0, 3), "-10");
    EXPECT_EQ(huge.substr(huge.size() - 4), ".000");
}

TEST(FormatHex, UpperCaseTwosComplementAndPadding) {
    EXPECT_EQ(FormatHex(0x3A), "3A");
    EXPECT_EQ(FormatHex(0), "0");
    EXPECT_EQ(FormatHex(0, 4), "0000");
    EXPECT_EQ(FormatHex(0x12345, 4), "12345");
    EXPECT_EQ(FormatHex(-5), "FFFFFFFB");
    EXPECT_EQ(FormatHex(-5, 4), "FFFFFFFB");
}

TEST(FormatGeneral, SevenSignificantDigitsWithoutTrailingZeros) {
    EXPECT_EQ(FormatGeneral(25.0f), "25");
    EXPECT_EQ(FormatGeneral(12.5f), "12.5");
    EXPECT_EQ(FormatGeneral(2048 * 0.00122f), "2.49856");
    EXPECT_EQ(FormatGeneral(0.1f), "0.1");
    EXPECT_EQ(FormatGeneral(-0.0f), "0");
    EXPECT_EQ(FormatGeneral(0.0001f), "0.0001");
    EXPECT_EQ(FormatGeneral(0.00001f), "1E-05");
    EXPECT_EQ(FormatGeneral(12345678.0f), "1.234568E+07");
    EXPECT_EQ(FormatGeneral(-179.975f), "-179.975");
}

}  // namespace
}  // namespace qvin
