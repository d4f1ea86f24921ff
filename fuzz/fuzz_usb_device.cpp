// A USB device that answers every request with the fuzzer's bytes: descriptors, pipe
// tables, adapter replies of any length and success. Discovery, the adapter commands and
// register access never read or write out of bounds and keep every result in range.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "core/clock.h"
#include "core/messages.h"
#include "core/trace.h"
#include "device/program.h"
#include "device/register_access.h"
#include "device/usb_adapter.h"
#include "device/usb_spi.h"

namespace {

class Silent final : public qvin::MessageService {
public:
    void Message(std::string_view, std::string_view) override {}
};

class NoPort final : public qvin::PortIo {
public:
    qvin::PortAccessError Prepare(std::uint16_t) override { return {}; }
    bool Prepared() const override { return false; }
    void Out(std::uint16_t, std::uint8_t) override {}
    std::uint8_t In(std::uint16_t) override { return 0xFF; }
};

class FuzzedDevice final : public qvin::UsbDevice {
public:
    explicit FuzzedDevice(FuzzedDataProvider& d) : d_(d) {}
    bool GetDeviceDescriptor(std::span<std::uint8_t> b) override {
        Fill(b.first(std::min<std::size_t>(b.size(), 18)));
        if (d_.ConsumeBool() && b.size() >= 12) b[8] = 0x3A, b[9] = 0x2F, b[10] = 0xA1, b[11] = 0xC5;
        return d_.ConsumeBool();
    }
    bool GetStringDescriptor(std::uint8_t, std::span<std::uint8_t> b, std::size_t& received) override {
        received = d_.ConsumeIntegralInRange<std::size_t>(0, b.size());
        Fill(b.first(received));
        return d_.ConsumeBool();
    }
    bool GetPipeInfo(std::span<std::uint8_t> b) override {
        Fill(b);
        return d_.ConsumeBool();
    }
    bool BulkTransfer(int, std::span<std::uint8_t> b, std::int32_t& count) override {
        count = d_.ConsumeIntegralInRange<std::int32_t>(-2, static_cast<std::int32_t>(b.size()) + 4);
        Fill(b.first(static_cast<std::size_t>(std::clamp<std::int32_t>(count, 0, static_cast<std::int32_t>(b.size())))));
        return d_.ConsumeBool();
    }
    bool PipeIsInput(int pipe) const override { return pipe % 2 == 1; }

private:
    void Fill(std::span<std::uint8_t> b) {
        const std::vector<std::uint8_t> bytes = d_.ConsumeBytes<std::uint8_t>(b.size());
        std::copy(bytes.begin(), bytes.end(), b.begin());
    }
    FuzzedDataProvider& d_;
};

class FuzzedDriver final : public qvin::UsbDriver {
public:
    explicit FuzzedDriver(FuzzedDataProvider& d) : d_(d) {}
    std::unique_ptr<qvin::UsbDevice> Open(const std::string&) override {
        if (!d_.ConsumeBool()) return nullptr;
        return std::make_unique<FuzzedDevice>(d_);
    }

private:
    FuzzedDataProvider& d_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider d(data, size);
    qvin::VirtualClock clock;
    qvin::Trace trace;
    NoPort port;
    Silent messages;
    FuzzedDriver usb(d);
    qvin::Program p(clock, port, usb, trace, messages);
    qvin::InitRegisterTable(p.map);
    p.timer.DelayCalibrated = true;
    p.settings.InterfaceType = qvin::Interface::UsbAdapter;
    qvin::FindUsbBoards(p);
    for (const qvin::UsbBoardInfo& b : p.usb.UsbBoards)
        if (b.Present && b.UsbSpeed != "1.1" && b.UsbSpeed != "2") __builtin_trap();
    while (d.remaining_bytes() > 0) {
        p.SetUsbReady(true);
        p.usb.CurrentBoard.DeviceName = "Ezusb-0";
        qvin::UsbSpiReadSetup(p);
        p.SetUsbReady(true);
        const int n = d.ConsumeIntegralInRange<int>(-1, 20);
        for (int i = 1; i <= 16; ++i) p.spi.SpiWriteWords[static_cast<std::size_t>(i)] = d.ConsumeIntegral<std::uint16_t>();
        qvin::UsbSpiTransfer(p, n);
        for (int i = 1; i <= 16; ++i)
            if (p.spi.SpiReadWords[static_cast<std::size_t>(i)] < 0 || p.spi.SpiReadWords[static_cast<std::size_t>(i)] > 0xFFFF)
                __builtin_trap();
        p.SetUsbReady(true);
        qvin::ReadReg(p, d.ConsumeIntegralInRange<std::int16_t>(0, 66));
        if (p.reg.RegData < -32768 || p.reg.RegData > 65535) __builtin_trap();
    }
    return 0;
}
