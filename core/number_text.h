#pragma once
// Number <-> text rules shared by every window and the data log.

#include <cstdint>
#include <string>
#include <string_view>

namespace qvin {

// Reads the number at the start of a text: leading blanks, an optional sign, digits, an
// optional decimal point with digits and an optional exponent, as far as they go; the rest
// is ignored. Text that does not begin with a number reads as 0.
double LeadingNumber(std::string_view text);

// Like LeadingNumber, but tells whether a number was found and how many characters it took.
struct NumberScan {
    double value = 0.0;
    std::size_t length = 0;  // characters consumed, leading blanks included; 0 when no number
};
NumberScan ScanLeadingNumber(std::string_view text);

// Nearest integer, halves to the even neighbour (12.5 -> 12, 13.5 -> 14).
std::int64_t RoundHalfEven(double x);

// Fixed-point with `decimals` digits after the point and at least one before it
// ("0.000" is FormatFixed(x, 3)). Never shows a negative zero.
std::string FormatFixed(double x, int decimals);

// Shortest decimal form of an integer.
std::string FormatInt(std::int64_t v);

// Upper-case hexadecimal without prefix or leading zeros; a negative 32-bit value shows
// its two's-complement form (-5 -> FFFFFFFB). `minDigits` pads with zeros on the left.
std::string FormatHex(std::int64_t v, int minDigits = 1);

// The general number form of a single-precision value: up to seven significant digits,
// no trailing zeros, exponent form for magnitudes below 1E-04 or from 1E+07 up
// (25 -> "25", 12.5 -> "12.5", 0.00001 -> "1E-05"). The decimal separator is always '.'
// so that data logs read the same on every machine.
std::string FormatGeneral(float v);
// The same for a double-precision value: up to fifteen significant digits, exponent form
// from 1E+15 up (10000000 -> "10000000").
std::string FormatGeneralDouble(double v);

// `digits` significant digits as printf's %g writes them ("30.0003", "1e-05").
std::string FormatSignificant(double v, int digits);

// Every function here reads and writes a point, whatever locale the process runs in.

}  // namespace qvin
