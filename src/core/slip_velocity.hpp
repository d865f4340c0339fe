// The four-stage slip-velocity function and the onset search that fits it to a
// target slip.
//
//   parabolic               0 <= t <= tb    am·t·(1 − t/(2·td))
//   inverse square root     tb < t <= tr    b / √(t − eps)
//   linear decay            tr < t <= ts    c − ar·(t − tr)
//   rest                    otherwise       0
//
// eps, b, c and ar follow from the onset tb in closed form (tslip); vslip finds
// tb by stepping, then halving, until the slip of the function (its integral)
// equals the target, and samples the function on the given times.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <span>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <slipvel/slipvel.hpp>

namespace slipvel::detail {

// The onset search stops once a halving brings its step to this or below (s).
inline constexpr double kOnsetStepTolerance = 0.00001;

// One trial of the search: the shape of the function with onset `tb`, written
// into b, c, ar and eps, and its slip minus `target` into `res`.
void tslip(double& res, double target, double tb, double am, double td, double tr, double ts, double& b, double& c,
           double& ar, double& eps);

// Told the onset and the residual of every trial, in order.
using TrialObserver = std::function<void(double onset, double residual)>;

// Derives am = 2·vm/td, runs the onset search and fills rate[0..nt) with the
// slip velocity at times tm[0..nt). b, c, ar and eps are those of the last
// trial. `ndt` is the declared length of both arrays; an `nt` beyond it or
// beyond either span is refused with std::length_error before anything is set.
void vslip(std::span<const double> tm, std::span<double> rate, int ndt, int nt, double slip, double td, double vm,
           double& am, double tr, double ts, double& tb, double& b, double& c, double& ar, double& eps,
           const TrialObserver& observe = {});

// Value-typed forms of the two, which the rest of the code uses.

// The onset search for `p` (ts set): td, am, the onset tb and the b, c, ar and
// eps of the search's last trial, exactly as vslip leaves them.
Shape search_shape(const Parameters& p, const TrialObserver& observe = {});

// Fills velocity[k] with the slip velocity (m/s) at times[k] (s), as vslip
// samples: stage by stage, 0 before time 0 and after ts.
void sample_velocity(const Shape& shape, const Parameters& p, std::span<const double> times,
                     std::span<double> velocity);

// The slip velocity (m/s) at one time t (s).
double velocity_at(const Shape& shape, const Parameters& p, double t);

// A constant for the stage loops of SlipCurve::in_order_at_steps, taken as a
// double or, where SSE2 is there, as two lanes; the operations below on
// either are the one IEEE operation in each lane.
struct Lanes {
  explicit Lanes(double v) : value(v) {
#if defined(__SSE2__)
    lanes = _mm_set1_pd(v);
#endif
  }
  double value;
#if defined(__SSE2__)
  __m128d lanes;
#endif
};
inline double scalar(double x) { return x; }
inline double scalar(const Lanes& x) { return x.value; }
inline double add(double a, double b) { return a + b; }
inline double sub(double a, double b) { return a - b; }
inline double mul(double a, double b) { return a * b; }
inline double div(double a, double b) { return a / b; }
inline double root(double a) { return std::sqrt(a); }
inline double least(double t, double most) { return std::min(t, most); }
inline double add(const Lanes& a, double b) { return a.value + b; }
inline double sub(double a, const Lanes& b) { return a - b.value; }
inline double mul(const Lanes& a, double b) { return a.value * b; }
inline double div(double a, const Lanes& b) { return a / b.value; }
inline double least(double t, const Lanes& most) { return std::min(t, most.value); }
#if defined(__SSE2__)
inline __m128d add(__m128d a, __m128d b) { return _mm_add_pd(a, b); }
inline __m128d sub(__m128d a, __m128d b) { return _mm_sub_pd(a, b); }
inline __m128d mul(__m128d a, __m128d b) { return _mm_mul_pd(a, b); }
inline __m128d div(__m128d a, __m128d b) { return _mm_div_pd(a, b); }
inline __m128d root(__m128d a) { return _mm_sqrt_pd(a); }
inline __m128d add(const Lanes& a, __m128d b) { return _mm_add_pd(a.lanes, b); }
inline __m128d sub(__m128d a, const Lanes& b) { return _mm_sub_pd(a, b.lanes); }
inline __m128d mul(const Lanes& a, __m128d b) { return _mm_mul_pd(a.lanes, b); }
inline __m128d div(__m128d a, const Lanes& b) { return _mm_div_pd(a, b.lanes); }
// std::min(t, most) is (most < t) ? most : t, which minpd(most, t) gives,
// a not-a-number t included.
inline __m128d least(__m128d t, const Lanes& most) { return _mm_min_pd(most.lanes, t); }
#endif

// S(t), the slip of one shape from 0 to t, with what does not depend on t
// worked out once: the very operations of slip_until (which calls it), so the
// same bits, for the many times of a slip-rate history.
class SlipCurve {
 public:
  SlipCurve(const Shape& shape, const Parameters& p);

