// The rupture's sums in the library: compensated, so a million equal points
// sum to a million times one.
#include <gtest/gtest.h>

#include <cmath>

#include <slipvel/moment.hpp>

namespace slipvel {
namespace {

// The spacing of doubles at `value`.
double ulp(double value) { return std::nextafter(value, INFINITY) - value; }

TEST(Moment, AMillionEqualPointsSumToAMillionTimesOne) {
  Parameters source;
  source.vm = 3, source.slip = 0.8;
  const srf::PointSource point = srf::point_source({0, 0, 5, 0, 45, 90, 1e6 / 3, 0, 0, 0}, source);
  RuptureMoment one, many;
  one.add(point, kDefaultRigidity);
  constexpr int kPoints = 1'000'000;
  for (int i = 0; i < kPoints; ++i) many.add(point, kDefaultRigidity);
  // A plain running sum is about 1e-11 off here; the compensated one is within rounding of the product.
  EXPECT_NEAR(many.moment(), kPoints * one.moment(), 4 * ulp(kPoints * one.moment()));
  EXPECT_NEAR(many.area(), kPoints * one.area(), 4 * ulp(kPoints * one.area()));
  EXPECT_EQ(many.points(), static_cast<std::size_t>(kPoints));
}

}  // namespace
}  // namespace slipvel
