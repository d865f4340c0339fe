// Mean slip rates over time steps: what an SRF point's samples and a
// rupture's moment-rate rows hold.
//
// Step k is the interval ((k−1)·dt, k·dt]; its mean rate is the slip carried
// over it divided by dt. Successive steps share their ends, so the means of a
// run of steps add up (times dt) to the slip over the whole run, exactly but
// for the rounding of each division: no slip is lost or counted twice,
// whatever dt.
#pragma once

#include <algorithm>
#include <cstdint>

#include "slip_velocity.hpp"

namespace slipvel::detail {

// The mean slip rates (m/s) of S(t) = slip(t) (m, 0 before 0) delayed by
// `delay` (s) over steps first, first + 1, …, one at a time: over step k,
// (S(k·dt − delay) − S((k−1)·dt − delay))/dt. A mean is never below 0: the
// function does not slip backwards, and a difference below 0 is rounding.
// `slip` is a SlipCurve, or its in_order for a curve that is ordered.
template <class Slip>
class StepMeans {
 public:
  StepMeans(Slip slip, double dt, double delay, std::int64_t first)
      : slip_(slip),
        dt_(dt),
        delay_(delay),
        step_(first),
        before_(slip_(static_cast<double>(first - 1) * dt - delay)) {}

  // The mean over the next step.
  [[gnu::always_inline]] double next() {
    const double after = slip_(static_cast<double>(step_) * dt_ - delay_);
    const double mean = std::max(0.0, (after - before_) / dt_);
    before_ = after;
    ++step_;
    return mean;
  }

 private:
  Slip slip_;
  double dt_, delay_;
  std::int64_t step_;
  double before_;
};

// Calls put(k, mean) with the step means of k = first … end − 1 (StepMeans).
template <class Slip, class Put>
void for_each_step_mean(Slip slip, double dt, double delay, std::int64_t first, std::int64_t end, Put&& put) {
  StepMeans<Slip> means(slip, dt, delay, first);
  for (std::int64_t k = first; k < end; ++k) put(k, means.next());
}

// The step mean of one step, as for_each_step_mean gives it.
inline double step_mean(const SlipCurve& curve, double dt, double delay, std::int64_t k) {
  double mean = 0;
  for_each_step_mean(curve, dt, delay, k, k + 1, [&](std::int64_t, double m) { mean = m; });
  return mean;
}

}  // namespace slipvel::detail
