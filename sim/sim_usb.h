#pragma once
// Simulated USB adapters at device numbers 0 to 3, each with its own firmware, the chip
// on channel 1 of all of them. By default one adapter sits at Ezusb-0: kind KAPPA, high
// speed, firmware 2.0, descriptor texts that say it is simulated. Tests can place other
// devices, make a chosen request fail, unplug a device or give it malformed descriptors.

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <algorithm>
#include <vector>

#include "platform/usb/usb_driver.h"
#include "core/clock.h"
#include "sim/adapter_firmware.h"

namespace qvin::sim {

inline constexpr std::int64_t kBulkRoundTripNs = 20'000;
inline constexpr std::int64_t kFullSpeedFrameNs = 1'000'000;

struct SimUsbDevice {
    std::uint16_t vendorId = kAdapterVendorId;
    std::uint16_t productId = kKappaProductId;
    std::string descriptor1 = "QVIN27319 simulated USB-SPI adapter";
    std::string descriptor2 = "Simulated adapter, firmware 2.0, high speed";
    bool highSpeed = true;
    int pipes = 4;  // 0x01 OUT, 0x81 IN, 0x02 OUT, 0x86 IN
    // Maximum packet sizes per pipe when set; otherwise 512 at high speed, 64 at full.
    std::optional<std::array<std::uint16_t, 4>> pipeSizes;
    int replyLimit = -1;  // when set, replies come back cut to this many bytes
    // Raw string descriptor bytes returned as they are, for malformed descriptors.
    std::map<std::uint8_t, std::vector<std::uint8_t>> rawStrings;
};

enum class UsbRequestKind { Open, DeviceDescriptor, StringDescriptor, PipeInfo, BulkOut, BulkIn };

struct UsbRequest {
    UsbRequestKind kind;
    int device;
    int pipe = -1;                            // bulk transfers
    std::span<const std::uint8_t> data = {};  // bulk OUT bytes
    std::uint8_t stringIndex = 0;
};

class SimUsbDriver final : public UsbDriver {
public:
    // Requests take time on `clock` when one is given: a bus round trip per bulk transfer
    // (kBulkRoundTripNs at high speed, a 1 ms frame at full speed) and the SPI clocking.
    explicit SimUsbDriver(SpiTarget* chip, Clock* clock = nullptr);
    ~SimUsbDriver() override;

    std::unique_ptr<UsbDevice> Open(const std::string& name) override;

    // Puts a device at a number (nullopt removes it) with fresh firmware.
    void Place(int device, std::optional<SimUsbDevice> model);
    // Unplugs (or plugs back) a device; open handles to it fail from then on.
    void SetUnplugged(int device, bool unplugged);
    bool Unplugged(const std::string& name) const override;
    // Requests for which this returns true fail.
    std::function<bool(const UsbRequest&)> failWhen;

    AdapterFirmware* firmware(int device);
    int openHandles() const { return openHandles_; }

    struct Slot {
        std::optional<SimUsbDevice> model;
        std::unique_ptr<AdapterFirmware> firmware;
        bool unplugged = false;
    };

private:
    friend class SimUsbHandle;
    bool Fails(const UsbRequest& r) const { return failWhen && failWhen(r); }
    std::int64_t Now() const { return clock_ ? clock_->NowNs() : 0; }
    // Lets a request's time pass, counted from when it was made: the simulation's own
    // computing (the chip's samples) is part of it, as a real adapter's work is part of
    // its round trip, and not added to it.
    void SpendFrom(std::int64_t startNs, std::int64_t ns) {
        if (clock_) clock_->Elapse(std::max<std::int64_t>(0, startNs + ns - clock_->NowNs()));
    }

    SpiTarget* chip_;
    Clock* clock_;
    std::array<Slot, 4> slots_;
    int openHandles_ = 0;
};

}  // namespace qvin::sim
