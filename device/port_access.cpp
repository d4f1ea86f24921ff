#include "device/port_access.h"

#include <string>

namespace qvin {

bool InstallGiveIO(Program& p) {
    const PortAccessError e = p.port.Prepare(static_cast<std::uint16_t>(p.settings.PortAddress));
    if (!e) return true;
    p.messages.Message("The required I/O drivers could not be installed.\r\n" + e.reason, "Error");
    return false;
}

}  // namespace qvin
