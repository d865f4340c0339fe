// The fast fixed-point and exponent fields against the same fields built from
// std::to_chars alone: millions of random values over each field's range and
// beyond it, and every exact tie between two texts that can be constructed.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>
#include <random>

#include "number_text.hpp"

namespace slipvel::detail {
namespace {

using namespace slipvel::text;

#ifdef SLIPVEL_SANITIZED_BUILD
constexpr int kRandomValues = 1'000'000;  // the sanitizers slow each call tenfold
#else
constexpr int kRandomValues = 10'000'000;
#endif

struct Field {
  int width, decimals;
  bool exponent;
  std::string fast(double v) const {
    return exponent ? exponent_field(v, width, decimals) : fixed_field(v, width, decimals);
  }
  std::string reference(double v) const {
    return exponent ? exponent_field_reference(v, width, decimals) : fixed_field_reference(v, width, decimals);
  }
};

constexpr Field kFixed84{8, 4, false}, kFixed157{15, 7, false}, kExponent124{12, 4, true};

// Compares the two forms on every value `next` yields; reports the first few
// differences only.
void expect_same(const Field& field, int count, const std::function<double()>& next) {
  int differences = 0;
  for (int i = 0; i < count; ++i) {
    const double v = next();
    const std::string fast = field.fast(v), reference = field.reference(v);
    if (fast != reference && ++differences <= 5) {
      ADD_FAILURE() << std::hexfloat << v << ": fast \"" << fast << "\", to_chars \"" << reference << "\"";
    }
  }
  EXPECT_EQ(differences, 0);
}

// Values spread evenly over [-limit, limit], and magnitudes spread evenly in
// their logarithm over [10^low, 10^high] with either sign, half each.
std::function<double()> field_range(double limit, double low, double high, std::uint64_t seed) {
  auto engine = std::make_shared<std::mt19937_64>(seed);
  return [=]() {
    const std::uint64_t bits = (*engine)();
    const double unit = static_cast<double>(bits >> 11) * 0x1p-53;
    const bool negative = (bits & 1) != 0;
    double v = (bits & 2) != 0 ? (2 * unit - 1) * limit : std::pow(10.0, low + (high - low) * unit);
    return negative ? -std::fabs(v) : v;
  };
}

// Any finite double, every bit pattern equally likely.
std::function<double()> any_double(std::uint64_t seed) {
  auto engine = std::make_shared<std::mt19937_64>(seed);
  return [=]() {
    double v;
    do v = std::bit_cast<double>((*engine)());
    while (!std::isfinite(v));
    return v;
  };
}

TEST(FastFields, FixedEightFourOnRandomValues) { expect_same(kFixed84, kRandomValues, field_range(1200, -9, 4, 1)); }

TEST(FastFields, FixedFifteenSevenOnRandomValues) {
  expect_same(kFixed157, kRandomValues, field_range(1.2e7, -12, 8, 2));
}

TEST(FastFields, ExponentTwelveFourOnRandomValues) {
  expect_same(kExponent124, kRandomValues / 2, field_range(1e6, -20, 20, 3));
  expect_same(kExponent124, kRandomValues / 2, any_double(4));
}

TEST(FastFields, FixedOnEveryTie) {
  // q / 2^(d+1) with q odd lies exactly halfway between two texts of d decimals.
  for (const Field& field : {kFixed84, kFixed157}) {
    const double scale = std::ldexp(1.0, -(field.decimals + 1));
    std::uint64_t q = 1;
    expect_same(field, 1'000'000, [&] {
      const double v = static_cast<double>(q) * scale;
      q += 2;
      return (q & 2) ? v : -v;
    });
  }
  // With 7 decimals the ties run up to the field's limit: take a random sample.
  std::mt19937_64 engine(5);
  expect_same(kFixed157, 1'000'000, [&] {
    const std::uint64_t q = (engine() % 1'280'000'000ULL) * 2 + 1;
    return std::ldexp(static_cast<double>(q), -8);
  });
}

TEST(FastFields, ExponentOnEveryTie) {
  // (2N + 1)/2 · 10^j, N of four digits, lies halfway between two texts of four
  // significant digits; it is a double when exact in binary.
  std::vector<double> ties;
  for (std::uint64_t n = 1000; n <= 9999; ++n) {
    const std::uint64_t odd = 2 * n + 1;
    std::uint64_t power = 1;  // 5^j with j >= 0: (2N+1)/(2·10^j) = ((2N+1)/5^j) / 2^(j+1)
    for (int j = 0; j <= 6 && odd % power == 0; ++j, power *= 5) {
      ties.push_back(std::ldexp(static_cast<double>(odd / power), -(j + 1)));
    }
    std::uint64_t value = odd;  // (2N+1)·10^j/2 for j >= 1, while below 2^53
    for (int j = 1; j <= 15; ++j) {
      value *= 10;
      if (value >= (std::uint64_t{1} << 53)) break;
      ties.push_back(static_cast<double>(value) / 2);
    }
  }
  std::size_t i = 0;
  expect_same(kExponent124, static_cast<int>(2 * ties.size()), [&] {
    const double v = ties[i / 2];
    return (i++ % 2 == 0) ? v : -v;
  });
  EXPECT_GT(ties.size(), 9000u * 10);
}

}  // namespace
}  // namespace slipvel::detail
