#pragma once
// Every interface the program reaches the part through, one row each: how it is opened, how
// it carries the register protocol's 16-bit frames, and how it is named. The register layer
// and the session ask the row for the interface in the settings and never name an
// interface themselves; adding an interface is adding a row and its transport.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "device/program.h"

namespace qvin {

struct TransportOpened {
    std::string error;    // why it cannot be used, or nothing
    std::string covered;  // a message said while opening that `error` repeats (not to be said twice)
};

struct Transport {
    Interface id;  // the number the settings file keeps
    // "the parallel port at 378", "a USB adapter": what the settings choose.
    std::string (*where)(const Settings&);
    // The device opened now ("Ezusb-0"), or nothing.
    std::string (*opened)(const Program&);
    // Makes the interface ready for requests; `unit` picks one of several alike (Ezusb-N).
    TransportOpened (*open)(Program&, std::optional<int> unit);
    // Whether a request can go through now: one that failed leaves the interface unusable
    // until it is opened again, and what it returned is no answer.
    bool (*ready)(const Program&);
    // Why it is not ready: "the USB adapter stopped answering (Ezusb-0: unplugged)".
    std::string (*lost)(const Program&);
    // Two write frames, in this order.
    void (*writeFrames)(Program&, std::int32_t first, std::int32_t second);
    // A read request, then the frame that clocks its answer out: the answer.
    std::int32_t (*readWord)(Program&, std::int32_t request);
    // The requests in N + 1 frames, each carrying the next request while it clocks out the
    // answer to the one before; the answers appended to `answers` and when the part had
    // taken the first. False when a transfer failed: no answer of it is kept.
    bool (*readBurst)(Program&, std::span<const std::int32_t> requests, std::vector<std::int32_t>& answers, std::int64_t& firstTakenNs);
};

// Every row, in the order the settings number them.
std::span<const Transport> Transports();
// The row for `id`; nothing when no interface is chosen or the settings name one the
// program does not have.
const Transport* FindTransport(Interface id);

}  // namespace qvin
