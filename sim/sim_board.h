#pragma once
// The whole simulated evaluation board: one chip behind a parallel port at 0x378 and
// behind a USB adapter at Ezusb-0, with the fault layer between them and the program
// (it passes everything through until rules are added to `faults`).

#include <cstdlib>
#include <optional>
#include <string>

#include "core/number_text.h"
#include "sim/sim_spi_bus.h"
#include "sim/faults.h"
#include "sim/lpt_spi_slave.h"
#include "sim/qvin_chip.h"
#include "sim/sim_port.h"
#include "sim/sim_usb.h"

namespace qvin::sim {

// QVIN_SIM_ANGLE=DEG holds the simulated inclination at DEG instead of turning it: a
// decimal number of degrees, -360 to 360 (an exponent is allowed, no hexadecimal, no nan or
// inf). Why a value is refused, or nothing.
inline std::optional<std::string> AngleProblem(const char* text) {
    const std::string t = text;
    const bool plain = !t.empty() && t.size() <= 32 && t.find_first_not_of("0123456789+-.eE") == std::string::npos;
    const NumberScan scan = ScanLeadingNumber(t);
    if (!plain || scan.length != t.size() || t[0] == ' ' || !(scan.value >= -360.0 && scan.value <= 360.0))
        return "QVIN_SIM_ANGLE \"" + t.substr(0, 32) + "\" is no angle (degrees, -360 to 360)";
    return std::nullopt;
}
// The board made from the environment (the programs' --sim) shows the default noise of a
// real part, or what QVIN_SIM_NOISE sets (off for none).
inline ChipOptions ChipOptionsFromEnvironment() {
    ChipOptions o;
    if (const char* a = std::getenv("QVIN_SIM_ANGLE"); a && *a && !AngleProblem(a)) o.fixedAngleDeg = LeadingNumber(a);
    o.noise = DefaultNoise();
    if (const char* n = std::getenv("QVIN_SIM_NOISE"); n && *n) ParseNoise(n, o.noise);
    return o;
}

struct SimBoard {
    SimBoard(Clock& clock, Trace* trace, ChipOptions options = ChipOptionsFromEnvironment())
        : chip(clock, trace, options), frames(chip, faults), lpt(frames), port(lpt), usb(&frames, &clock),
          usbLink(usb, faults, clock), spi(frames, faults, &clock) {}

    QvinChip chip;
    FaultPlan faults;
    FaultyFrames frames;  // the chip as both masters see it, through the frame faults
    LptSpiSlave lpt;
    SimPort port;
    SimUsbDriver usb;         // the adapters themselves
    FaultyUsbDriver usbLink;  // the adapters as the program reaches them
    SimSpiBus spi;            // the part on a Linux SPI controller
};

}  // namespace qvin::sim
