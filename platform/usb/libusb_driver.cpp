#include "platform/usb/libusb_driver.h"

#include <libusb-1.0/libusb.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <utility>
#include <vector>

#include "core/clock.h"

namespace qvin {

struct LibusbEndpoint {
    std::uint8_t address;
    std::uint16_t maxPacket;
};

// One adapter as the driver holds it: bound to its name by where it is plugged in (bus,
// ports and address), opened with its interface claimed on first use, and kept so until the
// driver ends or the adapter goes.
struct LibusbHeld {
    std::vector<std::uint8_t> path;
    libusb_device_descriptor descriptor{};
    std::vector<LibusbEndpoint> endpoints;
    libusb_device_handle* h = nullptr;
    bool gone = false;  // a request found it unplugged
    LibusbHeld() = default;
    LibusbHeld(const LibusbHeld&) = delete;
    LibusbHeld& operator=(const LibusbHeld&) = delete;
    ~LibusbHeld() {
        if (!h) return;
        libusb_release_interface(h, 0);
        libusb_close(h);
    }
};

namespace {

// What Open hands out: the held adapter, which stays open when this ends.
class LibusbDevice final : public UsbDevice {
public:
    LibusbDevice(libusb_context* ctx, std::shared_ptr<LibusbHeld> held, unsigned timeoutMs)
        : ctx_(ctx), held_(std::move(held)), h_(held_->h), descriptor_(held_->descriptor), endpoints_(held_->endpoints), timeoutMs_(timeoutMs) {}
    LibusbDevice(const LibusbDevice&) = delete;
    LibusbDevice& operator=(const LibusbDevice&) = delete;

    bool GetDeviceDescriptor(std::span<std::uint8_t> b) override {
        if (b.size() < LIBUSB_DT_DEVICE_SIZE) return false;
        const libusb_device_descriptor& d = descriptor_;
        const std::uint8_t bytes[LIBUSB_DT_DEVICE_SIZE] = {
            d.bLength, d.bDescriptorType, Lo(d.bcdUSB), Hi(d.bcdUSB), d.bDeviceClass, d.bDeviceSubClass,
            d.bDeviceProtocol, d.bMaxPacketSize0, Lo(d.idVendor), Hi(d.idVendor), Lo(d.idProduct), Hi(d.idProduct),
            Lo(d.bcdDevice), Hi(d.bcdDevice), d.iManufacturer, d.iProduct, d.iSerialNumber, d.bNumConfigurations};
        std::memcpy(b.data(), bytes, sizeof bytes);
        return true;
    }

    bool GetStringDescriptor(std::uint8_t index, std::span<std::uint8_t> b, std::size_t& received) override {
        received = 0;
        if (b.empty()) return true;
        const std::uint16_t language = index == 0 ? 0 : Language();
        const int r = libusb_control_transfer(h_, LIBUSB_ENDPOINT_IN, LIBUSB_REQUEST_GET_DESCRIPTOR,
                                              static_cast<std::uint16_t>(LIBUSB_DT_STRING << 8 | index), language,
                                              b.data(), static_cast<std::uint16_t>(std::min<std::size_t>(b.size(), 255)),
                                              timeoutMs_);
        Note(r);
        if (r < 0) return false;
        received = static_cast<std::size_t>(r);
        return true;
    }

    bool GetPipeInfo(std::span<std::uint8_t> b) override {
        if (b.size() < kPipeInfoBuffer) return false;
        std::fill(b.begin(), b.end(), 0);
        for (std::size_t pipe = 0; pipe < endpoints_.size() && pipe <= kMaxPipe; ++pipe) {
            b[PipeInfoOffset(static_cast<int>(pipe))] = Lo(endpoints_[pipe].maxPacket);
            b[PipeInfoOffset(static_cast<int>(pipe)) + 1] = Hi(endpoints_[pipe].maxPacket);
        }
        return true;
    }

