#pragma once
// A short excerpt of text read from outside (a file, standard input), fit for a message on
// a terminal: anything unprintable as \xNN, at most about 80 characters shown in all,
// "..." when cut.

#include <cstdio>
#include <string>
#include <string_view>

namespace qvin {

inline std::string Excerpt(std::string_view text, std::size_t max = 80) {
    std::string out;
    std::size_t i = 0;
    for (; i < text.size() && out.size() < max; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        }
    }
    if (i < text.size()) out += "...";
    return out;
}

// The excerpt in double quotes. Built by appending: GCC 12 warns falsely (-Wrestrict, its
// bug 105329) when a one-character literal is put before a temporary string at -O3.
inline std::string Quoted(std::string_view text, std::size_t max = 80) {
    return std::string(1, '"').append(Excerpt(text, max)).append(1, '"');
}

}  // namespace qvin
