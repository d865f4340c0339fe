// The seismic moment of a rupture and its moment-rate function, from the
// points' exact slip S(t) (slip_until): shared by every program that writes
// a rupture.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include <slipvel/slipvel.hpp>
#include <slipvel/srf.hpp>

namespace slipvel::apps {

// The rigidity SRF tools assume where a point has no vs and density:
// vs 3.6 km/s and 2800 kg/m³ (Pa).
inline constexpr double kDefaultRigidity = 3.6288e10;

// One point of a rupture: where it is, its source, and (when it slips) the
// shape its onset search found and its whole slip S(ts).
struct RupturePoint {
  srf::Point where;
  Parameters parameters;
  bool slips = false;  // false: slip 0, no shape
  Shape shape{};
  double slip = 0;  // S(ts) (m); 0 for a point that does not slip
};

// The point's rigidity μ (Pa): den·vs² where it has both (greater than 0),
// else `rigidity`.
double point_rigidity(const srf::Point& where, double rigidity);

// What keeps den·vs² from being a rigidity, finite and greater than 0 (vs in
// m/s, den in kg/m³, both given), or nothing.
std::optional<std::string> rigidity_problem(double vs, double den);

struct RuptureMoment {
  std::size_t points = 0;
  double area = 0;      // Σ area (m²) over every point
  double moment = 0;    // M0 = Σ μ·area·S(ts) (N·m)
  double duration = 0;  // largest tinit + ts over the points that slip (s); 0 if none does
};

// Sums the moment of the points in their order.
RuptureMoment rupture_moment(const std::vector<RupturePoint>& points, double rigidity);

// Throws ParameterError when the sums are not finite numbers (den*vs^2, area
// and slip so large that the moment overflows), before anything is written.
void check_moment(const RuptureMoment& moment);

// "points=N area_m2=A M0_Nm=M Mw=W duration_s=D\n", numbers in their shortest
// round-trip text, Mw = (2/3)·(log10 M0 − 9.1) or "-" when M0 is 0.
std::string moment_line(const RuptureMoment& moment);

// The moment-rate file: header "time(s),moment_rate(N*m/s)", then for k = 0 …
// ⌈duration/dt + ½⌉ the time k·dt and Σ μ·area·(S(k·dt + dt/2 − tinit) −
// S(k·dt − dt/2 − tinit))/dt over the points (S = 0 before 0), so dt·Σ rows
// is M0 to rounding. `dt` is the one time step of every point.
std::string moment_rate_text(const std::vector<RupturePoint>& points, double dt, double rigidity);

}  // namespace slipvel::apps
