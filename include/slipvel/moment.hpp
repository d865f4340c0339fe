// slipvel/moment.hpp: the seismic moment of a rupture, its moment magnitude
// and its moment-rate function, from the points' exact slip S(t). The
// moment-rate file is <slipvel/moment_rate.hpp>.
//
//   auto moment = slipvel::seismic_moment(points, slipvel::kDefaultRigidity);
//   double mw = slipvel::moment_magnitude(moment.moment());
//
// Functions that throw say so; the others throw nothing but std::bad_alloc.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include <slipvel/point.hpp>

namespace slipvel {

/// The rigidity (Pa) that common SRF tools assume where a point has no vs and
/// density: vs 3.6 km/s and density 2800 kg/m³.
inline constexpr double kDefaultRigidity = 3.6288e10;

/// Returns the rigidity μ (Pa) of a point: den·vs² where it has both
/// (greater than 0), else `rigidity`.
double point_rigidity(const srf::Point& where, double rigidity);

/// Throws ParameterError when den·vs² (vs in m/s, den in kg/m³) is not a
/// finite number greater than 0.
void check_rigidity(double vs, double den);

/// Returns the moment magnitude Mw = (2/3)·(log10 M0 − 9.1) of a seismic
/// moment M0 (N·m): −infinity for M0 = 0, NaN below 0.
double moment_magnitude(double moment);

/// Returns the problem of a moment magnitude above 9.6, beyond any earthquake
/// recorded (most often slips or areas in the wrong unit), or nothing.
std::optional<Problem> implausible_magnitude(double magnitude);

/// The sums of a rupture's moment, added point by point in file order with
/// Kahan's compensation (the rounding of each addition carried into the
/// next), so that millions of points sum as closely as one and the result is
/// the same however the points were computed.
class RuptureMoment {
 public:
  /// Adds a point whose rigidity is μ (Pa).
  void add(const srf::PointSource& point, double rigidity);

  std::size_t points() const { return points_; }  ///< points added
  double area() const { return area_.sum; }       ///< Σ area (m²) over every point
  double moment() const { return moment_.sum; }   ///< M0 = Σ μ·area·S(ts) (N·m)
  /// The largest tinit + ts over the points that slip (s); 0 if none does.
  double duration() const { return duration_; }

 private:
  struct CompensatedSum {
    double sum = 0, carry = 0;
    void add(double value);
  };
  std::size_t points_ = 0;
  CompensatedSum area_, moment_;
  double duration_ = 0;
};

/// Returns the sums of `points`, each with point_rigidity(where, rigidity).
RuptureMoment seismic_moment(const std::vector<srf::PointSource>& points, double rigidity);

/// Throws ParameterError when the sums are not finite numbers (den·vs², area
/// and slip so large that the moment overflows).
void check_moment(const RuptureMoment& moment);

/// The moment-rate function of a rupture, added point by point: row k is the
/// mean moment rate (N·m/s) over the step that ends at k·dt,
/// Σ μ·area·(S(k·dt − tinit) − S((k−1)·dt − tinit))/dt over the points, with
/// S = 0 before 0 (so tinit need not be a multiple of dt). Row 0 is 0, the last
/// row is 0, and dt·Σ rows is M0 but for rounding.
class MomentRate {
 public:
  /// The most rows a moment-rate function may have.
  static constexpr double kMostRows = 1e8;

  /// Rows of step `dt` (s) for a rupture that slips until `duration` (s), the
  /// RuptureMoment's: rows k = 0 … ⌈duration/dt⌉ + 1. Throws ParameterError
  /// (field "duration") for more than kMostRows rows, as check_moment_rate.
  MomentRate(double dt, double duration);

  /// Adds a point whose rigidity is μ (Pa). A point whose slip ends after the
  /// duration given adds rows for it.
  void add(const srf::PointSource& point, double rigidity);

  double dt() const { return dt_; }
  /// The rows, the last one 0.
  std::vector<double> rows() const;

 private:
  double dt_;
  std::vector<double> rows_;
};

/// Throws ParameterError (field "duration") when the moment-rate function of
/// a rupture slipping until `duration` (s) at step `dt` (s) would have more
/// than MomentRate::kMostRows rows, naming the duration, dt and rows.
void check_moment_rate(double duration, double dt);

/// Returns the rows of the moment-rate function of `points` (see MomentRate).
std::vector<double> moment_rate(const std::vector<srf::PointSource>& points, double dt, double rigidity);

}  // namespace slipvel
