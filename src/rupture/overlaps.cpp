// How segments meet: a surface laid over another (every subfault there
// twice) or a subfault centre close to another segment's surface (the
// segments cross or overlap).
#include <GeographicLib/Geocentric.hpp>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <string>
#include <tuple>
#include <vector>

#include <GeographicLib/Geodesic.hpp>

#include <slipvel/rupture.hpp>

#include "build_steps.hpp"
#include "geometry.hpp"

namespace slipvel::rupture {
namespace {

using namespace slipvel::rupture::detail;
using Corner = std::array<double, 2>;  // s, d in a segment's plane (km)

constexpr double kMetresPerKm = 1000;

// A segment's smaller subfault side (km).
double subfault_side(const Segment& g) { return std::min(g.len / g.nstk, g.wid / g.ndip); }

// A ball (Earth-centred coordinates, m) that holds a segment's surface and
// half a subfault around it: segments whose balls are apart cannot meet.
struct Ball {
  std::array<double, 3> centre;
  double radius;
};

Ball ball_of(const Segment& g) {
  const auto [lon, lat] = position(g, 0, g.wid / 2);
  std::array<double, 3> x{};
  GeographicLib::Geocentric::WGS84().Forward(lat, lon, -depth_at(g, g.wid / 2) * kMetresPerKm, x[0], x[1], x[2]);
  // The projection stretches distances by far less than this margin.
  const double reach = (std::hypot(g.len, g.wid) / 2 + subfault_side(g)) * 1.01 + 0.001;
  return {x, reach * kMetresPerKm};
}

bool apart(const Ball& a, const Ball& b) {
  return std::hypot(a.centre[0] - b.centre[0], a.centre[1] - b.centre[1], a.centre[2] - b.centre[2]) >
         a.radius + b.radius;
}

InPlane place_in(const Segment& of, double s, double d, const Segment& g) {
  const auto [lon, lat] = position(of, s, d);
  return in_plane(g, lon, lat, depth_at(of, d));
}

// The area (km²) over which the polygon `corners` and the rectangle of `g`
// overlap in its plane: the polygon clipped to each edge of the rectangle.
double overlap_area(std::vector<Corner> polygon, const Segment& g) {
  const auto clip = [&](int axis, double bound, bool below) {
    std::vector<Corner> kept;
    const auto inside = [&](const Corner& p) { return below ? p[axis] <= bound : p[axis] >= bound; };
    for (std::size_t i = 0; i < polygon.size(); ++i) {
      const Corner& p = polygon[i];
      const Corner& q = polygon[(i + 1) % polygon.size()];
      if (inside(p)) kept.push_back(p);
      if (inside(p) != inside(q)) {
        const double t = (bound - p[axis]) / (q[axis] - p[axis]);
        Corner cut{p[0] + t * (q[0] - p[0]), p[1] + t * (q[1] - p[1])};
        cut[axis] = bound;
        kept.push_back(cut);
      }
    }
    polygon = std::move(kept);
  };
  clip(0, -g.len / 2, false);
  clip(0, g.len / 2, true);
  clip(1, 0, false);
  clip(1, g.wid, true);
  double twice = 0;
  for (std::size_t i = 0; i < polygon.size(); ++i) {
    const Corner& p = polygon[i];
    const Corner& q = polygon[(i + 1) % polygon.size()];
    twice += p[0] * q[1] - q[0] * p[1];
  }
  return std::fabs(twice) / 2;
}

// Whether the surface of `a` lies over that of `b` across an area: every
// corner of `a` on the plane of `b`, and the two rectangles overlapping by
// more than a sliver.
bool laid_over(const Segment& a, const Segment& b) {
  const double on_plane = 1e-3 * std::min(subfault_side(a), subfault_side(b));
  std::vector<Corner> corners;
  for (const auto& [s, d] :
       {Corner{-a.len / 2, 0}, Corner{a.len / 2, 0}, Corner{a.len / 2, a.wid}, Corner{-a.len / 2, a.wid}}) {
    const InPlane p = place_in(a, s, d, b);
    if (!(std::fabs(p.off) <= on_plane)) return false;
    corners.push_back({p.s, p.d});
  }
  return overlap_area(corners, b) > on_plane * std::max(subfault_side(a), subfault_side(b));
}

// The subfault of `a` whose centre lies nearest the surface of `b`, if any
// lies over that surface (not beyond its edges, as at a bend or where one
// segment continues another) within half a subfault of it.
std::optional<Overlap> near_centre(const std::vector<Segment>& segments, std::size_t ia, std::size_t ib) {
  const Segment &a = segments[ia], &b = segments[ib];
  const double within = subfault_side(a) / 2;
  std::optional<Overlap> nearest;
  for (int j = 0; j < a.ndip; ++j) {
    for (int i = 0; i < a.nstk; ++i) {
      const InPlane p = place_in(a, centre_s(a, i), centre_d(a, j), b);
      const bool over = std::fabs(p.s) <= b.len / 2 && p.d >= 0 && p.d <= b.wid;
      const double km = std::fabs(p.off);
      if (over && km <= within * (1 + 1e-9) && (!nearest || km < nearest->km)) {
        nearest = Overlap{std::min(ia, ib), std::max(ia, ib), false, ia, i, j, km};
      }
    }
  }
  return nearest;
}

// Segments up to this size (km, the diagonal) map into each other's frames
// nearly affinely: a point of one lies off the affine map of its corners by
// about size²/(2R), R the Earth's radius, 0.8 km at 100 km.
constexpr double kAffineSize = 100;
constexpr double kTwiceSagittaPerSize2 = 1 / 3000.0;  // 1/km: 2/R, R = 6371 km, rounded up

// Whether the corners of `a`, in the frame of `b`, all lie beyond one side of
// `b`'s rectangle, or of its plane, by more than a subfault of `a` and twice
// that departure: then no centre of `a` lies over `b` near its surface and
// `a` lies over none of it. Four points decide what near_centre would find
// from every centre of `a`; larger segments are never judged clear.
bool clear_of(const Segment& a, const Segment& b) {
  const double size = std::max(std::hypot(a.len, a.wid), std::hypot(b.len, b.wid));
  if (!(size <= kAffineSize)) return false;
  const double margin = subfault_side(a) + size * size * kTwiceSagittaPerSize2;
  bool before = true, after = true, above = true, below = true, in_front = true, behind = true;
  for (const auto& [s, d] :
       {Corner{-a.len / 2, 0}, Corner{a.len / 2, 0}, Corner{a.len / 2, a.wid}, Corner{-a.len / 2, a.wid}}) {
    const InPlane p = place_in(a, s, d, b);
    before = before && p.s < -b.len / 2 - margin;
    after = after && p.s > b.len / 2 + margin;
    above = above && p.d < -margin;
    below = below && p.d > b.wid + margin;
    in_front = in_front && p.off < -margin;
    behind = behind && p.off > margin;
  }
  return before || after || above || below || in_front || behind;
}

}  // namespace

std::vector<Overlap> detail::overlapping_segments(const std::vector<Segment>& segments) {
  // A sweep along one axis of the balls: only the segments whose balls
  // overlap along it are compared, so the time grows with the segments, not
  // their pairs.
  std::vector<Ball> balls;
  for (const Segment& g : segments) balls.push_back(ball_of(g));
  std::vector<std::size_t> order(segments.size());
  std::iota(order.begin(), order.end(), 0);
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return balls[a].centre[0] - balls[a].radius < balls[b].centre[0] - balls[b].radius;
  });
  std::vector<Overlap> found;
  for (std::size_t x = 0; x < order.size(); ++x) {
    const std::size_t a = order[x];
    for (std::size_t y = x + 1; y < order.size(); ++y) {
      const std::size_t b = order[y];
      if (balls[b].centre[0] - balls[b].radius > balls[a].centre[0] + balls[a].radius) break;
      if (apart(balls[a], balls[b])) continue;
      const std::size_t first = std::min(a, b), second = std::max(a, b);
      // Pieces of a finely drawn trace: a ball many pieces across holds
      // many pieces, most of them clear of each other along strike.
      if (clear_of(segments[second], segments[first]) && clear_of(segments[first], segments[second])) continue;
      if (laid_over(segments[second], segments[first]) || laid_over(segments[first], segments[second])) {
        found.push_back({first, second, true, second, 0, 0, 0});
        continue;
      }
      auto near = near_centre(segments, second, first);
      if (!near) near = near_centre(segments, first, second);
      if (near) found.push_back(*near);
    }
  }
  std::sort(found.begin(), found.end(), [](const Overlap& p, const Overlap& q) {
    return std::tie(p.first, p.second) < std::tie(q.first, q.second);
  });
  return found;
}

