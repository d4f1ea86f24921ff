#pragma once
// The part's five outputs as every front end names them, in the order the main window shows
// them: each one's name, unit, column heading and register.

#include <array>
#include <cstdint>

#include "device/register_map.h"

namespace qvin {

struct Output {
    const char* name;    // "INCL_360"
    const char* unit;    // "dgr"
    const char* column;  // "INCL_360 (dgr)": how the programs head its column
    std::int16_t index;  // its register
};

inline constexpr std::array<Output, 5> kPartOutputs = {{{"SUPPLY_OUT", "V", "SUPPLY_OUT (V)", reg::Supply_Out},
                                                        {"AUX_ADC", "V", "AUX_ADC (V)", reg::Aux_ADC},
                                                        {"TEMP_OUT", "dgrC", "TEMP_OUT (dgrC)", reg::Temp_Out},
                                                        {"INCL_360", "dgr", "INCL_360 (dgr)", reg::Incl_Out},
                                                        {"INCL_180", "dgr", "INCL_180 (dgr)", reg::Incl_180_Out}}};

}  // namespace qvin
