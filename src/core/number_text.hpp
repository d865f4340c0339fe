// The number texts' workings behind <slipvel/text.hpp>: fields written in
// place, fields of any width, the free-form items, the SRF samples, and the
// reference forms the fast ones are tested against.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fixed_forms.hpp"

#include "decimal.hpp"

namespace slipvel::detail {

using text::Column;
using text::kAmplitudeColumn;
using text::kFrequencyColumn;
using text::kTimeColumn;
using text::kValueColumn;

// A data row's field separator and line end.
inline constexpr char kSeparator = ',';
inline constexpr char kLineEnd = '\n';

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
char* put_fixed_field(char* out, double value, Column column);
char* put_exponent_field(char* out, double value, Column column);

// The fixed-point field of a width and decimal count known when compiled, the
// result files' row fields, written inline: the text of put_fixed_field for
// every value. Written here when value·10^decimals settles its rounding in
// double arithmetic (round_near_exact) and the text fits without the 0 going;
// through put_fixed_field otherwise (not a number, infinities, asterisks,
// values near a tie).
template <int kWidth, int kDecimals>
[[gnu::always_inline]] inline char* put_fixed_row_field(char* out, double value);

std::string fixed_field(double value, int width, int decimals);
std::string exponent_field(double value, int width, int digits);

// The same fields built from std::to_chars alone: slower, and the yardstick
// the fields above are tested against.
std::string fixed_field_reference(double value, int width, int decimals);
std::string exponent_field_reference(double value, int width, int digits);

// Width of an SRF slip-rate sample, printf's "%13.5e".
inline constexpr int kSrfSampleWidth = 13;
// Writes `value` exactly as printf("%13.5e") would (13 characters for every
// finite value below 1e100 in magnitude) and returns the end.
char* put_srf_sample(char* out, double value);
// Writes `count` samples as put_srf_sample does, `per_line` to a line, each
// line ended by '\n' (the last one too), and returns the end.
char* put_srf_samples(char* out, const double* values, std::size_t count, std::size_t per_line);

// --- Inline row fields ------------------------------------------------------

// Writes the kCount digits of `value` (below 10^kCount, kCount at most 9) so
// that they end at `end`: four at a time from the right, each four as two
// pairs by multiplications alone. With y = v·⌈2^32/100⌉ for v below 10^4,
// y / 2^32 is v / 100 and the low 32 bits of y times 100, over 2^32, are
// v % 100 (the rounding up adds 0.04·v, too little to reach the next unit in
// either).
template <int kCount>
[[gnu::always_inline]] inline void put_row_digits(char* end, std::uint32_t value) {
  static_assert(kCount >= 1 && kCount <= 9);
  if constexpr (kCount > 4) {
    put_row_digits<kCount - 4>(end - 4, value / 10000);
    put_row_digits<4>(end, value % 10000);
  } else if constexpr (kCount >= 3) {
    std::uint64_t y = std::uint64_t{value} * 42949673;
    if constexpr (kCount == 4) {
      std::memcpy(end - 4, &kDigitPairs[(y >> 32) * 2], 2);
    } else {
      end[-3] = static_cast<char>('0' + (y >> 32));
    }
    y = (y & 0xFFFFFFFF) * 100;
    std::memcpy(end - 2, &kDigitPairs[(y >> 32) * 2], 2);
  } else if constexpr (kCount == 2) {
    std::memcpy(end - 2, &kDigitPairs[value * 2], 2);
  } else {
    end[-1] = static_cast<char>('0' + value);
  }
}

template <int kWidth, int kDecimals>
[[gnu::always_inline]] inline char* put_fixed_row_field(char* out, double value) {
  // Characters before the point: the whole part, a "-" in front of it. With
  // two or more, a text that is too long is too long by more than a leading 0.
  // Whole part and decimals each fit in 32 bits, value·10^decimals below 2^52.
  constexpr int kWholeWidth = kWidth - 1 - kDecimals;
  static_assert(kWholeWidth >= 2 && kWholeWidth <= 9 && kDecimals >= 1 && kDecimals <= 9 &&
                kWholeWidth + kDecimals <= 15);
  constexpr std::uint64_t kUnit = kPowersOfTen[kDecimals];
  constexpr double kLimit = static_cast<double>(kPowersOfTen[kWholeWidth]);  // whole parts below it fit unsigned
  constexpr auto kBlanks = [] {  // the blanks before the point, and the point
    std::array<char, kWholeWidth + 1> b{};
    b.fill(' ');
    b[kWholeWidth] = '.';
    return b;
  }();

  const double magnitude = std::fabs(value);
  std::uint64_t scaled = 0;
  if (magnitude < kLimit && round_near_exact(magnitude * kExactPowersOfTen[kDecimals], scaled)) {
    auto whole = static_cast<std::uint32_t>(scaled / kUnit);
    const bool negative = value < 0 && scaled != 0;
    if (whole < kPowersOfTen[negative ? kWholeWidth - 1 : kWholeWidth]) {
      std::memcpy(out, kBlanks.data(), kBlanks.size());
      put_row_digits<kDecimals>(out + kWidth, static_cast<std::uint32_t>(scaled - whole * kUnit));
      char* p = out + kWholeWidth;  // the whole digits end here; most whole parts have one
      for (; whole >= 100; whole /= 100) std::memcpy(p -= 2, &kDigitPairs[whole % 100 * 2], 2);
      if (whole >= 10) {
        std::memcpy(p -= 2, &kDigitPairs[whole * 2], 2);
      } else {
        *--p = static_cast<char>('0' + whole);
      }
      if (negative) p[-1] = '-';
      return out + kWidth;
    }
  }
  return put_fixed_field(out, value, kWidth, kDecimals);
}

}  // namespace slipvel::detail
