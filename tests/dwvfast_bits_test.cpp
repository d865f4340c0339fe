// dwvfast against the radix-2 form it replaced (dwvfast_reference.hpp), bit
// for bit: random records of every power-of-two length from 1 to 2^16, in
// both directions, of values like the program's and of others that stress
// the rounding (subnormals, signed zeros, wide exponents).
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <complex>
#include <cstdint>
#include <random>
#include <thread>
#include <vector>

#include "dwvfast.hpp"
#include "dwvfast_reference.hpp"

namespace slipvel::detail {
namespace {

using Complex = std::complex<double>;
using Signal = std::vector<Complex>;

Signal by_reference(Signal a, int ind) {
  const int n = static_cast<int>(a.size());
  if (n >= 2) reference::transform(n, a, reference::last_stage_twiddles(n, ind, kPai));
  return a;
}

Signal by_dwvfast(Signal a, int ind) {
  dwvfast(static_cast<int>(a.size()), a, static_cast<int>(a.size()), ind);
  return a;
}

// The first element whose real or imaginary bits differ, or -1. A not-a-number
// counts as equal to any other: which of two operands' payloads an operation
// keeps is the compiler's choice, also for the old form.
long first_difference(const Signal& x, const Signal& y) {
  const auto same = [](double a, double b) {
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b) || (std::isnan(a) && std::isnan(b));
  };
  for (std::size_t i = 0; i < x.size(); ++i) {
    if (!same(x[i].real(), y[i].real()) || !same(x[i].imag(), y[i].imag())) return static_cast<long>(i);
  }
  return -1;
}

// Kinds of records; each value from the engine.
struct Kind {
  const char* name;
  Complex (*value)(std::mt19937_64&);
};

double uniform(std::mt19937_64& e) { return static_cast<double>(e() >> 11) * 0x1p-53 * 2 - 1; }

// |x| from 10^-low to 10^high, evenly in its logarithm, either sign.
double spread(std::mt19937_64& e, double low, double high) {
  const double magnitude = std::pow(10.0, -low + (low + high) * (uniform(e) + 1) / 2);
  return (e() & 1) != 0 ? magnitude : -magnitude;
}

const Kind kKinds[] = {
    {"uniform complex", [](std::mt19937_64& e) { return Complex(uniform(e), uniform(e)); }},
    // The program's: real samples, imaginary parts +0, and runs of zeros.
    {"real, a third zero", [](std::mt19937_64& e) { return Complex(e() % 3 == 0 ? 0.0 : 4 * uniform(e) + 4, 0.0); }},
    {"wide exponents", [](std::mt19937_64& e) { return Complex(spread(e, 150, 150), spread(e, 150, 150)); }},
    {"subnormal and tiny", [](std::mt19937_64& e) { return Complex(spread(e, 320, 300), spread(e, 320, 300)); }},
    {"signed zeros and ones",
     [](std::mt19937_64& e) {
       const double v[] = {0.0, -0.0, 1.0, -1.0};
       return Complex(v[e() % 4], v[e() % 4]);
     }},
    {"infinities among values",
     [](std::mt19937_64& e) {
       const double inf = HUGE_VAL;
       return Complex(e() % 64 == 0 ? -inf : uniform(e), e() % 64 == 1 ? inf : uniform(e));
     }},
};

Signal record(const Kind& kind, int n, std::uint64_t seed) {
  std::mt19937_64 engine(seed);
  Signal a(static_cast<std::size_t>(n));
  for (Complex& z : a) z = kind.value(engine);
  return a;
}

TEST(DwvfastBits, EveryLengthEveryKindBothDirections) {
  std::uint64_t seed = 1;
  for (const Kind& kind : kKinds) {
    for (int n = 1; n <= 1 << 16; n *= 2) {
      for (const int ind : {-1, 1}) {
        const Signal input = record(kind, n, seed++);
        EXPECT_EQ(first_difference(by_dwvfast(input, ind), by_reference(input, ind)), -1)
            << kind.name << ", n = " << n << ", ind = " << ind;
      }
    }
  }
}

// The factors are kept between calls: lengths and directions in turn.
TEST(DwvfastBits, LengthsAndDirectionsInTurn) {
  const int lengths[] = {4096, 1024, 4096, 16, 8, 4096, 2, 65536, 4096};
  std::uint64_t seed = 100;
  for (const int n : lengths) {
    for (const int ind : {-1, 1, 1, -1}) {
      const Signal input = record(kKinds[0], n, seed++);
      EXPECT_EQ(first_difference(by_dwvfast(input, ind), by_reference(input, ind)), -1) << n << " " << ind;
    }
  }
}

// Only the first n elements change, whatever the span holds after them.
TEST(DwvfastBits, LeavesTheRestOfTheSpan) {
  for (const int n : {2, 8, 16, 32, 4096}) {
    Signal a = record(kKinds[0], 2 * n + 3, static_cast<std::uint64_t>(n));
    const Signal before = a;
    dwvfast(n, a, static_cast<int>(a.size()), -1);
    const Signal head(before.begin(), before.begin() + n);
    EXPECT_EQ(first_difference(Signal(a.begin(), a.begin() + n), by_reference(head, -1)), -1) << n;
    EXPECT_EQ(first_difference(Signal(a.begin() + n, a.end()), Signal(before.begin() + n, before.end())), -1) << n;
  }
}

// Threads keep factors of their own: two lengths at once give the same bits.
TEST(DwvfastBits, ThreadsAtOnce) {
  const Signal x = record(kKinds[0], 4096, 7), y = record(kKinds[0], 2048, 8);
  const Signal expected_x = by_reference(x, -1), expected_y = by_reference(y, 1);
  bool same_x = true, same_y = true;
  std::thread other([&] {
    for (int i = 0; i < 50; ++i) same_y = same_y && first_difference(by_dwvfast(y, 1), expected_y) == -1;
  });
  for (int i = 0; i < 50; ++i) same_x = same_x && first_difference(by_dwvfast(x, -1), expected_x) == -1;
  other.join();
  EXPECT_TRUE(same_x);
  EXPECT_TRUE(same_y);
}

}  // namespace
}  // namespace slipvel::detail
