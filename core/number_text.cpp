#include "core/number_text.h"

#include <cctype>
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
    const std::string number(text.substr(start, i - start));
    return {std::strtod(number.c_str(), nullptr), i};
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
    char buf[64];
    const int n = std::snprintf(buf, sizeof buf, "%.*f", decimals, x);
    std::string s;
    if (n >= static_cast<int>(sizeof buf)) {
        // A large value has as many digits as its size (1e300 has 301): written whole.
        s.resize(static_cast<std::size_t>(n));
        std::snprintf(s.data(), s.size() + 1, "%.*f", decimals, x);
    } else {
        s = buf;
    }
    if (s[0] == '-' && s.find_first_not_of("-0.") == std::string::npos) s.erase(0, 1);
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

std::string FormatGeneral(float v) {
    if (std::isnan(v)) return "NaN";
    if (std::isinf(v)) return v > 0 ? "Infinity" : "-Infinity";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.7G", static_cast<double>(v));
    std::string s(buf);
    if (s == "-0") s = "0";
    return s;
}

}  // namespace qvin
