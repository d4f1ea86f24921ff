#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "core/number_text.h"
#include "device/data_log.h"
#include "device/data_log_reader.h"
#include "support/comma_locale.h"

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

// Under a locale that writes "3,301" (as the windows run once the toolkit has read the
// user's settings), every number is still read and written with a point, and a data log
// written there reads back whole.
TEST(NumberText, APointWhateverTheLocale) {
    const std::string comma = test::MakeCommaLocale();
    if (comma.empty()) GTEST_SKIP() << "no locale with a decimal comma can be made here";
    ASSERT_TRUE(std::setlocale(LC_ALL, comma.c_str()));
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.1f", 1.5);
    const bool commaInForce = std::string(probe) == "1,5";
    EXPECT_DOUBLE_EQ(LeadingNumber("12.5"), 12.5);
    EXPECT_DOUBLE_EQ(LeadingNumber("-3.30132e-2"), -0.0330132);
    EXPECT_TRUE(std::isinf(LeadingNumber("1e999")));
    EXPECT_EQ(FormatFixed(3.301, 3), "3.301");
    EXPECT_EQ(FormatFixed(90.0, 2), "90.00");
    EXPECT_EQ(FormatGeneral(3.30132f), "3.30132");
    EXPECT_EQ(FormatGeneral(1e-5f), "1E-05");
    EXPECT_EQ(FormatSignificant(30.00031, 6), "30.0003");  // the strip chart's legend, the analysis window
    DataLogHeader h;
    h.date = "12/7/2026 09:00:00";
    h.loopDelayMs = 12.5f;
    h.samplePeriodText = FormatFixed(1.0986, 3);
    h.avgCntText.assign(1, '7');
    std::string text = DataLogHeaderText(h);
    for (int i = 1; i <= 3; ++i) text += DataLogLine(i, {3.30132f, 0, 24.99998f, 30.025f, -12.5f}, true, false, 0);
    const DataLogContents log = ParseDataLog(text);
    std::setlocale(LC_ALL, "C");
    EXPECT_TRUE(commaInForce) << "the locale did not write a comma: the test proves nothing";
    EXPECT_NE(text.find("LoopDelay\t12.5 mS"), std::string::npos) << text;
    EXPECT_NE(text.find("1.099"), std::string::npos) << text;
    ASSERT_EQ(log.runs.size(), 1u);
    EXPECT_EQ(log.skipped, 0u);
    ASSERT_EQ(log.runs[0].passes.size(), 3u);
    EXPECT_FLOAT_EQ(static_cast<float>(log.runs[0].passes[2].values[4]), -12.5f);
    EXPECT_DOUBLE_EQ(log.runs[0].loopDelayMs, 12.5);
}

TEST(NumberText, TheGeneralFormOfADoubleKeepsFifteenDigits) {
    EXPECT_EQ(FormatGeneralDouble(10'000'000), "10000000");
    EXPECT_EQ(FormatGeneralDouble(123456789012345.0), "123456789012345");
    EXPECT_EQ(FormatGeneralDouble(1e15), "1E+15");
    EXPECT_EQ(FormatGeneralDouble(2.5), "2.5");
    EXPECT_EQ(FormatGeneral(10'000'000.0f), "1E+07");  // single precision keeps seven
    EXPECT_EQ(FormatSignificant(0.0000123456, 3), "1.23e-05");
    EXPECT_EQ(FormatSignificant(0.025, 3), "0.025");
}

}  // namespace
}  // namespace qvin
