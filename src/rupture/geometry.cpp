#include "geometry.hpp"

#include <GeographicLib/Geodesic.hpp>
#include <GeographicLib/Math.hpp>
#include <algorithm>
#include <cmath>

namespace slipvel::rupture::detail {

using GeographicLib::Geodesic;
using GeographicLib::Math;

constexpr double kMetresPerKm = 1000;

namespace {}  // namespace

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
