// dwvfast against the radix-2 form it replaced (dwvfast_reference.hpp), bit
// for bit: random records of every power-of-two length from 1 to 2^16, in
// both directions, of values like the program's and of others that stress
// the rounding (subnormals, signed zeros, wide exponents, infinities).
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

// Whether the two have the same bits; a not-a-number equals any other, as
// which operand's payload an operation keeps is the compiler's choice.
bool same_bits(const Signal& x, const Signal& y) {
  const auto same = [](double a, double b) {
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b) || (std::isnan(a) && std::isnan(b));
  };
  for (std::size_t i = 0; i < x.size(); ++i) {
    if (!same(x[i].real(), y[i].real()) || !same(x[i].imag(), y[i].imag())) return false;
  }
  return x.size() == y.size();
}

// dwvfast on `input` at the head of a longer span, whose tail must stay as it
// was, against the old form.
bool same_as_reference(const Signal& input, int ind) {
  const int n = static_cast<int>(input.size());
  Signal expected = input, a = input;
  if (n >= 2) reference::transform(n, expected, reference::last_stage_twiddles(n, ind, kPai));
  a.insert(a.end(), {{1.5, -2.5}, {-0.0, 3.0}});
  dwvfast(n, a, static_cast<int>(a.size()), ind);
  return same_bits(Signal(a.begin(), a.begin() + n), expected) &&
         same_bits(Signal(a.begin() + n, a.end()), {{1.5, -2.5}, {-0.0, 3.0}});
}

double uniform(std::mt19937_64& e) { return static_cast<double>(e() >> 11) * 0x1p-52 - 1; }

// ±10^x, x uniform in [low, high].
double spread(std::mt19937_64& e, double low, double high) {
  const double magnitude = std::pow(10.0, low + (high - low) * (uniform(e) + 1) / 2);
  return (e() & 1) != 0 ? magnitude : -magnitude;
}

// Kinds of records, each value drawn from the engine.
const struct Kind {
  const char* name;
  Complex (*value)(std::mt19937_64&);
} kKinds[] = {
    {"uniform complex", [](std::mt19937_64& e) { return Complex(uniform(e), uniform(e)); }},
    // The program's: real samples, imaginary parts +0, and runs of zeros.
    {"real, a third zero", [](std::mt19937_64& e) { return Complex(e() % 3 == 0 ? 0.0 : 4 * uniform(e) + 4, 0.0); }},
    {"wide exponents", [](std::mt19937_64& e) { return Complex(spread(e, -150, 150), spread(e, -150, 150)); }},
    {"subnormal and tiny", [](std::mt19937_64& e) { return Complex(spread(e, -320, -300), spread(e, -320, -300)); }},
    {"signed zeros and ones",
     [](std::mt19937_64& e) {
       const double v[] = {0.0, -0.0, 1.0, -1.0};
       return Complex(v[e() % 4], v[e() % 4]);
     }},
    {"infinities among values",
     [](std::mt19937_64& e) {
       return Complex(e() % 64 == 0 ? -HUGE_VAL : uniform(e), e() % 64 == 1 ? HUGE_VAL : uniform(e));
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
      for (const int ind : {-1, 1})
        EXPECT_TRUE(same_as_reference(record(kind, n, seed++), ind)) << kind.name << ", n = " << n << ", ind = " << ind;
    }
  }
}

// The factors are kept between calls: lengths and directions in turn, and
// on two threads at once.
TEST(DwvfastBits, LengthsDirectionsAndThreadsInTurn) {
  std::uint64_t seed = 100;
  for (const int n : {4096, 1024, 4096, 16, 8, 4096, 2, 65536, 4096}) {
    for (const int ind : {-1, 1, 1, -1})
      EXPECT_TRUE(same_as_reference(record(kKinds[0], n, seed++), ind)) << n << " " << ind;
  }
  bool same_x = true, same_y = true;
  const Signal x = record(kKinds[0], 4096, 7), y = record(kKinds[0], 2048, 8);
  std::thread other([&] {
    for (int i = 0; i < 20; ++i) same_y = same_y && same_as_reference(y, 1);
  });
  for (int i = 0; i < 20; ++i) same_x = same_x && same_as_reference(x, -1);
  other.join();
  EXPECT_TRUE(same_x && same_y);
}

}  // namespace
}  // namespace slipvel::detail
