#include "core/number_text.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace qvin {

namespace {
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
}  // namespace

NumberScan ScanLeadingNumber(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    const std::size_t start = i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    std::size_t digits = 0;
    while (i < text.size() && IsDigit(text[i])) { ++i; ++digits; }
    if (i < text.size() && text[i] == '.') {
        std::size_t j = i + 1, frac = 0;
        while (j < text.size() && IsDigit(text[j])) { ++j; ++frac; }
        if (digits + frac > 0) { i = j; digits += frac; }
    }
    if (digits == 0) return {};
    // An exponent counts only when at least one digit follows it.
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
        std::size_t exp = 0;
        while (j < text.size() && IsDigit(text[j])) { ++j; ++exp; }
        if (exp > 0) i = j;
    }
    // from_chars: the same digits as strtod, read with a point whatever the process's locale.
    std::string_view number = text.substr(start, i - start);
    const bool negative = number[0] == '-';
    if (number[0] == '+' || negative) number.remove_prefix(1);
    double value = 0;
    const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
    (void)end;
    if (ec == std::errc::result_out_of_range) {
        // As strtod: too large is infinite, too small is zero.
        const std::size_t e = number.find_first_of("eE");
        value = e != std::string_view::npos && number.substr(e + 1, 1) == "-" ? 0.0 : HUGE_VAL;
    }
    return {negative ? -value : value, i};
}

double LeadingNumber(std::string_view text) { return ScanLeadingNumber(text).value; }

std::int64_t RoundHalfEven(double x) {
    if (!std::isfinite(x)) return 0;
    // nearbyint honours the default rounding mode, which is to nearest, ties to even.
    const double r = std::nearbyint(x);
    if (r >= 9.2e18) return INT64_MAX;
    if (r <= -9.2e18) return INT64_MIN;
    return static_cast<std::int64_t>(r);
}

std::string FormatFixed(double x, int decimals) {
    // to_chars writes a point whatever the locale; a large value has as many digits as its
    // size (1e300 has 301).
    if (!std::isfinite(x)) return std::isnan(x) ? "nan" : x > 0 ? "inf" : "-inf";
    std::string s(400 + static_cast<std::size_t>(std::max(decimals, 0)), '\0');
    const auto [end, ec] = std::to_chars(s.data(), s.data() + s.size(), x, std::chars_format::fixed, std::max(decimals, 0));
    s.resize(ec == std::errc() ? static_cast<std::size_t>(end - s.data()) : 0);
    if (!s.empty() && s[0] == '-' && s.find_first_not_of("-0.") == std::string::npos) s.erase(0, 1);
    return s;
}

std::string FormatInt(std::int64_t v) { return std::to_string(v); }

std::string FormatHex(std::int64_t v, int minDigits) {
    const std::uint64_t bits = (v < 0 && v >= INT32_MIN) ? static_cast<std::uint32_t>(v)
                                                         : static_cast<std::uint64_t>(v);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%0*llX", minDigits, static_cast<unsigned long long>(bits));
    return buf;
}

namespace {
// The general form with `digits` significant digits, as printf's %G writes it, with a point.
std::string General(double v, int digits) {
    char buf[64];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, digits);
    std::string s(buf, ec == std::errc() ? static_cast<std::size_t>(end - buf) : 0);
    if (!std::isfinite(v)) return std::isnan(v) ? "nan" : v > 0 ? "inf" : "-inf";
    for (char& c : s)
        if (c == 'e') c = 'E';
    if (s == "-0") s = "0";
    return s;
}
}  // namespace

std::string FormatSignificant(double v, int digits) {
    std::string s = General(v, std::max(digits, 1));
    for (char& c : s)
        if (c == 'E') c = 'e';
    return s;
}

std::string FormatGeneral(float v) {
    if (std::isnan(v)) return "NaN";
    if (std::isinf(v)) return v > 0 ? "Infinity" : "-Infinity";
    return General(static_cast<double>(v), 7);
}

std::string FormatGeneralDouble(double v) {
    if (std::isnan(v)) return "NaN";
    if (std::isinf(v)) return v > 0 ? "Infinity" : "-Infinity";
    return General(v, 15);
}

}  // namespace qvin
