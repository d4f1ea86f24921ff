// Hexadecimal and number text as typed into the windows: every reading stays in range and
// every format of what was read reads back.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/hex_text.h"
#include "core/number_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::int32_t hex = qvin::HexToInt(text);
    if (hex < 0 || hex > 0xFFFF) __builtin_trap();
    if (static_cast<std::uint16_t>(qvin::HexToShort(text)) != hex) __builtin_trap();
    if (qvin::HexToInt(qvin::FormatHex(hex)) != hex) __builtin_trap();

    const qvin::NumberScan scan = qvin::ScanLeadingNumber(text);
    if (scan.length > size) __builtin_trap();
    if (scan.length == 0 && scan.value != 0.0) __builtin_trap();
    const double v = qvin::LeadingNumber(text);
    if (!(v == scan.value || (std::isnan(v) && std::isnan(scan.value)))) __builtin_trap();
    const std::int64_t rounded = qvin::RoundHalfEven(v);
    (void)qvin::FormatInt(rounded);
    if (std::isfinite(v) && std::fabs(v) < 1e15) {
        const std::string fixed = qvin::FormatFixed(v, 3);
        if (std::fabs(qvin::LeadingNumber(fixed) - v) > 0.0005 + std::fabs(v) * 1e-15) __builtin_trap();
    }
    const std::string general = qvin::FormatGeneral(static_cast<float>(v));
    if (std::isfinite(static_cast<float>(v))) {
        const double back = qvin::LeadingNumber(general);
        if (std::fabs(back - static_cast<float>(v)) > std::fabs(static_cast<float>(v)) * 1e-6 + 1e-38) __builtin_trap();
    }
    return 0;
}
