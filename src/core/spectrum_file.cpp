#include "spectrum_file.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <stdexcept>

#include "fixed_forms.hpp"

#include "decimal.hpp"
#include "number_text.hpp"
#include "srf_sample.hpp"

namespace slipvel::detail {
namespace {

using text::kAmplitudeColumn;
using text::kFrequencyColumn;

constexpr auto kRowLength = static_cast<std::size_t>(kFrequencyColumn.width + 2 * (1 + kAmplitudeColumn.width));
// Rows formatted at a time into a buffer under 2 KB, which stays in the
// first-level cache and which the C library copies with vector moves.
constexpr std::size_t kChunkRows = 56;

// The amplitude column's fields, "  0.dddd" and "E±XX" for a value that reads
// 0.dddd·10^XX, the same text as put_exponent_field. Neighbouring rows mostly
// share a decade, so the writer keeps the last one: its bounds [low, high),
// the doubles nearest 10^e and 10^(e+1); the power of ten that brings its
// values to four digits; the exponent text of e + 1. A value in it costs one
// multiplication or division; other values set up their own decade.
//
// Why the four digits are right: scaled = value·10^(3−e) is one correctly
// rounded multiplication or division (10^|3−e| is exact), so within 2^-40 of
// the real product below 2^14, and away from a half-integer by more than
// 2^-32 both round to the same integer. The real decade of a value in [low,
// high) is e (no double lies between 10^(e+1) and a nearest double above it),
// or e − 1 for a value within an ulp below 10^e, whose four digits 9999.99...
// carry to 1000 at e + 1 as 999.99... rounds to 1000 here. A value rounding
// to 10000 (scaled from 9999.5) is left to put_exponent_field.
class AmplitudeWriter {
 public:
  char* put(char* out, double value) {
    if ((value >= low_ && value < high_) || enter_decade(value)) {
      const double scaled = scale_up_ ? value * power_ : value / power_;
      if (scaled >= 999.5 && scaled < 9999.5) {
        const auto truncated = static_cast<std::uint32_t>(scaled);
        const double fraction = scaled - static_cast<double>(truncated);  // exact
        if (std::fabs(fraction - 0.5) > 0x1p-32) {
          const std::uint32_t digits = truncated + (fraction > 0.5 ? 1 : 0);
          std::memcpy(out, "  0.", 4);
          std::memcpy(out + 4, &kDigitPairs[digits / 100 * 2], 2);
          std::memcpy(out + 6, &kDigitPairs[digits % 100 * 2], 2);
          std::memcpy(out + 8, exponent_text_, 4);
          return out + kAmplitudeColumn.width;
        }
      }
    }
    return put_exponent_field(out, value, kAmplitudeColumn);
  }

 private:
  // Takes the decade of a value from 1e-16 up to 1e15 (a few more than
  // amplitudes reach), false for any other: floor(log10(value)) estimated
  // from the binary exponent, which gives it or one less, and one more when
  // the value reaches the double nearest the next power of ten. The value
  // then lies in [low, high).
  bool enter_decade(double value) {
    if (!(value >= 1e-16 && value < 1e15)) return false;
    const int binary = static_cast<int>(std::bit_cast<std::uint64_t>(value) >> 52) - 1023;
    int e = (binary * 78913) >> 18;
    if (value >= kDecades[static_cast<std::size_t>(e + 17)]) ++e;
    low_ = kDecades[static_cast<std::size_t>(e + 16)];
    high_ = kDecades[static_cast<std::size_t>(e + 17)];
    scale_up_ = e <= 3;
    power_ = kExactPowersOfTen[static_cast<std::size_t>(scale_up_ ? 3 - e : e - 3)];
    const int exponent = e + 1;  // of the 0.dddd form, -15 to 15
    const int magnitude = exponent < 0 ? -exponent : exponent;
    exponent_text_[0] = 'E';
    exponent_text_[1] = exponent < 0 ? '-' : '+';
    std::memcpy(exponent_text_ + 2, &kDigitPairs[static_cast<std::size_t>(magnitude * 2)], 2);
    return true;
  }

  double low_ = 1, high_ = 0, power_ = 1;
  bool scale_up_ = true;
  char exponent_text_[4] = {'E', '+', '0', '0'};
};

// conj(z)·(dt, 0) written out as the full complex product.
std::complex<double> conjugate_scaled(std::complex<double> z, double dt) {
  const double re = z.real();
  const double im = -z.imag();
  return {re * dt - im * 0, re * 0 + im * dt};
}

}  // namespace

SpectrumGrid spectrum_grid(double dt, int nt, double pai) {
  const double dur = static_cast<double>(nt) * dt;
  const double dom = (pai + pai) / dur;
  const int nom = nt / 2;
  const double eom = static_cast<double>(nom) * dom;
  return {dur, dom, nom, eom};
}

double modulus(std::complex<double> z) {
  const double x = std::fabs(z.real());
  const double y = std::fabs(z.imag());
  const double p = std::max(x, y);
  const double q = std::min(x, y);
  if (q + p == p) return p;
  return p * std::sqrt(1 + (q / p) * (q / p));
}

void amplitude_rows(double dt, double pai, const SpectrumGrid& grid, std::span<std::complex<double>> svamp,
                    std::span<double> frequency, std::span<double> velocity, std::span<double> acceleration) {
  const int nom = grid.nyquist_index;
  const double dom = grid.angular_step;
  if (nom < 2) return;
  const auto rows = static_cast<std::size_t>(nom - 1);
  if (static_cast<std::size_t>(nom) > svamp.size() || frequency.size() < rows || velocity.size() < rows ||
      acceleration.size() < rows) {
    throw std::length_error("spectrum: more rows than the array holds");
  }
  for (int io = 2; io <= nom; ++io) {
    const double om = static_cast<double>(io - 1) * dom;
    std::complex<double>& value = svamp[static_cast<std::size_t>(io - 1)];
    value = conjugate_scaled(value, dt);
    const double amplitude = modulus(value);
    const auto row = static_cast<std::size_t>(io - 2);
    frequency[row] = om / (pai + pai);
    velocity[row] = amplitude;
    acceleration[row] = amplitude * om;
  }
}

std::string spectrum_file_text(std::span<const double> frequency, std::span<const double> velocity,
                               std::span<const double> acceleration) {
  const std::size_t rows = frequency.size();
  if (velocity.size() < rows || acceleration.size() < rows) {
    throw std::length_error("spectrum: more rows than the array holds");
  }
  std::string file = text::free_line({"freq(Hz),abs(vel),abs(acc)"});
  file.reserve(file.size() + rows * (kRowLength + 1));
  // The rows go through a buffer of a few dozen, appended to the file: making
  // the file's room with resize would first fill it with zeros.
  char chunk[kChunkRows * (kRowLength + 1)];
  AmplitudeWriter velocity_field, acceleration_field;
  for (std::size_t row = 0; row < rows;) {
    char* out = chunk;
    for (const std::size_t end = std::min(rows, row + kChunkRows); row < end; ++row) {
      out = detail::put_fixed_row_field<kFrequencyColumn.width, kFrequencyColumn.decimals>(out, frequency[row]);
      *out++ = detail::kSeparator;
      out = velocity_field.put(out, velocity[row]);
      *out++ = detail::kSeparator;
      out = acceleration_field.put(out, acceleration[row]);
      *out++ = detail::kLineEnd;
    }
    file.append(chunk, static_cast<std::size_t>(out - chunk));
  }
  return file;
}

}  // namespace slipvel::detail
