#pragma once
// Parallel port through the Linux ppdev driver (/dev/parportN). The port is claimed
// for this process while the object lives, which also keeps the printer driver off it.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/port/port_io.h"

namespace qvin {

// The failure of an open or claim, in words a user can act on.
PortAccessError PpdevErrorFor(int err, const std::string& device, const char* what);

// The base address of the port behind a device node ("/dev/parport1"): as the kernel lists
// it in `procDir`, or, when it lists no ports, by the conventional numbering. Nothing, with
// `why`, for a name that is no parallel port device or a port the kernel does not list.
std::optional<std::uint16_t> PpdevAddressOf(const std::string& device, std::string& why,
                                            const std::filesystem::path& procDir = "/proc/sys/dev/parport");

class PpdevPort final : public PortIo {
public:
    // `procDir` lists the kernel's ports with their base addresses (parportN/base-addr);
    // `devDir` holds the device nodes.
    explicit PpdevPort(std::filesystem::path procDir = "/proc/sys/dev/parport",
                       std::filesystem::path devDir = "/dev");
    ~PpdevPort() override;
    PpdevPort(const PpdevPort&) = delete;
    PpdevPort& operator=(const PpdevPort&) = delete;

    // A port another program holds is reported busy after this long, not waited on for ever.
    static constexpr std::chrono::milliseconds kClaimWait{1000};

    PortAccessError Prepare(std::uint16_t base) override;
    bool Prepared() const override { return fd_ >= 0; }
    void Out(std::uint16_t port, std::uint8_t value) override;
    std::uint8_t In(std::uint16_t port) override;

    // The device node for a base address: the port whose base-addr matches, or, when the
    // kernel lists no ports, the conventional numbering (0x378 parport0, 0x278 parport1,
    // 0x3BC parport2). Empty when the address is not a known port.
    std::filesystem::path DeviceFor(std::uint16_t base) const;

    // The last ioctl failure after Prepare, for diagnostics; empty when all went well.
    const std::string& lastError() const { return lastError_; }

private:
    void Release();
    bool Ioctl(unsigned long request, void* arg);

    std::filesystem::path procDir_;
    std::filesystem::path devDir_;
    int fd_ = -1;
    std::uint16_t base_ = 0;
    std::string lastError_;
};

}  // namespace qvin
