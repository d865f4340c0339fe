#include "dwvfast.hpp"

#include <cmath>
#include <stdexcept>
#include <utility>
#include <vector>

namespace slipvel::detail {
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

// The twiddle factor of position k (1-based) in a stage with half-span kmax:
// w = exp(i·angle) is (cos, sin) since exp(0) is exactly 1.
struct Twiddle {
  double re, im;
};

Twiddle twiddle(int k, int kmax, int ind, double pai) {
  const double angle = static_cast<double>((k - 1) * ind) * pai / static_cast<double>(kmax);
  return {std::cos(angle), std::sin(angle)};
}

// The factors of the last stage (half-span n/2) serve every stage: the angle
// of stage kmax at k equals the last stage's angle at 1 + (k − 1)·s with
// s = (n/2)/kmax, since k − 1 and kmax scaled by the same power of two give
// the same product and quotient after rounding. So each factor is the very
// one computed for its own stage. The table is kept per thread for the last
// length and direction used, as a batch transforms many records of one length.
std::span<const Twiddle> last_stage_twiddles(int n, int ind, double pai) {
  struct Table {
    int n = 0, ind = 0;
    std::vector<Twiddle> factors;
  };
  thread_local Table table;
  if (table.n != n || table.ind != ind) {
    const int kmax = n / 2;
    table.factors.resize(static_cast<std::size_t>(kmax));
    for (int k = 1; k <= kmax; ++k) table.factors[static_cast<std::size_t>(k - 1)] = twiddle(k, kmax, ind, pai);
    table.n = n;
    table.ind = ind;
  }
  return table.factors;
}

// a(j)·w subtracted from and added to a(i), with the product written out.
void butterfly(std::complex<double>& lower, std::complex<double>& upper, Twiddle w) {
  const double tr = upper.real() * w.re - upper.imag() * w.im;
  const double ti = upper.real() * w.im + upper.imag() * w.re;
  upper = {lower.real() - tr, lower.imag() - ti};
  lower = {lower.real() + tr, lower.imag() + ti};
}

// One stage of butterflies with half-span kmax. From kmax = 4 on, four
// neighbouring k go together through the array, so that each pass uses whole
// cache lines; the butterflies of a stage touch disjoint pairs, so their
// order does not change the result.
void butterfly_stage(int n, std::span<std::complex<double>> a, int kmax, std::span<const Twiddle> factors) {
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

}  // namespace

void dwvfast(int n, std::span<std::complex<double>> a, int mom, int ind) {
  if (n <= 0) return;
  if (n > mom || static_cast<std::size_t>(n) > a.size()) {
    throw std::length_error("dwvfast: length beyond the array");
  }
  if ((n & (n - 1)) != 0) throw std::invalid_argument("dwvfast: length not a power of two");

  bit_reverse(n, a);
  if (n < 2) return;
  const std::span<const Twiddle> factors = last_stage_twiddles(n, ind, kPai);
  for (int kmax = 1; kmax < n; kmax *= 2) butterfly_stage(n, a, kmax, factors);
}

}  // namespace slipvel::detail
