// The settings file's text: any bytes parse without fault, and a value taken is one a
// settings file can hold.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/settings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    qvin::Settings s{qvin::Interface{7}, 7, 7};
    qvin::ParseSettings(s, std::string_view(reinterpret_cast<const char*>(data), size));
    // Whatever was read fits its 16 bits by type; a parse that wrote garbage would show
    // in the sanitizers. Round-trip what was read through the writer's format too.
    qvin::Settings again{qvin::Interface::None, 0, 0};
    const auto line = [](const char* key, std::int16_t v) { return std::string(key) + (v >= 0 ? " " : "") + std::to_string(v) + " \r\n"; };
    qvin::ParseSettings(again, line("Interface = ", static_cast<std::int16_t>(s.InterfaceType)) + line("Port Address = ", s.PortAddress) +
                                   line("Factory = ", s.FactoryMode));
    if (again.InterfaceType != s.InterfaceType || again.PortAddress != s.PortAddress || again.FactoryMode != s.FactoryMode)
        __builtin_trap();
    return 0;
}
