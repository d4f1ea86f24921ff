#include "sim/sim_usb.h"

#include <algorithm>
#include <cstring>

namespace qvin::sim {

namespace {

constexpr std::uint8_t kEndpoints[] = {0x01, 0x81, 0x02, 0x86};

bool IsIn(std::uint8_t endpoint) { return endpoint & 0x80; }

std::vector<std::uint8_t> StringDescriptor(const std::string& text) {
    std::vector<std::uint8_t> d{static_cast<std::uint8_t>(2 + 2 * text.size()), 3};
    for (char c : text) {
        d.push_back(static_cast<std::uint8_t>(c));
        d.push_back(0);
    }
    return d;
}

}  // namespace

class SimUsbHandle final : public UsbDevice {
public:
    SimUsbHandle(SimUsbDriver& driver, int device) : driver_(driver), device_(device) { ++driver_.openHandles_; }
    ~SimUsbHandle() override { --driver_.openHandles_; }

    bool GetDeviceDescriptor(std::span<std::uint8_t> buffer) override {
        if (!Usable({UsbRequestKind::DeviceDescriptor, device_}) || buffer.size() < 18) return false;
        const SimUsbDevice& s = *slot().model;
        const std::uint8_t d[18] = {18, 1, 0x00, 0x02, 0xFF, 0xFF, 0xFF, 64,
                                    static_cast<std::uint8_t>(s.vendorId & 0xFF), static_cast<std::uint8_t>(s.vendorId >> 8),
                                    static_cast<std::uint8_t>(s.productId & 0xFF), static_cast<std::uint8_t>(s.productId >> 8),
                                    0x00, 0x02, 1, 2, 0, 1};
        std::memcpy(buffer.data(), d, sizeof d);
        return true;
    }

    bool GetStringDescriptor(std::uint8_t index, std::span<std::uint8_t> buffer, std::size_t& received) override {
        received = 0;
        UsbRequest r{UsbRequestKind::StringDescriptor, device_};
        r.stringIndex = index;
        if (!Usable(r)) return false;
        const SimUsbDevice& s = *slot().model;
        std::vector<std::uint8_t> d;
        if (auto raw = s.rawStrings.find(index); raw != s.rawStrings.end()) d = raw->second;
        else if (index == 0) d = {4, 3, 0x09, 0x04};
        else if (index == 1) d = StringDescriptor(s.descriptor1);
        else if (index == 2) d = StringDescriptor(s.descriptor2);
        else return false;  // the device stalls a request for a string it does not have
        received = std::min(buffer.size(), d.size());
        std::copy_n(d.begin(), received, buffer.begin());
        return true;
    }

    bool GetPipeInfo(std::span<std::uint8_t> buffer) override {
        if (!Usable({UsbRequestKind::PipeInfo, device_}) || buffer.size() < kPipeInfoBuffer) return false;
        std::fill(buffer.begin(), buffer.end(), 0);
        const SimUsbDevice& s = *slot().model;
        for (int pipe = 0; pipe < std::min(s.pipes, 4); ++pipe) {
            const std::uint16_t size = s.pipeSizes ? (*s.pipeSizes)[static_cast<std::size_t>(pipe)] : s.highSpeed ? 512 : 64;
            buffer[PipeInfoOffset(pipe)] = static_cast<std::uint8_t>(size & 0xFF);
            buffer[PipeInfoOffset(pipe) + 1] = static_cast<std::uint8_t>(size >> 8);
        }
        return true;
    }

    bool BulkTransfer(int pipe, std::span<std::uint8_t> buffer, std::int32_t& count) override {
        const std::int64_t start = driver_.Now();
        const std::int32_t asked = count;
        count = 0;
        const SimUsbDriver::Slot& sl = slot();
        if (pipe < 0 || !sl.model || pipe >= std::min(sl.model->pipes, 4) || asked < 0 ||
            static_cast<std::size_t>(asked) > buffer.size())
            return false;
        const std::uint8_t endpoint = kEndpoints[pipe];
        UsbRequest r{IsIn(endpoint) ? UsbRequestKind::BulkIn : UsbRequestKind::BulkOut, device_, pipe};
        if (!IsIn(endpoint)) r.data = buffer.first(static_cast<std::size_t>(asked));
        if (!Usable(r)) return false;
        AdapterFirmware& fw = *slot().firmware;
        std::int64_t busyNs = sl.model->highSpeed ? kBulkRoundTripNs : kFullSpeedFrameNs;
        if (!IsIn(endpoint)) {
            if (pipe == 0) busyNs += fw.Command(r.data);
            driver_.SpendFrom(start, busyNs);
            count = asked;
            return true;
        }
        driver_.SpendFrom(start, busyNs);
        if (pipe != 1) return false;  // nothing ever arrives on the spare IN pipe
        std::size_t most = static_cast<std::size_t>(asked);
        if (sl.model->replyLimit >= 0) most = std::min(most, static_cast<std::size_t>(sl.model->replyLimit));
        const std::vector<std::uint8_t> reply = fw.TakeReply(most);
        if (reply.empty()) return false;  // nothing pending: the read times out
        std::copy(reply.begin(), reply.end(), buffer.begin());
        count = static_cast<std::int32_t>(reply.size());
        return true;
    }

    bool PipeIsInput(int pipe) const override { return pipe >= 0 && pipe < 4 && IsIn(kEndpoints[pipe]); }

private:
    const SimUsbDriver::Slot& slot() const { return driver_.slots_[static_cast<std::size_t>(device_)]; }
    bool Usable(const UsbRequest& r) const { return slot().model && !slot().unplugged && !driver_.Fails(r); }

    SimUsbDriver& driver_;
    int device_;
};

SimUsbDriver::SimUsbDriver(SpiTarget* chip, Clock* clock) : chip_(chip), clock_(clock) { Place(0, SimUsbDevice{}); }

SimUsbDriver::~SimUsbDriver() = default;

void SimUsbDriver::Place(int device, std::optional<SimUsbDevice> model) {
    if (device < 0 || device > 3) return;
    Slot& s = slots_[static_cast<std::size_t>(device)];
    s.model = std::move(model);
    s.firmware = s.model ? std::make_unique<AdapterFirmware>(chip_) : nullptr;
    s.unplugged = false;
}

void SimUsbDriver::SetUnplugged(int device, bool unplugged) {
    if (device >= 0 && device <= 3) slots_[static_cast<std::size_t>(device)].unplugged = unplugged;
}

bool SimUsbDriver::Unplugged(const std::string& name) const {
    const int device = UsbDeviceNumber(name);
    if (device < 0) return false;
    const Slot& s = slots_[static_cast<std::size_t>(device)];
    return s.model && s.unplugged;
}

AdapterFirmware* SimUsbDriver::firmware(int device) {
    if (device < 0 || device > 3) return nullptr;
    return slots_[static_cast<std::size_t>(device)].firmware.get();
}

std::unique_ptr<UsbDevice> SimUsbDriver::Open(const std::string& name) {
    const int device = UsbDeviceNumber(name);
    if (device < 0) return nullptr;
    const Slot& s = slots_[static_cast<std::size_t>(device)];
    if (!s.model || s.unplugged || Fails({UsbRequestKind::Open, device})) return nullptr;
    return std::make_unique<SimUsbHandle>(*this, device);
}

}  // namespace qvin::sim
