#include "device/register_access.h"

#include "device/register_burst.h"
#include "device/transports.h"

namespace qvin {

std::optional<RegReading> ReadReg(Program& p, std::int16_t index) {
    if (!RegisterMap::Valid(index)) return std::nullopt;
    const RegisterInfo& r = p.map[index];
    if (!r.RegReadable) return std::nullopt;

    const std::int32_t raw = ReadRegWord(p, static_cast<std::int16_t>(r.RegAddr));
    // A request that did not go through (no adapter, or it failed just now) read nothing:
    // decoding the last transfer's words would show another register's contents.
    if (const Transport* t = FindTransport(p.settings.InterfaceType); t && !t->ready(p)) return std::nullopt;
    p.reg.RegRaw = raw;
    if (r.RegHasNewData) p.reg.NewDataFlag = raw & 0x8000;
    if (r.RegHasError) p.reg.ErrorFlag = raw & 0x4000;

    const RegReading decoded = DecodeRegister(r, raw);
    p.reg.RegData = decoded.data;
    p.reg.RegValue = decoded.value;
    p.Delay(0.1f);
    return decoded;
}

void WriteReg(Program& p, std::int16_t index, std::int32_t value) {
    if (!RegisterMap::Valid(index)) return;
    const std::int32_t a = p.map[index].RegAddr;
    const std::int32_t hi = (value >> 8) & 0xFF;
    const std::int32_t lo = value & 0xFF;
    // The key register takes its low byte first; every other register the high byte
    // (odd address) first, so the low byte completes the write.
    if (index == reg::KeyCode) WriteRegBytes(p, a, lo, a + 1, hi);
    else WriteRegBytes(p, a + 1, hi, a, lo);
    p.Delay(0.1f);
}

void WriteRegBytes(Program& p, std::int32_t a1, std::int32_t d1, std::int32_t a2, std::int32_t d2) {
    const std::int32_t w1 = 0x8000 + (a1 & 0x7F) * 256 + (d1 & 0xFF);
    const std::int32_t w2 = 0x8000 + (a2 & 0x7F) * 256 + (d2 & 0xFF);
    if (const Transport* t = FindTransport(p.settings.InterfaceType)) t->writeFrames(p, w1, w2);
}

std::int32_t ReadRegWord(Program& p, std::int16_t address) {
    const Transport* t = FindTransport(p.settings.InterfaceType);
    return t ? t->readWord(p, (address & 0x7F) * 256) : 0;
}

}  // namespace qvin
