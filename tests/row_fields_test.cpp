// The rows of both result files against rows built from the std::to_chars
// fields (fixed_field_reference, exponent_field_reference), with each value
// of a table of columns in every field: random values over each field's range
// and beyond, every exact tie between two texts that can be constructed, the
// values next to the fields' limits and to every power of ten, and orders
// that make the amplitude fields change decade often or seldom.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <slipvel/text.hpp>

#include "number_text.hpp"
#include "spectrum_file.hpp"
#include "time_history.hpp"

namespace slipvel::detail {
namespace {

using Values = std::vector<double>;

#ifdef SLIPVEL_SANITIZED_BUILD
constexpr std::size_t kRandom = 10'000;  // the sanitizers slow each call tenfold
#else
constexpr std::size_t kRandom = 100'000;
#endif

// Compares the rows of `fast` with reference(k), row k as the reference
// fields make it; reports the first few differences.
void expect_rows(const std::string& fast, std::size_t rows, const std::function<std::string(std::size_t)>& reference) {
  std::istringstream lines(fast);
  std::string line;
  std::getline(lines, line);  // the header
  int differences = 0;
  for (std::size_t k = 0; k < rows && std::getline(lines, line); ++k) {
    const std::string expected = reference(k);
    if (line + '\n' != expected && ++differences <= 5)
      ADD_FAILURE() << "row " << k << ": \"" << line << "\", to_chars \"" << expected << "\"";
  }
  EXPECT_FALSE(std::getline(lines, line)) << "more rows than values";
  EXPECT_EQ(differences, 0);
}

// Each value in every field of a time-history row and of a spectrum row.
void expect_in_every_field(const Values& x) {
  const auto fixed = [&](std::size_t k, int width, int decimals) {
    return fixed_field_reference(x[k], width, decimals);
  };
  const auto exponent = [&](std::size_t k) { return exponent_field_reference(x[k], 12, 4); };
  expect_rows(time_history_rows_text(x, x, x, x), x.size(), [&](std::size_t k) {
    return fixed(k, 8, 4) + ',' + fixed(k, 15, 7) + ',' + fixed(k, 15, 7) + ',' + fixed(k, 15, 7) + '\n';
  });
  expect_rows(spectrum_file_text(x, x, x), x.size(),
              [&](std::size_t k) { return fixed(k, 8, 4) + ',' + exponent(k) + ',' + exponent(k) + '\n'; });
}

std::mt19937_64 engine(1);

// `count` values v(u) of u uniform in [0, 1), either sign.
Values random(std::size_t count, std::function<double(double)> v) {
  Values values(count);
  for (double& x : values) {
    const std::uint64_t bits = engine();
    x = v(static_cast<double>(bits >> 11) * 0x1p-53) * ((bits & 1) != 0 ? -1 : 1);
  }
  return values;
}

// ±q / 2^(decimals + 1) for odd q up to `limit`: halfway between two texts.
Values fixed_ties(int decimals, double limit) {
  Values values;
  const double scale = std::ldexp(1.0, -(decimals + 1));
  for (double q = 1; q * scale <= limit; q += 2) values.insert(values.end(), {q * scale, -q * scale});
  return values;
}

// (2N + 1)/2 · 10^j for N of four digits, whenever a double: halfway between
// two texts of four significant digits.
Values exponent_ties() {
  Values values;
  for (std::uint64_t odd = 2001; odd <= 19999; odd += 2) {
    for (std::uint64_t j = 0, power = 1; j <= 6 && odd % power == 0; ++j, power *= 5) {
      values.push_back(std::ldexp(static_cast<double>(odd / power), -static_cast<int>(j + 1)));
    }
    for (std::uint64_t value = odd * 10; value < (std::uint64_t{1} << 53); value *= 10)
      values.push_back(static_cast<double>(value) / 2);
  }
  return values;
}

// k·step for the k of a long record.
Values multiples(double step) {
  Values values(65536);
  for (std::size_t k = 0; k < values.size(); ++k) values[k] = static_cast<double>(k) * step;
  return values;
}

// Each of `centres` and its three neighbours below and above, either sign.
Values neighbours(const Values& centres) {
  Values values;
  for (double c : centres) {
    double below = c, above = c;
    for (int i = 0; i < 4; ++i, below = std::nextafter(below, -HUGE_VAL), above = std::nextafter(above, HUGE_VAL)) {
      for (const double v : {below, above, -below, -above}) values.push_back(v);
    }
  }
  return values;
}

const struct Case {
  const char* name;
  std::function<Values()> values;
} kCases[] = {
    {"uniform in the 8.4 fields", [] { return random(kRandom, [](double u) { return 1200 * u; }); }},
    {"uniform in the 15.7 fields", [] { return random(kRandom, [](double u) { return 1.2e7 * u; }); }},
    {"10^-20 to 10^20", [] { return random(kRandom, [](double u) { return std::pow(10.0, 40 * u - 20); }); }},
    {"any double",
     [] {
       return random(kRandom, [](double) {
         double v;
         do v = std::bit_cast<double>(engine());
         while (!std::isfinite(v));
         return v;
       });
     }},
    {"every 8.4 tie", [] { return fixed_ties(4, 1001); }},
    {"15.7 ties to 10", [] { return fixed_ties(7, 10); }},
    {"15.7 ties to the limit",
     [] { return random(kRandom, [](double u) { return std::ldexp(std::floor(u * 1.28e9) * 2 + 1, -8); }); }},
    {"exponent ties", exponent_ties},
    {"times k·0.005", [] { return multiples(0.005); }},
    {"frequencies k/20.48", [] { return multiples(1 / 20.48); }},
    {"limits of the fields",
     [] {
       return neighbours(
           {999.99995, 1000, 99.99995, 100, 9999999.99999995, 1e7, 999999.99999995, 1e6, 0.00005, 5e-8, 0, 5e-324});
     }},
    {"decade edges",
     [] {
       Values centres;
       for (int e = -20; e <= 20; ++e)
         for (const double at : {1.0, 0.9995, 0.99995, 0.09995}) centres.push_back(at * std::pow(10.0, e));
       return neighbours(centres);
     }},
    {"not finite", [] { return Values{HUGE_VAL, -HUGE_VAL, std::nan(""), 1, -HUGE_VAL, 2}; }},
    {"a decade now and then",
     [] { return random(kRandom, [e = 0.0](double u) mutable { return std::pow(10.0, e += (u - 0.5) / 25); }); }},
    {"two decades in turn",
     [] { return random(kRandom, [k = 0](double u) mutable { return std::pow(10.0, (k++ % 2) * -7 + u); }); }},
    {"runs of one value",
     [] { return random(kRandom / 10, [k = 0, v = 0.0](double u) mutable { return k++ % 5 == 0 ? v = u : v; }); }},
};

TEST(RowFields, EveryCaseInEveryField) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const Values values = c.values();
    expect_in_every_field(values);
    expect_in_every_field(Values(values.rbegin(), values.rend()));  // other neighbours, other decade changes
  }
}

// The digits of the row fields: every value of three and of four digits, and
// seven-digit values with every three high and every four low digits.
TEST(RowFields, DigitsOfEveryValue) {
  const auto expect_digits = [](auto put, int count, std::uint32_t value) {
    char text[9] = {};
    put(text + count, value);
    char expected[16];
    std::snprintf(expected, sizeof expected, "%0*u", count, value);
    EXPECT_EQ(std::string(text, static_cast<std::size_t>(count)), expected);
  };
  for (std::uint32_t v = 0; v < 10000; ++v) {
    expect_digits(put_row_digits<4>, 4, v);
    if (v < 1000) expect_digits(put_row_digits<3>, 3, v);
    expect_digits(put_row_digits<7>, 7, v % 1000 * 10000 + v);  // every high three, every low four
  }
}

// Files of every length up to a few of the buffers that rows are written in.
TEST(RowFields, EveryLength) {
  const Values values = random(200, [](double u) { return 1200 * u; });
  for (std::size_t n = 0; n <= values.size(); ++n)
    expect_in_every_field(Values(values.begin(), values.begin() + static_cast<long>(n)));
}

}  // namespace
}  // namespace slipvel::detail
