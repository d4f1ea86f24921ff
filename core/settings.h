#pragma once
// The three settings kept between runs in "Qvin27319.cfg" in the current directory.

#include <cstdint>
#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace qvin {

inline constexpr const char* kSettingsFileName = "Qvin27319.cfg";

// The interface the program speaks to the part through; its number is what the settings
// file keeps. A file may hold any other number: it stands for no interface the program has.
enum class Interface : std::int16_t {
    None = 0,
    ParallelPort = 1,
    UsbAdapter = 2,
    // A Linux SPI controller's device (spidev): chosen on the command line or in Python,
    // never kept in the settings file.
    Spidev = 3,
};

struct Settings {
    Interface InterfaceType = Interface::None;
    std::int16_t PortAddress = 0;    // parallel port base address, 0 when none
    std::int16_t FactoryMode = 0;    // factory level 0 to 3
};

// A settings file holds three short lines; more than this is not read.
inline constexpr std::size_t kMaxSettingsBytes = 64 * 1024;

// Loads the values of the lines it recognises; a missing or unreadable file, or anything
// but a regular file, changes nothing, and a malformed line (no "=", "=" first, a value
// that is not a 16-bit number) is skipped.
void ReadConfig(Settings& s, const std::filesystem::path& file = kSettingsFileName);
// The same for the text of a settings file.
void ParseSettings(Settings& s, std::string_view text);

// Writes all three lines, replacing the file: through a temporary file of its own beside
// it, flushed to disk and renamed over it, so a reader sees the old settings or the new
// ones and a failed save leaves the old intact. A link to the file stays a link and the
// file keeps its permissions; in a folder the user cannot write, a file the user may write
// is rewritten in place. Returns where and why the settings could not be saved
// ("PATH: reason"), or nothing.
[[nodiscard]] std::string SaveConfig(const Settings& s, const std::filesystem::path& file = kSettingsFileName);

}  // namespace qvin
