#include "device/port_access.h"

#include <string>

#include "platform/port/port_error_text.h"

namespace qvin {

bool InstallGiveIO(Program& p) {
    const auto base = static_cast<std::uint16_t>(p.settings.PortAddress);
    const PortAccessError e = p.port.Prepare(base);
    if (p.trace.on()) p.trace.Line(PortPrepareLine(base, e));
    if (!e) return true;
    p.messages.Message("The required I/O drivers could not be installed.\r\n" + e.reason, "Error");
    return false;
}

}  // namespace qvin
