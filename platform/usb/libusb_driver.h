#pragma once
// The adapter driver on libusb-1.0. The adapters (the adapter's own vendor and product ids)
// take the names "Ezusb-0" to "Ezusb-3" in bus and port order as they are first seen, and
// keep them while they stay plugged in: one plugged in later takes a free name, never one in
// use. An adapter is opened, and its interface 0 claimed, the first time its name is, and
// held so until the driver ends or the adapter goes; each Open hands out the held adapter.
// Pipe n is the n-th endpoint of interface 0. Bulk transfers and descriptor requests have a
// bounded timeout.

#include <array>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/usb/usb_driver.h"

struct libusb_context;
struct libusb_device;

namespace qvin {

struct LibusbHeld;

// The version of libusb the program runs with ("1.0.26.11724").
std::string LibusbVersion();

class LibusbDriver final : public UsbDriver {
public:
    explicit LibusbDriver(unsigned timeoutMs = 1000) : timeoutMs_(timeoutMs) {}
    ~LibusbDriver() override;
    LibusbDriver(const LibusbDriver&) = delete;
    LibusbDriver& operator=(const LibusbDriver&) = delete;

    std::unique_ptr<UsbDevice> Open(const std::string& name) override;

    // Why the last Open failed, for diagnostics ("no permission", "no such device", ...).
    const std::string& lastError() const { return lastError_; }
    std::string OpenFailure() const override { return openFailure_; }
    bool Unplugged(const std::string& name) const override;

private:
    using Listed = std::vector<std::pair<std::vector<std::uint8_t>, libusb_device*>>;
    bool Init();
    void ForgetGone(const Listed& adapters);
    void NameNew(const Listed& adapters);

    unsigned timeoutMs_;
    libusb_context* ctx_ = nullptr;  // created on first use, so machines without USB never touch it
    bool initFailed_ = false;
    std::string initError_;
    std::string lastError_;
    std::string openFailure_;
    std::array<std::shared_ptr<LibusbHeld>, 4> slots_;
    std::array<bool, 4> unplugged_{};  // went while held; said at the next Open of its name
};

}  // namespace qvin
