// The radix-2 transform as dwvfast computed it before its loops were
// restructured for speed: bit reversal by exchanges, then one pass through the
// array per stage, every factor from the last stage's cos and sin. The tests
// (and bench/transform_compare.cpp) hold the fast form to these bits.
#pragma once

#include <cmath>
#include <complex>
#include <cstddef>
#include <span>
#include <utility>
#include <vector>

namespace slipvel::reference {

struct Twiddle {
  double re, im;
};

inline Twiddle twiddle(int k, int kmax, int ind, double pai) {
  const double angle = static_cast<double>((k - 1) * ind) * pai / static_cast<double>(kmax);
  return {std::cos(angle), std::sin(angle)};
}

// The last stage's factors, (cos, sin) of the angles (k − 1)·ind·pai/(n/2).
inline std::vector<Twiddle> last_stage_twiddles(int n, int ind, double pai) {
  const int kmax = n / 2;
  std::vector<Twiddle> factors(static_cast<std::size_t>(kmax));
  for (int k = 1; k <= kmax; ++k) factors[static_cast<std::size_t>(k - 1)] = twiddle(k, kmax, ind, pai);
  return factors;
}

inline void bit_reverse(int n, std::span<std::complex<double>> a) {
  int j = 1;
  for (int i = 1; i <= n; ++i) {
    if (i < j) std::swap(a[static_cast<std::size_t>(i - 1)], a[static_cast<std::size_t>(j - 1)]);
    int m = n / 2;
    while (j > m) {
      j = j - m;
      m = m / 2;
      if (m < 2) break;
    }
    j = j + m;
  }
}

inline void butterfly(std::complex<double>& lower, std::complex<double>& upper, Twiddle w) {
  const double tr = upper.real() * w.re - upper.imag() * w.im;
  const double ti = upper.real() * w.im + upper.imag() * w.re;
  upper = {lower.real() - tr, lower.imag() - ti};
  lower = {lower.real() + tr, lower.imag() + ti};
}

inline void butterfly_stage(int n, std::span<std::complex<double>> a, int kmax, std::span<const Twiddle> factors) {
  constexpr int kGroup = 4;
  const int istep = 2 * kmax;
  const int group = kmax < kGroup ? 1 : kGroup;
  const auto stride = static_cast<std::size_t>(n / 2 / kmax);
  for (int k = 1; k <= kmax; k += group) {
    Twiddle w[kGroup];
    for (int g = 0; g < group; ++g) w[g] = factors[static_cast<std::size_t>(k - 1 + g) * stride];
    for (int i = k; i <= n; i += istep) {
      for (int g = 0; g < group; ++g) {
        const auto lower = static_cast<std::size_t>(i - 1 + g);
        butterfly(a[lower], a[lower + static_cast<std::size_t>(kmax)], w[g]);
      }
    }
  }
}

// a[0..n) transformed in place, n a power of two from 1 up; `factors` from
// last_stage_twiddles(n, ind, pai) (unused for n = 1).
inline void transform(int n, std::span<std::complex<double>> a, std::span<const Twiddle> factors) {
  bit_reverse(n, a);
  for (int kmax = 1; kmax < n; kmax *= 2) butterfly_stage(n, a, kmax, factors);
}

}  // namespace slipvel::reference
