#include "device/usb_adapter.h"

#include <algorithm>
#include <array>
#include <vector>

#include "device/adapter_commands.h"

namespace qvin {

namespace {

// The driver returns the descriptor's 8-bit characters (low bytes of the UTF-16 code
// units); they are Latin-1, so they become UTF-8 here, and control characters a '?'.
void AppendLatin1(std::string& text, std::uint8_t c) {
    if (c < 0x20 || c == 0x7F) {
        text += '?';
    } else if (c < 0x80) {
        text += static_cast<char>(c);
    } else {
        text += static_cast<char>(0xC0 | (c >> 6));
        text += static_cast<char>(0x80 | (c & 0x3F));
    }
}

}  // namespace

std::unique_ptr<UsbDevice> OpenUsbDriver(Program& p, const std::string& name) {
    std::unique_ptr<UsbDevice> h = p.usbDriver.Open(name);
    if (p.trace.on()) {
        const std::string why = h ? std::string() : p.usbDriver.OpenFailure();
        p.trace.Line("usb-open " + name + (h ? " ok" : " none") + (why.empty() ? "" : " " + why));
    }
    return h;
}

int UsbBulkTransfer(Program& p, UsbDevice* h, int pipe, std::span<std::uint8_t> buffer, std::int32_t& count) {
    if (!h) {
        count = 0;
        return -2;
    }
    if (pipe < 0 || pipe > kMaxPipe || count < 0 || static_cast<std::size_t>(count) > buffer.size()) {
        count = 0;
        return 0;
    }
    const bool input = h->PipeIsInput(pipe);
    const std::int32_t asked = count;
    if (!input) p.trace.Usb(true, pipe, buffer.first(static_cast<std::size_t>(asked)));
    const std::int64_t start = p.trace.on() ? p.clock.NowNs() : 0;
    const bool ok = h->BulkTransfer(pipe, buffer, count);
    if (count < 0 || count > asked) count = ok ? asked : 0;
    if (input && ok) p.trace.Usb(false, pipe, buffer.first(static_cast<std::size_t>(count)));
    if (!ok && p.trace.on()) p.trace.Line(std::string(input ? "usb-in " : "usb-out ") + std::to_string(pipe) + " failed");
    // How long the adapter took, so that a replay keeps the session's pace.
    if (p.trace.on())
        if (const std::int64_t took = p.clock.NowNs() - start; took > 0) p.trace.Line("took " + std::to_string(took));
    return ok ? 1 : 0;
}

int GetPipeInfo(Program& p, UsbDevice* h, std::span<std::uint8_t> buffer) {
    if (!h || buffer.size() < kPipeInfoBuffer) return 0;
    const bool ok = h->GetPipeInfo(buffer);
    if (p.trace.on()) {
        if (!ok) {
            p.trace.Line("usb-pipes failed");
        } else {
            // Mostly zeros: only the pipes that exist have entries.
            std::size_t used = buffer.size();
            while (used > 0 && buffer[used - 1] == 0) --used;
            p.trace.Bytes("usb-pipes", buffer.first(used));
        }
    }
    return ok ? 1 : 0;
}

int GetPipeMaxPacket(Program& p, UsbDevice* h, int pipe) {
    if (!h || pipe < 0 || pipe > kMaxPipe) return 0;
    std::array<std::uint8_t, kPipeInfoBuffer> info{};
    if (GetPipeInfo(p, h, info) != 1) return 0;
    const std::size_t at = PipeInfoOffset(pipe);
    return info[at] | info[at + 1] << 8;
}

namespace {

bool StringDescriptor(Program& p, UsbDevice* h, std::uint8_t index, std::span<std::uint8_t> buffer, std::size_t& received) {
    received = 0;
    const bool ok = h->GetStringDescriptor(index, buffer, received);
    if (p.trace.on()) {
        const std::string head = "usb-string " + std::to_string(index) + " " + std::to_string(buffer.size());
        if (ok) p.trace.Bytes(head, buffer.first(std::min(received, buffer.size())));
        else p.trace.Line(head + " failed");
    }
    return ok;
}

}  // namespace

std::string GetStringDescriptor(Program& p, UsbDevice* h, int index) {
    const std::string none = "None";
    if (!h || index < 0 || index > 255) return none;
    const auto i = static_cast<std::uint8_t>(index);
    std::array<std::uint8_t, 4> head{};
    std::size_t received = 0;
    if (!StringDescriptor(p, h, i, head, received) || received < 1) return none;
    const std::size_t length = head[0];
    // A descriptor shorter than its own header is not a text.
    if (length < 2) return none;
    std::vector<std::uint8_t> whole(length);
    if (!StringDescriptor(p, h, i, whole, received)) return none;
    // Only what really came back is read, however long the descriptor claims to be.
    const std::size_t end = std::min({length, received, whole.size()});
    std::string text;
    for (std::size_t b = 2; b < end; b += 2) AppendLatin1(text, whole[b]);
    return text;
}

void GetBoardInfo(Program& p, UsbDevice* h, UsbBoardInfo& entry) {
    if (!entry.Present || !h) return;
    auto fail = [&] {
        p.messages.Message("Error getting Board Info");
        entry.Present = false;
    };
    entry.Descriptor1 = GetStringDescriptor(p, h, 1);
    if (entry.Descriptor1 == "None") return fail();
    entry.Descriptor2 = GetStringDescriptor(p, h, 2);
    if (entry.Descriptor2 == "None") return fail();

    std::array<std::uint8_t, 2> buffer{adapter::kFirmwareVersion, 0};
    std::int32_t count = 1;
    if (UsbBulkTransfer(p, h, 0, buffer, count) != 1) return fail();
    count = 2;
    // A reply shorter than the two version bytes is a failure, not a half-read version.
    if (UsbBulkTransfer(p, h, 1, buffer, count) != 1 || count < 2) return fail();
    entry.FirmwareRev = static_cast<float>(buffer[0]) + static_cast<float>(buffer[1]) / 10.0f;

    const int packet = GetPipeMaxPacket(p, h, 3);
    if (packet == 0) return fail();
    entry.UsbSpeed = packet <= 64 ? "1.1" : "2";
}

void ScanUsbBoards(Program& p) {
    p.usb.UsbBoardCount = 0;
    p.usb.OpenFailures.clear();
    for (UsbBoardInfo& b : p.usb.UsbBoards) {
        b.DeviceName.clear();
        b.Present = false;
    }
    std::array<std::uint8_t, kDeviceDescriptorBuffer> descriptor{};
    for (int n = 0; n <= 3; ++n) {
        const std::string name = "Ezusb-" + std::to_string(n);
        std::unique_ptr<UsbDevice> h = OpenUsbDriver(p, name);
        if (!h) {
            // Said once: a USB that cannot be used at all fails each name alike.
            if (std::string why = p.usbDriver.OpenFailure();
                !why.empty() && std::find(p.usb.OpenFailures.begin(), p.usb.OpenFailures.end(), why) == p.usb.OpenFailures.end())
                p.usb.OpenFailures.push_back(std::move(why));
            continue;
        }
        // Cleared for every device: a failed request must not leave the previous device's
        // identifiers in the buffer to be mistaken for this one's.
        descriptor.fill(0);
        const bool described = h->GetDeviceDescriptor(descriptor);
        if (p.trace.on()) {
            // The standard descriptor is 18 bytes; the rest of the driver's buffer is unused.
            if (described) p.trace.Bytes("usb-device", std::span(descriptor).first(18));
            else p.trace.Line("usb-device failed");
        }
        const int vendor = descriptor[8] | descriptor[9] << 8;
        const int product = descriptor[10] | descriptor[11] << 8;
        std::string kind;
        if (vendor == kAdapterVendorId) {
            if (product == kKappaProductId) kind = "KAPPA";
            else if (product == kRhoProductId) kind = "RHO";
        }
        if (kind.empty()) continue;
        ++p.usb.UsbBoardCount;
        UsbBoardInfo& entry = p.usb.UsbBoards[static_cast<std::size_t>(n)];
        entry.Present = true;
        entry.DeviceName = name;
        entry.BoardType = kind;
        GetBoardInfo(p, h.get(), entry);
    }
}

std::string UsbFailuresText(const std::vector<std::string>& failures) {
    std::string text;
    for (const std::string& f : failures) text += (text.empty() ? "" : "\r\n") + f;
    return text;
}

void FindUsbBoards(Program& p) {
    p.SetUsbReady(false);
    p.usb.UsbBoardNum = -1;
    ScanUsbBoards(p);
    if (p.usb.UsbBoardCount == 0) {
        p.messages.Message("No USB Buffers Found, Please Verify Setup and Restart");
        // What was found but could not be used, with its fix, after the program's own words.
        if (!p.usb.OpenFailures.empty()) p.messages.Message(UsbFailuresText(p.usb.OpenFailures));
        return;
    }
    for (int n = 0; n <= 3; ++n) {
        if (p.usb.UsbBoards[static_cast<std::size_t>(n)].Present) {
            p.usb.CurrentBoard = p.usb.UsbBoards[static_cast<std::size_t>(n)];
            p.usb.UsbBoardNum = static_cast<std::int16_t>(n);
            return;
        }
    }
    p.messages.Message("No Valid USB Buffers Found, Please Verify Setup and Restart");
}

// Why the last search left no adapter to use: each one that could not be had with its
// cause, or none there at all, or some there that did not answer.
std::string NoUsableAdapter(const Program& p) {
    if (p.usb.OpenFailures.empty())
        return p.usb.UsbBoardCount == 0 ? "no USB adapter found (looked at Ezusb-0 to Ezusb-3)"
                                        : "no usable USB adapter: " + std::to_string(p.usb.UsbBoardCount) +
                                              " found, none answered (is it plugged in firmly, and is its udev rule installed?)";
    std::string text = "no usable USB adapter";
    for (std::size_t i = 0; i < p.usb.OpenFailures.size(); ++i) text += (i == 0 ? ": " : "; ") + p.usb.OpenFailures[i];
    return text;
}

}  // namespace qvin
