// Alarm thresholds between codes and units, for every source.

#include <gtest/gtest.h>

#include <limits>

#include "core/number_text.h"
#include "ui/setup/frm_alarm.h"

namespace qvin::ui {
namespace {

namespace src = alarm_source;

struct Conversion {
    int source;
    std::int32_t code;
    const char* shown;  // "#0.000"
};

TEST(AlarmThreshold, CodesShowInTheSourcesUnits) {
    RegisterMap map;
    InitRegisterTable(map);
    const Conversion cases[] = {
        {src::PS, 2048, "2.499"},          {src::PS, 4095, "4.996"},
        {src::AuxAdc, 4095, "2.502"},      {src::Temp, 1278, "25.000"},
        {src::Temp, 0, "625.660"},         {src::Temp, 1331, "0.090"},
        {src::Incl360, 14399, "359.975"},  {src::Incl180, 7200, "180.000"},
        {src::Incl180, 9184, "-180.000"},  {src::Incl180, 8191, "204.775"},
        {src::Incl180, 8192, "-204.800"},  {src::Incl180, 16383, "-0.025"},
        {src::Disabled, 1234, "0.000"},    {2, 1234, "0.000"},
    };
    for (const Conversion& c : cases)
        EXPECT_EQ(FormatFixed(AlarmThresholdShown(map, c.source, c.code), 3), c.shown) << c.source << " " << c.code;
}

struct Typed {
    int source;
    float value;
    int code;
};

TEST(AlarmThreshold, TypedValuesRoundHalfEvenAndStayInRange) {
    RegisterMap map;
    InitRegisterTable(map);
    const Typed cases[] = {
        {src::PS, 2.5f, 2049},         {src::PS, 100.0f, 4095},       {src::PS, -1.0f, 0},
        {src::AuxAdc, 1.0f, 1637},     {src::Temp, 25.0f, 1278},      {src::Temp, 30.0f, 1267},
        {src::Temp, -2000.0f, 4095},   {src::Temp, 1000.0f, 0},       {src::Incl360, 90.0f, 3600},
        {src::Incl360, 0.0125f, 0},    {src::Incl360, 0.0375f, 2},    {src::Incl360, 1e30f, 16383},
        {src::Incl180, -180.0f, 9184}, {src::Incl180, 300.0f, 12000}, {src::Incl180, -0.01f, 0},
        {src::Incl180, -0.02f, 16383}, {src::Incl180, -1e30f, 0},
    };
    for (const Typed& t : cases) {
        const auto code = AlarmThresholdCode(map, t.source, t.value);
        ASSERT_TRUE(code) << t.source;
        EXPECT_EQ(*code, t.code) << t.source << " " << t.value;
    }
    // Typed infinities (a number too large for single precision) are limited too.
    EXPECT_EQ(AlarmThresholdCode(map, src::PS, std::numeric_limits<float>::infinity()), 4095);
    for (int none : {src::Disabled, 2, 3}) EXPECT_FALSE(AlarmThresholdCode(map, none, 5.0f)) << none;
}

}  // namespace
}  // namespace qvin::ui
