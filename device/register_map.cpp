#include "device/register_map.h"

#include <initializer_list>

namespace qvin {

namespace {

constexpr const char* kNames[] = {
    "",          "Fls_Cyc",  "Supply_Out", "Xaccel_Out", "Yaccel_Out", "Aux_ADC",   "Temp_Out",
    "Incl_Out",  "Incl_180_Out", "N/A",    "N/A",        "N/A",        "N/A",       "Incl_Null",
    "N/A",       "N/A",      "N/A",        "Alm_Mag1",   "Alm_Mag2",   "Alm_Smp1",  "Alm_Smp2",
    "Alm_Ctrl",  "N/A",      "N/A",        "N/A",        "Aux_DAC",    "Gpio_Ctrl", "Msc_Ctrl",
    "Smpl_Prd",  "Avg_Cnt",  "Pwr_Mde",    "Status ",    "Command",    "N/A",       "X_Offset",
    "X_Scale",   "X_Null",   "Y_Offset",   "Y_Scale",    "Y_Null",     "Y_Phase",   "KeyCode",
    "Rev_Day",   "Mon_Year", "Product",    "N/A",        "Ref0trm",    "Ref1trm",   "Adcof",
    "Adcgn",     "Buf0of",   "Buf1of",     "Buf2of",     "Buf3of",     "OscTrm",    "N/A",
    "N/A",       "N/A",      "N/A",        "N/A",        "ADC_Tst",    "ADC_Slct",  "Test_Cnfg",
};
static_assert(sizeof kNames / sizeof kNames[0] == 63, "names for indices 0 to 62");

// Address blocks: first index, last index, base address; two bytes per index.
struct Block {
    int first, last;
    std::int32_t base;
};
constexpr Block kBlocks[] = {
    {1, 16, 0x00}, {17, 24, 0x20}, {25, 32, 0x30}, {33, 40, 0x40},
    {41, 45, 0x50}, {46, 53, 0x60}, {54, 60, 0x70},
};

}  // namespace

void InitRegisterTable(RegisterMap& map) {
    for (int i = 0; i <= kRegisterCount; ++i) map[i] = RegisterInfo{};

    for (int i = 1; i <= 62; ++i) map[i].RegName = kNames[i];

    for (const Block& b : kBlocks) {
        for (int i = b.first; i <= b.last; ++i) {
            map[i].RegAddr = b.base + 2 * (i - b.first);
            map[i].RegBytes = 2;
        }
    }
    map[61].RegAddr = 0x7E;
    map[61].RegBytes = 1;
    map[62].RegAddr = 0x7F;
    map[62].RegBytes = 1;

    for (int i = 1; i <= kRegisterCount; ++i) map[i].RegReadable = map[i].RegWritable = true;
    for (int i = 1; i <= 8; ++i) map[i].RegWritable = false;
    for (int i : {31, 42, 44, 45, 60}) map[i].RegWritable = false;
    map[32].RegReadable = false;

    for (int i : {3, 4, 8, 13, 34, 36, 37, 39, 40}) map[i].RegSigned = true;

    map[2].RegScale = 0.00122f;
    map[3].RegScale = 0.000462f;
    map[4].RegScale = 0.000462f;
    map[5].RegScale = 0.000611f;
    map[6].RegScale = -0.47f;
    map[6].RegOffset = 625.66f;
    map[7].RegScale = 0.025f;
    map[8].RegScale = 0.025f;
    map[25].RegScale = 0.0006105f;

    for (int i : {2, 5, 6, 25}) map[i].RegBits = 12;
    for (int i : {3, 4, 7, 8, 40}) map[i].RegBits = 14;
    for (int i : {19, 20, 28, 30, 32}) map[i].RegBits = 8;
    for (int i : {26, 27, 31}) map[i].RegBits = 10;
    map[29].RegBits = 4;

    for (int i = 2; i <= 8; ++i) map[i].RegHasError = map[i].RegHasNewData = true;
}

}  // namespace qvin
