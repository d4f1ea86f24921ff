// Random descriptor and reply bytes through discovery, adapter commands and register
// access: whatever a broken or hostile device answers, nothing reads or writes out of
// bounds (run under ./test --sanitize) and every result stays in range.

#include <gtest/gtest.h>

#include <random>

#include "device/register_access.h"
#include "device/usb_adapter.h"
#include "device/usb_spi.h"
#include "support/idle_port.h"
#include "support/recorded_messages.h"

namespace qvin {
namespace {

class RandomDevice final : public UsbDevice {
public:
    explicit RandomDevice(std::mt19937& rng) : rng_(rng) {}

    bool GetDeviceDescriptor(std::span<std::uint8_t> b) override {
        Fill(b.first(std::min<std::size_t>(b.size(), 18)));
        if (Chance(2)) {  // often enough an adapter to go further
            b[8] = 0x3A, b[9] = 0x2F, b[10] = 0xA1, b[11] = 0xC5;
        }
        return true;  // its success is not what discovery judges
    }
    bool GetStringDescriptor(std::uint8_t, std::span<std::uint8_t> b, std::size_t& received) override {
        received = std::uniform_int_distribution<std::size_t>(0, b.size())(rng_);
        Fill(b.first(received));
        return Chance(8) != 0;
    }
    bool GetPipeInfo(std::span<std::uint8_t> b) override {
        Fill(b);
        return Chance(8) != 0;
    }
    bool BulkTransfer(int, std::span<std::uint8_t> b, std::int32_t& count) override {
        // Any count at all, including more than asked or negative.
        count = std::uniform_int_distribution<std::int32_t>(-2, static_cast<std::int32_t>(b.size()) + 4)(rng_);
        Fill(b.first(static_cast<std::size_t>(std::clamp<std::int32_t>(count, 0, static_cast<std::int32_t>(b.size())))));
        return Chance(6) != 0;
    }
    bool PipeIsInput(int pipe) const override { return pipe % 2 == 1; }

private:
    int Chance(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
    void Fill(std::span<std::uint8_t> b) {
        for (auto& x : b) x = static_cast<std::uint8_t>(rng_());
    }
    std::mt19937& rng_;
};

class RandomDriver final : public UsbDriver {
public:
    explicit RandomDriver(std::uint32_t seed) : rng_(seed) {}
    std::unique_ptr<UsbDevice> Open(const std::string&) override {
        if (rng_() % 4 == 0) return nullptr;
        return std::make_unique<RandomDevice>(rng_);
    }

private:
    std::mt19937 rng_;
};

TEST(UsbFuzz, RandomDevicesNeverBreakDiscoveryOrTransfers) {
    VirtualClock clock;
    Trace trace;
    test::IdlePort port;
    test::RecordedMessages messages;
    int adapters = 0, transfers = 0;
    for (std::uint32_t seed = 1; seed <= 300; ++seed) {
        RandomDriver usb(seed);
        Program p(clock, port, usb, trace, messages);
        InitRegisterTable(p.map);
        p.timer.DelayCalibrated = true;
        p.settings.InterfaceType = Interface::UsbAdapter;
        FindUsbBoards(p);
        for (const UsbBoardInfo& b : p.usb.UsbBoards) {
            if (!b.Present) continue;
            ++adapters;
            EXPECT_TRUE(b.UsbSpeed == "1.1" || b.UsbSpeed == "2") << seed;
            EXPECT_GE(b.FirmwareRev, 0.0f);
            EXPECT_LE(b.FirmwareRev, 255.0f + 25.5f);
        }
        for (int round = 0; round < 5; ++round) {
            p.SetUsbReady(true);
            p.usb.CurrentBoard.DeviceName = "Ezusb-0";
            UsbSpiReadSetup(p);
            p.SetUsbReady(true);
            for (int i = 1; i <= 16; ++i) p.spi.SpiWriteWords[static_cast<std::size_t>(i)] = i * 0x1111;
            UsbSpiTransfer(p, 16);
            transfers += p.UsbReady();
            for (int i = 1; i <= 16; ++i) {
                EXPECT_GE(p.spi.SpiReadWords[static_cast<std::size_t>(i)], 0);
                EXPECT_LE(p.spi.SpiReadWords[static_cast<std::size_t>(i)], 0xFFFF);
            }
            p.SetUsbReady(true);
            ReadReg(p, reg::Incl_180_Out);
            EXPECT_GE(p.reg.RegData, -8192);
            EXPECT_LE(p.reg.RegData, 8191);
        }
        messages.Take();
    }
    // The random answers must sometimes get all the way through, or nothing was tested.
    EXPECT_GT(adapters, 0);
    EXPECT_GT(transfers, 0);
}

}  // namespace
}  // namespace qvin
