// Correctly rounded decimal conversions behind every number text of the program.
//
// Each conversion has a reference form through std::to_chars and, for the two
// that the data rows use by the thousand, a fast form in integer arithmetic on
// the double's exact value. Both round to the nearest decimal, a tie going to
// the even digit; the fast form declines (returns false) where it does not
// reach, and the caller then takes the reference form.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace slipvel::detail {

// 10^0 to 10^19, all that 64 bits hold.
inline constexpr std::array<std::uint64_t, 20> kPowersOfTen = [] {
  std::array<std::uint64_t, 20> p{};
  p[0] = 1;
  for (std::size_t i = 1; i < p.size(); ++i) p[i] = p[i - 1] * 10;
  return p;
}();

// 10^0 to 10^22, every power of ten that a double holds exactly.
inline constexpr std::array<double, 23> kExactPowersOfTen = [] {
  std::array<double, 23> p{};
  p[0] = 1;
  for (std::size_t i = 1; i < p.size(); ++i) p[i] = p[i - 1] * 10;
  return p;
}();

// "00" to "99", for writing two digits at a time.
inline constexpr std::array<char, 200> kDigitPairs = [] {
  std::array<char, 200> pairs{};
  for (int i = 0; i < 100; ++i) {
    pairs[static_cast<std::size_t>(2 * i)] = static_cast<char>('0' + i / 10);
    pairs[static_cast<std::size_t>(2 * i + 1)] = static_cast<char>('0' + i % 10);
  }
  return pairs;
}();

// Rounds the real number that `y` approximates to the nearest integer, when
// `y` is the correctly rounded result of one multiplication or division (so
// within half an ulp of the real one) and below 2^52. No half-integer may lie
// within y·2^-52 (at least one ulp) of y: the real number then lies on the same
// side of every half-integer as y and rounds alike. False near a tie.
inline bool round_near_exact(double y, std::uint64_t& rounded) {
  if (!(y < 0x1p52)) return false;
  // The floor, y not being negative; through the signed type, whose
  // conversions are single instructions where the unsigned ones are not.
  const auto truncated = static_cast<std::int64_t>(y);
  const double fraction = y - static_cast<double>(truncated);  // exact
  const double distance = fraction - 0.5;
  if (!((distance < 0 ? -distance : distance) > y * 0x1p-52)) return false;
  rounded = static_cast<std::uint64_t>(truncated) + (fraction > 0.5 ? 1 : 0);
  return true;
}

// Longest text of fixed_decimal_reference: 309 integer digits of the largest
// double, the point and up to kMaxDecimals decimals.
inline constexpr int kMaxDecimals = 40;
inline constexpr std::size_t kFixedTextCapacity = 309 + 1 + kMaxDecimals;

// A non-negative finite magnitude rounded to `decimals` decimals (0 to
// kMaxDecimals): its integer digits (at least one, "0" below 1), the point,
// the decimals. Writes into `text` (kFixedTextCapacity chars), returns the length.
std::size_t fixed_decimal_reference(double magnitude, int decimals, char* text);

// The same rounding as a count of units of 10^-decimals, for magnitudes below
// 2^52 and up to 19 decimals when the count fits in 64 bits, in exact integer
// arithmetic (callers try round_near_exact on the product first).
bool fixed_scaled(double magnitude, int decimals, std::uint64_t& scaled);

// A positive finite magnitude rounded to `count` significant digits (1 to 17):
// digits·10^(exponent − count), with 10^(count−1) <= digits < 10^count, so the
// magnitude reads 0.d1 d2 ... dcount times 10^exponent.
inline constexpr int kMaxSignificant = 17;
struct Significant {
  std::uint64_t digits;
  int exponent;
};
Significant significant_digits_reference(double magnitude, int count);

// The same for 1e-16 <= magnitude < 2^52 and up to nine digits.
bool significant_digits(double magnitude, int count, Significant& result);

}  // namespace slipvel::detail
