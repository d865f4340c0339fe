#include "number_text.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "decimal.hpp"

namespace slipvel::detail {
namespace {

constexpr int kRealDigits = 9;

// Writes the last `count` digits of `value` so that they end at `end`, and
// returns where they begin.
char* put_digits_backward(char* end, std::uint64_t value, int count) {
  for (; count >= 2; count -= 2) {
    end -= 2;
    std::memcpy(end, &kDigitPairs[static_cast<std::size_t>(value % 100 * 2)], 2);
    value /= 100;
  }
  if (count == 1) *--end = static_cast<char>('0' + value % 10);
  return end;
}

int count_digits(std::uint64_t value) {
  int count = 1;
  while (count < 20 && value >= kPowersOfTen[static_cast<std::size_t>(count)]) ++count;
  return count;
}

std::string_view non_finite_text(double value) {
  if (std::isnan(value)) return "NaN";
  return value < 0 ? "-Infinity" : "Infinity";
}

char* put(char* out, std::string_view text) {
  std::memcpy(out, text.data(), text.size());
  return out + text.size();
}

char* put_fill(char* out, char c, std::size_t count) {
  std::memset(out, c, count);
  return out + count;
}

char* put_asterisks(char* out, int width) { return put_fill(out, '*', static_cast<std::size_t>(width)); }

// Right-aligned in the field, or asterisks when it is too long.
char* put_right_aligned(char* out, std::string_view text, int width) {
  const auto w = static_cast<std::size_t>(width);
  if (text.size() > w) return put_asterisks(out, width);
  return put(put_fill(out, ' ', w - text.size()), text);
}

// --- Fixed-point field -----------------------------------------------------
// The text is the magnitude rounded to d decimals with at least one integer
// digit; a "-" stands before it only when a digit is not zero. Longer than the
// field by exactly a leading 0, it drops that 0; longer still, asterisks.

// From the rounded magnitude as a count of 10^-decimals, written backwards.
[[gnu::always_inline]] inline char* put_fixed_scaled(char* out, std::uint64_t scaled, bool negative, int width,
                                                     int decimals) {
  const std::uint64_t unit = kPowersOfTen[static_cast<std::size_t>(decimals)];
  const std::uint64_t whole = scaled / unit;
  const int whole_digits = count_digits(whole);
  const int length = whole_digits + 1 + decimals + (negative ? 1 : 0);
  const bool drop_zero = length == width + 1 && whole == 0;
  if (length > width && !drop_zero) return put_asterisks(out, width);

  char* const end = out + width;
  char* p = put_digits_backward(end, scaled - whole * unit, decimals);
  *--p = '.';
  if (!drop_zero) p = put_digits_backward(p, whole, whole_digits);
  if (negative) *--p = '-';
  put_fill(out, ' ', static_cast<std::size_t>(p - out));
  return end;
}

// The same for a width and decimal count known when compiled, the program's
// row fields: the field is blanked with a store or two of known size and the
// digits written over it from its end, straight into place (building them in
// a buffer and copying that would make the copy wait for the digit stores).
template <int kWidth, int kDecimals>
[[gnu::always_inline]] inline char* put_fixed_scaled(char* out, std::uint64_t scaled, bool negative) {
  constexpr std::uint64_t kUnit = kPowersOfTen[kDecimals];
  const std::uint64_t whole = scaled / kUnit;
  int whole_digits = 1;
  for (std::uint64_t rest = whole; rest >= 10 && whole_digits < 20; rest /= 10) ++whole_digits;
  const int length = whole_digits + 1 + kDecimals + (negative ? 1 : 0);
  const bool drop_zero = length == kWidth + 1 && whole == 0;
  if (length > kWidth && !drop_zero) return put_asterisks(out, kWidth);

  std::memset(out, ' ', kWidth);
  char* p = put_digits_backward(out + kWidth, scaled - whole * kUnit, kDecimals);
  *--p = '.';
  if (!drop_zero) p = put_digits_backward(p, whole, whole_digits);
  if (negative) *--p = '-';
  return out + kWidth;
}

// The same field laid out from the text of std::to_chars.
char* put_fixed_from_text(char* out, double value, int width, int decimals) {
  if (!std::isfinite(value)) return put_right_aligned(out, non_finite_text(value), width);
  char text[kFixedTextCapacity + 1];
  char* const digits = text + 1;  // room for the sign in front
  const std::size_t length = fixed_decimal_reference(std::fabs(value), decimals, digits);
  const bool negative = value < 0 && std::string_view(digits, length).find_first_not_of("0.") != std::string_view::npos;
  if (negative) text[0] = '-';
  const std::size_t size = length + (negative ? 1 : 0);
  if (size == static_cast<std::size_t>(width) + 1 && digits[0] == '0') {  // the 0 goes
    if (negative) out = put(out, "-");
    return put(out, {digits + 1, length - 1});
  }
  return put_right_aligned(out, {negative ? text : digits, size}, width);
}

// --- Exponent field --------------------------------------------------------
// 0.dddd and the exponent part, right-aligned; exactly full, the 0 goes.

// Four characters: E, sign, two digits; or sign and three digits.
char* put_field_exponent(char* out, int exponent) {
  const int magnitude = exponent < 0 ? -exponent : exponent;
  const char sign = exponent < 0 ? '-' : '+';
  if (magnitude >= 100) {
    *out++ = sign;
    *out++ = static_cast<char>('0' + magnitude / 100);
  } else {
    *out++ = 'E';
    *out++ = sign;
  }
  std::memcpy(out, &kDigitPairs[static_cast<std::size_t>(magnitude % 100 * 2)], 2);
  return out + 2;
}

char* put_exponent_layout(char* out, const Significant& s, bool negative, int width, int digits) {
  const int needed = digits + 5 + (negative ? 1 : 0);
  if (width < needed) return put_asterisks(out, width);
  if (width > needed) {
    for (int blanks = width - needed - 1; blanks > 0; --blanks) *out++ = ' ';  // one or two: no call
    if (negative) *out++ = '-';
    *out++ = '0';
  } else if (negative) {
    *out++ = '-';
  }
  *out++ = '.';
  out += digits;
  put_digits_backward(out, s.digits, digits);
  return put_field_exponent(out, s.exponent);
}

// The spectrum's amplitude field, 12 wide with 4 digits, for a value that is not
// negative: "  0.dddd" and the exponent part, no padding to work out.
[[gnu::always_inline]] inline char* put_exponent_12_4(char* out, const Significant& s) {
  std::memcpy(out, "  0.", 4);
  put_digits_backward(out + 8, s.digits, 4);
  return put_field_exponent(out + 8, s.exponent);
}

template <bool kFast>
char* put_exponent(char* out, double value, int width, int digits) {
  if (!std::isfinite(value)) return put_right_aligned(out, non_finite_text(value), width);
  const double magnitude = std::fabs(value);
  Significant s{0, 0};
  if (magnitude != 0 && !(kFast && significant_digits(magnitude, digits, s))) {
    s = significant_digits_reference(magnitude, digits);
  }
  if (kFast && Column{width, digits} == kAmplitudeColumn && !(value < 0)) return put_exponent_12_4(out, s);
  return put_exponent_layout(out, s, value < 0, width, digits);
}

// --- Free-form real --------------------------------------------------------

// Drops trailing zeros of digits[keep, last).
std::size_t trimmed_length(const char* digits, std::size_t keep, std::size_t last) {
  while (last > keep && digits[last - 1] == '0') --last;
  return last;
}

// "E", sign, at least two digits.
char* put_real_exponent(char* out, int exponent) {
  *out++ = 'E';
  *out++ = exponent < 0 ? '-' : '+';
  const int magnitude = exponent < 0 ? -exponent : exponent;
  if (magnitude < 10) *out++ = '0';
  return std::to_chars(out, out + 4, magnitude).ptr;
}

}  // namespace

std::size_t put_real_item(double value, char* out) {
  char* const start = out;
  *out++ = ' ';
  if (!std::isfinite(value)) {
    const std::string_view text = non_finite_text(value);
    if (text[0] != '-') *out++ = ' ';
    return static_cast<std::size_t>(put(out, text) - start);
  }
  *out++ = value < 0 ? '-' : ' ';
  if (value == 0) return static_cast<std::size_t>(put(out, "0.") - start);

  const Significant s = significant_digits_reference(std::fabs(value), kRealDigits);
  char d[kRealDigits];
  put_digits_backward(d + kRealDigits, s.digits, kRealDigits);
  const int exponent = s.exponent - 1;    // of the d.dddddddd form
  if (exponent >= -4 && exponent <= 8) {  // positional
    if (exponent < 0) {
      out = put(out, "0.");
      out = put_fill(out, '0', static_cast<std::size_t>(-exponent - 1));
      out = put(out, {d, trimmed_length(d, 0, kRealDigits)});
    } else {
      const auto whole = static_cast<std::size_t>(exponent + 1);
      out = put(out, {d, whole});
      *out++ = '.';
      out = put(out, {d + whole, trimmed_length(d, whole, kRealDigits) - whole});
    }
  } else {
    *out++ = d[0];
    *out++ = '.';
    out = put(out, {d + 1, trimmed_length(d, 1, kRealDigits) - 1});
    out = put_real_exponent(out, exponent);
  }
  return static_cast<std::size_t>(out - start);
}

std::string real_item(double value) {
  char text[kRealItemCapacity];
  return {text, put_real_item(value, text)};
}

std::size_t integer_item_digits(int value) {
  const long long magnitude = value < 0 ? -static_cast<long long>(value) : value;
  return static_cast<std::size_t>(count_digits(static_cast<std::uint64_t>(magnitude)));
}

std::string integer_item(int value) {
  char text[13] = {' '};
  return {text, std::to_chars(text + 1, text + sizeof text, value).ptr};
}

char* put_fixed_field(char* out, double value, int width, int decimals) {
  std::uint64_t scaled = 0;
  const double magnitude = std::fabs(value);
  const bool quick = decimals >= 0 && decimals <= 15 &&
                     round_near_exact(magnitude * kExactPowersOfTen[static_cast<std::size_t>(decimals)], scaled);
  if (!quick && (!std::isfinite(value) || !fixed_scaled(magnitude, decimals, scaled))) {
    return put_fixed_from_text(out, value, width, decimals);
  }
  const bool negative = value < 0 && scaled != 0;
  // The time-history file's two row fields get code of their own.
  const Column column{width, decimals};
  if (column == kTimeColumn) return put_fixed_scaled<kTimeColumn.width, kTimeColumn.decimals>(out, scaled, negative);
  if (column == kValueColumn) return put_fixed_scaled<kValueColumn.width, kValueColumn.decimals>(out, scaled, negative);
  return put_fixed_scaled(out, scaled, negative, width, decimals);
}

char* put_exponent_field(char* out, double value, int width, int digits) {
  return put_exponent<true>(out, value, width, digits);
}

namespace {

// A field of `width` characters as a string, written by `put(out)`.
template <class Put>
std::string field_text(int width, Put put) {
  std::string text(static_cast<std::size_t>(width), ' ');
  put(text.data());
  return text;
}

}  // namespace

std::string fixed_field(double value, int width, int decimals) {
  return field_text(width, [&](char* out) { put_fixed_field(out, value, width, decimals); });
}

std::string exponent_field(double value, int width, int digits) {
  return field_text(width, [&](char* out) { put_exponent<true>(out, value, width, digits); });
}

std::string fixed_field_reference(double value, int width, int decimals) {
  return field_text(width, [&](char* out) { put_fixed_from_text(out, value, width, decimals); });
}

std::string exponent_field_reference(double value, int width, int digits) {
  return field_text(width, [&](char* out) { put_exponent<false>(out, value, width, digits); });
}

char* put_fixed_field(char* out, double value, Column column) {
  return put_fixed_field(out, value, column.width, column.decimals);
}

char* put_exponent_field(char* out, double value, Column column) {
  return put_exponent<true>(out, value, column.width, column.decimals);
}

}  // namespace slipvel::detail

namespace slipvel::text {

std::string fixed_field(double value, Column column) {
  return detail::fixed_field(value, column.width, column.decimals);
}

std::string exponent_field(double value, Column column) {
  return detail::exponent_field(value, column.width, column.decimals);
}

bool fits(double value, Column column) { return fixed_field(value, column).front() != '*'; }

std::string shortest(double value) {
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return {text, result.ptr};
}

}  // namespace slipvel::text
