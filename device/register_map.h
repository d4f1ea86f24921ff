#pragma once
// The QVIN27319's registers by index 1 to 65: name, SPI address of the low byte, size,
// access, data width, number format, flag bits and the conversion to physical units.

#include <array>
#include <cstdint>
#include <string>

namespace qvin {

struct RegisterInfo {
    std::string RegName;        // "N/A" where the address is known but unused
    std::int32_t RegAddr = 0;   // SPI byte address of the low byte
    std::uint8_t RegBytes = 0;  // 2, or 1 for the byte-wide test registers
    bool RegReadable = false;   // ReadReg does nothing where this is false
    bool RegWritable = false;   // consulted by the register window only
    std::int16_t RegBits = 16;  // significant data bits from bit 0
    bool RegSigned = false;     // data bits are two's complement
    bool RegHasNewData = false; // bit 15 is the new-data flag
    bool RegHasError = false;   // bit 14 is the error/alarm flag
    float RegScale = 1.0f;
    float RegOffset = 0.0f;
};

inline constexpr int kRegisterCount = 65;

struct RegisterMap {
    std::array<RegisterInfo, kRegisterCount + 1> reg;  // index 0 is never used
    const RegisterInfo& operator[](int index) const { return reg[static_cast<std::size_t>(index)]; }
    RegisterInfo& operator[](int index) { return reg[static_cast<std::size_t>(index)]; }
    static bool Valid(int index) { return index >= 1 && index <= kRegisterCount; }
};

// Fills every column. Calling it again restores the same table.
void InitRegisterTable(RegisterMap& map);

// Register indices by name, as the windows use them.
namespace reg {
inline constexpr std::int16_t Fls_Cyc = 1, Supply_Out = 2, Xaccel_Out = 3, Yaccel_Out = 4,
                              Aux_ADC = 5, Temp_Out = 6, Incl_Out = 7, Incl_180_Out = 8,
                              Incl_Null = 13, Alm_Mag1 = 17, Alm_Mag2 = 18, Alm_Smp1 = 19,
                              Alm_Smp2 = 20, Alm_Ctrl = 21, Aux_DAC = 25, Gpio_Ctrl = 26,
                              Msc_Ctrl = 27, Smpl_Prd = 28, Avg_Cnt = 29, Pwr_Mde = 30,
                              Status = 31, Command = 32, X_Offset = 34, X_Scale = 35, X_Null = 36,
                              Y_Offset = 37, Y_Scale = 38, Y_Null = 39, Y_Phase = 40,
                              KeyCode = 41, Rev_Day = 42, Mon_Year = 43, Product = 44,
                              ADC_Tst = 60, ADC_Slct = 61, Test_Cnfg = 62;
}  // namespace reg

}  // namespace qvin
