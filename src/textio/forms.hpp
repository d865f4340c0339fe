// The text forms of every number the program writes.
//
// Free-form items (console lines and file headers):
//   real item      two leading characters (blank, then blank or "-"), then the
//                  value to 9 significant digits: positional for decimal
//                  exponents -4..8, else d.dddE+XX; trailing zeros dropped, the
//                  point always kept ("  6.", "  0.0530516477", "  2.5E+09").
//   integer item   one blank, the sign if negative, the digits (" 4096").
// Fixed fields (data rows), each exactly w characters:
//   fixed-point (w, d)  right-aligned, d decimals; a leading "0." loses its 0
//                       when that alone makes it fit; else w asterisks.
//   exponent (w, d)     0.dddd and E+XX (three-digit exponents as +XXX without
//                       the E), right-aligned; "0." loses its 0 when exactly
//                       full; else w asterisks.
// Non-finite values are written as NaN, Infinity or -Infinity.
#pragma once

#include <cstddef>
#include <string>

namespace slipvel::textio {

// Longest real item: "  " or " -", 9 digits, point, up to 4 zeros after it.
inline constexpr std::size_t kRealItemCapacity = 24;

// Writes the real item of `value` into `out` and returns its length.
std::size_t put_real_item(double value, char* out);
std::string real_item(double value);

// Number of digits of an integer item, without its blank and sign: the length
// the line limit measures.
std::size_t integer_item_digits(int value);
std::string integer_item(int value);

// Write exactly `width` characters at `out` and return out + width. `decimals`
// is at most 40, `digits` 1 to 17.
char* put_fixed_field(char* out, double value, int width, int decimals);
char* put_exponent_field(char* out, double value, int width, int digits);

std::string fixed_field(double value, int width, int decimals);
std::string exponent_field(double value, int width, int digits);

// The same fields built from std::to_chars alone: slower, and the yardstick
// the fields above are tested against.
std::string fixed_field_reference(double value, int width, int decimals);
std::string exponent_field_reference(double value, int width, int digits);

}  // namespace slipvel::textio
