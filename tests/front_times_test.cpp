// Rupture-front times against exact first arrivals at every subfault centre:
// straight lines in a strip, paths round the corner between strips of
// different widths, and direct, head and refracted waves in two layers or
// two strips of different speeds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <ostream>
#include <stdexcept>
#include <vector>

#include "front_times.hpp"

namespace slipvel::rupture::detail {
namespace {

// The grid is this many times finer than the subfaults each way.
constexpr double kRefinement = 4;
constexpr double kInfinity = std::numeric_limits<double>::infinity();

struct Segment {
  double len, wid;
  int nstk, ndip;
};

// Speed v1 above d = boundary, or in the first strip when the boundary is
// the join; v2 beyond. One speed when v1 = v2.
struct Case {
  const char* name;
  std::vector<Segment> segments;
  double u0, d0;
  double v1, v2 = v1, boundary = kInfinity;
  bool boundary_is_join = false;
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

struct Point {
  double u, d;
};

std::vector<Strip> strips_of(const Case& c) {
  std::vector<Strip> strips;
  double u = 0;
  for (const Segment& g : c.segments) {
    strips.push_back({u, u + g.len, g.wid});
    u += g.len;
  }
  return strips;
}

bool on_fault(const std::vector<Strip>& strips, Point p) {
  return std::any_of(strips.begin(), strips.end(),
                     [&](const Strip& s) { return p.u >= s.u0 && p.u <= s.u1 && p.d >= 0 && p.d <= s.width; });
}

// The least time over `a` to `b`: a convex function of x on [a, b].
template <class F>
double least(F f, double a, double b) {
  for (int i = 0; i < 200; ++i) {
    const double m1 = a + (b - a) / 3, m2 = b - (b - a) / 3;
    if (f(m1) < f(m2)) {
      b = m2;
    } else {
      a = m1;
    }
  }
  return f((a + b) / 2);
}

// The exact first arrival at r. Uniform speed: the straight line when it
// stays on the fault (sampled), else round the one inner corner of two strips.
// Two media (a rectangle): direct, head wave along the boundary from the slow
// side, or refracted through the boundary at the fastest crossing.
double first_arrival(const Case& c, Point r) {
  const std::vector<Strip> strips = strips_of(c);
  const Point s{c.u0, c.d0};
  if (c.v1 == c.v2) {
    const auto path = [](Point a, Point b) { return std::hypot(b.u - a.u, b.d - a.d); };
    bool straight = true;
    for (int i = 0; i <= 1000; ++i) {
      const double t = i / 1000.0;
      straight = straight && on_fault(strips, {s.u + t * (r.u - s.u), s.d + t * (r.d - s.d)});
    }
    if (straight) return path(s, r) / c.v1;
    const Point corner{strips[0].u1, std::min(strips[0].width, strips[1].width)};
    return (path(s, corner) + path(corner, r)) / c.v1;
  }
  const double line = c.boundary_is_join ? strips[0].u1 : c.boundary;
  const auto across = [&](Point p) { return c.boundary_is_join ? p.u : p.d; };
  const auto along = [&](Point p) { return c.boundary_is_join ? p.d : p.u; };
  const bool source_first = across(s) < line, receiver_first = across(r) < line;
  const double vs = source_first ? c.v1 : c.v2, vr = receiver_first ? c.v1 : c.v2;
  const double hs = std::abs(line - across(s)), hr = std::abs(line - across(r)), x = std::abs(along(r) - along(s));
  if (source_first != receiver_first) {
    return least([&](double x0) { return std::hypot(x0, hs) / vs + std::hypot(x - x0, hr) / vr; }, 0, x);
  }
  double t = std::hypot(x, across(r) - across(s)) / vs;
  const double fast = source_first ? c.v2 : c.v1;
  if (fast > vs) {
    const double sine = vs / fast, cosine = std::sqrt(1 - sine * sine);
    if (x >= (hs + hr) * sine / cosine) t = std::min(t, x / fast + (hs + hr) * cosine / vs);
  }
  return t;
}

const std::vector<Case> kCases = {
    {"uniform, hypocentre inside", {{30, 15, 30, 15}}, 12.3, 7.7, 3},
    {"uniform, hypocentre on the top edge", {{30, 15, 30, 15}}, 10, 0, 3},
    {"uniform, hypocentre in a corner", {{30, 15, 30, 15}}, 0, 15, 3},
    {"uniform, subfaults 3 times longer than wide", {{30, 12, 10, 12}}, 17.4, 4.1, 3},
    {"wider strip after a narrower, other spacing", {{20, 10, 20, 10}, {30.6, 15, 18, 15}}, 6, 4, 3},
    {"narrower strip after a wider, hypocentre on the join", {{30, 15, 30, 15}, {20, 8, 20, 8}}, 30, 5, 3},
    {"narrower strip after a wider, hypocentre below it", {{30, 15, 30, 15}, {20, 8, 20, 8}}, 24, 13, 3},
    {"faster layer below, hypocentre above", {{40, 20, 40, 20}}, 12, 3, 2, 3.5, 6.375},
    {"faster layer below, hypocentre below", {{40, 20, 40, 20}}, 25, 12, 1.5, 3.5, 6.3},
    {"slower layer below, hypocentre below", {{40, 20, 40, 20}}, 8, 8, 3.5, 2, 6.375},
    {"slower layer below, hypocentre above", {{40, 20, 40, 20}}, 20, 2, 3.5, 1.5, 6},
    {"hypocentre on the layer boundary", {{40, 20, 40, 20}}, 15, 6.25, 2, 3.5, 6.25},
    // Long cells: the start's straight lines reach far along strike, where
    // the front running along the faster layer arrives first.
    {"long subfaults, hypocentre just above a faster layer", {{40, 20, 10, 20}}, 5, 4.9, 1.5, 3.5, 5},
    {"very long subfaults, a much faster layer below", {{40, 20, 2, 400}}, 20, 4.9, 1, 8, 5},
    {"faster strip after the join", {{20, 10, 20, 10}, {20, 10, 16, 10}}, 14, 4, 2, 3.5, kInfinity, true},
    {"slower strip after the join", {{20, 10, 20, 10}, {20, 10, 16, 10}}, 26, 6, 3.5, 2, kInfinity, true},
};

class FrontTimesAccuracy : public ::testing::TestWithParam<Case> {};

// Every centre within 1% plus a quarter subfault's time at the least speed.
TEST_P(FrontTimesAccuracy, MatchesFirstArrivalsAtSubfaultCentres) {
  const Case& c = GetParam();
  const std::vector<Strip> strips = strips_of(c);
  double du = kInfinity, dd = kInfinity;
  for (const Segment& g : c.segments) du = std::min(du, g.len / g.nstk), dd = std::min(dd, g.wid / g.ndip);
  const Speed speed = [&](std::size_t k, double, double d) {
    return (c.boundary_is_join ? k == 0 : d < c.boundary) ? c.v1 : c.v2;
  };
  const FrontTimes times(strips, speed, c.u0, c.d0, du / kRefinement, dd / kRefinement);
  EXPECT_EQ(times.nodes(), FrontTimes::nodes_for(strips, du / kRefinement, dd / kRefinement));
  double worst = 0;
  for (std::size_t k = 0; k < strips.size(); ++k) {
    const Segment& g = c.segments[k];
    const double ds = g.len / g.nstk, dd_k = g.wid / g.ndip;
    for (int i = 0; i < g.nstk; ++i) {
      for (int j = 0; j < g.ndip; ++j) {
        const Point p{strips[k].u0 + (i + 0.5) * ds, (j + 0.5) * dd_k};
        const double exact = first_arrival(c, p), time = times.at(k, p.u, p.d);
        ASSERT_TRUE(std::isfinite(time)) << c.name << " at " << p.u << ", " << p.d;
        const double bound = 0.01 * exact + 0.25 * std::max(ds, dd_k) / std::min(c.v1, c.v2);
        worst = std::max(worst, std::abs(time - exact) / bound);
      }
    }
  }
  RecordProperty("worst_error_over_bound", std::to_string(worst));
  EXPECT_LE(worst, 1) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Cases, FrontTimesAccuracy, ::testing::ValuesIn(kCases));

// A strip thinner and shorter than the spacings still has one interval each
// way; a join's column has the deeper strip's rows, the rest their own.
TEST(FrontTimes, LaysOneIntervalAtLeastAndTheRowsOfEachStrip) {
  const Speed speed = [](std::size_t, double, double) { return 2.0; };
  const FrontTimes tiny({{0, 0.3, 0.1}}, speed, 0, 0, 5, 5);
  EXPECT_EQ(tiny.nodes(), 4u);
  EXPECT_DOUBLE_EQ(tiny.at(0, 0.3, 0.1), std::hypot(0.3, 0.1) / 2);
  // Rows every 0.5 km: 3 in the first strip, 5 in the second and on the join.
  EXPECT_EQ(FrontTimes::nodes_for({{0, 2, 1}, {2, 3, 2}}, 1, 0.5), 3u + 3 + 5 + 5);
}

TEST(FrontTimes, RefusesWhatIsNotAFault) {
  const Speed speed = [](std::size_t, double, double) { return 2.0; };
  const Speed still = [](std::size_t, double, double) { return 0.0; };
  const std::vector<Strip> steps = {{0, 2, 1}, {2, 3, 2}};
  EXPECT_THROW(FrontTimes({{0, 2, 1}, {2.5, 3, 2}}, speed, 0, 0, 1, 1), std::invalid_argument);
  EXPECT_THROW(FrontTimes(steps, speed, 1, 1.5, 1, 1), std::invalid_argument);
  EXPECT_THROW(FrontTimes(steps, still, 1, 0.5, 1, 1), std::invalid_argument);
  EXPECT_THROW(FrontTimes(steps, speed, 1, 0.5, 0, 1), std::invalid_argument);
  EXPECT_THROW(FrontTimes(steps, speed, 1, 0.5, 1, 1).at(0, 1, 1.5), std::invalid_argument);
}

// A speed that varies along u too, each cell's slowness kept once asked
// for, against the march that asks for it every time, bit for bit at every
// node, and asked for once a cell; and a layered speed by its rows' table
// against the same speed asked for everywhere.
TEST(FrontTimes, KeptSlownessesGiveTheSameTimes) {
  const std::vector<Strip> strips = {{0, 6, 3}, {6, 10, 2}, {10, 11, 3}};
  struct Field {
    const char* name;
    Speed speed;
  };
  const Field fields[] = {
      {"smooth", [](std::size_t, double u, double d) { return 2 + std::sin(u) + 0.3 * std::cos(3 * d); }},
      {"patchy",
       [](std::size_t k, double u, double d) {
         return 1 + static_cast<double>((k + static_cast<int>(u) * 7 + static_cast<int>(2 * d) * 3) % 5);
       }},
  };
  for (const Field& f : fields) {
    SCOPED_TRACE(f.name);
    std::size_t asked = 0;
    const Speed counted = [&](std::size_t k, double u, double d) {
      ++asked;
      return f.speed(k, u, d);
    };
    const FrontTimes kept(strips, counted, 2.3, 1.1, 0.25, 0.2);
    const std::size_t asked_kept = asked;
    asked = 0;
    const FrontTimes every(strips, counted, 2.3, 1.1, 0.25, 0.2, false, {}, 0);
    EXPECT_LT(asked_kept, asked / 2);
    EXPECT_LT(asked_kept, 3 * kept.nodes());
    for (std::size_t k = 0; k < strips.size(); ++k) {
      for (double u = strips[k].u0; u <= strips[k].u1; u += 0.125) {
        for (double d = 0; d <= strips[k].width; d += 0.1) {
          ASSERT_EQ(kept.at(k, u, d), every.at(k, u, d)) << "strip " << k << " at " << u << ", " << d;
        }
      }
    }
  }
  const Speed layered = [](std::size_t k, double, double d) { return d < 1.05 ? 1.5 + 0.1 * k : 3.0; };
  const FrontTimes by_rows(strips, layered, 2.3, 1.1, 0.25, 0.2, true),
      asked(strips, layered, 2.3, 1.1, 0.25, 0.2, false, {}, 0);
  for (double u = 0; u <= 6; u += 0.125) {
    for (double d = 0; d <= 3; d += 0.1) ASSERT_EQ(by_rows.at(0, u, d), asked.at(0, u, d)) << u << ", " << d;
  }
}

}  // namespace
}  // namespace slipvel::rupture::detail
