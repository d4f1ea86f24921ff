#pragma once
// The adapter driver on libusb-1.0. Device number n ("Ezusb-n") is the n-th USB device
// with the adapter's vendor id, in bus and port order; pipe n is the n-th endpoint of
// interface 0. Each opened device claims interface 0 and releases it when closed. Bulk
// transfers and descriptor requests have a bounded timeout.

#include <memory>
#include <string>

#include "platform/usb/usb_driver.h"

struct libusb_context;

namespace qvin {

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

private:
    bool Init();

    unsigned timeoutMs_;
    libusb_context* ctx_ = nullptr;  // created on first use, so machines without USB never touch it
    bool initFailed_ = false;
    std::string initError_;
    std::string lastError_;
    std::string openFailure_;
};

}  // namespace qvin
