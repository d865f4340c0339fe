#include "spectrum_file.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include <slipvel/text.hpp>

#include "number_text.hpp"

namespace slipvel::detail {
namespace {

using text::kAmplitudeColumn;
using text::kFrequencyColumn;

constexpr auto kRowLength = static_cast<std::size_t>(kFrequencyColumn.width + 2 * (1 + kAmplitudeColumn.width));

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
  const std::size_t header = file.size();
  file.resize(header + rows * (kRowLength + 1));
  char* out = file.data() + header;
  for (std::size_t row = 0; row < rows; ++row) {
    out = detail::put_fixed_row_field<kFrequencyColumn.width, kFrequencyColumn.decimals>(out, frequency[row]);
    *out++ = detail::kSeparator;
    out = detail::put_exponent_field(out, velocity[row], kAmplitudeColumn);
    *out++ = detail::kSeparator;
    out = detail::put_exponent_field(out, acceleration[row], kAmplitudeColumn);
    *out++ = detail::kLineEnd;
  }
  return file;
}

}  // namespace slipvel::detail
