// Zero-mean, unit-variance Gaussian random fields with a von Kármán spectrum
// on a regular grid over the unfolded fault (u along strike, d down dip, km),
// the heterogeneity of stochastic slip (and rake): white noise filtered in
// the wavenumber domain, one reproducible field per (seed, realisation,
// purpose).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "random.hpp"

namespace slipvel::rupture::detail {

// The power spectrum P(k) ∝ (1 + kx²·ax² + kz²·az²)^−(H+1), k the angular
// wavenumber (rad/km) along strike (x) and down dip (z). Along a line the
// spectrum falls as k^−(2H+1) beyond the corner k = 1/a; H = 1 is the k⁻²
// model of slip.
struct VonKarman {
  double ax;     // correlation length along strike (km), finite and > 0
  double az;     // correlation length down dip (km), finite and > 0
  double hurst;  // H, in (0, 1]
};

// The von Kármán fit of finite-fault slip models against moment magnitude
// (Mai & Beroza 2002, JGR 107(B11), 2308): log10 ax = 0.5·Mw − 2.5,
// log10 az = 0.33·Mw − 1.5 (km), H = 0.75. Throws std::invalid_argument for
// an Mw that is not finite.
VonKarman von_karman_for_magnitude(double mw);

// Nodes (u0 + i·du, d0 + j·dd), i < nu along strike and j < nd down dip (km).
// Each node stands for the cell of one spacing centred on it, so the grid
// covers [u0 − du/2, u0 + (nu − ½)·du] × [d0 − dd/2, d0 + (nd − ½)·dd].
struct FieldGrid {
  double u0, d0;       // km, finite
  double du, dd;       // km, finite and > 0
  std::size_t nu, nd;  // ≥ 1
};

// The least grid with a node at (u_anchor, d_anchor) + whole spacings whose
// cells cover the fault [0, length] × [0, width] (km); the outer cells reach
// less than a spacing past its edges. A fault edge within 1e-9 of a spacing
// of a cell's edge counts as on it, so a fault of subfaults one spacing long,
// anchored at a subfault's centre, has a node at every subfault centre and no
// more. The anchor may lie off the fault. Throws std::invalid_argument for a length,
// width or spacing that is not finite and > 0, an anchor that is not finite,
// or more than kMostPaddedNodes nodes along either axis.
FieldGrid grid_covering(double length, double width, double u_anchor, double d_anchor, double du, double dd);

// A grid whose noise, padded, would have more nodes than this is refused:
// the synthesis needs 16 bytes a padded node while it runs (256 MiB here).
inline constexpr std::size_t kMostPaddedNodes = std::size_t{1} << 24;

// What is wrong with synthesising over `grid` with `spectrum`, one sentence
// each; empty when FieldSynthesis(grid, spectrum) succeeds. Never throws
// (but std::bad_alloc).
std::vector<std::string> field_problems(const FieldGrid& grid, const VonKarman& spectrum);

// One realisation of the field at the nodes of its grid.
class RandomField {
 public:
  const FieldGrid& grid() const { return grid_; }

  // The value at node (i, j), i < nu, j < nd.
  double node(std::size_t i, std::size_t j) const { return values_[j * grid_.nu + i]; }

  // The value at (u, d) (km) in the area the grid covers: the node's own
  // value at a node (a place within 1e-9 of a spacing of one, each way, is
  // taken as on it), bilinear between the four nodes around it elsewhere.
  // Beyond the outer nodes (within half a spacing, at the fault's edges) the
  // place is clamped onto them. Throws std::invalid_argument for a place
  // outside the area or not finite.
  double at(double u, double d) const;

  // Every node's value, row by row down dip: (i, j) at j·nu + i.
  const std::vector<double>& values() const { return values_; }

 private:
  friend class FieldSynthesis;
  RandomField(const FieldGrid& grid, std::vector<double> values) : grid_(grid), values_(std::move(values)) {}

  FieldGrid grid_;
  std::vector<double> values_;
};

// The discrete Fourier transform of one power-of-two size n, radix 2 and in
// place: X_k = Σ_j x_j·e^(∓2πi·jk/n), − forward and + inverse, with no 1/n
// either way. The twiddles are computed once, from std::numbers::pi.
class RadixTwoFft {
 public:
  struct Complex {
    double re, im;
  };

  // Throws std::invalid_argument unless n is a power of two (1 included).
  explicit RadixTwoFft(std::size_t n);

  std::size_t size() const { return reversed_.size(); }
  // x holds size() values.
  void forward(Complex* x) const { transform(x, false); }
  void inverse(Complex* x) const { transform(x, true); }

 private:
  void transform(Complex* x, bool inverse) const;

  std::vector<std::size_t> reversed_;  // each index with its bits reversed
  std::vector<Complex> twiddle_;       // e^(−2πi·k/n), k < n/2
};

// The filter and transforms of one grid and spectrum, made once, from which
// each realisation is synthesised:
//  - each axis of n nodes and correlation length a (along it) is padded to
//    the next power of two ≥ n + max(n, 2a/spacing), so that the periodic
//    wrap of the transform leaves opposite edges of the grid uncorrelated;
//  - white noise: standard normal deviates of the stream (seed, realisation,
//    purpose), filling the padded grid row by row down dip (along strike
//    within a row), from its node (0, 0) at the grid's node (0, 0);
//  - the noise's 2-D discrete Fourier transform (rows, then columns), times
//    the real filter c·P(k)^½ at the padded grid's wavenumbers 2π·m/(N·spacing),
//    |m| ≤ N/2 each way (0 at k = 0), transformed back (columns, then the
//    grid's rows); the real part at the grid's nodes (the filter is even, so
//    the imaginary part is rounding alone);
//  - c makes the field's variance exactly 1 in theory: with the inverse
//    transform's 1/N, var g = Σ_k filter² / N for unit-variance noise. No
//    realisation is rescaled.
// The field is stationary, periodic over the padded grid. Leaving k = 0 out
// makes the padded grid's mean 0, which anticorrelates far nodes by about
// 4πH·ax·az over the padded area. Memory: the filter, 8 bytes per padded
// node over 4; while realising, 16 bytes per padded node.
// The same (grid, spectrum, seed, realisation, purpose) gives the same bits
// wherever the C library's log, pow, cos and sin are the same.
class FieldSynthesis {
 public:
  // Throws std::invalid_argument, saying what field_problems says, when that
  // is not empty.
  FieldSynthesis(const FieldGrid& grid, const VonKarman& spectrum);

  // One realisation; any number may be made at once from different threads.
  // Throws std::invalid_argument for a seed above kMostSeed or a realisation
  // above kMostRealisation. Takes a few milliseconds for 100 × 100 nodes.
  RandomField realise(std::uint64_t seed, std::uint64_t realisation, Purpose purpose) const;

  const FieldGrid& grid() const { return grid_; }
  // Nodes of the padded noise along strike and down dip.
  std::size_t padded_nu() const { return along_u_.size(); }
  std::size_t padded_nd() const { return along_d_.size(); }

 private:
  double filter(std::size_t i, std::size_t j) const;

  FieldGrid grid_;
  RadixTwoFft along_u_, along_d_;
  // c·P^½/N by the distances min(i, N − i) and min(j, N − j) of the
  // wavenumber indices from 0, padded_nu/2 + 1 a row.
  std::vector<double> filter_;
};

}  // namespace slipvel::rupture::detail
