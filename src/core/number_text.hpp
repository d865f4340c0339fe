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

#include <slipvel/text.hpp>

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

// Writes the last kCount digits of `value` so that they end at `end`, two at
// a time from the right.
template <int kCount>
[[gnu::always_inline]] inline void put_row_digits(char* end, std::uint32_t value) {
  if constexpr (kCount >= 2) {
    std::memcpy(end - 2, &kDigitPairs[value % 100 * 2], 2);
    put_row_digits<kCount - 2>(end - 2, value / 100);
  } else if constexpr (kCount == 1) {
    end[-1] = static_cast<char>('0' + value % 10);
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
      char* p = out + kWholeWidth - 1;  // the last whole digit; most whole parts have one
      *p = static_cast<char>('0' + whole % 10);
      for (whole /= 10; whole != 0; whole /= 10) *--p = static_cast<char>('0' + whole % 10);
      if (negative) p[-1] = '-';
      return out + kWidth;
    }
  }
  return put_fixed_field(out, value, kWidth, kDecimals);
}

}  // namespace slipvel::detail
