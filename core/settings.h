#pragma once
// The three settings kept between runs in "Qvin27319.cfg" in the current directory.

#include <cstdint>
#include <filesystem>

namespace qvin {

inline constexpr const char* kSettingsFileName = "Qvin27319.cfg";

struct Settings {
    std::int16_t InterfaceType = 0;  // 0 none, 1 parallel port, 2 USB SPI adapter
    std::int16_t PortAddress = 0;    // parallel port base address, 0 when none
    std::int16_t FactoryMode = 0;    // factory level 0 to 3
};

// Loads the values of the lines it recognises; a missing file changes nothing, and a
// malformed line (no "=", "=" first, a value that is not a 16-bit number) is skipped.
void ReadConfig(Settings& s, const std::filesystem::path& file = kSettingsFileName);

// Writes all three lines, replacing the file. The new text is written beside the file and
// then renamed over it, so a failed write leaves the previous settings intact. Failures
// are silent, as the settings are a convenience.
void SaveConfig(const Settings& s, const std::filesystem::path& file = kSettingsFileName);

}  // namespace qvin
