#include "device/part_info.h"

#include "device/register_access.h"

namespace qvin {

namespace {
// The packed decimal digits d1 (bits 12-15) to d4 (bits 0-3); a nibble above 9 counts as is.
int Digit(std::int32_t v, int which) { return (v >> (4 * (4 - which))) & 0xF; }
}  // namespace

void ReadPartInfo(Program& p) {
    WriteReg(p, reg::KeyCode, kFactoryKey);
    p.Delay(100.0f);

    ReadReg(p, reg::Rev_Day);
    std::int32_t v = p.reg.RegData;
    p.part.PartRevision = static_cast<float>(10 * Digit(v, 3) + Digit(v, 4)) / 10.0f;
    p.part.PartDay = 10 * Digit(v, 1) + Digit(v, 2);

    ReadReg(p, reg::Mon_Year);
    v = p.reg.RegData;
    p.part.PartMonth = 10 * Digit(v, 3) + Digit(v, 4);
    p.part.PartYear = 10 * Digit(v, 1) + Digit(v, 2) + 2000;

    ReadReg(p, reg::Fls_Cyc);
    p.part.FlashCycles = p.reg.RegData;

    ReadReg(p, reg::Product);
    p.part.PartName = p.reg.RegData == 27319 ? "QVIN27319" : "Unknown";

    ReadReg(p, reg::Msc_Ctrl);
    p.part.ReverseRotation = (p.reg.RegData & kReverseRotationBit) != 0;
}

void ReadPinUsage(Program& p) {
    PartState& s = p.part;
    s.Dio0Use = 0;
    s.Dio1Use = 0;

    ReadReg(p, reg::Gpio_Ctrl);
    s.GpioCtrlVal = p.reg.RegData;
    if (s.GpioCtrlVal & 2) s.Dio1Use = 1;
    if (s.GpioCtrlVal & 1) s.Dio0Use = 1;

    // Bit 2 enables the output, bit 0 picks the pin (1 DIO1, 0 DIO0); data ready outranks
    // the alarm output, which outranks a general-purpose output.
    ReadReg(p, reg::Alm_Ctrl);
    s.AlmCtrlVal = p.reg.RegData;
    if ((s.AlmCtrlVal & 5) == 5) s.Dio1Use = 2;
    if ((s.AlmCtrlVal & 5) == 4) s.Dio0Use = 2;

    ReadReg(p, reg::Msc_Ctrl);
    s.MscCtrlVal = p.reg.RegData;
    if ((s.MscCtrlVal & 5) == 5) s.Dio1Use = 3;
    if ((s.MscCtrlVal & 5) == 4) s.Dio0Use = 3;
}

float SmplPrdToMs(std::int32_t v) {
    const float base = v < 128 ? 0.12207f : 3.784f;
    return base * static_cast<float>((v & 127) + 1);
}

float AvgUpdatePeriod(Program& p, float periodMs, std::int32_t& code) {
    if (code < 0) code = 0;
    if (code > 8) code = 8;
    const float samples = static_cast<float>(1 << code) * 2.0f;
    p.part.RollAvgCount = static_cast<std::int32_t>(samples);
    return samples * periodMs;
}

}  // namespace qvin
