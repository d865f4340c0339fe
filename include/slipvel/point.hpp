// slipvel/point.hpp: one point of a rupture and the slip-velocity function it
// carries, and that function's slip-rate history as an SRF file holds it.
//
// The samples of a point start at rest: sample k is the mean slip rate over
// the step that ends at k·dt, (S(k·dt) − S((k−1)·dt))/dt, with S(t) the exact
// slip the function carries up to t (slip_until) and S = 0 before 0. So
// sample 0 is exactly 0, dt·Σ samples is the whole slip S(ts), and the
// trapezoid rule gives the same integral as the sum. Read as rates at
// tinit + k·dt, every point's function is the exact one averaged over one step
// and delayed by dt/2, the same delay for every point of a rupture.
//
// Functions that throw say so; the others throw nothing but std::bad_alloc.
#pragma once

#include <optional>
#include <vector>

#include <slipvel/slipvel.hpp>

namespace slipvel::srf {

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
  double vs;     ///< shear-wave speed (m/s); 0: not given
  double den;    ///< density (kg/m³); 0: not given
};

/// A point and the slip-velocity function it carries.
struct PointSource {
  Point where;
  Parameters parameters;       ///< the point's source, ts set; dt is the sample spacing (s)
  std::optional<Shape> shape;  ///< the onset search's shape; none for a point that does not slip (slip 0)
};

/// Returns the point with its source: the shape the onset search finds, or
/// none for slip 0. Throws ParameterError as check_parameters does; a point of
/// slip 0 is checked as a source in every other value.
PointSource point_source(const Point& where, const Parameters& parameters);

/// S(ts): the whole slip (m) the point carries; 0 for a point that does not slip.
double whole_slip(const PointSource& point);

/// A point's slip-rate history as an SRF file holds it (see the top of this
/// header): samples in cm/s from k = 0 through the last non-zero one and one
/// zero after it; none for a point that does not slip.
struct SlipRate {
  double dt = 0;                ///< sample spacing (s)
  std::vector<double> samples;  ///< cm/s
  double slip = 0;              ///< slip1: the whole slip S(ts) (cm), which dt·Σ samples equals to rounding
};

/// Returns the point's slip-rate history. Throws ParameterError (field
/// "nt1") when it has more samples than an SRF file's nt1 field holds.
SlipRate slip_rate(const PointSource& point);

/// Returns the point's values that keep every rule but lie outside what the
/// Earth has, most often a unit mixed up: vs outside 100 to 10,000 m/s, den
/// outside 1,000 to 5,000 kg/m³ (each where given, greater than 0), a depth
/// below 700 km. Each problem's field is the value's name.
std::vector<Problem> implausible_values(const Point& where);

/// Returns the problem of a rupture front that runs at `vr` (km/s) where the
/// shear-wave speed is `vs` (m/s; 0: not known) when it is faster, or nothing.
std::optional<Problem> implausible_rupture_velocity(double vr, double vs);

}  // namespace slipvel::srf
