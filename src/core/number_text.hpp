// The number texts' workings behind <slipvel/text.hpp>: fields written in
// place, fields of any width, the free-form items, the SRF samples, and the
// reference forms the fast ones are tested against.
#pragma once

#include <cstddef>
#include <string>

#include <slipvel/text.hpp>

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

}  // namespace slipvel::detail
