#include "output/fourier_amplitudes.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <vector>

#include "fft/dwvfast.hpp"
#include "textio/forms.hpp"
#include "textio/free_line.hpp"

namespace slipvel::output {
namespace {

constexpr std::size_t kRowLength = 8 + 2 * (1 + 12);

// The report divides by this literal, not by pai + pai.
constexpr double kTwoPiReported = 6.283185307;

// conj(z)·(dt, 0) written out as the full complex product.
std::complex<double> conjugate_scaled(std::complex<double> z, double dt) {
  const double re = z.real();
  const double im = -z.imag();
  return {re * dt - im * 0, re * 0 + im * dt};
}

}  // namespace

SpectrumGrid spectrum_grid(double dt, int nt, double pai) {
  SpectrumGrid grid{};
  grid.dur = static_cast<double>(nt) * dt;
  grid.dom = (pai + pai) / grid.dur;
  grid.nom = nt / 2;
  grid.eom = static_cast<double>(grid.nom) * grid.dom;
  return grid;
}

std::string spectrum_report(const SpectrumGrid& grid, int nfast, int mom) {
  std::string text = textio::free_line({});
  textio::append_free_line(text, {" DUR,DOM,NOM,EOM=", grid.dur, grid.dom, grid.nom, grid.eom});
  textio::append_free_line(text, {" Highest Frequency (hz)=", grid.eom / kTwoPiReported});
  if (nfast > mom - 1) textio::append_free_line(text, {"from Ramp: nfast > MOM !", nfast, mom});
  return text;
}

double modulus(std::complex<double> z) {
  const double x = std::fabs(z.real());
  const double y = std::fabs(z.imag());
  const double p = std::max(x, y);
  const double q = std::min(x, y);
  if (q + p == p) return p;
  return p * std::sqrt(1 + (q / p) * (q / p));
}

void spectrum_rows(double dt, double pai, const SpectrumGrid& grid, std::span<std::complex<double>> svamp,
                   std::span<double> frequency, std::span<double> velocity, std::span<double> acceleration) {
  if (grid.nom < 2) return;
  const auto rows = static_cast<std::size_t>(grid.nom - 1);
  if (static_cast<std::size_t>(grid.nom) > svamp.size() || frequency.size() < rows || velocity.size() < rows ||
      acceleration.size() < rows) {
    throw std::length_error("spectrum: more rows than the array holds");
  }
  for (int io = 2; io <= grid.nom; ++io) {
    const double om = static_cast<double>(io - 1) * grid.dom;
    std::complex<double>& value = svamp[static_cast<std::size_t>(io - 1)];
    value = conjugate_scaled(value, dt);
    const double amplitude = modulus(value);
    const auto row = static_cast<std::size_t>(io - 2);
    frequency[row] = om / (pai + pai);
    velocity[row] = amplitude;
    acceleration[row] = amplitude * om;
  }
}

std::string spectrum_rows_text(std::span<const double> frequency, std::span<const double> velocity,
                               std::span<const double> acceleration) {
  const std::size_t rows = frequency.size();
  if (velocity.size() < rows || acceleration.size() < rows) {
    throw std::length_error("spectrum: more rows than the array holds");
  }
  std::string text = textio::free_line({"freq(Hz),abs(vel),abs(acc)"});
  const std::size_t header = text.size();
  text.resize(header + rows * (kRowLength + 1));
  char* out = text.data() + header;
  for (std::size_t row = 0; row < rows; ++row) {
    out = textio::put_fixed_field(out, frequency[row], 8, 4);
    *out++ = ',';
    out = textio::put_exponent_field(out, velocity[row], 12, 4);
    *out++ = ',';
    out = textio::put_exponent_field(out, acceleration[row], 12, 4);
    *out++ = textio::kLineEnd;
  }
  return text;
}

std::string spectrum_text(double dt, double pai, const SpectrumGrid& grid,
                          std::span<std::complex<double>> svamp) {
  const std::size_t rows = grid.nom > 1 ? static_cast<std::size_t>(grid.nom - 1) : 0;
  std::vector<double> frequency(rows), velocity(rows), acceleration(rows);
  spectrum_rows(dt, pai, grid, svamp, frequency, velocity, acceleration);
  return spectrum_rows_text(frequency, velocity, acceleration);
}

void spectrum_stage(double dt, int nt, double pai, std::span<const double> svwave,
                    std::span<std::complex<double>> svamp, textio::Sink& out) {
  const SpectrumGrid grid = spectrum_grid(dt, nt, pai);
  const int mom = static_cast<int>(svamp.size());
  const int nfast = nt;
  out.print(spectrum_report(grid, nfast, mom));

  if (nfast > mom || static_cast<std::size_t>(std::max(nt, 0)) > svwave.size()) {
    throw std::length_error("spectrum: transform longer than the arrays");
  }
  for (int i = 0; i < nt; ++i) svamp[static_cast<std::size_t>(i)] = {svwave[static_cast<std::size_t>(i)], 0};
  fft::dwvfast(nfast, svamp, mom, -1);

  out.store(textio::kSpectrumFile, spectrum_text(dt, pai, grid, svamp));
}

}  // namespace slipvel::output
