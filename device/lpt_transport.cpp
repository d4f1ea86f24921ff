#include "device/lpt_transport.h"

#include "device/port_access.h"

namespace qvin {

namespace {

constexpr std::uint8_t kSelect = 0x01;        // chip select
constexpr std::uint8_t kClock = 0x02;         // serial clock
constexpr std::uint8_t kDataLow = 0x04;       // data line inverted: set means a 0 bit
constexpr std::uint8_t kStatusDataLow = 0x40; // status bit 6 inverted: clear means a 1 bit

std::uint16_t DataPort(const Program& p) { return static_cast<std::uint16_t>(p.settings.PortAddress); }
std::uint16_t StatusPort(const Program& p) { return static_cast<std::uint16_t>(p.settings.PortAddress + 1); }

// A port write followed by the shortest pause, which sets the clock rate.
void Out(Program& p, std::uint8_t value) {
    vbOut(p, DataPort(p), value);
    p.timer.Delay(0.0f);
}

// Chip select goes high with the data line at 0 and the clock low.
void BeginFrame(Program& p) {
    Out(p, kDataLow);
    Out(p, kDataLow | kSelect);
}

// Chip select released between frames so the chip takes the frame as complete.
void EndFrame(Program& p) {
    vbOut(p, DataPort(p), 0);
    p.Delay(0.1f);
}

}  // namespace

void vbOut(Program& p, std::uint16_t port, std::uint8_t value) {
    // Traced before it happens, so a frame the write completes is listed after it.
    p.trace.PortOut(port, value);
    p.port.Out(port, value);
}

std::uint8_t vbInp(Program& p, std::uint16_t port) {
    const std::uint8_t v = p.port.In(port);
    p.trace.PortIn(port, v);
    return v;
}

void LptSpiWrite(Program& p, std::int32_t word) {
    if (p.settings.InterfaceType == Interface::None) return;
    BeginFrame(p);
    for (int i = 15; i >= 0; --i) {
        const std::uint8_t d = (word >> i) & 1 ? 0 : kDataLow;
        Out(p, kDataLow | kClock | kSelect);  // clock high, data line showing 0
        Out(p, d | kClock | kSelect);         // clock high, data line showing the bit
        Out(p, d | kSelect);                  // clock falls: the chip takes the bit
        Out(p, kDataLow | kSelect);           // clock low, data line back to 0
    }
    EndFrame(p);
}

std::int32_t LptSpiRead(Program& p, std::int16_t address) {
    if (p.settings.InterfaceType == Interface::None) return 0;
    LptSpiWrite(p, (address & 0x7F) * 256);
    std::int32_t acc = 0;
    BeginFrame(p);
    for (int i = 15; i >= 0; --i) {
        Out(p, kDataLow | kClock | kSelect);  // clock high; the chip shows its next bit
        const std::uint8_t s = vbInp(p, StatusPort(p));
        if ((s & kStatusDataLow) == 0) acc += 1 << i;
        Out(p, kDataLow | kSelect);
    }
    EndFrame(p);
    return acc;
}

std::int32_t LptSpiExchange(Program& p, std::int32_t word) {
    if (p.settings.InterfaceType == Interface::None) return 0;
    std::int32_t acc = 0;
    BeginFrame(p);
    for (int i = 15; i >= 0; --i) {
        const std::uint8_t d = (word >> i) & 1 ? 0 : kDataLow;
        Out(p, kDataLow | kClock | kSelect);  // clock high: the chip shows its next bit
        if ((vbInp(p, StatusPort(p)) & kStatusDataLow) == 0) acc += 1 << i;
        Out(p, d | kClock | kSelect);         // the data line shows bit i
        Out(p, d | kSelect);                  // clock falls: the chip takes it
        Out(p, kDataLow | kSelect);
    }
    EndFrame(p);
    return acc;
}

void LptReset(Program& p) {
    if (p.settings.InterfaceType == Interface::None) return;
    vbOut(p, StatusPort(p), 0x40);
    p.Delay(0.1f);
    vbOut(p, DataPort(p), 0);
}

bool PreparePort(Program& p) {
    p.PortPrepareFailed = !InstallGiveIO(p);
    p.GiveIoInstalled = true;
    if (!p.PortPrepareFailed) LptReset(p);
    return !p.PortPrepareFailed;
}

}  // namespace qvin
