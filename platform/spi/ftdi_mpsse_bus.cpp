#include "platform/spi/ftdi_mpsse_bus.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include <ftdi.h>
#include <libusb.h>

#include "core/excerpt.h"

namespace qvin {

namespace {

constexpr int kFtdiVendor = 0x0403;
struct MpsseChip {
    int product;
    const char* name;
};
constexpr MpsseChip kMpsseChips[] = {{0x6014, "FT232H"}, {0x6010, "FT2232H"}, {0x6011, "FT4232H"}};
// 60 MHz / ((1 + 29) * 2) = 1 MHz.
constexpr std::uint16_t kDivisor = 29;

const char* ChipName(int product) {
    for (const MpsseChip& c : kMpsseChips)
        if (c.product == product) return c.name;
    return nullptr;
}

std::string NodePath(libusb_device* dev) {
    char path[64];
    std::snprintf(path, sizeof path, "/dev/bus/usb/%03u/%03u", libusb_get_bus_number(dev), libusb_get_device_address(dev));
    return path;
}

// Why a device found could not be opened: permission is what a new user meets first.
std::string OpenFailure(libusb_device* dev, const std::string& libftdiSays) {
    if (::access(NodePath(dev).c_str(), R_OK | W_OK) != 0 && errno == EACCES)
        return "no permission to open it (install the udev rule 60-qvin27319.rules, add your user to the plugdev group and log in again)";
    return libftdiSays;
}

// The adapters libftdi finds, each with its strings (which need the device opened).
struct Found {
    libusb_device* dev;
    FtdiAdapter adapter;
    std::string unreadable;  // why its strings could not be read
};

std::vector<Found> FindAll(ftdi_context* ftdi, ftdi_device_list** list, std::string& why) {
    std::vector<Found> out;
    const int n = ftdi_usb_find_all(ftdi, list, 0, 0);
    if (n < 0) {
        why = std::string("USB is not available: ") + ftdi_get_error_string(ftdi);
        return out;
    }
    for (ftdi_device_list* d = *list; d; d = d->next) {
        libusb_device_descriptor desc{};
        if (libusb_get_device_descriptor(d->dev, &desc) != 0 || desc.idVendor != kFtdiVendor) continue;
        const char* chip = ChipName(desc.idProduct);
        if (!chip) continue;  // no MPSSE (an FT232R, an FT230X)
        Found f{d->dev, {}, {}};
        f.adapter.chip = chip;
        f.adapter.bus = libusb_get_bus_number(d->dev);
        f.adapter.address = libusb_get_device_address(d->dev);
        char manufacturer[128] = "", description[128] = "", serial[128] = "";
        if (ftdi_usb_get_strings(ftdi, d->dev, manufacturer, sizeof manufacturer, description, sizeof description, serial, sizeof serial) < 0)
            f.unreadable = OpenFailure(d->dev, ftdi_get_error_string(ftdi));
        f.adapter.serial = serial;
        f.adapter.description = description;
        out.push_back(std::move(f));
    }
    // In a stable order (libusb lists devices as it likes): "the first" stays the first.
    std::sort(out.begin(), out.end(), [](const Found& a, const Found& b) {
        return std::pair(a.adapter.bus, a.adapter.address) < std::pair(b.adapter.bus, b.adapter.address);
    });
    return out;
}

std::string Where(const FtdiAdapter& a) {
    return a.chip + " on bus " + std::to_string(a.bus) + " address " + std::to_string(a.address);
}

}  // namespace

// The adapter answers within its latency timer, a millisecond, on a bus that works.
FtdiMpsseBus::FtdiMpsseBus(int answerMs) : answerMs_(answerMs) {}
FtdiMpsseBus::~FtdiMpsseBus() { Close(); }

std::vector<FtdiAdapter> FtdiMpsseBus::List(std::string& why) {
    std::vector<FtdiAdapter> out;
    ftdi_context* ftdi = ftdi_new();
    if (!ftdi) {
        why = "USB is not available: libusb cannot start";
        return out;
    }
    ftdi_device_list* list = nullptr;
    for (Found& f : FindAll(ftdi, &list, why)) {
        if (f.adapter.serial.empty() && !f.unreadable.empty()) f.adapter.serial = "(" + f.unreadable + ")";
        out.push_back(f.adapter);
    }
    ftdi_list_free(&list);
    ftdi_free(ftdi);
    return out;
}

std::string FtdiMpsseBus::Open(const std::string& device) {
    Close();
    error_.clear();
    if (!IsFtdiDevice(device)) return device + " names no FTDI adapter (ftdi: for the first, or ftdi:SERIAL)";
    const std::string wanted = device.substr(std::strlen(kFtdiPrefix));
    ftdi_ = ftdi_new();
    if (!ftdi_) return "USB is not available: libusb cannot start";
    ftdi_set_interface(ftdi_, INTERFACE_A);
    ftdi_->usb_read_timeout = answerMs_;
    ftdi_->usb_write_timeout = answerMs_;

    ftdi_device_list* list = nullptr;
    std::string why;
    const std::vector<Found> found = FindAll(ftdi_, &list, why);
    const Found* chosen = nullptr;
    std::string skipped;  // why adapters present were not taken
    for (const Found& f : found) {
        if (!f.unreadable.empty()) {
            skipped += (skipped.empty() ? "" : "; ") + Where(f.adapter) + ": " + f.unreadable;
            continue;
        }
        if (wanted.empty() || f.adapter.serial == wanted) {
            chosen = &f;
            break;
        }
    }
    auto fail = [&](std::string text) {
        ftdi_list_free(&list);
        ftdi_free(ftdi_);
        ftdi_ = nullptr;
        return text;
    };
    if (!why.empty()) return fail(why);
    if (!chosen) {
        std::string text = wanted.empty() ? "no FTDI adapter with MPSSE (FT232H, FT2232H, FT4232H) found"
                                          : "no FTDI adapter with the serial number " + Excerpt(wanted) + " found";
        if (!skipped.empty()) text += " (" + skipped + ")";
        return fail(text);
    }
    const FtdiAdapter adapter = chosen->adapter;
    if (ftdi_usb_open_dev(ftdi_, chosen->dev) < 0) return fail(Where(adapter) + ": " + OpenFailure(chosen->dev, ftdi_get_error_string(ftdi_)));
    ftdi_list_free(&list);
    device_ = kFtdiPrefix + adapter.serial;
    open_ = true;

    // MPSSE from a clean start; the pins idle with chip select high and the clock low.
    if (ftdi_set_latency_timer(ftdi_, 1) < 0 || ftdi_set_bitmode(ftdi_, 0, BITMODE_RESET) < 0 ||
        ftdi_set_bitmode(ftdi_, mpsse::kOutputs, BITMODE_MPSSE) < 0 || ftdi_tcioflush(ftdi_) < 0) {
        const std::string text = Failed("MPSSE mode cannot be set");
        Close();
        return text;
    }
    // The engine answers a command it does not know with 0xFA and the command: proof that
    // it listens and that nothing stale is in the way.
    std::uint8_t echo[2] = {};
    if (!Write({0xAA}) || !Read(echo, 2) || echo[0] != mpsse::kBadCommandReply || echo[1] != 0xAA) {
        const std::string text = error_.empty() ? device_ + ": the MPSSE engine does not answer as it should" : error_;
        Close();
        return text;
    }
    if (!Write({mpsse::kDivideBy5Off, mpsse::kAdaptiveOff, mpsse::kThreePhaseOff, mpsse::kLoopbackOff, mpsse::kSetDivisor,
                static_cast<std::uint8_t>(kDivisor & 0xFF), static_cast<std::uint8_t>(kDivisor >> 8), mpsse::kSetLowBits,
                mpsse::kChipSelect, mpsse::kOutputs})) {
        const std::string text = error_;
        Close();
        return text;
    }
    error_.clear();
    return {};
}

std::string FtdiMpsseBus::Failed(const std::string& what) {
    error_ = device_ + ": " + what + " (" + (ftdi_ ? ftdi_get_error_string(ftdi_) : "not open") + ")";
    return error_;
}

bool FtdiMpsseBus::Write(const std::vector<std::uint8_t>& bytes) {
    const int n = ftdi_write_data(ftdi_, bytes.data(), static_cast<int>(bytes.size()));
    if (n == static_cast<int>(bytes.size())) return true;
    if (n >= 0) error_ = device_ + ": " + std::to_string(n) + " of " + std::to_string(bytes.size()) + " bytes sent";
    else Failed("sending failed");
    return false;
}

bool FtdiMpsseBus::Read(std::uint8_t* to, std::size_t n) {
    std::size_t got = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(answerMs_);
    while (got < n) {
        const int r = ftdi_read_data(ftdi_, to + got, static_cast<int>(n - got));
        if (r < 0) {
            Failed("receiving failed");
            return false;
        }
        got += static_cast<std::size_t>(r);
        if (got < n && std::chrono::steady_clock::now() > deadline) {
            error_ = device_ + ": " + std::to_string(got) + " of " + std::to_string(n) + " bytes came back";
            return false;
        }
    }
    return true;
}

bool FtdiMpsseBus::Transfer(std::span<const std::uint16_t> out, std::span<std::uint16_t> in, unsigned gapUs) {
    if (!open_) {
        error_ = "the FTDI adapter is not open";
        return false;
    }
    if (out.empty() || out.size() > kMaxFrames || in.size() != out.size()) {
        error_ = "an exchange carries 1 to " + std::to_string(kMaxFrames) + " frames";
        return false;
    }
    // Each frame: chip select down, 16 bits out and in, chip select up; then the pause as
    // clocks with chip select up (a microsecond each at 1 MHz), which the part ignores.
    std::vector<std::uint8_t> cmd;
    cmd.reserve(out.size() * 18 + 1);
    for (const std::uint16_t w : out) {
        cmd.insert(cmd.end(), {mpsse::kSetLowBits, 0x00, mpsse::kOutputs, mpsse::kShiftMode1, 0x01, 0x00,
                               static_cast<std::uint8_t>(w >> 8), static_cast<std::uint8_t>(w), mpsse::kSetLowBits,
                               mpsse::kChipSelect, mpsse::kOutputs});
        if (const unsigned bytes = gapUs / 8; bytes > 0)
            cmd.insert(cmd.end(), {mpsse::kClockBytes, static_cast<std::uint8_t>((bytes - 1) & 0xFF), static_cast<std::uint8_t>((bytes - 1) >> 8)});
        if (const unsigned bits = gapUs % 8; bits > 0) cmd.insert(cmd.end(), {mpsse::kClockBits, static_cast<std::uint8_t>(bits - 1)});
    }
    cmd.push_back(mpsse::kSendImmediate);
    std::vector<std::uint8_t> back(out.size() * 2);
    if (!Write(cmd) || !Read(back.data(), back.size())) return false;
    for (std::size_t i = 0; i < in.size(); ++i) in[i] = static_cast<std::uint16_t>(back[2 * i] << 8 | back[2 * i + 1]);
    error_.clear();
    return true;
}

void FtdiMpsseBus::Close() {
    if (ftdi_) {
        if (open_) {
            ftdi_set_bitmode(ftdi_, 0, BITMODE_RESET);  // the pins back to the adapter's default
            ftdi_usb_close(ftdi_);
        }
        ftdi_free(ftdi_);
    }
    ftdi_ = nullptr;
    open_ = false;
    device_.clear();
}

}  // namespace qvin
