#pragma once
// An emulated USB device node for umockdev's testbed: the usbdevfs ioctls libusb issues
// (capabilities, claims, URBs submitted, discarded and reaped) answered on umockdev's worker
// thread, each request completed exactly once. A device says what its control requests and
// bulk transfers do; the URB bookkeeping is here. Faults: a stalled IN, an unplug after the
// next OUT, a busy interface.

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <umockdev.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace qvin::test {

class UsbdevfsDevice {
public:
    virtual ~UsbdevfsDevice() = default;

    static gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
        return static_cast<UsbdevfsDevice*>(self)->Handle(client);
    }
    // Attaches the device to the node `path` of the testbed; the handler lives as long as
    // the returned object (unref it after the testbed's users are gone).
    UMockdevIoctlBase* Attach(UMockdevTestbed* testbed, const char* path, GError** error) {
        UMockdevIoctlBase* handler = umockdev_ioctl_base_new();
        g_signal_connect(handler, "handle-ioctl", G_CALLBACK(UsbdevfsDevice::OnIoctl), this);
        umockdev_testbed_attach_ioctl(testbed, path, handler, error);
        return handler;
    }

    std::mutex mutex;
    int claims = 0, releases = 0, clearHalts = 0;
    bool stallNextIn = false, unplugAfterOut = false, unplugged = false;
    bool busy = false;  // another program has claimed the interface

protected:
    // A control request: `setup` its 8 bytes, `data` what follows them. The length of the
    // answer, or nothing to stall it.
    virtual std::optional<std::size_t> Control(const std::uint8_t* setup, std::uint8_t* data) = 0;
    virtual void BulkOut(std::uint8_t endpoint, std::span<const std::uint8_t> bytes) = 0;
    // What an IN transfer of at most `room` bytes carries; empty: the device NAKs until the
    // host gives up.
    virtual std::vector<std::uint8_t> BulkIn(std::uint8_t endpoint, std::size_t room) = 0;

private:
    gboolean Handle(UMockdevIoctlClient* client) {
        std::lock_guard lock(mutex);
        const gulong request = umockdev_ioctl_client_get_request(client);
        UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
        auto done = [client](long result, int err = 0) {
            umockdev_ioctl_client_complete(client, result, err);
            return TRUE;
        };
        // Reaping what finished before the unplug still works; everything else is gone.
        if (unplugged && request != USBDEVFS_REAPURBNDELAY && request != USBDEVFS_REAPURB) {
            if (request == USBDEVFS_RELEASEINTERFACE) ++releases;
            return done(-1, ENODEV);
        }
        switch (request) {
            case USBDEVFS_GET_CAPABILITIES: {
                UMockdevIoctlData* d = umockdev_ioctl_data_resolve(arg, 0, sizeof(std::uint32_t), nullptr);
                if (!d) return done(-1, EFAULT);
                std::memset(d->data, 0, sizeof(std::uint32_t));
                return done(0);
            }
            case USBDEVFS_CLAIMINTERFACE:
                if (busy) return done(-1, EBUSY);
                ++claims;
                return done(0);
            case USBDEVFS_RELEASEINTERFACE: ++releases; return done(0);
            case USBDEVFS_GETDRIVER:  // no kernel driver is bound to the interface
            case USBDEVFS_IOCTL:      // so there is none to disconnect either
                return done(-1, ENODATA);
            case USBDEVFS_CLEAR_HALT: ++clearHalts; return done(0);
            case USBDEVFS_SUBMITURB: return Submit(arg, done);
            case USBDEVFS_DISCARDURB: {
                UMockdevIoctlData* urbData = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
                const std::uint64_t addr = urbData ? urbData->client_addr : 0;
                const auto it = std::find(waiting_.begin(), waiting_.end(), addr);
                if (!urbData || it == waiting_.end()) return done(-1, EINVAL);
                waiting_.erase(it);
                auto* urb = reinterpret_cast<usbdevfs_urb*>(urbData->data);
                urb->status = -ENOENT;
                urb->actual_length = 0;
                finished_.push_back(addr);
                return done(0);
            }
            case USBDEVFS_REAPURB:
            case USBDEVFS_REAPURBNDELAY: {
                if (finished_.empty()) return done(-1, unplugged ? ENODEV : EAGAIN);
                UMockdevIoctlData* d = umockdev_ioctl_data_resolve(arg, 0, sizeof(void*), nullptr);
                if (!d) return done(-1, EFAULT);
                const std::uint64_t addr = finished_.front();
                finished_.pop_front();
                std::memcpy(d->data, &addr, sizeof addr);
                return done(0);
            }
            default:
                return done(-1, ENOTTY);
        }
    }

    template <typename Done>
    gboolean Submit(UMockdevIoctlData* arg, Done done) {
        UMockdevIoctlData* urbData = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
        if (!urbData) return done(-1, EFAULT);
        auto* urb = reinterpret_cast<usbdevfs_urb*>(urbData->data);
        UMockdevIoctlData* buf = urb->buffer_length > 0
                                     ? umockdev_ioctl_data_resolve(urbData, offsetof(usbdevfs_urb, buffer),
                                                                   static_cast<gsize>(urb->buffer_length), nullptr)
                                     : nullptr;
        if (urb->buffer_length > 0 && !buf) return done(-1, EFAULT);
        const std::uint64_t addr = urbData->client_addr;
        urb->status = 0;
        urb->actual_length = 0;

        if (urb->type == USBDEVFS_URB_TYPE_CONTROL) {
            if (const auto n = Control(buf->data, buf->data + 8)) urb->actual_length = static_cast<int>(*n);
            else urb->status = -EPIPE;
        } else if (!(urb->endpoint & 0x80)) {
            BulkOut(urb->endpoint, {buf->data, static_cast<std::size_t>(urb->buffer_length)});
            urb->actual_length = urb->buffer_length;
            if (unplugAfterOut) unplugged = true;
        } else if (stallNextIn) {
            stallNextIn = false;
            urb->status = -EPIPE;
        } else if (unplugged) {
            urb->status = -ENODEV;
        } else {
            const std::vector<std::uint8_t> reply = BulkIn(urb->endpoint, static_cast<std::size_t>(urb->buffer_length));
            if (reply.empty()) {
                waiting_.push_back(addr);
                return done(0);
            }
            std::memcpy(buf->data, reply.data(), reply.size());
            urb->actual_length = static_cast<int>(reply.size());
        }
        finished_.push_back(addr);
        return done(0);
    }

    std::deque<std::uint64_t> finished_;
    std::vector<std::uint64_t> waiting_;
};

