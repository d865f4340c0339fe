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

/// A point's slip-rate history as the file holds it: sample k is the mean
/// slip velocity over its interval, (S(k·dt + dt/2) − S(max(0, k·dt − dt/2)))/dt
/// with S the slip the function carries up to a time (slip_until), in cm/s,
/// from k = 0 through the last non-zero sample and one zero after it. So
/// dt·Σ samples is the function's whole slip S(ts) at any dt.
struct SlipRate {
  double dt = 0;                ///< sample spacing (s)
  std::vector<double> samples;  ///< cm/s; none for a point that does not slip
  double slip = 0;              ///< slip1: dt·Σ samples (cm), 0 for a point that does not slip
};

/// The slip-rate history of the function of `shape` for `parameters`.
SlipRate slip_rate(const Shape& shape, const Parameters& parameters);

/// The slip-rate history of a point that does not slip: no samples, slip 0.
SlipRate no_slip(double dt);

/// Throws ParameterError, one line per field, for every value of the point
/// whose printf text would be wider than its field in this version (or not a
/// finite number once in the file's units); the message names the value and
/// the limit. point_text then writes every line whole.
void check_point(const Point& point, Version version);

/// The same for the slip-rate history's fields: slip1 (cm) and nt1, the
/// sample count.
void check_slip_rate(double slip_cm, std::size_t samples, Version version);

/// The same for a fault segment of the PLANE block.
void check_plane(const Plane& plane, Version version);

/// Returns the lines before the points: the version and, when `planes` is not
/// empty, the PLANE block. Throws ParameterError as check_plane does.
std::string head_text(const std::vector<Plane>& planes, Version version);

/// Returns the line that opens a block of `count` points.
std::string points_line(std::size_t count);

/// The most characters the text of a point with this history takes.
std::size_t point_text_capacity(const SlipRate& rate);

/// Writes the point's text, as append_point_text appends it, at `out` (room
/// for point_text_capacity(rate) characters) and returns its end.
char* put_point_text(char* out, const Point& point, const SlipRate& rate, Version version);

/// Appends the point's two header lines and its slip-rate samples, six per
/// line, to `out`. Throws ParameterError as check_point and check_slip_rate do,
/// leaving `out` as it was.
void append_point_text(std::string& out, const Point& point, const SlipRate& rate, Version version);

/// The same as a string of its own.
std::string point_text(const Point& point, const SlipRate& rate, Version version);

/// The same for a sampled function: its shape's slip-rate history (the
/// samples are interval means, not the function's values at the sample times).
std::string point_text(const Point& point, const SlipFunction& function, Version version);

}  // namespace slipvel::srf
