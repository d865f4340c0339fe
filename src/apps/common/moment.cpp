#include "common/moment.hpp"

#include <algorithm>
#include <cmath>

#include <slipvel/text.hpp>

namespace slipvel::apps {

double point_rigidity(const srf::Point& where, double rigidity) {
  if (where.vs > 0 && where.den > 0) return where.den * (where.vs * where.vs);
  return rigidity;
}

std::optional<std::string> rigidity_problem(double vs, double den) {
  const double rigidity = den * (vs * vs);
  if (std::isfinite(rigidity) && rigidity > 0) return std::nullopt;
  return "vs = " + text::shortest(vs) + " m/s, den = " + text::shortest(den) +
         " kg/m^3: the rigidity den*vs^2 = " + text::shortest(rigidity) + " Pa must be finite and greater than 0";
}

RuptureMoment rupture_moment(const std::vector<RupturePoint>& points, double rigidity) {
  RuptureMoment m;
  m.points = points.size();
  for (const RupturePoint& p : points) {
    m.area += p.where.area;
    if (!p.slips) continue;
    m.moment += point_rigidity(p.where, rigidity) * p.where.area * p.slip;
    m.duration = std::max(m.duration, p.where.tinit + stopping_time(p.parameters));
  }
  return m;
}

void check_moment(const RuptureMoment& m) {
  if (std::isfinite(m.moment) && std::isfinite(m.area)) return;
  throw ParameterError("M0 = " + text::shortest(m.moment) + " N*m, area = " + text::shortest(m.area) +
                       " m^2: the rupture's sums must be finite numbers (smaller den*vs^2, areas or slips)");
}

std::string moment_line(const RuptureMoment& m) {
  const std::string mw = m.moment > 0 ? text::shortest(2.0 / 3.0 * (std::log10(m.moment) - 9.1)) : "-";
  return "points=" + std::to_string(m.points) + " area_m2=" + text::shortest(m.area) +
         " M0_Nm=" + text::shortest(m.moment) + " Mw=" + mw + " duration_s=" + text::shortest(m.duration) + "\n";
}

std::string moment_rate_text(const std::vector<RupturePoint>& points, double dt, double rigidity) {
  const double duration = rupture_moment(points, rigidity).duration;
  const auto last = static_cast<std::size_t>(std::ceil(duration / dt + 0.5));
  std::vector<double> rate(last + 1, 0.0);
  for (const RupturePoint& p : points) {
    if (!p.slips) continue;
    const double weight = point_rigidity(p.where, rigidity) * p.where.area;
    const double tinit = p.where.tinit;
    // Outside these rows both ends of the interval lie before 0 or after ts,
    // where S is constant: the point adds exactly 0 there.
    const double first = std::max(0.0, std::floor((tinit - dt) / dt));
    const double end = std::ceil((tinit + stopping_time(p.parameters) + dt) / dt) + 1;
    for (auto k = static_cast<std::size_t>(first); k <= last && static_cast<double>(k) <= end; ++k) {
      const double t = static_cast<double>(k) * dt;
      const double slipped =
          slip_until(p.shape, p.parameters, t + dt / 2 - tinit) - slip_until(p.shape, p.parameters, t - dt / 2 - tinit);
      rate[k] += weight * slipped / dt;
    }
  }
  std::string text = "time(s),moment_rate(N*m/s)\n";
  for (std::size_t k = 0; k <= last; ++k) {
    text += text::shortest(static_cast<double>(k) * dt);
    text += ',';
    text += text::shortest(rate[k]);
    text += '\n';
  }
  return text;
}

}  // namespace slipvel::apps
