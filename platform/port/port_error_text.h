#pragma once
// A port request's outcome as one trace line, and back: what a recording keeps of it.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/port/port_io.h"

namespace qvin {

// "port-prepare 378 ok", or the error's kind, device ("-" when none) and reason.
std::string PortPrepareLine(std::uint16_t base, const PortAccessError& e);
// The error from what follows the address: "ok", or "KIND [DEVICE [REASON...]]";
// nullopt when that is not what it holds.
std::optional<PortAccessError> ParsePortPrepare(std::string_view kindDeviceReason);

}  // namespace qvin
