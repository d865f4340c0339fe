#include <slipvel/moment.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>

#include <slipvel/text.hpp>

#include "checks.hpp"
#include "slip_velocity.hpp"
#include "step_means.hpp"

namespace slipvel {

using text::shortest;

double point_rigidity(const srf::Point& where, double rigidity) {
  if (where.vs > 0 && where.den > 0) return where.den * (where.vs * where.vs);
  return rigidity;
}

void check_rigidity(double vs, double den) {
  const double rigidity = den * (vs * vs);
  if (std::isfinite(rigidity) && rigidity > 0) return;
  detail::refuse(
      detail::problem("vs", shortest(vs) + " m/s, den = " + shortest(den) + " kg/m^3",
                      "the rigidity den*vs^2 = " + shortest(rigidity) + " Pa must be finite and greater than 0"));
}

double moment_magnitude(double moment) { return 2.0 / 3.0 * (std::log10(moment) - 9.1); }

void RuptureMoment::CompensatedSum::add(double value) {
  const double corrected = value - carry;
  const double next = sum + corrected;
  // What the addition lost; none to carry once the sum has overflowed.
  carry = std::isfinite(next) ? (next - sum) - corrected : 0;
  sum = next;
}

void RuptureMoment::add(const srf::PointSource& point, double rigidity) {
  ++points_;
  area_.add(point.where.area);
  if (!point.shape) return;
  moment_.add(rigidity * point.where.area * srf::whole_slip(point));
  duration_ = std::max(duration_, point.where.tinit + *point.parameters.ts);
}

RuptureMoment seismic_moment(const std::vector<srf::PointSource>& points, double rigidity) {
  RuptureMoment sums;
  for (const srf::PointSource& p : points) sums.add(p, point_rigidity(p.where, rigidity));
  return sums;
}

void check_moment(const RuptureMoment& m) {
  if (std::isfinite(m.moment()) && std::isfinite(m.area())) return;
  detail::refuse(detail::problem("M0", shortest(m.moment()) + " N*m, area = " + shortest(m.area()) + " m^2",
                                 "the rupture's sums must be finite numbers (smaller den*vs^2, areas or slips)"));
}

namespace {

// Rows k = 0 … ⌈end/dt⌉ + 1 hold every step that ends after 0 and begins before `end`.
double rows_through(double end, double dt) { return std::ceil(end / dt) + 2; }

}  // namespace

void check_moment_rate(double duration, double dt) {
  const double rows = rows_through(duration, dt);
  if (rows <= MomentRate::kMostRows) return;
  detail::refuse(detail::problem("duration", shortest(duration) + " s",
                                 "its moment-rate function at dt = " + shortest(dt) + " s would have " +
                                     shortest(rows) + " rows, at most " +
                                     std::to_string(static_cast<long long>(MomentRate::kMostRows)) +
                                     " (a rupture velocity far too slow, or rupture times far too late?)"));
}

MomentRate::MomentRate(double dt, double duration) : dt_(dt) {
  check_moment_rate(duration, dt);
  rows_.assign(static_cast<std::size_t>(rows_through(duration, dt)), 0.0);
}

void MomentRate::add(const srf::PointSource& point, double rigidity) {
  if (!point.shape) return;
  const double weight = rigidity * point.where.area;
  const double tinit = point.where.tinit;
  const double end = tinit + *point.parameters.ts;
  if (static_cast<double>(rows_.size()) < rows_through(end, dt_)) {
    check_moment_rate(end, dt_);
    rows_.resize(static_cast<std::size_t>(rows_through(end, dt_)), 0.0);
  }
  // Outside these rows both ends of a step lie before tinit or after its
  // slip ends, where S is constant: the point adds exactly 0 there. One row of
  // margin on each side takes up the rounding of the two quotients.
  const auto first = static_cast<std::int64_t>(std::max(0.0, std::floor(tinit / dt_) - 1));
  const auto last =
      static_cast<std::int64_t>(std::min(std::ceil(end / dt_) + 1, static_cast<double>(rows_.size() - 1)));
  const detail::SlipCurve curve(*point.shape, point.parameters);
  detail::for_each_step_mean(curve, dt_, tinit, first, last + 1,
                             [&](std::int64_t k, double mean) { rows_[static_cast<std::size_t>(k)] += weight * mean; });
}

std::vector<double> MomentRate::rows() const {
  std::vector<double> rows = rows_;
  if (rows.back() != 0) rows.push_back(0);  // a rounding that reached past the duration
  return rows;
}

std::vector<double> moment_rate(const std::vector<srf::PointSource>& points, double dt, double rigidity) {
  MomentRate rate(dt, seismic_moment(points, rigidity).duration());
  for (const srf::PointSource& p : points) rate.add(p, point_rigidity(p.where, rigidity));
  return rate.rows();
}

}  // namespace slipvel

namespace slipvel {

std::optional<Problem> implausible_magnitude(double magnitude) {
  if (!(magnitude > 9.6)) return std::nullopt;
  return Problem{"Mw", "Mw = " + text::shortest(magnitude) +
                           ": above 9.6, larger than any earthquake recorded (slips in cm or areas in cm^2?)"};
}

}  // namespace slipvel
