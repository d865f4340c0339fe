// The number texts' workings behind <slipvel/text.hpp>: fields of any width,
// the free-form items, and the reference forms the fast ones are tested against.
#pragma once

#include <cstddef>
#include <string>

#include <slipvel/text.hpp>

namespace slipvel::text {

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

}  // namespace slipvel::text
