#include "sim/sim_port.h"

#include <cstdio>
#include <string>

namespace qvin::sim {

PortAccessError SimPort::Prepare(std::uint16_t base) {
    if (base != kSimPortAddress) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "%X", base);
        prepared_ = false;
        return {PortAccessError::Kind::NoSuchPort, "simulated port",
                std::string("no parallel port at address ") + hex + " (the simulated board is at 378)"};
    }
    prepared_ = true;
    return {};
}

void SimPort::Out(std::uint16_t port, std::uint8_t value) {
    if (!prepared_) return;
    if (port == kSimPortAddress) slave_.WriteData(value);
    else if (port == kSimPortAddress + 2) control_ = value;
}

std::uint8_t SimPort::In(std::uint16_t port) {
    if (!prepared_) return 0xFF;
    if (port == kSimPortAddress) return slave_.Data();
    if (port == kSimPortAddress + 1) return slave_.ReadStatus();
    if (port == kSimPortAddress + 2) return control_;
    return 0xFF;
}

}  // namespace qvin::sim
