#include "textio/forms.hpp"

#include <charconv>
#include <cmath>
#include <cstring>
#include <string_view>

#include "textio/decimal.hpp"

namespace slipvel::textio {
namespace {

constexpr int kRealDigits = 9;

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

// Right-aligned in the field, or asterisks when it is too long.
char* put_right_aligned(char* out, std::string_view text, int width) {
  const auto w = static_cast<std::size_t>(width);
  if (text.size() > w) return put_fill(out, '*', w);
  return put(put_fill(out, ' ', w - text.size()), text);
}

// Drops trailing zeros of the digits [first, last) after position `keep`.
std::size_t trimmed_length(const char* digits, std::size_t keep, std::size_t last) {
  while (last > keep && digits[last - 1] == '0') --last;
  return last;
}

// Exponent of a free-form real: "E", sign, at least two digits.
char* put_real_exponent(char* out, int exponent) {
  *out++ = 'E';
  *out++ = exponent < 0 ? '-' : '+';
  const int magnitude = exponent < 0 ? -exponent : exponent;
  if (magnitude < 10) *out++ = '0';
  return std::to_chars(out, out + 4, magnitude).ptr;
}

// Exponent part of an exponent field, always four characters: E+XX, or the
// sign and three digits when the exponent needs them.
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
  *out++ = static_cast<char>('0' + magnitude / 10 % 10);
  *out++ = static_cast<char>('0' + magnitude % 10);
  return out;
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
  *out++ = std::signbit(value) && value != 0 ? '-' : ' ';
  if (value == 0) return static_cast<std::size_t>(put(out, "0.") - start);

  const Significant s = significant_digits(std::fabs(value), kRealDigits);
  const char* d = s.digits.data();
  const int exponent = s.exponent - 1;  // of the d.dddddddd form
  if (exponent >= -4 && exponent <= 8) {
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
  char text[12];
  const long long magnitude = value < 0 ? -static_cast<long long>(value) : value;
  return static_cast<std::size_t>(std::to_chars(text, text + sizeof text, magnitude).ptr - text);
}

std::string integer_item(int value) {
  char text[13] = {' '};
  return {text, std::to_chars(text + 1, text + sizeof text, value).ptr};
}

char* put_fixed_field(char* out, double value, int width, int decimals) {
  if (!std::isfinite(value)) return put_right_aligned(out, non_finite_text(value), width);
  char text[kFixedTextCapacity + 1];
  char* const digits = text + 1;  // room for the sign in front
  const std::size_t length = fixed_decimal(std::fabs(value), decimals, digits);
  // A minus sign never stands before an all-zero text (nor for -0).
  const bool negative =
      value < 0 && std::string_view(digits, length).find_first_not_of("0.") != std::string_view::npos;
  std::string_view body(digits, length);
  if (negative) {
    text[0] = '-';
    body = {text, length + 1};
  }
  const auto w = static_cast<std::size_t>(width);
  if (body.size() == w + 1 && digits[0] == '0') {  // "0.xxx" fits without its 0
    if (negative) digits[0] = '-';
    return put(out, body.substr(1));
  }
  return put_right_aligned(out, body, width);
}

char* put_exponent_field(char* out, double value, int width, int digits) {
  if (!std::isfinite(value)) return put_right_aligned(out, non_finite_text(value), width);
  const bool negative = value < 0;
  Significant s{};
  if (value == 0) {
    std::memset(s.digits.data(), '0', static_cast<std::size_t>(digits));
    s.exponent = 0;
  } else {
    s = significant_digits(std::fabs(value), digits);
  }
  const int needed = digits + 5 + (negative ? 1 : 0);
  if (width < needed) return put_fill(out, '*', static_cast<std::size_t>(width));
  if (width > needed) {
    out = put_fill(out, ' ', static_cast<std::size_t>(width - needed - 1));
    if (negative) *out++ = '-';
    *out++ = '0';
  } else if (negative) {
    *out++ = '-';
  }
  *out++ = '.';
  out = put(out, {s.digits.data(), static_cast<std::size_t>(digits)});
  return put_field_exponent(out, s.exponent);
}

std::string fixed_field(double value, int width, int decimals) {
  std::string text(static_cast<std::size_t>(width), ' ');
  put_fixed_field(text.data(), value, width, decimals);
  return text;
}

std::string exponent_field(double value, int width, int digits) {
  std::string text(static_cast<std::size_t>(width), ' ');
  put_exponent_field(text.data(), value, width, digits);
  return text;
}

}  // namespace slipvel::textio
