#include "device/usb_spi.h"

#include <algorithm>
#include <array>
#include <memory>

#include "device/adapter_commands.h"
#include "device/usb_adapter.h"

namespace qvin {

namespace {

using adapter::kReadSetup, adapter::kSetDelay, adapter::kSetBits, adapter::kTransferPos, adapter::kTransferNeg;

// A request that did not go through: one message, and the adapter is no longer usable.
void Failed(Program& p, const char* message) {
    p.messages.Message(message);
    p.SetUsbReady(false);
}

std::unique_ptr<UsbDevice> OpenCurrent(Program& p) { return OpenUsbDriver(p, p.usb.CurrentBoard.DeviceName); }

}  // namespace

void UsbSpiReadSetup(Program& p) {
    if (!p.UsbReady()) return;
    p.spi.SpiDelay = 0;
    auto h = OpenCurrent(p);
    std::array<std::uint8_t, 2> buffer{kReadSetup, 0};
    std::int32_t count = 1;
    if (UsbBulkTransfer(p, h.get(), 0, buffer, count) != 1) Failed(p, "Error Setting up SPI");
    count = 2;
    if (UsbBulkTransfer(p, h.get(), 1, buffer, count) != 1 || count < 2) {
        Failed(p, "Error Reading SPI");
        return;
    }
    p.spi.SpiDelay = buffer[0];
    p.spi.SpiStaticBits = buffer[1] & 0x78;
}

void UsbSpiSetup(Program& p, std::uint8_t& delay) {
    if (!p.UsbReady()) return;
    if (delay == 0) delay = 1;
    p.spi.SpiDelay = delay;
    auto h = OpenCurrent(p);
    std::array<std::uint8_t, 2> buffer{kSetDelay, delay};
    std::int32_t count = 2;
    if (UsbBulkTransfer(p, h.get(), 0, buffer, count) != 1) Failed(p, "Error Setting up SPI");
}

void UsbSpiSetBits(Program& p, std::uint8_t bits) {
    if (!p.UsbReady()) return;
    auto h = OpenCurrent(p);
    p.spi.SpiStaticBits = bits;
    std::array<std::uint8_t, 2> buffer{kSetBits, bits};
    std::int32_t count = 2;
    if (UsbBulkTransfer(p, h.get(), 0, buffer, count) != 1) Failed(p, "Error Setting SPI Bits");
}

void UsbSpiTransfer(Program& p, int n) {
    if (!p.UsbReady() || n < 1) return;
    // The adapter takes at most 16 words a message (a 41-byte buffer); more are not sent.
    n = std::min(n, 16);
    p.spi.SpiChannel = std::clamp<std::uint8_t>(p.spi.SpiChannel, 1, 5);
    p.spi.SpiWordCount = static_cast<std::uint8_t>(n);
    auto h = OpenCurrent(p);

    std::array<std::uint8_t, 41> buffer{};
    buffer[0] = p.spi.SpiDataPolarity ? kTransferPos : kTransferNeg;
    buffer[1] = p.spi.SpiChannel;
    buffer[2] = static_cast<std::uint8_t>(n);
    for (int i = 1; i <= n; ++i) {
        buffer[static_cast<std::size_t>(2 * i + 1)] = static_cast<std::uint8_t>((p.spi.SpiWriteWords[static_cast<std::size_t>(i)] >> 8) & 0xFF);
        buffer[static_cast<std::size_t>(2 * i + 2)] = static_cast<std::uint8_t>(p.spi.SpiWriteWords[static_cast<std::size_t>(i)] & 0xFF);
    }
    std::int32_t count = 2 * n + 3;
    if (UsbBulkTransfer(p, h.get(), 0, buffer, count) != 1) {
        Failed(p, "Error Writing SPI");
        return;
    }
    count = 2 * n;
    // Fewer bytes than words asked for would leave stale words behind: a failure.
    if (UsbBulkTransfer(p, h.get(), 1, buffer, count) != 1 || count < 2 * n) {
        Failed(p, "Error Reading SPI");
        return;
    }
    for (int i = 1; i <= n; ++i)
        p.spi.SpiReadWords[static_cast<std::size_t>(i)] = buffer[static_cast<std::size_t>(2 * (i - 1))] * 256 + buffer[static_cast<std::size_t>(2 * (i - 1) + 1)];
}

void UsbSpiSendSetUp(Program& p) {
    std::uint8_t delay = p.spi.SpiDelay;
    UsbSpiSetup(p, delay);
    UsbSpiSetBits(p, p.spi.SpiStaticBits);
}

}  // namespace qvin
