#include "geometry.hpp"

#include <GeographicLib/Geodesic.hpp>
#include <GeographicLib/GeodesicLine.hpp>
#include <GeographicLib/Math.hpp>
#include <algorithm>
#include <cmath>
#include <optional>

namespace slipvel::rupture::detail {

using GeographicLib::Geodesic;
using GeographicLib::Math;

constexpr double kMetresPerKm = 1000;

namespace {

// How far (degrees) a piece's strike lies from the geodesic's direction along
// it, looked at in 16 steps: the direction changes monotonically but where
// the geodesic crosses the equator, and smoothly there.
double strike_drift(const GeographicLib::GeodesicLine& line, double from, double to, double stk) {
  constexpr int kSteps = 16;
  double most = 0;
  for (int k = 0; k <= kSteps; ++k) {
    double lat = 0, lon = 0, azimuth = 0;
    line.Position(from + (to - from) * k / kSteps, lat, lon, azimuth);
    most = std::max(most, std::abs(std::remainder(azimuth - stk, 360.0)));
  }
  return most;
}

}  // namespace

double normalized_longitude(double lon, bool east) {
  const double low = east ? 0 : -180;
  double wrapped = std::fmod(lon - low, 360.0);
  if (wrapped < 0) wrapped += 360;
  if (wrapped >= 360) wrapped = 0;  // a tiny negative remainder rounds up to 360
  return wrapped + low + 0.0;
}

double depth_at(const Segment& g, double d) { return g.dtop + d * Math::sind(g.dip); }

std::pair<double, double> position(const Segment& g, double s, double d) {
  const double h = d * Math::cosd(g.dip);
  const double east = s * Math::sind(g.stk) + h * Math::sind(g.stk + 90);
  const double north = s * Math::cosd(g.stk) + h * Math::cosd(g.stk + 90);
  double lat = 0, lon = 0, unused = 0;
  Geodesic::WGS84().GenDirect(g.elat, g.elon, Math::atan2d(east, north), false,
                              std::sqrt(east * east + north * north) * kMetresPerKm,
                              Geodesic::LATITUDE | Geodesic::LONGITUDE | Geodesic::LONG_UNROLL, lat, lon, unused,
                              unused, unused, unused, unused, unused);
  return {normalized_longitude(lon, g.east_longitudes), lat};
}

TopEdge top_edge_of_trace(double lon1, double lat1, double lon2, double lat2, bool east) {
  const Geodesic& wgs84 = Geodesic::WGS84();
  double metres = 0, azimuth = 0, unused = 0;
  wgs84.Inverse(lat1, lon1, lat2, lon2, metres, azimuth, unused);
  double lat = 0, lon = 0, azimuth_there = 0;
  wgs84.GenDirect(lat1, lon1, azimuth, false, metres / 2,
                  Geodesic::LATITUDE | Geodesic::LONGITUDE | Geodesic::AZIMUTH | Geodesic::LONG_UNROLL, lat, lon,
                  azimuth_there, unused, unused, unused, unused, unused);
  double stk = azimuth_there < 0 ? azimuth_there + 360 : azimuth_there;
  if (stk >= 360) stk = 0;  // a tiny negative azimuth rounds up to 360
  return {normalized_longitude(lon, east), lat, stk, metres / kMetresPerKm};
}

namespace {

// The geodesic cut into `count` pieces of equal length, or nothing where one
// of them drifts more than `drift` from the geodesic's direction along it.
std::optional<std::vector<TopEdge>> cut_into(const GeographicLib::GeodesicLine& line, double lon1, double lat1,
                                             double lon2, double lat2, bool east, double drift, std::size_t count) {
  const double length = line.Distance();
  std::vector<TopEdge> pieces;
  double from_lon = lon1, from_lat = lat1;
  for (std::size_t k = 0; k < count; ++k) {
    const double from = length * static_cast<double>(k) / static_cast<double>(count);
    const double to = length * static_cast<double>(k + 1) / static_cast<double>(count);
    double to_lat = lat2, to_lon = lon2, unused = 0;
    if (k + 1 < count) line.Position(to, to_lat, to_lon, unused);
    pieces.push_back(top_edge_of_trace(from_lon, from_lat, to_lon, to_lat, east));
    if (strike_drift(line, from, to, pieces.back().stk) > drift) return std::nullopt;
    from_lon = to_lon, from_lat = to_lat;
  }
  return pieces;
}

}  // namespace

std::vector<TopEdge> pieces_of_geodesic(double lon1, double lat1, double lon2, double lat2, bool east, double drift,
                                        std::size_t most) {
  const GeographicLib::GeodesicLine line = Geodesic::WGS84().InverseLine(lat1, lon1, lat2, lon2);
  double lat = 0, lon = 0, end_azimuth = 0;
  line.Position(line.Distance(), lat, lon, end_azimuth);
  // Each piece's strike is near the middle of its directions: half the turn
  // over it lies on either side. From that many, doubling until the pieces
  // fit, then halving the gap back to the fewest that do: a few dozen cuts
  // however fast the direction turns.
  const double turn = std::abs(std::remainder(end_azimuth - line.Azimuth(), 360.0));
  std::size_t failing = 0,
              fitting = std::min(most, static_cast<std::size_t>(std::max(1.0, std::ceil(turn / (2 * drift)))));
  std::optional<std::vector<TopEdge>> best = cut_into(line, lon1, lat1, lon2, lat2, east, drift, fitting);
  while (!best && fitting < most) {
    failing = fitting;
    fitting = std::min(most, 2 * fitting);
    best = cut_into(line, lon1, lat1, lon2, lat2, east, drift, fitting);
  }
  if (!best) return {};
  while (fitting - failing > 1) {
    const std::size_t middle = failing + (fitting - failing) / 2;
    if (auto fewer = cut_into(line, lon1, lat1, lon2, lat2, east, drift, middle)) {
      best = std::move(fewer);
      fitting = middle;
    } else {
      failing = middle;
    }
  }
  return *best;
}

InPlane in_plane(const Segment& g, double lon, double lat, double depth) {
  double metres = 0, azimuth = 0, unused = 0;
  Geodesic::WGS84().Inverse(g.elat, g.elon, lat, lon, metres, azimuth, unused);
  const double east = metres / kMetresPerKm * Math::sind(azimuth), north = metres / kMetresPerKm * Math::cosd(azimuth);
  // Along strike, horizontally toward the dip direction, and down from the top edge.
  const double s = east * Math::sind(g.stk) + north * Math::cosd(g.stk);
  const double h = east * Math::sind(g.stk + 90) + north * Math::cosd(g.stk + 90);
  const double z = depth - g.dtop;
  return {s, h * Math::cosd(g.dip) + z * Math::sind(g.dip), z * Math::cosd(g.dip) - h * Math::sind(g.dip)};
}

}  // namespace slipvel::rupture::detail
