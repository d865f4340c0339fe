#include "textio/decimal.hpp"

#include <algorithm>
#include <bit>
#include <cassert>
#include <charconv>
#include <cstdint>
#include <cstring>

namespace slipvel::textio {
namespace {

__extension__ using u128 = unsigned __int128;

constexpr std::array<std::uint64_t, 20> kPow10 = [] {
  std::array<std::uint64_t, 20> p{};
  p[0] = 1;
  for (std::size_t i = 1; i < p.size(); ++i) p[i] = p[i - 1] * 10;
  return p;
}();

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

// Digits of `value`, left-padded with zeros to at least `min_digits`.
std::size_t put_padded(std::uint64_t value, std::size_t min_digits, char* out) {
  char digits[20];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  const auto count = static_cast<std::size_t>(end - digits);
  const std::size_t pad = min_digits > count ? min_digits - count : 0;
  std::memset(out, '0', pad);
  std::memcpy(out + pad, digits, count);
  return pad + count;
}

}  // namespace

std::size_t fixed_decimal_reference(double magnitude, int decimals, char* text) {
  assert(magnitude >= 0 && decimals >= 0 && decimals <= kMaxDecimals);
  const auto result = std::to_chars(text, text + kFixedTextCapacity, magnitude,
                                    std::chars_format::fixed, decimals);
  std::size_t length = static_cast<std::size_t>(result.ptr - text);
  if (decimals == 0) text[length++] = '.';  // the point is always written
  return length;
}

std::size_t fixed_decimal(double magnitude, int decimals, char* text) {
  // Fast path: magnitude = m · 2^e with e < 0 (below 2^52) and 10^decimals in
  // 64 bits, so magnitude · 10^decimals = m · 10^decimals / 2^-e is exact in
  // 128 bits (m < 2^53, 10^decimals < 2^64).
  const Binary binary = decompose(magnitude);
  if (magnitude == 0 || binary.exponent >= 0 || decimals >= 20)
    return fixed_decimal_reference(magnitude, decimals, text);
  const u128 scaled = round_shift(u128{binary.mantissa} * kPow10[decimals], -binary.exponent);
  if (scaled > UINT64_MAX) return fixed_decimal_reference(magnitude, decimals, text);

  // Lay the integer out as digits with the point `decimals` places from the right.
  char digits[21];
  const auto d = static_cast<std::size_t>(decimals);
  const std::size_t count = put_padded(static_cast<std::uint64_t>(scaled), d + 1, digits);
  const std::size_t whole = count - d;
  std::memcpy(text, digits, whole);
  text[whole] = '.';
  std::memcpy(text + whole + 1, digits + whole, d);
  return count + 1;
}

Significant significant_digits_reference(double magnitude, int count) {
  assert(magnitude > 0 && count >= 1 && count <= kMaxSignificant);
  // d.ddd...e±XX: the digits, then the exponent of the d.ddd form.
  char text[40];
  const auto end = std::to_chars(text, text + sizeof text, magnitude,
                                 std::chars_format::scientific, count - 1).ptr;
  Significant result{};
  result.digits[0] = text[0];
  if (count > 1) std::memcpy(result.digits.data() + 1, text + 2, static_cast<std::size_t>(count - 1));
  const char* e = std::find(text, end, 'e');
  int exponent = 0;
  std::from_chars(e + (e[1] == '+' ? 2 : 1), end, exponent);
  result.exponent = exponent + 1;
  return result;
}

Significant significant_digits(double magnitude, int count) {
  // Fast path for 1e-16 <= magnitude < 2^52 and up to nine digits: the scaled
  // value magnitude · 10^k (0 <= k <= 19) or magnitude / 10^-k is exact in
  // 128 bits, and its rounding needs no division of 128-bit numbers.
  const Binary binary = decompose(magnitude);
  if (binary.exponent >= 0 || count > 9) return significant_digits_reference(magnitude, count);

  // floor(log10(magnitude)) is this estimate or one more (magnitude lies in
  // [2^p, 2^(p+1)) with p its binary exponent).
  const int p = binary.exponent + 63 - std::countl_zero(binary.mantissa);
  const int estimate = (p >= 0) ? (p * 78913) >> 18 : -((-p * 78913 + (1 << 18) - 1) >> 18);
  const std::uint64_t lower = kPow10[static_cast<std::size_t>(count - 1)];
  const std::uint64_t upper = kPow10[static_cast<std::size_t>(count)];
  const int shift = -binary.exponent;

  for (int e10 = estimate; e10 <= estimate + 1; ++e10) {
    const int k = count - 1 - e10;  // scaled = magnitude · 10^k lies in [lower, upper)
    if (k > 19 || k < -19) break;
    std::uint64_t rounded;
    if (k >= 0) {
      const u128 numerator = u128{binary.mantissa} * kPow10[static_cast<std::size_t>(k)];
      const u128 whole = numerator >> shift;
      if (whole >= upper) continue;  // the estimate was one low
      if (whole < lower) break;      // never: the estimate is never high
      rounded = static_cast<std::uint64_t>(round_shift(numerator, shift));
    } else {
      // magnitude / (2^shift · 10^-k); floor of nested divisions is exact.
      const std::uint64_t divisor = kPow10[static_cast<std::size_t>(-k)];
      std::uint64_t quotient = (binary.mantissa >> shift) / divisor;
      if (quotient >= upper) continue;
      const u128 denominator = u128{divisor} << shift;
      const u128 remainder = u128{binary.mantissa} - u128{quotient} * denominator;
      const bool up = 2 * remainder > denominator ||
                      (2 * remainder == denominator && (quotient & 1) != 0);
      rounded = quotient + (up ? 1 : 0);
    }
    int exponent = e10 + 1;
    if (rounded == upper) {  // a carry adds a digit: 9.9995 -> 10.00
      rounded = lower;
      ++exponent;
    }
    Significant result{};
    put_padded(rounded, static_cast<std::size_t>(count), result.digits.data());
    result.exponent = exponent;
    return result;
  }
  return significant_digits_reference(magnitude, count);
}

}  // namespace slipvel::textio
