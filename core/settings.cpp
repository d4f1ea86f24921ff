#include "core/settings.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
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
std::vector<std::string> ReadFields(const std::string& text) {
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

// A whole decimal number between blanks that fits 16 bits; anything else is malformed.
std::optional<std::int16_t> ParseValue(std::string_view text) {
    const NumberScan scan = ScanLeadingNumber(text);
    if (scan.length == 0) return std::nullopt;
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

}  // namespace

void ReadConfig(Settings& s, const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return;
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (const std::string& field : ReadFields(text)) {
        const std::size_t eq = field.find('=');
        // The key stops one character before "=" (the blank written there) and the value
        // starts one character after it; a field without a key is malformed.
        if (eq == std::string::npos || eq == 0) continue;
        const std::string key = field.substr(0, eq - 1);
        const std::string value = eq + 2 <= field.size() ? field.substr(eq + 2) : std::string();
        std::int16_t* target = nullptr;
        if (key == "Interface") target = &s.InterfaceType;
        else if (key == "Port Address") target = &s.PortAddress;
        else if (key == "Factory") target = &s.FactoryMode;
        if (!target) continue;
        if (const auto v = ParseValue(value)) *target = *v;
    }
}

void SaveConfig(const Settings& s, const std::filesystem::path& file) {
    const std::string text = Line("Interface = ", s.InterfaceType) +
                             Line("Port Address = ", s.PortAddress) +
                             Line("Factory = ", s.FactoryMode);
    std::filesystem::path tmp = file;
    tmp += ".new";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        if (!out) return;
        out << text;
        out.flush();
        if (!out) {
            out.close();
            std::error_code ec;
            std::filesystem::remove(tmp, ec);
            return;
        }
    }
    std::error_code ec;
    std::filesystem::rename(tmp, file, ec);
    if (ec) std::filesystem::remove(tmp, ec);
}

}  // namespace qvin
