#include "sim/sim_spi_bus.h"

#include "core/excerpt.h"

namespace qvin::sim {

std::string SimSpiBus::Open(const std::string& device) {
    const bool ftdi = IsFtdiDevice(device);
    if (ftdi) {
        const std::string serial = device.substr(std::string(kFtdiPrefix).size());
        if (!serial.empty() && serial != kSimFtdiSerial) return "no FTDI adapter with the serial number " + Excerpt(serial) + " found";
    } else if (!Answers(device)) {
        return device + ": No such file or directory";
    }
    if (gone_ || faults_.Strike(FaultKind::Unplug)) {
        gone_ = true;
        return device + ": No such device";
    }
    open_ = true;
    device_ = ftdi ? std::string(kFtdiPrefix) + kSimFtdiSerial : device;
    callNs_ = ftdi ? kFtdiCallNs : kSpidevCallNs;
    error_.clear();
    return {};
}

bool SimSpiBus::Transfer(std::span<const std::uint16_t> out, std::span<std::uint16_t> in, unsigned gapUs) {
    if (!open_) {
        error_ = "the SPI device is not open";
        return false;
    }
    if (gone_ || faults_.Strike(FaultKind::Unplug)) {
        gone_ = true;
        error_ = device_ + ": unplugged";
        return false;
    }
    if (out.empty() || in.size() != out.size()) {
        error_ = "an exchange carries 1 frame or more";
        return false;
    }
    if (clock_) clock_->Elapse(callNs_ + static_cast<std::int64_t>(out.size()) * (kSpidevFrameNs + gapUs * 1000LL));
    if (faults_.Strike(FaultKind::ShortReply)) {
        // The controller stopped a byte early: the last frame is cut, so the chip never takes it.
        for (std::size_t i = 0; i + 1 < out.size(); ++i) chip_.Transfer(out[i]);
        error_ = device_ + ": " + std::to_string(out.size() * 2 - 1) + " of " + std::to_string(out.size() * 2) + " bytes exchanged";
        return false;
    }
    for (std::size_t i = 0; i < out.size(); ++i) in[i] = chip_.Transfer(out[i]);
    error_.clear();
    return true;
}

}  // namespace qvin::sim
