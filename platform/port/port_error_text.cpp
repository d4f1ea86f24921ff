#include "platform/port/port_error_text.h"

#include <cstdio>

#include "core/trace.h"

namespace qvin {

namespace {

const char* const kKindNames[] = {"ok", "no-such-port", "no-permission", "busy", "other"};

// The device is one word of the line ("-" when none).
std::string EncodeDevice(const std::string& device) { return device.empty() ? "-" : TraceWord(device); }

std::string DecodeDevice(std::string_view word) { return word == "-" ? std::string() : FromTraceWord(word); }

}  // namespace

std::string PortPrepareLine(std::uint16_t base, const PortAccessError& e) {
    char addr[8];
    std::snprintf(addr, sizeof addr, "%03X", base);
    std::string line = std::string("port-prepare ") + addr + " " + kKindNames[static_cast<int>(e.kind)];
    if (!e) return line;
    line.append(1, ' ').append(EncodeDevice(e.device));
    if (!e.reason.empty()) line += " " + e.reason;
    // One event per line, whatever the reason says.
    for (char& c : line)
        if (c == '\n' || c == '\r') c = ' ';
    return line;
}

std::optional<PortAccessError> ParsePortPrepare(std::string_view rest) {
    // rest: KIND [DEVICE [REASON...]]
    const std::size_t kindEnd = rest.find(' ');
    const std::string_view kind = rest.substr(0, kindEnd);
    PortAccessError e;
    int k = 0;
    while (k < 5 && kind != kKindNames[k]) ++k;
    if (k == 5) return std::nullopt;
    e.kind = static_cast<PortAccessError::Kind>(k);
    if (k == 0) return kindEnd == std::string_view::npos ? std::optional(e) : std::nullopt;
    if (kindEnd == std::string_view::npos) return e;
    rest.remove_prefix(kindEnd + 1);
    const std::size_t deviceEnd = rest.find(' ');
    e.device = DecodeDevice(rest.substr(0, deviceEnd));
    if (deviceEnd != std::string_view::npos) e.reason = std::string(rest.substr(deviceEnd + 1));
    return e;
}

}  // namespace qvin
