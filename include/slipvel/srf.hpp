// slipvel/srf.hpp: the texts of a Standard Rupture Format (SRF) file, the
// ASCII layout finite-fault simulation codes read: the version line, the
// PLANE block of fault segments, and per point two header lines and its
// slip-rate samples, six per line.
//
// Units as the format has them: area in cm², slip in cm, slip rate in cm/s,
// vs in cm/s, density in g/cm³, depths and lengths in km, times in s. The
// functions take SI values (and km, degrees) and convert.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include <slipvel/slipvel.hpp>

namespace slipvel::srf {

/// The file's version: 1.0 (read by more codes) or 2.0 (adds vs and density).
enum class Version { k1, k2 };

/// One point of the rupture.
struct Point {
  double lon;    ///< longitude (degrees)
  double lat;    ///< latitude (degrees)
  double dep;    ///< depth (km)
  double stk;    ///< strike (degrees)
  double dip;    ///< dip (degrees)
  double rake;   ///< rake (degrees)
  double area;   ///< area the point stands for (m²)
  double tinit;  ///< rupture time (s)
  double vs;     ///< shear-wave speed (m/s); written by version 2.0 only
  double den;    ///< density (kg/m³); written by version 2.0 only
};

/// One fault segment of the PLANE block.
struct Plane {
  double elon, elat;  ///< centre of the top edge (degrees)
  int nstk, ndip;     ///< points along strike and down dip
  double len, wid;    ///< length and width (km)
  double stk, dip;    ///< orientation (degrees)
  double dtop;        ///< depth of the top edge (km)
  double shyp, dhyp;  ///< hypocentre along strike from the centre and down dip (km)
};

/// Returns the lines before the points: the version and, when `planes` is not
/// empty, the PLANE block.
std::string head_text(const std::vector<Plane>& planes, Version version);

/// Returns the line that opens a block of `count` points.
std::string points_line(std::size_t count);

/// Returns the point's two header lines and its slip-rate samples (cm/s), six
/// per line: the velocity of `function` from time 0 through its last non-zero
/// sample, and one zero after it where the record has one. slip1 is dt times
/// their sum, the slip they carry.
std::string point_text(const Point& point, const SlipFunction& function, Version version);

}  // namespace slipvel::srf
