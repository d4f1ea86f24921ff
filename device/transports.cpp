#include "device/transports.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "core/number_text.h"
#include "device/lpt_transport.h"
#include "device/usb_adapter.h"
#include "device/usb_spi.h"
#include "platform/usb/usb_driver.h"

namespace qvin {

namespace {

// ---- The PC parallel port: every frame bit by bit ----

std::string LptWhere(const Settings& s) { return "the parallel port at " + FormatHex(static_cast<std::uint16_t>(s.PortAddress)); }

std::string LptOpened(const Program& p) { return p.GiveIoInstalled && !p.PortPrepareFailed ? LptWhere(p.settings) : std::string(); }

TransportOpened LptOpen(Program& p, std::optional<int>) {
    if (!PreparePort(p)) return {LptWhere(p.settings) + " cannot be used", {}};
    return {};
}

bool LptReady(const Program&) { return true; }

std::string LptLost(const Program& p) { return LptWhere(p.settings) + " stopped answering"; }

void LptWriteFrames(Program& p, std::int32_t first, std::int32_t second) {
    LptSpiWrite(p, first);
    LptSpiWrite(p, second);
}

std::int32_t LptReadWord(Program& p, std::int32_t request) { return LptSpiRead(p, static_cast<std::int16_t>(request >> 8)); }

bool LptReadBurst(Program& p, std::span<const std::int32_t> requests, std::vector<std::int32_t>& answers, std::int64_t& firstTakenNs) {
    LptSpiExchange(p, requests[0]);
    firstTakenNs = p.clock.NowNs();
    for (std::size_t i = 1; i <= requests.size(); ++i) answers.push_back(LptSpiExchange(p, requests[std::min(i, requests.size() - 1)]));
    return true;
}

// ---- The USB adapter: up to 16 words a transfer, on channel 1 ----

// The adapter carries 16 words a transfer: 15 requests and the one that clocks out the last answer.
constexpr std::size_t kPerTransfer = 15;

std::string UsbWhere(const Settings&) { return "a USB adapter"; }

std::string UsbOpened(const Program& p) { return p.UsbReady() ? p.usb.CurrentBoard.DeviceName : std::string(); }

TransportOpened UsbOpen(Program& p, std::optional<int> unit) {
    FindUsbBoards(p);
    // The causes go into the error, not into a message of their own as well.
    const std::string covered = UsbFailuresText(p.usb.OpenFailures);
    if (unit) {
        const UsbBoardInfo& b = p.usb.UsbBoards[static_cast<std::size_t>(*unit)];
        if (!b.Present) return {"there is no usable adapter at Ezusb-" + std::to_string(*unit), covered};
        p.usb.CurrentBoard = b;
    }
    if (!p.UsbReady()) return {NoUsableAdapter(p), covered};
    UsbSpiSendSetUp(p);
    if (!p.UsbReady()) return {"the USB adapter " + p.usb.CurrentBoard.DeviceName + " does not answer", covered};
    return {{}, covered};
}

bool UsbReady(const Program& p) { return p.UsbReady(); }

std::string UsbLost(const Program& p) {
    const std::string& name = p.usb.CurrentBoard.DeviceName;
    return "the USB adapter stopped answering" + (p.usbDriver.Unplugged(name) ? " (" + UsbUnplugged(name) + ")" : std::string());
}

void UsbWriteFrames(Program& p, std::int32_t first, std::int32_t second) {
    // Both frames in one adapter request.
    p.spi.SpiWriteWords[1] = first;
    p.spi.SpiWriteWords[2] = second;
    p.spi.SpiChannel = 1;
    UsbSpiTransfer(p, 2);
}

std::int32_t UsbReadWord(Program& p, std::int32_t request) {
    // The second copy of the request only clocks the answer out.
    p.spi.SpiWriteWords[1] = request;
    p.spi.SpiWriteWords[2] = request;
    p.spi.SpiChannel = 1;
    UsbSpiTransfer(p, 2);
    return p.spi.SpiReadWords[2];
}

bool UsbReadBurst(Program& p, std::span<const std::int32_t> requests, std::vector<std::int32_t>& answers, std::int64_t& firstTakenNs) {
    for (std::size_t from = 0; from < requests.size(); from += kPerTransfer) {
        const std::size_t n = std::min(kPerTransfer, requests.size() - from);
        for (std::size_t i = 0; i < n; ++i) p.spi.SpiWriteWords[i + 1] = requests[from + i];
        p.spi.SpiWriteWords[n + 1] = p.spi.SpiWriteWords[n];
        p.spi.SpiChannel = 1;
        UsbSpiTransfer(p, static_cast<int>(n + 1));
        if (!p.UsbReady()) return false;
        if (from == 0) firstTakenNs = p.clock.NowNs();
        for (std::size_t i = 0; i < n; ++i) answers.push_back(p.spi.SpiReadWords[i + 2]);
    }
    return true;
}

// ---- A Linux SPI controller (spidev): the frames as they are, chip select each ----

// The most frames an exchange carries: the requests and the one that clocks out the last answer.
constexpr std::size_t kFramesPerExchange = 64;

std::string SpidevWhere(const Settings&) { return "an SPI device"; }

std::string SpidevOpened(const Program& p) { return p.spiBus && p.spiBus->IsOpen() ? p.spiBus->device() : std::string(); }

std::string Words(std::span<const std::uint16_t> words) {
    std::string out;
    char buf[8];
    for (const std::uint16_t w : words) {
        std::snprintf(buf, sizeof buf, " %04X", w);
        out += buf;
    }
    return out;
}

TransportOpened SpidevOpen(Program& p, std::optional<int>) {
    if (!p.spiBus) return {"this board has no SPI device", {}};
    if (p.spiDevice.empty()) return {"no SPI device chosen; give --spidev /dev/spidevB.C", {}};
    const std::string why = p.spiBus->Open(p.spiDevice);
    // The name it opened as, when that says more ("ftdi:" is the adapter with a serial number).
    // (Built by appending: GCC 12 at -O3 misreads the concatenated form as an overlapping copy.)
    std::string line = "spidev-open ";
    line += TraceWord(p.spiDevice);
    if (why.empty()) {
        line += " ok";
        if (p.spiBus->device() != p.spiDevice) {
            line += ' ';
            line += TraceWord(p.spiBus->device());
        }
    } else {
        line += " failed ";
        line += why;
    }
    p.trace.Line(line);
    return {why, {}};
}

bool SpidevReady(const Program& p) { return p.spiBus && p.spiBus->IsOpen(); }

std::string SpidevLost(const Program& p) {
    return "the SPI device stopped answering" + (p.spiBus ? " (" + p.spiBus->lastError() + ")" : std::string());
}

// One exchange; a failed one closes the device, so that nothing more is sent to it and
// the failure is said once, by the session.
bool SpidevExchange(Program& p, std::span<const std::uint16_t> out, std::span<std::uint16_t> in) {
    if (!SpidevReady(p)) return false;
    p.trace.Line("spidev-out " + std::to_string(p.spi.SpiDelay) + Words(out));
    const std::int64_t start = p.clock.NowNs();
    const bool ok = p.spiBus->Transfer(out, in, p.spi.SpiDelay);
    p.trace.Line(ok ? "spidev-in" + Words(in) : "spidev-in failed " + p.spiBus->lastError());
    if (const std::int64_t took = p.clock.NowNs() - start; took > 0) p.trace.Line("took " + std::to_string(took));
    if (ok) return true;
    p.spiBus->Close();
    return false;
}

void SpidevWriteFrames(Program& p, std::int32_t first, std::int32_t second) {
    const std::array<std::uint16_t, 2> out{static_cast<std::uint16_t>(first), static_cast<std::uint16_t>(second)};
    std::array<std::uint16_t, 2> in{};
    SpidevExchange(p, out, in);
}

std::int32_t SpidevReadWord(Program& p, std::int32_t request) {
    // The second copy of the request only clocks the answer out.
    const std::array<std::uint16_t, 2> out{static_cast<std::uint16_t>(request), static_cast<std::uint16_t>(request)};
    std::array<std::uint16_t, 2> in{};
    return SpidevExchange(p, out, in) ? in[1] : 0;
}

bool SpidevReadBurst(Program& p, std::span<const std::int32_t> requests, std::vector<std::int32_t>& answers, std::int64_t& firstTakenNs) {
    std::array<std::uint16_t, kFramesPerExchange> out{}, in{};
    for (std::size_t from = 0; from < requests.size(); from += kFramesPerExchange - 1) {
        const std::size_t n = std::min(kFramesPerExchange - 1, requests.size() - from);
        for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint16_t>(requests[from + i]);
        out[n] = out[n - 1];
        if (!SpidevExchange(p, std::span(out).first(n + 1), std::span(in).first(n + 1))) return false;
        if (from == 0) firstTakenNs = p.clock.NowNs();
        for (std::size_t i = 0; i < n; ++i) answers.push_back(in[i + 1]);
    }
    return true;
}

constexpr std::array kTransports{
    Transport{Interface::ParallelPort, LptWhere, LptOpened, LptOpen, LptReady, LptLost, LptWriteFrames, LptReadWord, LptReadBurst},
    Transport{Interface::UsbAdapter, UsbWhere, UsbOpened, UsbOpen, UsbReady, UsbLost, UsbWriteFrames, UsbReadWord, UsbReadBurst},
    Transport{Interface::Spidev, SpidevWhere, SpidevOpened, SpidevOpen, SpidevReady, SpidevLost, SpidevWriteFrames, SpidevReadWord,
              SpidevReadBurst},
};

}  // namespace

std::span<const Transport> Transports() { return kTransports; }

const Transport* FindTransport(Interface id) {
    for (const Transport& t : kTransports)
        if (t.id == id) return &t;
    return nullptr;
}

}  // namespace qvin
