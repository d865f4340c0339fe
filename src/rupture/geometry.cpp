#include "geometry.hpp"

#include <GeographicLib/Geodesic.hpp>
#include <GeographicLib/Math.hpp>
#include <algorithm>
#include <cmath>

namespace slipvel::rupture::detail {

using GeographicLib::Geodesic;
using GeographicLib::Math;

constexpr double kMetresPerKm = 1000;

namespace {

// Longitudes unrolled along a geodesic, brought back into −180…360.
double in_longitude_range(double lon) {
  if (lon > 360) lon -= 360;
  if (lon < -180) lon += 360;
  return lon;
}

}  // namespace

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
  return {in_longitude_range(lon), lat};
}

TopEdge top_edge_of_trace(double lon1, double lat1, double lon2, double lat2) {
  const Geodesic& wgs84 = Geodesic::WGS84();
  double metres = 0, azimuth = 0, unused = 0;
  wgs84.Inverse(lat1, lon1, lat2, lon2, metres, azimuth, unused);
  double lat = 0, lon = 0, azimuth_there = 0;
  wgs84.GenDirect(lat1, lon1, azimuth, false, metres / 2,
                  Geodesic::LATITUDE | Geodesic::LONGITUDE | Geodesic::AZIMUTH | Geodesic::LONG_UNROLL, lat, lon,
                  azimuth_there, unused, unused, unused, unused, unused);
  double stk = azimuth_there < 0 ? azimuth_there + 360 : azimuth_there;
  if (stk >= 360) stk = 0;  // a tiny negative azimuth rounds up to 360
  return {in_longitude_range(lon), lat, stk, metres / kMetresPerKm};
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
