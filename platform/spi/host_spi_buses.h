#pragma once
// The SPI buses a PC has for the part, chosen by the device's name: an FTDI adapter's MPSSE
// engine ("ftdi:" or "ftdi:SERIAL") or a Linux SPI controller's device (/dev/spidevB.C).

#include "platform/spi/ftdi_mpsse_bus.h"
#include "platform/spi/spidev_bus.h"

namespace qvin {

class HostSpiBuses final : public SpiBus {
public:
    std::string Open(const std::string& device) override {
        active_->Close();
        active_ = IsFtdiDevice(device) ? static_cast<SpiBus*>(&ftdi_) : &spidev_;
        return active_->Open(device);
    }
    bool IsOpen() const override { return active_->IsOpen(); }
    std::string device() const override { return active_->device(); }
    bool Transfer(std::span<const std::uint16_t> out, std::span<std::uint16_t> in, unsigned gapUs) override {
        return active_->Transfer(out, in, gapUs);
    }
    std::string lastError() const override { return active_->lastError(); }
    std::vector<SpiAdapterInfo> Adapters(std::string& why) override {
        std::vector<SpiAdapterInfo> out;
        for (const FtdiAdapter& a : FtdiMpsseBus::List(why)) out.push_back({kFtdiPrefix + a.serial, a.chip, a.description});
        return out;
    }
    void Close() override { active_->Close(); }

private:
    SpidevBus spidev_;
    FtdiMpsseBus ftdi_;
    SpiBus* active_ = &spidev_;
};

}  // namespace qvin
