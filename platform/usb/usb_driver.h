#pragma once
// The requests the program makes of the USB adapter driver. Adapters are named
// "Ezusb-0" to "Ezusb-3"; a device is opened for one operation and closed after it.
// Every request reports failure instead of throwing or hanging.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace qvin {

inline constexpr std::uint16_t kAdapterVendorId = 0x2F3A;
inline constexpr std::uint16_t kKappaProductId = 0xC5A1;
inline constexpr std::uint16_t kRhoProductId = 0xC5B4;

// Sizes of the driver's buffers.
inline constexpr std::size_t kDeviceDescriptorBuffer = 147;
inline constexpr std::size_t kPipeInfoBuffer = 356;
// Pipe n's maximum packet size sits at this offset of the pipe information, little-endian.
constexpr std::size_t PipeInfoOffset(int pipe) { return 16 + 20 * static_cast<std::size_t>(pipe); }
inline constexpr int kMaxPipe = 16;

class UsbDevice {
public:
    virtual ~UsbDevice() = default;

    // The standard 18-byte device descriptor at the start of `buffer`.
    virtual bool GetDeviceDescriptor(std::span<std::uint8_t> buffer) = 0;
    // The first buffer.size() bytes of string descriptor `index` (bLength, type, UTF-16LE
    // text); `received` tells how many bytes came back.
    virtual bool GetStringDescriptor(std::uint8_t index, std::span<std::uint8_t> buffer, std::size_t& received) = 0;
    // The interface's pipe table: pipe n's maximum packet size at PipeInfoOffset(n).
    virtual bool GetPipeInfo(std::span<std::uint8_t> buffer) = 0;
    // One bulk transfer on pipe 0 to 16; the pipe decides the direction. `count` is the
    // number of bytes asked for and receives the number transferred.
    virtual bool BulkTransfer(int pipe, std::span<std::uint8_t> buffer, std::int32_t& count) = 0;
    // Whether the pipe carries data from the device (false also for a pipe that does not exist).
    virtual bool PipeIsInput(int pipe) const = 0;
};

class UsbDriver {
public:
    virtual ~UsbDriver() = default;
    // nullptr when no such device exists or it cannot be opened.
    virtual std::unique_ptr<UsbDevice> Open(const std::string& name) = 0;
    // Why the last Open failed when an adapter was there (no permission, busy) or USB
    // cannot be used at all; empty when there was no such adapter, or it opened.
    virtual std::string OpenFailure() const { return {}; }
    // Whether the named adapter was there and has gone (so its failed requests were an unplug).
    virtual bool Unplugged(const std::string& name) const {
        (void)name;
        return false;
    }
};

// The device number of a name "Ezusb-0" to "Ezusb-3"; -1 for any other name.
inline int UsbDeviceNumber(const std::string& name) {
    return name.size() == 7 && name.rfind("Ezusb-", 0) == 0 && name[6] >= '0' && name[6] <= '3' ? name[6] - '0' : -1;
}

// The causes every driver names in the same words, with what fixes them.
inline std::string UsbNoPermission(const std::string& name) {
    return name + ": no permission to open it (install the udev rule 60-qvin27319.rules, add your user to the plugdev group "
                  "and log in again)";
}
inline std::string UsbBusy(const std::string& name) { return name + ": busy (another program has it open)"; }
inline std::string UsbUnplugged(const std::string& name) { return name + ": unplugged"; }

}  // namespace qvin

namespace qvin {

// A machine without adapters.
class NoUsbDriver final : public UsbDriver {
public:
    std::unique_ptr<UsbDevice> Open(const std::string&) override { return nullptr; }
};

}  // namespace qvin
