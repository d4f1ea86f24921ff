#pragma once
// A parallel port with nothing behind it, for programs that only use USB.

#include "platform/port/port_io.h"

namespace qvin::test {

class IdlePort final : public PortIo {
public:
    PortAccessError Prepare(std::uint16_t) override { return {}; }
    bool Prepared() const override { return false; }
    void Out(std::uint16_t, std::uint8_t) override {}
    std::uint8_t In(std::uint16_t) override { return 0xFF; }
};

}  // namespace qvin::test
