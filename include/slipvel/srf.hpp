// slipvel/srf.hpp: the texts of a Standard Rupture Format (SRF) file, the
// ASCII layout finite-fault simulation codes read: the version line, the
// PLANE block of fault segments, and per point two header lines and its
// slip-rate samples, six per line.
//
// Units as the format has them: area in cm², slip in cm, slip rate in cm/s,
// vs in cm/s, density in g/cm³, depths and lengths in km, times in s. The
// functions take SI values (and km, degrees) and convert.
//
// The samples of a point start at rest: sample k is the mean slip rate over
// the step that ends at k·dt, (S(k·dt) − S((k−1)·dt))/dt, with S(t) the exact
// slip the function carries up to t (slip_until) and S = 0 before 0. So
// sample 0 is exactly 0, dt·Σ samples is the whole slip S(ts), and the
// trapezoid rule gives the same integral as the sum. Read as rates at
// tinit + k·dt, every point's function is the exact one averaged over one step
// and delayed by dt/2, the same delay for every point of a rupture.
// Functions that throw say so; the others throw nothing but std::bad_alloc.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include <slipvel/slipvel.hpp>

namespace slipvel::srf {

/// The file's version: 1.0 (read by more codes) or 2.0 (adds vs and density).
enum class Version { k1, k2 };

/// How the points are grouped into POINTS blocks.
enum class Blocks {
  kPerPlane,  ///< one block per plane in a 2.0 file with several planes, else one block
  kOne,       ///< every point in one block, whatever the version and planes
};

/// The file's layout: its version, its blocks and whether it has a PLANE block.
struct Layout {
  Version version = Version::k1;
  Blocks blocks = Blocks::kPerPlane;
  bool plane_block = true;  ///< false: no PLANE block even where planes are given
};

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

/// A point and the slip-velocity function it carries.
struct PointSource {
  Point where;
  Parameters parameters;       ///< the point's source, ts set; dt is the sample spacing (s)
  std::optional<Shape> shape;  ///< the onset search's shape; none for a point that does not slip (slip 0)
};

/// Returns the point's values that keep every rule but lie outside what the
/// Earth has, most often a unit mixed up: vs outside 100 to 10,000 m/s, den
/// outside 1,000 to 5,000 kg/m³ (each where given, greater than 0), a depth
/// below 700 km. Each problem's field is the value's name.
std::vector<Problem> implausible_values(const Point& where);

/// Returns the problem of a rupture front that runs at `vr` (km/s) where the
/// shear-wave speed is `vs` (m/s; 0: not known) when it is faster, or nothing.
std::optional<Problem> implausible_rupture_velocity(double vr, double vs);

/// Returns the point with its source: the shape the onset search finds, or
/// none for slip 0. Throws ParameterError as check_parameters does; a point of
/// slip 0 is checked as a source in every other value.
PointSource point_source(const Point& where, const Parameters& parameters);

/// S(ts): the whole slip (m) the point carries; 0 for a point that does not slip.
double whole_slip(const PointSource& point);

/// A point's slip-rate history as the file holds it (see the top of this
/// header): samples in cm/s from k = 0 through the last non-zero one and one
/// zero after it; none for a point that does not slip.
struct SlipRate {
  double dt = 0;                ///< sample spacing (s)
  std::vector<double> samples;  ///< cm/s
  double slip = 0;              ///< slip1: the whole slip S(ts) (cm), which dt·Σ samples equals to rounding
};

/// Returns the point's slip-rate history. Throws ParameterError (field
/// "nt1") when it has more samples than the file's nt1 field holds.
SlipRate slip_rate(const PointSource& point);

/// Throws ParameterError, one line per field, for every value of the point
/// whose printf text would be wider than its field in this version (or not a
/// finite number once in the file's units), slip1 and nt1 included; the
/// message names the value and the limit. point_text then writes every line
/// whole.
void check_point(const PointSource& point, Version version);

/// The same for the values of a point's first header line and its rake,
/// with samples `dt` apart (s): what depends on where the point is.
void check_where(const Point& where, double dt, Version version);

/// The same for slip1 and nt1: what depends on the point's function alone.
void check_slip_fields(const PointSource& point, Version version);

/// The same for a fault segment of the PLANE block.
void check_plane(const Plane& plane, Version version);

/// Returns the lines before the points: the version and, unless the layout
/// leaves it out or `planes` is empty, the PLANE block. Throws ParameterError
/// as check_plane does.
std::string head_text(const std::vector<Plane>& planes, const Layout& layout);

/// Returns the number of points in each POINTS block, in order, for `points`
/// points: with Blocks::kPerPlane, nstk·ndip of each plane where the file is
/// version 2.0 with a PLANE block of several planes, else one block of all.
/// Throws ParameterError (field "planes") when those planes do not hold
/// `points` in all.
std::vector<std::size_t> block_sizes(const std::vector<Plane>& planes, std::size_t points, const Layout& layout);

/// Returns the line that opens a block of `count` points.
std::string points_line(std::size_t count);

/// Returns the most characters the text of this point takes.
std::size_t point_text_capacity(const PointSource& point);

/// Writes the point's two header lines and its slip-rate samples, six per
/// line, at `out` (room for point_text_capacity(point) characters), and
/// returns the end. Throws ParameterError as check_point does.
char* put_point_text(char* out, const PointSource& point, Version version);

/// The same as a string of its own.
std::string point_text(const PointSource& point, Version version);

/// Returns the whole file of these points: head_text, then each block's
/// points_line and its points in order. Throws ParameterError as check_point,
/// check_plane and block_sizes do.
std::string file_text(const std::vector<PointSource>& points, const std::vector<Plane>& planes, const Layout& layout);

}  // namespace slipvel::srf
