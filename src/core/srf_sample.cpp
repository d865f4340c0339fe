#include "srf_sample.hpp"

#include <cstdio>

namespace slipvel::detail {
namespace {

// printf's "%13.5e" of `value`, for any value.
char* put_srf_sample_by_printf(char* out, double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%13.5e", value);
  std::memcpy(out, text, kSrfSampleWidth);
  return out + kSrfSampleWidth;
}

}  // namespace

char* put_srf_sample_slowly(char* out, double value) {
  if (value == 0 && !std::signbit(value)) {
    std::memcpy(out, "  0.00000e+00", kSrfSampleWidth);
    return out + kSrfSampleWidth;
  }
  const double magnitude = std::fabs(value);
  Significant s{0, 0};
  if (!(magnitude >= 1e-16 && magnitude < 1e15) || !significant_digits(magnitude, 6, s)) {
    return put_srf_sample_by_printf(out, value);
  }
  put_sample_digits(out, value < 0, static_cast<std::uint32_t>(s.digits), s.exponent - 1);
  return out + kSrfSampleWidth;
}

char* put_srf_sample(char* out, double value) {
  const double magnitude = std::fabs(value);
  std::uint32_t digits = 0;
  int exponent = 0;
  if (!(magnitude >= 1e-16 && magnitude < 1e15) || !six_digits(magnitude, digits, exponent)) {
    return put_srf_sample_slowly(out, value);
  }
  put_sample_digits(out, value < 0, digits, exponent);
  return out + kSrfSampleWidth;
}

char* put_srf_samples(char* out, const double* values, std::size_t count, std::size_t per_line) {
  return put_sample_lines(out, count, per_line, [&values] { return *values++; });
}

}  // namespace slipvel::detail
