#pragma once
// A short excerpt of text read from outside (a file, standard input), fit for a message on
// a terminal: at most 80 characters, anything unprintable as \xNN, "..." when cut.

#include <cstdio>
#include <string>
#include <string_view>

namespace qvin {

inline std::string Excerpt(std::string_view text, std::size_t max = 80) {
    std::string out;
    for (std::size_t i = 0; i < text.size() && i < max; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        }
    }
    if (text.size() > max) out += "...";
    return out;
}

}  // namespace qvin
