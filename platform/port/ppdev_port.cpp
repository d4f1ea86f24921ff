#include "platform/port/ppdev_port.h"

#include <fcntl.h>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <system_error>
#include <vector>

namespace qvin {

PortAccessError PpdevErrorFor(int err, const std::string& device, const char* what) {
    PortAccessError e;
    e.device = device;
    switch (err) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
            e.kind = PortAccessError::Kind::NoSuchPort;
            e.reason = "no such port device " + device + " (is the ppdev module loaded?)";
            break;
        case EACCES:
        case EPERM:
            e.kind = PortAccessError::Kind::NoPermission;
            e.reason = "no permission to use " + device + " (add your user to the 'lp' group)";
            break;
        case EBUSY:
            e.kind = PortAccessError::Kind::Busy;
            e.reason = device + " is in use by another program";
            break;
        default:
            e.kind = PortAccessError::Kind::Other;
            e.reason = std::string(what) + " " + device + ": " + std::strerror(err);
    }
    return e;
}

std::optional<std::uint16_t> PpdevAddressOf(const std::string& device, std::string& why, const std::filesystem::path& procDir) {
    const std::string name = std::filesystem::path(device).filename().string();
    const bool digits = name.size() > 7 && name.size() <= 9 && std::all_of(name.begin() + 7, name.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (name.rfind("parport", 0) != 0 || !digits) {
        why = "'" + device + "' is no parallel port device (/dev/parportN)";
        return std::nullopt;
    }
    std::error_code ec;
    bool anyListed = false;
    for (const auto& entry : std::filesystem::directory_iterator(procDir, ec)) {
        if (entry.path().filename().string().rfind("parport", 0) != 0) continue;
        anyListed = true;
        if (entry.path().filename() != name) continue;
        std::ifstream in(entry.path() / "base-addr");
        unsigned long addr = 0;
        if (in >> addr && addr > 0 && addr <= 0xFFFF) return static_cast<std::uint16_t>(addr);
    }
    if (!anyListed) {
        if (name == "parport0") return 0x378;
        if (name == "parport1") return 0x278;
        if (name == "parport2") return 0x3BC;
    }
    why = "the kernel lists no port " + name + (anyListed ? "" : " (is the parport_pc module loaded?)");
    return std::nullopt;
}

namespace {

// The kernel's claim waits for as long as another program holds the port. It is made on a
// thread of its own and waited for kClaimWait: one not had by then is a busy port, and the
// thread, left to itself, gives the port back and closes it if the claim comes later.
int Claim(int fd) {
    struct State {
        std::mutex m;
        std::condition_variable cv;
        bool done = false, abandoned = false;
        int err = 0;
    };
    auto state = std::make_shared<State>();
    try {
        std::thread([state, fd] {
            const int r = ::ioctl(fd, PPCLAIM);
            const int err = r == 0 ? 0 : errno;
            std::lock_guard lock(state->m);
            if (state->abandoned) {
                if (r == 0) ::ioctl(fd, PPRELEASE);
                ::close(fd);
                return;
            }
            state->done = true;
            state->err = err;
            state->cv.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        // No thread to be had: the claim is made here, as the kernel makes it.
        const int err = ::ioctl(fd, PPCLAIM) == 0 ? 0 : errno;
        if (err != 0) ::close(fd);
        return err;
    }
    std::unique_lock lock(state->m);
    if (!state->cv.wait_for(lock, PpdevPort::kClaimWait, [&] { return state->done; })) {
        state->abandoned = true;
        return EBUSY;
    }
    if (state->err != 0) ::close(fd);
    return state->err;
}

}  // namespace

PpdevPort::PpdevPort(std::filesystem::path procDir, std::filesystem::path devDir)
    : procDir_(std::move(procDir)), devDir_(std::move(devDir)) {}

PpdevPort::~PpdevPort() { Release(); }

std::filesystem::path PpdevPort::DeviceFor(std::uint16_t base) const {
    std::error_code ec;
    bool anyListed = false;
    for (const auto& entry : std::filesystem::directory_iterator(procDir_, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("parport", 0) != 0) continue;
        std::ifstream in(entry.path() / "base-addr");
        unsigned long addr = 0;
        if (!(in >> addr)) continue;
        anyListed = true;
        if (addr == base) return devDir_ / name;
    }
    if (anyListed) return {};
    switch (base) {
        case 0x378: return devDir_ / "parport0";
        case 0x278: return devDir_ / "parport1";
        case 0x3BC: return devDir_ / "parport2";
        default: return {};
    }
}

PortAccessError PpdevPort::Prepare(std::uint16_t base) {
    Release();
    const std::filesystem::path dev = DeviceFor(base);
    if (dev.empty()) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "%X", base);
        PortAccessError e;
        e.kind = PortAccessError::Kind::NoSuchPort;
        e.reason = std::string("no parallel port at address ") + hex;
        // The ports the kernel knows, so that a card's port (D010) can be chosen instead.
        std::string known;
        std::error_code ec;
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(procDir_, ec))
            if (entry.path().filename().string().rfind("parport", 0) == 0) names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) {
            std::ifstream in(procDir_ / name / "base-addr");
            unsigned long addr = 0;
            if (!(in >> addr)) continue;
            std::snprintf(hex, sizeof hex, "%lX", addr & 0xFFFF);
            known += (known.empty() ? "" : ", ") + name + " at " + hex;
        }
        e.reason += known.empty() ? " (the kernel lists no parallel port: is the parport_pc module loaded?)" : " (the ports here: " + known + ")";
        return e;
    }
    const int fd = ::open(dev.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return PpdevErrorFor(errno, dev.string(), "cannot open");
    if (const int err = Claim(fd); err != 0) return PpdevErrorFor(err, dev.string(), "cannot claim");
    fd_ = fd;
    base_ = base;
    lastError_.clear();
    return {};
}

void PpdevPort::Release() {
    if (fd_ < 0) return;
    ::ioctl(fd_, PPRELEASE);
    ::close(fd_);
    fd_ = -1;
}

bool PpdevPort::Ioctl(unsigned long request, void* arg) {
    if (::ioctl(fd_, request, arg) == 0) return true;
    lastError_ = std::strerror(errno);
    return false;
}

void PpdevPort::Out(std::uint16_t port, std::uint8_t value) {
    if (fd_ < 0) return;
    unsigned char v = value;
    if (port == base_) {
        Ioctl(PPWDATA, &v);
    } else if (port == base_ + 2) {
        Ioctl(PPWCONTROL, &v);
    }
    // The status register (base + 1) has no writable lines on a standard port and ppdev
    // offers no way to write it, so such a write is dropped.
}

std::uint8_t PpdevPort::In(std::uint16_t port) {
    if (fd_ < 0) return 0xFF;
    unsigned char v = 0xFF;
    if (port == base_) {
        if (!Ioctl(PPRDATA, &v)) v = 0xFF;
    } else if (port == base_ + 1) {
        if (!Ioctl(PPRSTATUS, &v)) v = 0xFF;
    } else if (port == base_ + 2) {
        if (!Ioctl(PPRCONTROL, &v)) v = 0xFF;
    }
    return v;
}

}  // namespace qvin
