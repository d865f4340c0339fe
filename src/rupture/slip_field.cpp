#include "slip_field.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <numbers>
#include <stdexcept>

#include <slipvel/text.hpp>

namespace slipvel::rupture::detail {
namespace {

using Complex = RadixTwoFft::Complex;
using text::shortest;

// A place within this fraction of a spacing of a node, or of the covered
// area's edge, is taken as on it: rounding in u = u0 + i·du is far smaller.
constexpr double kSlack = 1e-9;

bool finite_positive(double x) { return std::isfinite(x) && x > 0; }

// The padded length of an axis of n nodes with correlation length a along it:
// the next power of two ≥ n + max(n, 2a/spacing); 0 beyond kMostPaddedNodes.
std::size_t padded_length(std::size_t n, double a, double spacing) {
  const double wanted = static_cast<double>(n) + std::max(static_cast<double>(n), 2 * a / spacing);
  if (!(wanted <= static_cast<double>(kMostPaddedNodes))) return 0;
  std::size_t length = 1;
  while (static_cast<double>(length) < wanted) length *= 2;
  return length;
}

const FieldGrid& checked(const FieldGrid& grid, const VonKarman& spectrum) {
  const std::vector<std::string> problems = field_problems(grid, spectrum);
  if (problems.empty()) return grid;
  std::string message = "random field: " + problems.front();
  for (std::size_t k = 1; k < problems.size(); ++k) message += "; " + problems[k];
  throw std::invalid_argument(message);
}

// Along one axis of the fault [0, extent]: the first node of the least run
// anchor + k·spacing whose cells cover it, and the run's length.
std::pair<double, std::size_t> cover(double extent, double anchor, double spacing, const char* axis) {
  const double first = std::floor(-anchor / spacing - 0.5 + kSlack) + 1;
  const double last = std::max(first, std::ceil((extent - anchor) / spacing + 0.5 - kSlack) - 1);
  const double count = last - first + 1;
  if (!(count <= static_cast<double>(kMostPaddedNodes))) {
    throw std::invalid_argument(std::string("random field: more than ") + std::to_string(kMostPaddedNodes) + " nodes " +
                                axis + " (the fault's " + shortest(extent) + " km at " + shortest(spacing) + " km)");
  }
  return {anchor + first * spacing, static_cast<std::size_t>(count)};
}

// The fractional node index of `place` along one axis, clamped onto the
// outer nodes and snapped onto a node within kSlack of it.
double node_index(double place, double first, double spacing, std::size_t n, const char* axis) {
  const double x = (place - first) / spacing;
  const double last = static_cast<double>(n - 1);
  if (!(x >= -0.5 - kSlack && x <= last + 0.5 + kSlack)) {
    throw std::invalid_argument(std::string("random field: ") + shortest(place) + " km " + axis +
                                " lies outside the grid's area");
  }
  const double nearest = std::round(x);
  return std::clamp(std::abs(x - nearest) <= kSlack ? nearest : x, 0.0, last);
}

// The node before a fractional index, below the last, and the fraction past it.
std::pair<std::size_t, double> cell_of(double x, std::size_t n) {
  if (n == 1) return {0, 0.0};
  const std::size_t i = std::min(static_cast<std::size_t>(x), n - 2);
  return {i, x - static_cast<double>(i)};
}

}  // namespace

VonKarman von_karman_for_magnitude(double mw) {
  if (!std::isfinite(mw)) throw std::invalid_argument("random field: the magnitude is not finite");
  return {std::pow(10.0, 0.5 * mw - 2.5), std::pow(10.0, 0.33 * mw - 1.5), 0.75};
}

FieldGrid grid_covering(double length, double width, double u_anchor, double d_anchor, double du, double dd) {
  if (!finite_positive(length) || !finite_positive(width)) {
    throw std::invalid_argument("random field: the fault's length and width must be finite and > 0 km");
  }
  if (!finite_positive(du) || !finite_positive(dd)) {
    throw std::invalid_argument("random field: the grid's spacings must be finite and > 0 km");
  }
  if (!std::isfinite(u_anchor) || !std::isfinite(d_anchor)) {
    throw std::invalid_argument("random field: the grid's anchor node is not finite");
  }
  const auto [u0, nu] = cover(length, u_anchor, du, "along strike");
  const auto [d0, nd] = cover(width, d_anchor, dd, "down dip");
  return {u0, d0, du, dd, nu, nd};
}

std::vector<std::string> field_problems(const FieldGrid& grid, const VonKarman& spectrum) {
  std::vector<std::string> found;
  const auto need = [&found](bool holds, std::string problem) {
    if (!holds) found.push_back(std::move(problem));
  };
  need(std::isfinite(grid.u0) && std::isfinite(grid.d0),
       "the grid's first node (" + shortest(grid.u0) + ", " + shortest(grid.d0) + ") km is not finite");
  need(finite_positive(grid.du), "the grid's spacing along strike must be finite and > 0 km, not " + shortest(grid.du));
  need(finite_positive(grid.dd), "the grid's spacing down dip must be finite and > 0 km, not " + shortest(grid.dd));
  need(grid.nu >= 1 && grid.nd >= 1,
       "the grid needs a node each way at least, not " + std::to_string(grid.nu) + " x " + std::to_string(grid.nd));
  need(finite_positive(spectrum.ax),
       "the correlation length along strike ax must be finite and > 0 km, not " + shortest(spectrum.ax));
  need(finite_positive(spectrum.az),
       "the correlation length down dip az must be finite and > 0 km, not " + shortest(spectrum.az));
  need(spectrum.hurst > 0 && spectrum.hurst <= 1,
       "the Hurst exponent H must lie in (0, 1], not " + shortest(spectrum.hurst));
  if (!found.empty()) return found;
  const std::size_t nu = padded_length(grid.nu, spectrum.ax, grid.du);
  const std::size_t nd = padded_length(grid.nd, spectrum.az, grid.dd);
  need(nu != 0 && nd != 0 && nu <= kMostPaddedNodes / nd,
       "the grid of " + std::to_string(grid.nu) + " x " + std::to_string(grid.nd) +
           " nodes, padded each way to a power of two >= n + max(n, 2 x correlation length / spacing), would have "
           "more than " +
           std::to_string(kMostPaddedNodes) + " nodes: fewer nodes, longer spacings or shorter correlation lengths");
  return found;
}

double RandomField::at(double u, double d) const {
  const auto [i, fx] = cell_of(node_index(u, grid_.u0, grid_.du, grid_.nu, "along strike"), grid_.nu);
  const auto [j, fy] = cell_of(node_index(d, grid_.d0, grid_.dd, grid_.nd, "down dip"), grid_.nd);
  const std::size_t i1 = std::min(i + 1, grid_.nu - 1), j1 = std::min(j + 1, grid_.nd - 1);
  // Weights 1 and 0 on a node give its value exactly.
  const double upper = (1 - fx) * node(i, j) + fx * node(i1, j);
  const double lower = (1 - fx) * node(i, j1) + fx * node(i1, j1);
  return (1 - fy) * upper + fy * lower;
}

RadixTwoFft::RadixTwoFft(std::size_t n) {
  if (!std::has_single_bit(n)) {
    throw std::invalid_argument("RadixTwoFft: the size must be a power of two, not " + std::to_string(n));
  }
  const int bits = std::countr_zero(n);
  reversed_.resize(n);
  for (std::size_t i = 0; i < n; ++i) {
    std::size_t r = 0;
    for (int b = 0; b < bits; ++b) r |= ((i >> b) & 1) << (bits - 1 - b);
    reversed_[i] = r;
  }
  twiddle_.resize(n / 2);
  for (std::size_t k = 0; k < n / 2; ++k) {
    const double angle = 2 * std::numbers::pi * static_cast<double>(k) / static_cast<double>(n);
    twiddle_[k] = {std::cos(angle), -std::sin(angle)};
  }
}

// Iterative decimation in time: the bit-reversed order, then butterflies of
// spans 2, 4, ..., n, the twiddles conjugated for the inverse.
void RadixTwoFft::transform(Complex* x, bool inverse) const {
  const std::size_t n = size();
  for (std::size_t i = 0; i < n; ++i) {
    if (i < reversed_[i]) std::swap(x[i], x[reversed_[i]]);
  }
  const double sign = inverse ? -1 : 1;
  for (std::size_t half = 1; half < n; half *= 2) {
    const std::size_t step = n / (2 * half);
    for (std::size_t start = 0; start < n; start += 2 * half) {
      for (std::size_t k = 0; k < half; ++k) {
        const Complex w = twiddle_[k * step];
        const double w_im = sign * w.im;
        Complex& a = x[start + k];
        Complex& b = x[start + k + half];
        const double t_re = b.re * w.re - b.im * w_im;
        const double t_im = b.re * w_im + b.im * w.re;
        b = {a.re - t_re, a.im - t_im};
        a = {a.re + t_re, a.im + t_im};
      }
    }
  }
}

FieldSynthesis::FieldSynthesis(const FieldGrid& grid, const VonKarman& spectrum)
    : grid_(checked(grid, spectrum)),
      along_u_(padded_length(grid.nu, spectrum.ax, grid.du)),
      along_d_(padded_length(grid.nd, spectrum.az, grid.dd)) {
  const std::size_t nu = padded_nu(), nd = padded_nd(), row = nu / 2 + 1;
  const double ku = 2 * std::numbers::pi / (static_cast<double>(nu) * grid.du);  // rad/km per index
  const double kd = 2 * std::numbers::pi / (static_cast<double>(nd) * grid.dd);
  const double exponent = -(spectrum.hurst + 1) / 2;
  filter_.resize(row * (nd / 2 + 1));
  // Σ_k P (the filter squared) over the whole padded grid: folded indices other than 0 and N/2 stand for two
  // wavenumbers.
  double sum = 0;
  for (std::size_t j = 0; j <= nd / 2; ++j) {
    for (std::size_t i = 0; i < row; ++i) {
      if (i == 0 && j == 0) continue;
      const double x = static_cast<double>(i) * ku * spectrum.ax, z = static_cast<double>(j) * kd * spectrum.az;
      const double f = std::pow(1 + x * x + z * z, exponent);
      filter_[j * row + i] = f;
      sum += (i == 0 || i == nu / 2 ? 1 : 2) * (j == 0 || j == nd / 2 ? 1 : 2) * f * f;
    }
  }
  // Σ (c·P^½)² / N = 1; the inverse transform's 1/N, a power of two, folded in exactly.
  const double n = static_cast<double>(nu) * static_cast<double>(nd);
  const double scale = std::sqrt(n / sum) / n;
  for (double& f : filter_) f *= scale;
}

double FieldSynthesis::filter(std::size_t i, std::size_t j) const {
  const std::size_t nu = padded_nu(), nd = padded_nd();
  return filter_[std::min(j, nd - j) * (nu / 2 + 1) + std::min(i, nu - i)];
}

RandomField FieldSynthesis::realise(std::uint64_t seed, std::uint64_t realisation, Purpose purpose) const {
  Stream noise(seed, realisation, purpose);
  const std::size_t nu = padded_nu(), nd = padded_nd();
  std::vector<Complex> work(nu * nd);
  for (Complex& c : work) c = {noise.normal(), 0};
  for (std::size_t j = 0; j < nd; ++j) along_u_.forward(&work[j * nu]);
  // Each column down dip forward, filtered and back at once; only the grid's rows are kept.
  std::vector<Complex> column(nd);
  for (std::size_t i = 0; i < nu; ++i) {
    for (std::size_t j = 0; j < nd; ++j) column[j] = work[j * nu + i];
    along_d_.forward(column.data());
    for (std::size_t j = 0; j < nd; ++j) {
      const double f = filter(i, j);
      column[j] = {column[j].re * f, column[j].im * f};
    }
    along_d_.inverse(column.data());
    for (std::size_t j = 0; j < grid_.nd; ++j) work[j * nu + i] = column[j];
  }
  std::vector<double> values(grid_.nu * grid_.nd);
  for (std::size_t j = 0; j < grid_.nd; ++j) {
    along_u_.inverse(&work[j * nu]);
    for (std::size_t i = 0; i < grid_.nu; ++i) values[j * grid_.nu + i] = work[j * nu + i].re;
  }
  return RandomField(grid_, std::move(values));
}

}  // namespace slipvel::rupture::detail
