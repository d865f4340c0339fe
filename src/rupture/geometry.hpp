// Places on a segment and on the ellipsoid, shared by the layout and the
// checks of how segments meet.
#pragma once

#include <utility>

#include <slipvel/rupture.hpp>

namespace slipvel::rupture::detail {

// The centre of subfault (i, j) on its segment (km).
inline double centre_s(const Segment& g, int i) { return -g.len / 2 + (i + 0.5) * g.len / g.nstk; }
inline double centre_d(const Segment& g, int j) { return (j + 0.5) * g.wid / g.ndip; }

// Depth (km) of the place d down dip on a segment.
double depth_at(const Segment& g, double d);

// The place (s, d) of a segment as longitude and latitude: its horizontal
// offset from the top edge's centre (the dip direction is 90° clockwise from
// strike), mapped by the azimuthal equidistant projection about that centre
// on the WGS84 ellipsoid. Longitudes keep the segment's convention (−180…180
// or 0…360) as far as the range −180…360 allows.
std::pair<double, double> position(const Segment& g, double s, double d);

// A point in a segment's own frame (the projection it is laid out in, where
// its surface is a flat rectangle): s along strike and d down dip in the
// segment's plane, off the plane's distance from it (km).
struct InPlane {
  double s, d, off;
};

// The point of longitude, latitude (degrees) and depth (km) in the frame of `g`.
InPlane in_plane(const Segment& g, double lon, double lat, double depth);

}  // namespace slipvel::rupture::detail
