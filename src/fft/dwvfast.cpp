#include "fft/dwvfast.hpp"

#include <cmath>
#include <stdexcept>
#include <utility>

namespace slipvel::fft {
namespace {

// Moves every element to its bit-reversed position. j is the 1-based partner
// of the 1-based i; the carry loop stops at a bit weight below 2, which gives
// the same exchanges as running it down to 1.
void bit_reverse(int n, std::span<std::complex<double>> a) {
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

// One stage of butterflies with half-span kmax. The twiddle factor depends on
// k alone, so it is computed once per k; w = exp(i·angle) is (cos, sin) since
// exp(0) is exactly 1.
void butterfly_stage(int n, std::span<std::complex<double>> a, int kmax, int ind, double pai) {
  const int istep = 2 * kmax;
  for (int k = 1; k <= kmax; ++k) {
    const double angle = static_cast<double>((k - 1) * ind) * pai / static_cast<double>(kmax);
    const double wr = std::cos(angle);
    const double wi = std::sin(angle);
    for (int i = k; i <= n; i += istep) {
      std::complex<double>& lower = a[static_cast<std::size_t>(i - 1)];
      std::complex<double>& upper = a[static_cast<std::size_t>(i - 1 + kmax)];
      const double tr = upper.real() * wr - upper.imag() * wi;
      const double ti = upper.real() * wi + upper.imag() * wr;
      upper = {lower.real() - tr, lower.imag() - ti};
      lower = {lower.real() + tr, lower.imag() + ti};
    }
  }
}

}  // namespace

void dwvfast(int n, std::span<std::complex<double>> a, int mom, int ind) {
  if (n <= 0) return;
  if (n > mom || static_cast<std::size_t>(n) > a.size()) {
    throw std::length_error("dwvfast: length beyond the array");
  }
  if ((n & (n - 1)) != 0) throw std::invalid_argument("dwvfast: length not a power of two");

  const double pai = kPai;
  bit_reverse(n, a);
  for (int kmax = 1; kmax < n; kmax *= 2) butterfly_stage(n, a, kmax, ind, pai);
}

}  // namespace slipvel::fft
