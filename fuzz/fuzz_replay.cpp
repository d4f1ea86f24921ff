// A recording of any content, replayed: the strict reader of recordings never reads out of
// bounds, never hangs on a line without end, never sleeps longer than a request may take,
// and every way it can refuse ends as a stop with a short, printable message naming the
// line (ReplayStopped), or as a refusal to open, never as another exception or a crash.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "board/replay_board.h"
#include "core/clock.h"
#include "core/messages.h"
#include "core/trace.h"
#include "device/lpt_transport.h"
#include "device/port_access.h"
#include "device/program.h"
#include "device/register_access.h"
#include "device/transports.h"
#include "device/usb_adapter.h"
#include "device/usb_spi.h"

namespace {

class Silent final : public qvin::MessageService {
public:
    void Message(std::string_view, std::string_view) override {}
};

const std::string kFile = "/tmp/qvin-fuzz-replay-" + std::to_string(::getpid()) + ".trace";

enum class Over { Usb, Port, Spidev };

void Session(const std::string& file, Over over) {
    qvin::VirtualClock clock;
    std::string why;
    auto board = qvin::ReplayBoard::Open(file, &clock, why);
    // A first line no recording holds is refused at once, with the reason.
    if (!board) {
        if (why.empty() || why.size() > 400) __builtin_trap();
        return;
    }
    qvin::Trace trace;
    Silent messages;
    qvin::Program p(clock, board->port(), board->usb(), trace, messages);
    qvin::InitRegisterTable(p.map);
    p.timer.DelayCalibrated = true;
    qvin::UseRecordedInterface(*board, p.settings);
    try {
        if (over == Over::Spidev) {
            p.settings.InterfaceType = qvin::Interface::Spidev;
            p.spiBus = &board->spi();
            p.spiDevice = board->Interface().device.empty() ? "/dev/spidev0.0" : board->Interface().device;
            qvin::FindTransport(qvin::Interface::Spidev)->open(p, std::nullopt);
        } else if (over == Over::Usb) {
            p.settings.InterfaceType = qvin::Interface::UsbAdapter;
            qvin::FindUsbBoards(p);
            std::uint8_t delay = 8;
            qvin::UsbSpiSetup(p, delay);
        } else {
            p.settings.InterfaceType = qvin::Interface::ParallelPort;
            p.settings.PortAddress = 0x378;
            qvin::InstallGiveIO(p);
            qvin::LptReset(p);
        }
        for (int i = 0; i < 8; ++i) {
            const std::int64_t before = clock.NowNs();
            qvin::ReadReg(p, static_cast<std::int16_t>(1 + i * 7));
            if (p.reg.RegData < -32768 || p.reg.RegData > 65535) __builtin_trap();
            // Two transfers and their pauses: each transfer's recorded time is at most 1 s.
            if (clock.NowNs() - before > 3'000'000'000) __builtin_trap();
        }
        // What a recording says of a failure reaches the terminal: printable only.
        for (char c : board->spi().lastError())
            if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) __builtin_trap();
    } catch (const qvin::ReplayStopped& e) {
        // A stop names the line and quotes at most a short, printable excerpt of it.
        if (e.message.empty() || !board->stopped() || e.message.size() > 600) __builtin_trap();
        for (char c : e.message)
            if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::FILE* f = std::fopen(kFile.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    Session(kFile, Over::Usb);
    Session(kFile, Over::Port);
    Session(kFile, Over::Spidev);
    return 0;
}
