#include "slip_velocity.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <utility>

namespace slipvel::detail {
namespace {

// The five stage tests, each on its own and in this order, so that a time on a
// boundary takes the later stage's value and a negative time ends at 0. `v`
// keeps its previous value for a time that passes none (not a number).
double sample(double t, double& v, double am, double td, double tb, double tr, double ts, double b, double c, double ar,
              double eps) {
  if (t <= tb) v = (am * t) * (1 - (t * 0.5) / td);
  if (t > tb && t <= tr) v = b / std::sqrt(t - eps);
  if (t > tr && t <= ts) v = c - (t - tr) * ar;
  if (t > ts) v = 0;
  if (t < 0) v = 0;
  return v;
}

}  // namespace

void tslip(double& res, double target, double tb, double am, double td, double tr, double ts, double& b, double& c,
           double& ar, double& eps) {
  // eps and b make the inverse-square-root stage meet the parabola at tb in
  // value and slope; outside td < tb < 2·td the clamp leaves the parabola alone.
  eps = (tb / 2) * (1 - (tb / td) / 2) / (1 - tb / td) + tb;
  if (eps > tb) eps = tb;
  b = -(std::pow(tb - eps, 1.5) * ((am + am) * (1 - tb / td)));
  c = b / std::sqrt(tr - eps);
  ar = c / (ts - tr);

  // The slip of each stage, in closed form.
  const double f1 = ((am / 2) * tb) * tb - ((am / 6) * ((tb * tb) * tb)) / td;
  const double f2 = (std::sqrt(tr - eps) - std::sqrt(tb - eps)) * (b + b);
  const double f3 = (c / 2) * (ts - tr);
  res = ((f1 + f2) + f3) - target;
}

void vslip(std::span<const double> tm, std::span<double> rate, int ndt, int nt, double slip, double td, double vm,
           double& am, double tr, double ts, double& tb, double& b, double& c, double& ar, double& eps,
           const TrialObserver& observe) {
  if (nt > ndt ||
      (nt > 0 && (static_cast<std::size_t>(nt) > tm.size() || static_cast<std::size_t>(nt) > rate.size()))) {
    throw std::length_error("vslip: more samples than the arrays hold");
  }

  am = (vm + vm) / td;
  const auto trial = [&](double onset) {
    double res = 0;
    tslip(res, slip, onset, am, td, tr, ts, b, c, ar, eps);
    if (observe) observe(onset, res);
    return res;
  };

  // Step forward by td while the residual keeps its sign, then halve the
  // bracket [x, x + 2h] until the step is small enough. A product of zero or
  // not a number counts as a change of sign.
  bool stepping = true;
  double h = td;
  double x = td * 1.01;
  double y1 = trial(x);
  for (;;) {
    const double y2 = trial(x + h);
    if (y1 * y2 > 0) {
      x = x + h;
      y1 = y2;
      if (stepping) continue;
    }
    h = h / 2;
    stepping = false;
    if (!(h > kOnsetStepTolerance)) break;
  }
  tb = x;

  double v = 0;
  for (int k = 0; k < nt; ++k) {
    rate[static_cast<std::size_t>(k)] = sample(tm[static_cast<std::size_t>(k)], v, am, td, tb, tr, ts, b, c, ar, eps);
  }
}

Shape search_shape(const Parameters& p, const TrialObserver& observe) {
  Shape s{};
  s.td = peak_time(p.fmax);
  vslip({}, {}, 0, 0, p.slip, s.td, p.vm, s.am, p.tr, stopping_time(p), s.tb, s.b, s.c, s.ar, s.eps, observe);
  return s;
}

void sample_velocity(const Shape& shape, const Parameters& p, std::span<const double> times,
                     std::span<double> velocity) {
  if (velocity.size() < times.size()) throw std::length_error("sample_velocity: more times than velocities");
  const double ts = stopping_time(p);
  double v = 0;  // carried from sample to sample, as vslip does
  for (std::size_t k = 0; k < times.size(); ++k) {
    velocity[k] = sample(times[k], v, shape.am, shape.td, shape.tb, p.tr, ts, shape.b, shape.c, shape.ar, shape.eps);
  }
}

double velocity_at(const Shape& shape, const Parameters& p, double t) {
  double v = 0;
  return sample(t, v, shape.am, shape.td, shape.tb, p.tr, stopping_time(p), shape.b, shape.c, shape.ar, shape.eps);
}

}  // namespace slipvel::detail

namespace slipvel::detail {

// Each stage's slip from its start, the integrals of the forms sample()
// evaluates: am·(t²/2 − t³/(6·td)), 2·b·(√(t − eps) − √(tb − eps)) and
// c·(t − tr) − ar·(t − tr)²/2; S adds the stages before t.
SlipCurve::SlipCurve(const Shape& s, const Parameters& p)
    : am_(s.am),
      six_td_(6 * s.td),
      tb_(s.tb),
      tr_(p.tr),
      ts_(stopping_time(p)),
      two_b_(s.b + s.b),
      eps_(s.eps),
      root_at_tb_(std::sqrt(s.tb - s.eps)),
      c_(s.c),
      ar_(s.ar),
      at_tb_(parabola(s.tb)),
      at_tr_(at_tb_ + inverse_root(p.tr)) {}

double SlipCurve::unordered(double t) const {
  if (t <= 0) return 0;  // and not a number goes on to give not a number
  double slip = parabola(std::min(t, tb_));
  if (t > tb_) slip += inverse_root(std::min(t, tr_));
  if (t > tr_) {
    const double since = std::min(t, ts_) - tr_;
    slip += c_ * since - (ar_ * (since * since)) / 2;
  }
  return slip;
}

}  // namespace slipvel::detail

namespace slipvel {

double slip_until(const Shape& shape, const Parameters& parameters, double t) {
  return detail::SlipCurve(shape, parameters)(t);
}

void slip_until(const Shape& shape, const Parameters& parameters, std::span<const double> times,
                std::span<double> slips) {
  if (slips.size() < times.size()) throw std::length_error("slip_until: fewer slips than times");
  const detail::SlipCurve curve(shape, parameters);
  // The shape's order tested once, not at every time.
  if (curve.ordered()) {
    for (std::size_t k = 0; k < times.size(); ++k) slips[k] = curve.in_order(times[k]);
  } else {
    for (std::size_t k = 0; k < times.size(); ++k) slips[k] = curve(times[k]);
  }
}

}  // namespace slipvel