namespace detail {

namespace {

// Consecutive segments whose top edges are apart by more than a subfault's
// length: the later one's index and the distance (km).
std::vector<std::pair<std::size_t, double>> gaps_between(const std::vector<Segment>& segments) {
  std::vector<std::pair<std::size_t, double>> gaps;
  for (std::size_t k = 1; k < segments.size(); ++k) {
    const Segment& before = segments[k - 1];
    const Segment& after = segments[k];
    const auto [end_lon, end_lat] = position(before, before.len / 2, 0);
    const auto [start_lon, start_lat] = position(after, -after.len / 2, 0);
    double metres = 0;
    GeographicLib::Geodesic::WGS84().Inverse(end_lat, end_lon, start_lat, start_lon, metres);
    const double km = metres / kMetresPerKm;
    if (km > std::max(before.len / before.nstk, after.len / after.nstk)) gaps.emplace_back(k, km);
  }
  return gaps;
}

}  // namespace

void check_how_segments_meet(const std::vector<Segment>& segments, const Named& table, std::vector<Diagnostic>& said) {
  const auto named = [&](std::size_t k) {
    return "segment " + std::to_string(k + 1) + " (" + (table.rows ? "row " : "line ") +
           std::to_string(segments[k].line) + ")";
  };
  for (const Overlap& o : overlapping_segments(segments)) {
    const Segment& second = segments[o.second];
    if (o.laid_over) {
      said.push_back(said_at(table.at(second.line), Severity::kError, "segment",
                             "lies over " + named(o.first) + " across an area: the subfaults there would slip twice"));
      continue;
    }
    const std::size_t other = o.segment == o.first ? o.second : o.first;
    char km[32];
    std::snprintf(km, sizeof km, "%.3g", o.km);
    said.push_back(said_at(table.at(second.line), Severity::kWarning, "segment",
                           "subfault " + std::to_string(o.segment + 1) + "-" + std::to_string(o.i) + "-" +
                               std::to_string(o.j) + " of " + named(o.segment) + " lies " + km +
                               " km from the surface of " + named(other) +
                               ", within half a subfault: the segments cross or overlap"));
  }
  for (const auto& [k, distance] : gaps_between(segments)) {
    char km[32];
    std::snprintf(km, sizeof km, "%.1f", distance);
    said.push_back(said_at(table.at(segments[k].line), Severity::kWarning, "segment",
                           "segment " + std::to_string(k + 1) + " starts " + km + " km from where segment " +
                               std::to_string(k) + " ends; rupture times take them as joined end to end"));
  }
}

}  // namespace detail

}  // namespace slipvel::rupture
