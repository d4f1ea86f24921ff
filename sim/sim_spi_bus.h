#pragma once
// The simulated part wired to a Linux SPI controller (spidev): each frame clocked straight
// into the chip through the frame faults, with the time the exchange takes on the clock.
// The fault rules that apply: unplug (the device is gone from that exchange on),
// short-reply (an exchange carries one byte less) and the frame faults (bit-flip,
// no-new-data, miso-high, miso-low).

#include "core/clock.h"
#include "platform/spi/ftdi_mpsse_bus.h"
#include "sim/faults.h"
#include "sim/spi_target.h"

namespace qvin::sim {

// A system call and the controller's set-up per exchange.
inline constexpr std::int64_t kSpidevCallNs = 30'000;
// 16 bits at the bus's 1 MHz.
inline constexpr std::int64_t kSpidevFrameNs = 16'000;
// An FTDI adapter's exchange: the commands out and the answer back, a high-speed USB
// microframe each.
inline constexpr std::int64_t kFtdiCallNs = 250'000;
// The simulated FTDI adapter's serial number.
inline constexpr const char* kSimFtdiSerial = "QVSIM001";

class SimSpiBus final : public SpiBus {
public:
    SimSpiBus(SpiTarget& chip, FaultPlan& faults, Clock* clock) : chip_(chip), faults_(faults), clock_(clock) {}
    // The devices this board answers as: any SPI controller's, and its FTDI adapter.
    static bool Answers(const std::string& device) { return device.rfind("/dev/spidev", 0) == 0; }

    std::string Open(const std::string& device) override;
    bool IsOpen() const override { return open_; }
    std::string device() const override { return device_; }
    bool Transfer(std::span<const std::uint16_t> out, std::span<std::uint16_t> in, unsigned gapUs) override;
    std::string lastError() const override { return error_; }
    std::vector<SpiAdapterInfo> Adapters(std::string& why) override {
        why.clear();
        return {{std::string(kFtdiPrefix) + kSimFtdiSerial, "FT232H", "QVIN27319 simulated FTDI adapter"}};
    }
    void Close() override { open_ = false; }

private:
    SpiTarget& chip_;
    FaultPlan& faults_;
    Clock* clock_;
    bool open_ = false, gone_ = false;
    std::int64_t callNs_ = kSpidevCallNs;
    std::string device_, error_;
};

}  // namespace qvin::sim