    bool BulkTransfer(int pipe, std::span<std::uint8_t> b, std::int32_t& count) override {
        const std::int32_t asked = count;
        count = 0;
        if (pipe < 0 || static_cast<std::size_t>(pipe) >= endpoints_.size() || asked < 0 ||
            static_cast<std::size_t>(asked) > b.size())
            return false;
        const std::uint8_t ep = endpoints_[static_cast<std::size_t>(pipe)].address;
        int transferred = 0;
        const int r = BusyWaiting::SpinNow(SteadyNs()) ? PolledTransfer(ep, b.data(), asked, transferred)
                                                       : libusb_bulk_transfer(h_, ep, b.data(), asked, &transferred, timeoutMs_);
        count = transferred;
        Note(r);
        // A stalled endpoint is cleared so the next operation starts clean.
        if (r == LIBUSB_ERROR_PIPE) libusb_clear_halt(h_, ep);
        return r == 0;
    }

    bool PipeIsInput(int pipe) const override {
        return pipe >= 0 && static_cast<std::size_t>(pipe) < endpoints_.size() &&
               (endpoints_[static_cast<std::size_t>(pipe)].address & LIBUSB_ENDPOINT_IN);
    }

private:
    void Note(int r) {
        if (r == LIBUSB_ERROR_NO_DEVICE) held_->gone = true;
    }

    // The same bulk transfer as libusb_bulk_transfer, the thread polling for its end
    // instead of sleeping in the kernel until it comes (see BusyWaiting). Same timeout,
    // same results.
    int PolledTransfer(std::uint8_t ep, unsigned char* data, int length, int& transferred) {
        transferred = 0;
        libusb_transfer* t = libusb_alloc_transfer(0);
        if (!t) return LIBUSB_ERROR_NO_MEM;
        int completed = 0;
        libusb_fill_bulk_transfer(
            t, h_, ep, data, length, [](libusb_transfer* done) { *static_cast<int*>(done->user_data) = 1; }, &completed, timeoutMs_);
        int r = libusb_submit_transfer(t);
        if (r != 0) {
            libusb_free_transfer(t);
            return r;
        }
        timeval now{0, 0};
        for (std::int64_t last = SteadyNs(); !completed;) {
            r = libusb_handle_events_timeout_completed(ctx_, &now, &completed);
            // Put aside between two polls: a busy machine, where sleeping serves better.
            const std::int64_t at = SteadyNs();
            BusyWaiting::Saw(at, at - last);
            last = at;
            if (r != 0 && r != LIBUSB_ERROR_INTERRUPTED) {
                // Events cannot be handled: the transfer is called off and waited for, as
                // libusb_bulk_transfer does.
                libusb_cancel_transfer(t);
                while (!completed)
                    if (libusb_handle_events_completed(ctx_, &completed) < 0) break;
                break;
            }
        }
        transferred = t->actual_length;
        switch (completed ? t->status : LIBUSB_TRANSFER_ERROR) {
            case LIBUSB_TRANSFER_COMPLETED: r = 0; break;
            case LIBUSB_TRANSFER_TIMED_OUT: r = LIBUSB_ERROR_TIMEOUT; break;
            case LIBUSB_TRANSFER_STALL: r = LIBUSB_ERROR_PIPE; break;
            case LIBUSB_TRANSFER_OVERFLOW: r = LIBUSB_ERROR_OVERFLOW; break;
            case LIBUSB_TRANSFER_NO_DEVICE: r = LIBUSB_ERROR_NO_DEVICE; break;
            default: r = LIBUSB_ERROR_IO; break;
        }
        // Not freed when it could not be waited for: the library still holds it.
        if (completed) libusb_free_transfer(t);
        return r;
    }

    static std::int64_t SteadyNs() {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
    }
    static std::uint8_t Lo(std::uint16_t v) { return static_cast<std::uint8_t>(v & 0xFF); }
    static std::uint8_t Hi(std::uint16_t v) { return static_cast<std::uint8_t>(v >> 8); }

    // The first language the device offers, asked once; US English when it names none.
    std::uint16_t Language() {
        if (language_ == 0) {
            std::uint8_t d[4] = {};
            const int r = libusb_control_transfer(h_, LIBUSB_ENDPOINT_IN, LIBUSB_REQUEST_GET_DESCRIPTOR,
                                                  LIBUSB_DT_STRING << 8, 0, d, sizeof d, timeoutMs_);
            language_ = r >= 4 ? static_cast<std::uint16_t>(d[2] | d[3] << 8) : 0x0409;
            if (language_ == 0) language_ = 0x0409;
        }
        return language_;
    }

