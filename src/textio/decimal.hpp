// Correctly rounded decimal conversions behind every number text of the program.
//
// Two families, each with a fast path in integer arithmetic on the double's
// exact value and a reference path through std::to_chars. The fast path hands
// over to the reference path outside the range it covers, so the two always
// agree: to the nearest text, a tie going to the even last digit.
#pragma once

#include <array>
#include <cstddef>

namespace slipvel::textio {

// Longest text of fixed_decimal: 309 integer digits of the largest double,
// the point and up to kMaxDecimals decimals.
inline constexpr int kMaxDecimals = 40;
inline constexpr std::size_t kFixedTextCapacity = 309 + 1 + kMaxDecimals;

// A non-negative finite magnitude rounded to `decimals` decimals (0..kMaxDecimals):
// its integer digits (at least one, "0" below 1), the point, the decimals.
// Writes into `text` (kFixedTextCapacity chars) and returns the length.
std::size_t fixed_decimal(double magnitude, int decimals, char* text);
std::size_t fixed_decimal_reference(double magnitude, int decimals, char* text);

// A positive finite magnitude rounded to `count` significant digits (1..17),
// as 0.d1 d2 ... dcount times 10 to the power `exponent`, d1 non-zero.
inline constexpr int kMaxSignificant = 17;
struct Significant {
  std::array<char, kMaxSignificant> digits;
  int exponent;
};
Significant significant_digits(double magnitude, int count);
Significant significant_digits_reference(double magnitude, int count);

}  // namespace slipvel::textio
