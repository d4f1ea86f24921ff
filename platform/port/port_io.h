#pragma once
// Byte-wide access to a parallel port's registers. Knows nothing of SPI: the transport
// above it decides what the bits mean.

#include <cstdint>
#include <string>

namespace qvin {

// Why the program could not get access to a port.
struct PortAccessError {
    enum class Kind { None, NoSuchPort, NoPermission, Busy, Other };
    Kind kind = Kind::None;
    std::string device;  // for example "/dev/parport0"
    std::string reason;  // one line a user can act on

    explicit operator bool() const { return kind != Kind::None; }
};

class PortIo {
public:
    virtual ~PortIo() = default;

    // Gains access to the port whose data register is at `base` (status at base + 1,
    // control at base + 2). Until this succeeds, writes do nothing and reads return 0xFF,
    // as an unconnected port would.
    virtual PortAccessError Prepare(std::uint16_t base) = 0;
    virtual bool Prepared() const = 0;

    virtual void Out(std::uint16_t port, std::uint8_t value) = 0;
    virtual std::uint8_t In(std::uint16_t port) = 0;
};

}  // namespace qvin
