#include "decimal.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cassert>
#include <charconv>
#include <cmath>

namespace slipvel::detail {
namespace {

__extension__ using u128 = unsigned __int128;

// A positive finite double as mantissa · 2^exponent with an integer mantissa.
struct Binary {
  std::uint64_t mantissa;
  int exponent;
};

Binary decompose(double value) {
  const auto bits = std::bit_cast<std::uint64_t>(value);
  const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
  const int biased = static_cast<int>((bits >> 52) & 0x7ff);
  if (biased == 0) return {fraction, -1074};
  return {fraction | (std::uint64_t{1} << 52), biased - 1075};
}

// numerator / 2^shift rounded to the nearest integer, a tie to even.
u128 round_shift(u128 numerator, int shift) {
  if (shift == 0) return numerator;
  if (shift >= 128) return 0;  // callers keep numerator below 2^127
  const u128 quotient = numerator >> shift;
  const u128 remainder = numerator & ((u128{1} << shift) - 1);
  const u128 half = u128{1} << (shift - 1);
  const bool up = remainder > half || (remainder == half && (quotient & 1) != 0);
  return quotient + (up ? 1 : 0);
}

}  // namespace

std::size_t fixed_decimal_reference(double magnitude, int decimals, char* text) {
  assert(magnitude >= 0 && decimals >= 0 && decimals <= kMaxDecimals);
  const auto result = std::to_chars(text, text + kFixedTextCapacity, magnitude, std::chars_format::fixed, decimals);
  std::size_t length = static_cast<std::size_t>(result.ptr - text);
  if (decimals == 0) text[length++] = '.';  // the point is always written
  return length;
}

bool fixed_scaled(double magnitude, int decimals, std::uint64_t& scaled) {
  // magnitude = m · 2^e with e < 0 and 10^decimals below 2^64, so
  // magnitude · 10^decimals = m · 10^decimals / 2^-e is exact in 128 bits.
  if (magnitude == 0) {
    scaled = 0;
    return true;
  }
  const Binary binary = decompose(magnitude);
  if (binary.exponent >= 0 || decimals < 0 || decimals >= 20) return false;
  const u128 rounded =
      round_shift(u128{binary.mantissa} * kPowersOfTen[static_cast<std::size_t>(decimals)], -binary.exponent);
  if (rounded > UINT64_MAX) return false;
  scaled = static_cast<std::uint64_t>(rounded);
  return true;
}

Significant significant_digits_reference(double magnitude, int count) {
  assert(magnitude > 0 && count >= 1 && count <= kMaxSignificant);
  // d.ddd...e±XX: the digits, then the exponent of the d.ddd form.
  char text[40];
  const auto end = std::to_chars(text, text + sizeof text, magnitude, std::chars_format::scientific, count - 1).ptr;
  const char* const e = std::find(text, end, 'e');
  Significant result{0, 0};
  for (const char* p = text; p < e; ++p) {
    if (*p != '.') result.digits = result.digits * 10 + static_cast<std::uint64_t>(*p - '0');
  }
  std::from_chars(e + (e[1] == '+' ? 2 : 1), end, result.exponent);
  result.exponent += 1;
  return result;
}

bool significant_digits(double magnitude, int count, Significant& result) {
  // magnitude · 10^k (0 <= k <= 19) or magnitude / 10^-k is exact in 128 bits
  // for these magnitudes, and its rounding needs no 128-bit division.
  const Binary binary = decompose(magnitude);
  if (binary.exponent >= 0 || count < 1 || count > 9 || magnitude <= 0) return false;

  // floor(log10(magnitude)) is this estimate or one more: the magnitude lies in
  // [2^p, 2^(p+1)) with p its binary exponent.
  const int p = binary.exponent + 63 - std::countl_zero(binary.mantissa);
  const int estimate = p >= 0 ? (p * 78913) >> 18 : -((-p * 78913 + (1 << 18) - 1) >> 18);
  const std::uint64_t lower = kPowersOfTen[static_cast<std::size_t>(count - 1)];
  const std::uint64_t upper = kPowersOfTen[static_cast<std::size_t>(count)];
  const int shift = -binary.exponent;

  for (int e10 = estimate; e10 <= estimate + 1; ++e10) {
    const int k = count - 1 - e10;  // magnitude · 10^k lies in [lower, upper)
    if (k > 19 || k < -19) return false;
    std::uint64_t rounded;
    // Most values: one multiplication or division in double arithmetic, when
    // it cannot round differently from the exact one.
    const double power = kExactPowersOfTen[static_cast<std::size_t>(k >= 0 ? k : -k)];
    const double approximate = k >= 0 ? magnitude * power : magnitude / power;
    if (approximate >= static_cast<double>(upper)) continue;  // the estimate was one low
    if (approximate >= static_cast<double>(lower) && round_near_exact(approximate, rounded)) {
      result = {rounded, e10 + 1};
      if (rounded == upper) result = {lower, e10 + 2};  // a carry: 9.9995 -> 10.00
      return true;
    }
    if (k >= 0) {
      const u128 numerator = u128{binary.mantissa} * kPowersOfTen[static_cast<std::size_t>(k)];
      const u128 whole = numerator >> shift;
      if (whole >= upper) continue;  // the estimate was one low
      if (whole < lower) return false;
      rounded = static_cast<std::uint64_t>(round_shift(numerator, shift));
    } else {
      // magnitude / (2^shift · 10^-k): the floor of nested divisions is exact.
      const std::uint64_t divisor = kPowersOfTen[static_cast<std::size_t>(-k)];
      const std::uint64_t quotient = (binary.mantissa >> shift) / divisor;
      if (quotient >= upper) continue;
      if (quotient < lower) return false;
      const u128 denominator = u128{divisor} << shift;
      const u128 remainder = u128{binary.mantissa} - u128{quotient} * denominator;
      const bool up = 2 * remainder > denominator || (2 * remainder == denominator && (quotient & 1) != 0);
      rounded = quotient + (up ? 1 : 0);
    }
    result = {rounded, e10 + 1};
    if (rounded == upper) result = {lower, e10 + 2};  // a carry: 9.9995 -> 10.00
    return true;
  }
  return false;
}

}  // namespace slipvel::detail
