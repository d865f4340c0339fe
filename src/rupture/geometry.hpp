// Places on a segment and on the ellipsoid, shared by the layout and the
// checks of how segments meet.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

#include <slipvel/rupture.hpp>

namespace slipvel::rupture::detail {

// The centre of subfault (i, j) on its segment (km).
inline double centre_s(const Segment& g, int i) { return -g.len / 2 + (i + 0.5) * g.len / g.nstk; }
inline double centre_d(const Segment& g, int j) { return (j + 0.5) * g.wid / g.ndip; }

// Depth (km) of the place d down dip on a segment.
double depth_at(const Segment& g, double d);

// The area a subfault of the segment stands for (m²).
inline double subfault_area(const Segment& g) { return 1e6 * (g.len / g.nstk) * (g.wid / g.ndip); }

// vs (m/s) and den (kg/m³) at a depth (km) of a segment: the medium's, or
// where the fault has none the segment's (0 when it gives none).
inline std::pair<double, double> vs_den_at(const Fault& fault, const Segment& g, double depth) {
  if (fault.medium.empty()) return {g.vs, g.den};
  const Layer& layer = fault.medium.at(depth);
  return {layer.vs, layer.den};
}

// A longitude (degrees) brought into [0, 360) where `east`, else [−180, 180).
double normalized_longitude(double lon, bool east);

// The place (s, d) of a segment as longitude and latitude: its horizontal
// offset from the top edge's centre (the dip direction is 90° clockwise from
// strike), mapped by the azimuthal equidistant projection about that centre
// on the WGS84 ellipsoid; the longitude in the segment's range (see
// Segment::east_longitudes), across the antimeridian too.
std::pair<double, double> position(const Segment& g, double s, double d);

// A segment's top edge by its centre and direction.
struct TopEdge {
  double elon, elat;  // the centre (degrees)
  double stk;         // the direction at the centre, in [0, 360) (degrees)
  double len;         // km
};

// The top edge whose trace runs from (lon1, lat1) to (lon2, lat2) (degrees):
// the geodesic between them, its midpoint, the azimuth there and its length
// on the WGS84 ellipsoid; the centre's longitude in [0, 360) where `east`,
// else [−180, 180).
TopEdge top_edge_of_trace(double lon1, double lat1, double lon2, double lat2, bool east);

// The geodesic from (lon1, lat1) to (lon2, lat2) (degrees) cut into the
// fewest pieces of equal length whose strikes (each piece's direction at its
// centre, see top_edge_of_trace) differ from the geodesic's own direction by
// at most `drift` degrees anywhere along them; each piece as its top edge,
// the first starting at the first point and the last ending at the second.
// Empty when more than `most` pieces would be needed.
std::vector<TopEdge> pieces_of_geodesic(double lon1, double lat1, double lon2, double lat2, bool east, double drift,
                                        std::size_t most);

// A point in a segment's own frame (the projection it is laid out in, where
// its surface is a flat rectangle): s along strike and d down dip in the
// segment's plane, off the plane's distance from it (km).
struct InPlane {
  double s, d, off;
};

// The point of longitude, latitude (degrees) and depth (km) in the frame of `g`.
InPlane in_plane(const Segment& g, double lon, double lat, double depth);

}  // namespace slipvel::rupture::detail
