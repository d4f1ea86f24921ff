#include "core/settings.h"

#include "core/file_safety.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "core/number_text.h"

namespace qvin {

namespace {

// Splits the file into fields the way the settings have always been read: a field ends
// at a comma or a line end, leading blanks are skipped, and a quoted field loses its quotes.
std::vector<std::string> ReadFields(std::string_view text) {
    std::vector<std::string> fields;
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n) {
        while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
        if (i >= n) break;
        if (text[i] == '\r' || text[i] == '\n') {  // an empty line holds no field
            ++i;
            continue;
        }
        std::string field;
        if (text[i] == '"') {
            ++i;
            while (i < n && text[i] != '"' && text[i] != '\r' && text[i] != '\n') field += text[i++];
            if (i < n && text[i] == '"') ++i;
            while (i < n && text[i] != ',' && text[i] != '\r' && text[i] != '\n') ++i;
        } else {
            while (i < n && text[i] != ',' && text[i] != '\r' && text[i] != '\n') field += text[i++];
        }
        if (i < n && text[i] == ',') ++i;
        fields.push_back(std::move(field));
    }
    return fields;
}

// A whole decimal number between blanks that fits 16 bits; anything else is malformed
// (including a number too large for a double, which would otherwise read as infinity).
std::optional<std::int16_t> ParseValue(std::string_view text) {
    const NumberScan scan = ScanLeadingNumber(text);
    if (scan.length == 0 || !std::isfinite(scan.value)) return std::nullopt;
    for (std::size_t i = scan.length; i < text.size(); ++i)
        if (text[i] != ' ' && text[i] != '\t') return std::nullopt;
    const std::int64_t v = RoundHalfEven(scan.value);
    if (v < INT16_MIN || v > INT16_MAX) return std::nullopt;
    return static_cast<std::int16_t>(v);
}

std::string Line(const char* label, std::int16_t v) {
    std::string s = label;
    if (v >= 0) s += ' ';
    s += std::to_string(v);
    s += " \r\n";
    return s;
}

std::string Why(const std::filesystem::path& where, int error) {
    return where.string() + ": " + std::strerror(error);
}

// The file's first kMaxSettingsBytes, or nothing when it is no regular file or cannot be
// read. A folder, a FIFO or a device in its place must neither stop nor stall the start.
std::optional<std::string> ReadSettingsText(const std::filesystem::path& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    std::optional<std::string> text;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        std::string buffer(kMaxSettingsBytes, '\0');
        std::size_t got = 0;
        while (got < buffer.size()) {
            const ssize_t n = ::read(fd, buffer.data() + got, buffer.size() - got);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            got += static_cast<std::size_t>(n);
        }
        buffer.resize(got);
        text = std::move(buffer);
    }
    ::close(fd);
    return text;
}

}  // namespace

void ReadConfig(Settings& s, const std::filesystem::path& file) {
    if (const std::optional<std::string> text = ReadSettingsText(file)) ParseSettings(s, *text);
}

void ParseSettings(Settings& s, std::string_view text) {
    for (const std::string& field : ReadFields(text)) {
        const std::size_t eq = field.find('=');
        // The key stops one character before "=" (the blank written there) and the value
        // starts one character after it; a field without a key is malformed.
        if (eq == std::string::npos || eq == 0) continue;
        const std::string key = field.substr(0, eq - 1);
        const std::string value = eq + 2 <= field.size() ? field.substr(eq + 2) : std::string();
        std::int16_t interface = static_cast<std::int16_t>(s.InterfaceType);
        std::int16_t* target = nullptr;
        if (key == "Interface") target = &interface;
        else if (key == "Port Address") target = &s.PortAddress;
        else if (key == "Factory") target = &s.FactoryMode;
        if (!target) continue;
        if (const auto v = ParseValue(value)) *target = *v;
        s.InterfaceType = static_cast<Interface>(interface);
    }
}

std::string SaveConfig(const Settings& s, const std::filesystem::path& file) {
    const std::string text = Line("Interface = ", static_cast<std::int16_t>(s.InterfaceType)) +
                             Line("Port Address = ", s.PortAddress) +
                             Line("Factory = ", s.FactoryMode);
    // Another user's link is not followed (a shared folder), one's own is; what is no file
    // (a folder of that name) is said as the system says it.
    if (std::string why = LinkRefusal(file); !why.empty()) return why;
    struct stat st {};
    if (::stat(file.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return Why(file, S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
    // Saved beside and renamed over the old file, so a reader sees the old or the new; in a
    // folder this user cannot write, rewritten in place, the only way left to keep them.
    return WriteWholeFile(file, text, WhenFolderLocked::RewriteInPlace);
}

}  // namespace qvin
