#include "device/usb_spi.h"

namespace qvin {

void UsbSpiTransfer(Program& p, int n) {
    if (!p.UsbReady()) return;
    // No adapter driver is wired in yet, so no adapter can be selected and this point is
    // not reached; the transfer itself arrives with the adapter driver.
    (void)n;
}

}  // namespace qvin