    libusb_context* ctx_;
    std::shared_ptr<LibusbHeld> held_;
    libusb_device_handle* h_;
    const libusb_device_descriptor& descriptor_;
    const std::vector<LibusbEndpoint>& endpoints_;
    unsigned timeoutMs_;
    std::uint16_t language_ = 0;
};

std::vector<std::uint8_t> Path(libusb_device* d) {
    std::uint8_t ports[8] = {};
    const int n = libusb_get_port_numbers(d, ports, sizeof ports);
    // Built in one go: GCC 12 at -O3 misreads an insert into a one-element vector as out of bounds.
    const std::size_t count = n > 0 ? static_cast<std::size_t>(n) : 0;
    std::vector<std::uint8_t> path(count + 2);
    path[0] = libusb_get_bus_number(d);
    std::copy(ports, ports + count, path.begin() + 1);
    path[count + 1] = libusb_get_device_address(d);
    return path;
}

// The devices libusb lists now, freed with the list.
struct DeviceList {
    libusb_device** list = nullptr;
    ssize_t n = 0;
    ~DeviceList() {
        if (list) libusb_free_device_list(list, 1);
    }
};

// An adapter listed: where it sits (bus, ports, address) and the device.
using Listed = std::vector<std::pair<std::vector<std::uint8_t>, libusb_device*>>;

// The adapters in the list (only the adapter's own products), in bus and port order.
Listed AdaptersIn(const DeviceList& devices) {
    Listed adapters;
    for (ssize_t i = 0; i < devices.n; ++i) {
        libusb_device_descriptor d{};
        if (libusb_get_device_descriptor(devices.list[i], &d) == 0 && d.idVendor == kAdapterVendorId &&
            (d.idProduct == kKappaProductId || d.idProduct == kRhoProductId))
            adapters.emplace_back(Path(devices.list[i]), devices.list[i]);
    }
    std::sort(adapters.begin(), adapters.end(), [](const auto& a, const auto& b) {
        // Not a.first < b.first: at -O3 GCC 12 warns falsely (-Wstringop-overread) inside
        // the three-way comparison that operator< is made of.
        return std::lexicographical_compare(a.first.begin(), a.first.end(), b.first.begin(), b.first.end());
    });
    return adapters;
}

// A newly seen adapter as the driver holds it: its descriptor and its first interface's
// endpoints; not opened yet.
std::shared_ptr<LibusbHeld> Hold(const std::vector<std::uint8_t>& path, libusb_device* dev) {
    auto held = std::make_shared<LibusbHeld>();
    held->path = path;
    libusb_get_device_descriptor(dev, &held->descriptor);
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_active_config_descriptor(dev, &config) == 0 && config) {
        if (config->bNumInterfaces > 0 && config->interface[0].num_altsetting > 0) {
            const libusb_interface_descriptor& alt = config->interface[0].altsetting[0];
            for (int e = 0; e < alt.bNumEndpoints; ++e) held->endpoints.push_back({alt.endpoint[e].bEndpointAddress, alt.endpoint[e].wMaxPacketSize});
        }
        libusb_free_config_descriptor(config);
    }
    return held;
}

// Opens `dev` and claims its interface; why not, or nothing.
std::string OpenAndClaim(libusb_device* dev, const std::string& name, libusb_device_handle*& h) {
    int r = libusb_open(dev, &h);
    if (r == 0) {
        libusb_set_auto_detach_kernel_driver(h, 1);
        r = libusb_claim_interface(h, 0);
        if (r != 0) libusb_close(h);
    }
    if (r == 0) return {};
    h = nullptr;
    return r == LIBUSB_ERROR_ACCESS      ? UsbNoPermission(name)
           : r == LIBUSB_ERROR_BUSY      ? UsbBusy(name)
           : r == LIBUSB_ERROR_NO_DEVICE ? UsbUnplugged(name)
                                         : name + ": " + libusb_strerror(r);
}

}  // namespace