// A string descriptor's bytes (UTF-16LE), for index 0 the language list (US English).
inline std::vector<std::uint8_t> StringDescriptor(int index, const char* text) {
    if (index == 0) return {4, 3, 0x09, 0x04};
    std::vector<std::uint8_t> d = {static_cast<std::uint8_t>(2 + 2 * std::strlen(text)), 3};
    for (const char* c = text; *c; ++c) d.insert(d.end(), {static_cast<std::uint8_t>(*c), 0});
    return d;
}

// A device as umockdev's testbed records it in sysfs: its node, its attributes and its
// descriptors (one configuration, one vendor-specific interface of bulk endpoints).
struct UsbDeviceShape {
    std::string port;  // "1-2": where it is plugged in on bus 1
    int devnum;
    std::uint16_t vendor, product, bcdDevice;
    std::uint8_t serialIndex;  // 0: no serial number string
    std::vector<std::uint8_t> endpoints;
    std::uint16_t maxPacket;
    int speedMbps;
};

inline std::string UsbRecord(const UsbDeviceShape& d) {
    const auto n = static_cast<std::uint8_t>(d.endpoints.size());
    const auto total = static_cast<std::uint16_t>(9 + 9 + 7 * n);
    auto lo = [](unsigned v) { return static_cast<std::uint8_t>(v & 0xFF); };
    auto hi = [](unsigned v) { return static_cast<std::uint8_t>(v >> 8); };
    std::vector<std::uint8_t> desc = {18, 1, 0x00, 0x02, 0xFF, 0xFF, 0xFF, 64, lo(d.vendor), hi(d.vendor), lo(d.product), hi(d.product),
                                      lo(d.bcdDevice), hi(d.bcdDevice), 1, 2, d.serialIndex, 1,
                                      9, 2, lo(total), hi(total), 1, 1, 0, 0x80, 50,
                                      9, 4, 0, 0, n, 0xFF, 0xFF, 0xFF, 0};
    for (std::uint8_t ep : d.endpoints) desc.insert(desc.end(), {7, 5, ep, 2, lo(d.maxPacket), hi(d.maxPacket), 0});
    std::string hex;
    char b[3];
    for (std::uint8_t v : desc) {
        std::snprintf(b, sizeof b, "%02x", v);
        hex += b;
    }
    char node[32];
    std::snprintf(node, sizeof node, "bus/usb/001/%03d", d.devnum);
    char ids[64];
    std::snprintf(ids, sizeof ids, "A: idVendor=%04x\\n\nA: idProduct=%04x\\n\n", d.vendor, d.product);
    return "P: /devices/pci0000:00/usb1/" + d.port + "\n" + "N: " + node + "=00\n" + "E: DEVNAME=/dev/" + node + "\n" +
           "E: DEVTYPE=usb_device\nE: SUBSYSTEM=usb\nE: DRIVER=usb\n" + "E: BUSNUM=001\nE: DEVNUM=" + std::string(node + 12) + "\n" +
           "A: busnum=1\\n\n" + "A: devnum=" + std::to_string(d.devnum) + "\\n\n" + "A: speed=" + std::to_string(d.speedMbps) +
           "\\n\n" + "A: bConfigurationValue=1\\n\n" + ids + "H: descriptors=" + hex + "\n\n";
}

}  // namespace qvin::test
