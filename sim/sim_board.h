#pragma once
// The whole simulated evaluation board: one chip behind a parallel port at 0x378 and
// behind a USB adapter at Ezusb-0.

#include <cstdlib>

#include "core/number_text.h"
#include "sim/lpt_spi_slave.h"
#include "sim/qvin_chip.h"
#include "sim/sim_port.h"
#include "sim/sim_usb.h"

namespace qvin::sim {

// QVIN_SIM_ANGLE=DEG holds the simulated inclination at DEG instead of turning it.
inline ChipOptions ChipOptionsFromEnvironment() {
    ChipOptions o;
    if (const char* a = std::getenv("QVIN_SIM_ANGLE"); a && *a) o.fixedAngleDeg = LeadingNumber(a);
    return o;
}

struct SimBoard {
    SimBoard(const Clock& clock, Trace* trace, ChipOptions options = ChipOptionsFromEnvironment())
        : chip(clock, trace, options), lpt(chip), port(lpt), usb(&chip) {}

    QvinChip chip;
    LptSpiSlave lpt;
    SimPort port;
    SimUsbDriver usb;
};

}  // namespace qvin::sim