std::string LibusbVersion() {
    const libusb_version* v = libusb_get_version();
    return std::to_string(v->major) + "." + std::to_string(v->minor) + "." + std::to_string(v->micro) + "." + std::to_string(v->nano);
}

LibusbDriver::~LibusbDriver() {
    for (auto& held : slots_) held.reset();  // closed before the library ends
    if (ctx_) libusb_exit(ctx_);
}

bool LibusbDriver::Init() {
    if (ctx_) return true;
    if (!initFailed_) {
        const int r = libusb_init(&ctx_);
        if (r == 0) return true;
        ctx_ = nullptr;
        initFailed_ = true;
        initError_ = std::string("USB is not available: ") + libusb_strerror(r);
    }
    lastError_ = initError_;
    openFailure_ = initError_;
    return false;
}

bool LibusbDriver::Unplugged(const std::string& name) const {
    const int n = UsbDeviceNumber(name);
    if (n < 0) return false;
    const auto k = static_cast<std::size_t>(n);
    return unplugged_[k] || (slots_[k] && slots_[k]->gone);
}

std::unique_ptr<UsbDevice> LibusbDriver::Open(const std::string& name) {
    lastError_.clear();
    openFailure_.clear();
    const int number = UsbDeviceNumber(name);
    if (number < 0) {
        lastError_ = "no such device " + name;
        return nullptr;
    }
    const auto wanted = static_cast<std::size_t>(number);
    if (!Init()) return nullptr;
    DeviceList devices;
    devices.n = libusb_get_device_list(ctx_, &devices.list);
    if (devices.n < 0) {
        devices.list = nullptr;
        lastError_ = openFailure_ = std::string("cannot list USB devices: ") + libusb_strerror(static_cast<int>(devices.n));
        return nullptr;
    }
    const Listed adapters = AdaptersIn(devices);
    ForgetGone(adapters);
    if (unplugged_[wanted]) {
        unplugged_[wanted] = false;
        lastError_ = openFailure_ = UsbUnplugged(name);
        return nullptr;
    }
    NameNew(adapters);
    const std::shared_ptr<LibusbHeld>& held = slots_[wanted];
    if (!held) {
        lastError_ = "no such device " + name;
        return nullptr;
    }
    if (!held->h) {
        // Opened once, on first use, and its interface claimed for as long as it is held.
        libusb_device* dev = nullptr;
        for (const auto& [path, d] : adapters)
            if (path == held->path) dev = d;
        libusb_device_handle* h = nullptr;
        if (const std::string why = OpenAndClaim(dev, name, h); !why.empty()) {
            lastError_ = openFailure_ = why;
            return nullptr;
        }
        held->h = h;
    }
    return std::make_unique<LibusbDevice>(ctx_, held, timeoutMs_);
}

// A name keeps its adapter while it is plugged in. One that went (a request found it gone,
// or it is no longer listed) leaves its name unplugged until that name is asked for and says
// so: an adapter plugged in meanwhile never answers in its place.
void LibusbDriver::ForgetGone(const Listed& adapters) {
    auto there = [&](const std::vector<std::uint8_t>& path) {
        return std::find_if(adapters.begin(), adapters.end(), [&](const auto& a) { return a.first == path; }) != adapters.end();
    };
    for (std::size_t k = 0; k < slots_.size(); ++k)
        if (slots_[k] && (slots_[k]->gone || !there(slots_[k]->path))) {
            unplugged_[k] = slots_[k]->h != nullptr;
            slots_[k].reset();
        }
}

// Adapters new to the driver take the free names in bus and port order.
void LibusbDriver::NameNew(const Listed& adapters) {
    for (const auto& adapter : adapters) {
        // Not a structured binding: clang 14 cannot capture one in the lambda below.
        const std::vector<std::uint8_t>& path = adapter.first;
        if (std::any_of(slots_.begin(), slots_.end(), [&path](const auto& h) { return h && h->path == path; })) continue;
        std::size_t k = 0;
        while (k < slots_.size() && (slots_[k] || unplugged_[k])) ++k;
        if (k == slots_.size()) break;
        slots_[k] = Hold(path, adapter.second);
    }
}

}  // namespace qvin