  double operator()(double t) const { return ordered() ? in_order(t) : unordered(t); }

  // Whether the onset lies before tr, as for every shape the search accepts.
  bool ordered() const { return tb_ < tr_; }

  // S(t) for an ordered shape: no call, for loops over many times.
  double in_order(double t) const {
    if (t <= 0) return 0;  // and not a number goes on to give not a number
    if (t <= tb_) return parabola(t);
    if (t <= tr_) return at_tb_ + inverse_root(t);
    const double since = std::min(t, ts_) - tr_;
    return at_tr_ + (c_ * since - (ar_ * (since * since)) / 2);
  }

  // in_order(k·dt) for k = first, first + 1, … into out[0..count), dt > 0:
  // the very values, each stage's times in a loop of their own, with no
  // test of the stage at every time.
  // Where SSE2 is there, each stage takes two times at once in the lanes of
  // a vector register: the step's number counted as a double (exact below
  // 2^53), each operation the scalar one in each lane (sqrtpd, minpd as
  // std::min's (ts < t) ? ts : t).
  void in_order_at_steps(std::int64_t first, std::int64_t count, double dt, double* out) const {
    const std::int64_t end = first + count;
    std::int64_t k = first;
    for (; k < end && k <= 0; ++k) *out++ = 0;  // k·dt <= 0
    const auto stage = [&](std::int64_t to, auto&& slip) {
      const double from = static_cast<double>(k);
      const std::int64_t n = to - k;
      std::int64_t i = 0;
#if defined(__SSE2__)
      const __m128d step = _mm_set1_pd(dt), two = _mm_set1_pd(2);
      for (__m128d at = _mm_set_pd(from + 1, from); i + 2 <= n; i += 2, at = _mm_add_pd(at, two)) {
        _mm_storeu_pd(out + i, slip(_mm_mul_pd(at, step)));
      }
#endif
      for (; i < n; ++i) out[i] = slip((from + static_cast<double>(i)) * dt);
      if (n > 0) out += n, k = to;
    };
    const Lanes am(am_), six_td(six_td_), eps(eps_), two_b(two_b_), root_at_tb(root_at_tb_), at_tb(at_tb_);
    const Lanes at_tr(at_tr_), ts(ts_), tr(tr_), c(c_), ar(ar_), two(2);
    stage(std::min(end, first_step_after(tb_, dt)), [&](auto t) {
      const auto square = mul(t, t);
      return mul(am, sub(div(square, two), div(mul(square, t), six_td)));
    });
    stage(std::min(end, first_step_after(tr_, dt)),
          [&](auto t) { return add(at_tb, mul(two_b, sub(root(sub(t, eps)), root_at_tb))); });
    stage(end, [&](auto t) {
      const auto since = sub(least(t, ts), tr);
      return add(at_tr, sub(mul(c, since), div(mul(ar, mul(since, since)), two)));
    });
  }

 private:
  // The least k >= 0 whose time k·dt, as computed, lies beyond t: where a
  // stage that runs through t ends. Found from t/dt and settled by the same
  // products the stages compare.
  static std::int64_t first_step_after(double t, double dt) {
    const double estimate = t / dt;
    if (!(estimate < 0x1p62)) return INT64_MAX;
    std::int64_t k = estimate > 0 ? static_cast<std::int64_t>(estimate) : 0;
    while (k > 0 && static_cast<double>(k - 1) * dt > t) --k;
    while (static_cast<double>(k) * dt <= t) ++k;
    return k;
  }

  double parabola(double t) const { return am_ * ((t * t) / 2 - ((t * t) * t) / six_td_); }
  double inverse_root(double t) const { return two_b_ * (std::sqrt(t - eps_) - root_at_tb_); }
  // The stages in turn for a shape whose onset is not before tr (one the
  // search refuses), as the general sum has them.
  double unordered(double t) const;  // 0 for t <= 0 too

  double am_, six_td_, tb_, tr_, ts_, two_b_, eps_, root_at_tb_, c_, ar_;
  double at_tb_, at_tr_;  // S(tb), S(tr)
};

}  // namespace slipvel::detail
