#pragma once
// The simulated board's parallel port, at 0x378. Other addresses have no port.

#include "platform/port/port_io.h"
#include "sim/lpt_spi_slave.h"

namespace qvin::sim {

inline constexpr std::uint16_t kSimPortAddress = 0x378;

class SimPort final : public PortIo {
public:
    explicit SimPort(LptSpiSlave& slave) : slave_(slave) {}

    PortAccessError Prepare(std::uint16_t base) override;
    bool Prepared() const override { return prepared_; }
    void Out(std::uint16_t port, std::uint8_t value) override;
    std::uint8_t In(std::uint16_t port) override;

private:
    LptSpiSlave& slave_;
    bool prepared_ = false;
    std::uint8_t control_ = 0;
};

}  // namespace qvin::sim
