#include "device/register_access.h"

#include "device/lpt_transport.h"
#include "device/register_burst.h"
#include "device/usb_spi.h"

namespace qvin {

void ReadReg(Program& p, std::int16_t index) {
    if (!RegisterMap::Valid(index)) return;
    const RegisterInfo& r = p.map[index];
    if (!r.RegReadable) return;

    const std::int32_t raw = ReadRegWord(p, static_cast<std::int16_t>(r.RegAddr));
    // Over USB a request that did not go through (no adapter, or it failed just now) read
    // nothing: decoding the last transfer's words would show another register's contents.
    if (p.settings.InterfaceType == 2 && !p.UsbReady()) return;
    p.reg.RegRaw = raw;
    if (r.RegHasNewData) p.reg.NewDataFlag = raw & 0x8000;
    if (r.RegHasError) p.reg.ErrorFlag = raw & 0x4000;

    const RegReading decoded = DecodeRegister(r, raw);
    p.reg.RegData = decoded.data;
    p.reg.RegValue = decoded.value;
    p.Delay(0.1f);
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
    switch (p.settings.InterfaceType) {
        case 2:  // both frames in one adapter request
            p.spi.SpiWriteWords[1] = w1;
            p.spi.SpiWriteWords[2] = w2;
            p.spi.SpiChannel = 1;
            UsbSpiTransfer(p, 2);
            break;
        case 1:
            LptSpiWrite(p, w1);
            LptSpiWrite(p, w2);
            break;
        default:
            break;
    }
}

std::int32_t ReadRegWord(Program& p, std::int16_t address) {
    const std::int32_t w = (address & 0x7F) * 256;
    switch (p.settings.InterfaceType) {
        case 2:  // the second copy of the request only clocks the answer out
            p.spi.SpiWriteWords[1] = w;
            p.spi.SpiWriteWords[2] = w;
            p.spi.SpiChannel = 1;
            UsbSpiTransfer(p, 2);
            return p.spi.SpiReadWords[2];
        case 1:
            return LptSpiRead(p, address);
        default:
            return 0;
    }
}

}  // namespace qvin
