#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <random>
#include <stdexcept>
#include <vector>

#include "slip_velocity.hpp"

namespace slipvel::detail {
namespace {

constexpr double kPai = 3.141592654;
constexpr double kTd = 1 / (kPai * 6.0);
constexpr double kVm = 4.092;
constexpr double kTr = 2.114;
constexpr double kTs = kTr * 1.5;
constexpr int kNt = 4096;

// Agreement to the 8 significant digits of the worked values: within half a
// unit of the last digit given.
void expect_close(double actual, double expected, const char* what) {
  const double last_digit = std::pow(10.0, std::floor(std::log10(std::fabs(expected))) - 7);
  EXPECT_NEAR(actual, expected, 0.5001 * last_digit) << what;
}

struct Search {
  double am = 0, tb = 0, b = 0, c = 0, ar = 0, eps = 0;
  std::vector<double> onsets, residuals;
  std::vector<double> rate;
};

Search search(double target, std::vector<double> times) {
  Search s;
  s.rate.assign(times.size(), -1);
  vslip(times, s.rate, static_cast<int>(times.size()), static_cast<int>(times.size()), target, kTd, kVm, s.am, kTr, kTs,
        s.tb, s.b, s.c, s.ar, s.eps, [&](double onset, double res) {
          s.onsets.push_back(onset);
          s.residuals.push_back(res);
        });
  return s;
}

std::vector<double> run_grid() {
  std::vector<double> tm(kNt);
  for (int i = 1; i <= kNt; ++i) tm[static_cast<std::size_t>(i - 1)] = static_cast<double>(i - 1) * 0.005;
  return tm;
}

TEST(OnsetSearch, FourteenTrialsOfTheRun) {
  const Search s = search(1.0, run_grid());
  const double onsets[] = {0.053582164, 0.10663381,  0.080107988, 0.093370900, 0.086739444, 0.090055172, 0.088397308,
                           0.087568376, 0.087982842, 0.088190075, 0.088293691, 0.088241883, 0.088215979, 0.088203027};
  const double residuals[] = {+6.9899228,    -0.71057199,   +0.48779210,    -0.26979578,   +0.082812551,
                              -0.10031006,   -0.010366711,  +0.035824712,   +0.012628862,  +0.0011059501,
                              -0.0046366743, -0.0017669340, -0.00033088470, +0.00038743453};
  ASSERT_EQ(s.onsets.size(), 14u);
  for (std::size_t i = 0; i < 14; ++i) {
    expect_close(s.onsets[i], onsets[i], "onset");
    expect_close(s.residuals[i], residuals[i], "residual");
  }
  expect_close(s.am, 154.26477, "am");
  expect_close(s.tb, 0.088203027, "tb");
  expect_close(s.eps, 0.076974038, "eps");
  expect_close(s.b, 0.24324910, "b");
  expect_close(s.c, 0.17043271, "c");
  expect_close(s.ar, 0.16124192, "ar");
  EXPECT_EQ(s.tb, s.onsets.back());  // the last trial moved x, so the shape is tb's own
}

TEST(OnsetSearch, SamplesOfTheRun) {
  const Search s = search(1.0, run_grid());
  struct Sample {
    int k;
    double rate;
  };
  const Sample samples[] = {{2, 0.73497605},   {11, 4.0784604},   {12, 4.0864808},
                            {18, 2.6079969},   {19, 2.1313086},   {201, 0.25318868},
                            {423, 0.17060029}, {424, 0.17027147}, {635, 0.00016124192}};
  for (const Sample& sample : samples) {
    expect_close(s.rate[static_cast<std::size_t>(sample.k - 1)], sample.rate, "rate");
  }
  EXPECT_EQ(s.rate[0], 0.0);
  EXPECT_EQ(s.rate[635], 0.0);
  EXPECT_EQ(s.rate[kNt - 1], 0.0);
  double trapezoids = 0;
  for (std::size_t k = 1; k < s.rate.size(); ++k) trapezoids += (s.rate[k] + s.rate[k - 1]) * 0.005 / 2;
  expect_close(trapezoids, 1.0000567, "slip");
}

TEST(OnsetSearch, LastTrialThatDoesNotMoveKeepsItsShape) {
  const Search s = search(1.1, {});
  expect_close(s.tb, 0.086428594, "tb");
  expect_close(s.onsets.back(), 0.086441547, "last trial");
  EXPECT_EQ(s.onsets.back(), s.tb + kTd / 4096);
  expect_close(s.eps, 0.073716201, "eps");
  expect_close(s.b, 0.27875158, "b");
  expect_close(s.c, 0.19515157, "c");
  expect_close(s.ar, 0.18462778, "ar");
  // The library's function keeps that shape, and its jump at tb.
  Parameters p;
  p.slip = 1.1;
  const Shape shape = slip_function(p).shape;
  EXPECT_EQ(shape.tb, s.tb);
  EXPECT_EQ(shape.eps, s.eps);
  EXPECT_EQ(shape.b, s.b);
}

TEST(OnsetSearch, UnreachableTargetEndsNextToTheRiseTime) {
  const Search s = search(8.0, run_grid());
  EXPECT_EQ(s.onsets.size(), 52u);
  // 38 stepping trials keep the sign; the 39th is beyond tr and not a number.
  for (std::size_t i = 0; i < 39; ++i) EXPECT_LT(s.residuals[i], 0) << i;
  EXPECT_TRUE(std::isnan(s.residuals[39]));
  expect_close(s.onsets[39], 2.1225964, "first trial beyond tr");
  expect_close(s.tb, 2.1139963, "tb");
  EXPECT_EQ(s.b, 0.0);
  EXPECT_TRUE(std::isnan(s.c));
  EXPECT_TRUE(std::isnan(s.ar));
  EXPECT_TRUE(std::isnan(s.rate[423]));  // 2.115 s, in the linear stage
}

TEST(Sampling, BoundariesTakeTheEarlierStageAndNegativeTimesGiveZero) {
  const Search fitted = search(1.0, {});
  const Search s = search(1.0, {fitted.tb, kTr, kTs, -0.001, -5.0, 0.0});
  EXPECT_EQ(s.rate[0], (s.am * fitted.tb) * (1 - (fitted.tb * 0.5) / kTd));
  EXPECT_EQ(s.rate[1], s.b / std::sqrt(kTr - s.eps));
  EXPECT_EQ(s.rate[2], s.c - (kTs - kTr) * s.ar);
  EXPECT_NEAR(s.rate[2], 0.0, 1e-15);
  EXPECT_EQ(s.rate[3], 0.0);
  EXPECT_EQ(s.rate[4], 0.0);
  EXPECT_EQ(s.rate[5], 0.0);
}

TEST(Sampling, NoSamplesStillSetsEveryOutput) {
  double am = -1, tb = -1, b = -1, c = -1, ar = -1, eps = -1;
  std::vector<double> rate(3, 7.0);
  vslip({}, rate, 3, 0, 1.0, kTd, kVm, am, kTr, kTs, tb, b, c, ar, eps);
  expect_close(tb, 0.088203027, "tb");
  EXPECT_GT(am, 0);
  EXPECT_GT(eps, 0);
  EXPECT_EQ(rate, std::vector<double>(3, 7.0));
}

TEST(Sampling, MoreSamplesThanTheArraysHoldAreRefused) {
  double am = 0, tb = 0, b = 0, c = 0, ar = 0, eps = 0;
  std::vector<double> tm(8), rate(8);
  EXPECT_THROW(vslip(tm, rate, 8, 9, 1.0, kTd, kVm, am, kTr, kTs, tb, b, c, ar, eps), std::length_error);
  EXPECT_THROW(vslip(tm, std::span<double>(rate).first(4), 8, 5, 1.0, kTd, kVm, am, kTr, kTs, tb, b, c, ar, eps),
               std::length_error);
  EXPECT_THROW(vslip(tm, rate, 4, 5, 1.0, kTd, kVm, am, kTr, kTs, tb, b, c, ar, eps), std::length_error);
}

TEST(Trial, OutsideTheBracketTheParabolaStandsAlone) {
  const double am = (kVm + kVm) / kTd;
  for (const double onset : {0.5 * kTd, kTd, 2 * kTd, 3 * kTd}) {
    double res = 0, b = -1, c = -1, ar = -1, eps = -1;
    tslip(res, 1.0, onset, am, kTd, kTr, kTs, b, c, ar, eps);
    EXPECT_EQ(eps, onset) << onset;
    EXPECT_EQ(b, 0.0) << onset;
    EXPECT_EQ(c, 0.0) << onset;
  }
}

// The stage-by-stage values of a curve at its steps against in_order at
// each time, bit for bit: random sources and steps, steps that put a time
// exactly on tb or tr (the earlier stage's), and runs that start anywhere.
TEST(SlipCurve, StepsStageByStageAreInOrderAtEachTime) {
  std::mt19937_64 engine(34);
  std::uniform_real_distribution<double> unit(0, 1);
  int curves = 0;
  while (curves < 300) {
    Parameters p;
    p.vm = 1 + 3 * unit(engine);
    p.slip = p.vm * (0.2 + 0.2 * unit(engine));
    p.tr = 0.5 + 2.5 * unit(engine);
    p.ts = stopping_time(p);
    const Shape shape = search_shape(p);
    const SlipCurve curve(shape, p);
    if (!curve.ordered()) continue;
    ++curves;
    // A step from 1e-4 to 0.05 s, or one that divides tb or tr exactly.
    const double steps[] = {std::pow(10.0, -4 + 2.7 * unit(engine)), shape.tb / 16, p.tr / 400, p.tr / 7};
    for (const double dt : steps) {
      const auto count = static_cast<std::int64_t>(*p.ts / dt) + 3;
      const auto first = static_cast<std::int64_t>(unit(engine) * static_cast<double>(count)) - 1;
      std::vector<double> got(static_cast<std::size_t>(count));
      curve.in_order_at_steps(first, count, dt, got.data());
      for (std::int64_t k = 0; k < count; ++k) {
        const double t = static_cast<double>(first + k) * dt;
        ASSERT_EQ(std::bit_cast<std::uint64_t>(got[static_cast<std::size_t>(k)]),
                  std::bit_cast<std::uint64_t>(curve.in_order(t)))
            << "dt " << dt << ", step " << first + k << " of a curve with tb " << shape.tb << ", tr " << p.tr;
      }
    }
  }
}

}  // namespace
}  // namespace slipvel::detail
