#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <stdexcept>
#include <vector>

#include "dwvfast.hpp"

namespace slipvel::detail {
namespace {

using Complex = std::complex<double>;
using Signal = std::vector<Complex>;

Signal transformed(Signal a, int ind, int n = -1) {
  if (n < 0) n = static_cast<int>(a.size());
  dwvfast(n, a, static_cast<int>(a.size()), ind);
  return a;
}

Signal impulse(int n, int at) {
  Signal a(static_cast<std::size_t>(n));
  a[static_cast<std::size_t>(at)] = 1;
  return a;
}

Signal mod17(int n) {
  Signal a(static_cast<std::size_t>(n));
  for (int l = 0; l < n; ++l) a[static_cast<std::size_t>(l)] = l % 17 - 8;
  return a;
}

// Direct sum with the angles ind·twice·l·p/n, in long double: for each l the
// unit root is advanced by one rotation per term.
Signal direct_dft(const Signal& a, long double twice, int ind) {
  const std::size_t n = a.size();
  Signal out(n);
  for (std::size_t l = 0; l < n; ++l) {
    const long double angle = ind * twice * static_cast<long double>(l) / static_cast<long double>(n);
    const long double step_re = std::cos(angle), step_im = std::sin(angle);
    long double w_re = 1, w_im = 0, sum_re = 0, sum_im = 0;
    for (std::size_t p = 0; p < n; ++p) {
      sum_re += a[p].real() * w_re - a[p].imag() * w_im;
      sum_im += a[p].real() * w_im + a[p].imag() * w_re;
      const long double next_re = w_re * step_re - w_im * step_im;
      w_im = w_re * step_im + w_im * step_re;
      w_re = next_re;
    }
    out[l] = Complex(static_cast<double>(sum_re), static_cast<double>(sum_im));
  }
  return out;
}

double largest_deviation(const Signal& x, const Signal& y) {
  double worst = 0;
  for (std::size_t i = 0; i < x.size(); ++i) worst = std::max(worst, std::abs(x[i] - y[i]));
  return worst;
}

TEST(Dwvfast, ShortExactValues) {
  EXPECT_EQ(transformed({{1, 2}, {3, 5}}, -1), (Signal{{4, 7}, {-2, -3}}));
  const Signal four = transformed({1, 2, 3, 4}, -1);
  const double c = std::cos(kPai / 2);  // not 0: pai is not π
  EXPECT_EQ(four[0], Complex(10, 0));
  EXPECT_EQ(four[1], Complex(-2 - 2 * c, 2));
  EXPECT_EQ(four[2], Complex(-2, 0));
  EXPECT_EQ(four[3], Complex(-2 + 2 * c, -2));
  EXPECT_NEAR(four[1].real(), -1.99999999959, 1e-11);
  const Signal inverse = transformed({1, 2, 3, 4}, +1);
  for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(inverse[i], std::conj(four[i]));
}

TEST(Dwvfast, ImpulsesAndConstants) {
  for (int n = 1; n <= 4096; n *= 2) {
    EXPECT_EQ(transformed(impulse(n, 0), -1), Signal(static_cast<std::size_t>(n), 1)) << n;
  }
  Signal eight(8, 1);
  Signal expected(8, 0);
  expected[0] = 8;
  EXPECT_EQ(transformed(eight, -1), expected);
}

TEST(Dwvfast, ImpulseInTheSecondElementOf4096) {
  const Signal a = transformed(impulse(4096, 1), -1);
  EXPECT_EQ(a[2048], Complex(-1, 0));
  EXPECT_NEAR(a[1024].real(), -2.0510343e-10, 1e-17);
  EXPECT_EQ(a[1024].imag(), -1);
  EXPECT_NEAR(a[1].real(), 0.99999882345170, 1e-14);
  EXPECT_NEAR(a[1].imag(), -0.00153398018649, 1e-14);
  EXPECT_NEAR(a[4095].real(), 0.99999882345233, 1e-14);
  EXPECT_NEAR(a[4095].imag(), 0.00153397977628, 1e-14);
}

TEST(Dwvfast, ForwardThenInverseReturnsTheInput) {
  const Signal input = mod17(4096);
  Signal back = transformed(transformed(input, -1), +1);
  for (Complex& z : back) z /= 4096.0;
  EXPECT_LT(largest_deviation(back, input), 1e-14);
}

TEST(Dwvfast, CloseToTheTrueTransformAndNotToOneWithTwicePai) {
  const Signal input = mod17(4096);
  const Signal fast = transformed(input, -1);
  EXPECT_EQ(fast[0], Complex(-8, 0));
  EXPECT_NEAR(std::abs(fast[241]), 1.108e4, 1e1);
  const double from_true = largest_deviation(fast, direct_dft(input, 2 * std::numbers::pi_v<long double>, -1));
  const double from_pai = largest_deviation(fast, direct_dft(input, 2 * static_cast<long double>(kPai), -1));
  EXPECT_LT(from_true, 2e-5);
  EXPECT_GT(from_true, 1e-6);
  EXPECT_GT(from_pai, 100 * from_true);
}

TEST(Dwvfast, LengthsOutsideTheContract) {
  Signal a = {{1, 2}, {3, 4}, {5, 6}};
  const Signal untouched = a;
  for (const int n : {0, -4, 1}) {
    dwvfast(n, a, 3, -1);
    EXPECT_EQ(a, untouched) << n;
  }
  EXPECT_THROW(dwvfast(3, a, 3, -1), std::invalid_argument);
  EXPECT_THROW(dwvfast(4, a, 4, -1), std::length_error);  // beyond the span
  Signal b(8);
  EXPECT_THROW(dwvfast(8, b, 4, -1), std::length_error);  // beyond the capacity
}

}  // namespace
}  // namespace slipvel::detail
