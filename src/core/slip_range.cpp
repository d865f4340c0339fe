#include "slip_range.hpp"

#include <algorithm>
#include <cmath>

#include <slipvel/text.hpp>

#include "checks.hpp"

namespace slipvel::detail {
namespace {

using text::shortest;

// The most the slips at the two ends of the search's last bracket may differ,
// relative to the lower: the function keeps one end's b, c, ar and eps with
// the other's onset, which moves its whole slip by well under a hundredth of
// the bracket, so every target in the bracket stays within kSlipTolerance.
constexpr double kBracketSpan = 0.9 * kSlipTolerance;

// The largest slip velocity of the inverse-square-root stage, reached just
// after the onset (infinite when the stage starts at its own pole).
double onset_speed(const Shape& s) { return s.b == 0 ? 0 : s.b / std::sqrt(s.tb - s.eps); }

bool all_finite(const Shape& s) {
  for (const double value : {s.td, s.am, s.tb, s.b, s.c, s.ar, s.eps}) {
    if (!std::isfinite(value)) return false;
  }
  return true;
}

// Every value a finite number and none below 0: the parabola ends by 2·td
// (where it turns negative), the inverse square root starts after its pole
// and before tr, and no stage outruns the parabola's peak vm.
bool sound(const Shape& s, const Parameters& p) {
  return all_finite(s) && s.tb < p.tr && s.tb <= s.td + s.td && s.eps <= s.tb && s.b >= 0 && s.c >= 0 && s.ar >= 0 &&
         onset_speed(s) <= p.vm;
}

bool within_tolerance(double whole_slip, double target) {
  return std::isfinite(whole_slip) && std::fabs(whole_slip - target) <= kSlipTolerance * target;
}

// The search's last step (s): its first halving gives td/2, and it halves on
// while the halved step stays above kOnsetStepTolerance.
double last_step(double td) {
  double h = td / 2;
  while (h / 2 > kOnsetStepTolerance) h /= 2;
  return h;
}

// The shape starting at `onset` with b, c, ar and eps from a trial at `trial`,
// as the search leaves it; its slip at the trial into `trial_slip`.
Shape shape_from(const Shape& found, const Parameters& p, double onset, double trial, double& trial_slip) {
  Shape s = found;
  s.tb = onset;
  tslip(trial_slip, 0, trial, s.am, s.td, p.tr, stopping_time(p), s.b, s.c, s.ar, s.eps);
  return s;
}

// The search ends with the target between the slips at tb and tb + its last
// step, and keeps b, c, ar and eps of either end. A result is firm when the
// function would be sound with either, and those two slips lie within
// kBracketSpan of each other: then every target of that bracket is carried,
// so carried slips do not alternate with refused ones from one bracket to the
// next.
bool firm_bracket(const Shape& found, const Parameters& p) {
  const double end = found.tb + last_step(found.td);
  double at_onset = 0, at_end = 0;
  const Shape from_onset = shape_from(found, p, found.tb, found.tb, at_onset);
  const Shape from_end = shape_from(found, p, found.tb, end, at_end);
  return sound(from_onset, p) && sound(from_end, p) && at_end > 0 && at_onset - at_end <= kBracketSpan * at_end;
}

// The onset search's tree of trials for one source, walked for every target
// at once. A node is the search's state (x, h) before its trial at x + h,
// together with the targets [low, high) that reach it: a trial whose slip v is
// above the target moves x (targets below v), else x stays (targets from v).
class CarriedSlipsWalk {
 public:
  CarriedSlipsWalk(const Parameters& p, const TrialObserver& observe)
      : p_(p),
        observe_(observe),
        td_(peak_time(p.fmax)),
        am_((p.vm + p.vm) / td_),
        ts_(stopping_time(p)),
        last_step_(last_step(td_)) {}

  std::vector<SlipInterval> run() {
    const double first = td_ * 1.01;
    const double most = slip_at(first);
    // Targets below the slip one step on keep stepping past 2·td: refused.
    const double stepped = slip_at(first + td_);
    const double low = stepped > detail::kSmallestSlip ? stepped : detail::kSmallestSlip;
    if (td_ / 2 > kOnsetStepTolerance) {
      walk(first, td_ / 2, low, most);
    } else {
      leaf(first, first + td_, low, most);  // no halving at all
    }
    // The target equal to the first trial's slip never moves x.
    Parameters at_most = p_;
    at_most.slip = most;
    if (most >= detail::kSmallestSlip && carries(search_shape(at_most, observe_), at_most)) add(most, most);
    return std::move(intervals_);
  }

 private:
  double slip_at(double onset) {
    double carried = 0, b = 0, c = 0, ar = 0, eps = 0;
    tslip(carried, 0, onset, am_, td_, p_.tr, ts_, b, c, ar, eps);
    if (observe_) observe_(onset, carried);
    return carried;
  }

  void walk(double x, double h, double low, double high) {
    if (!(low < high) || every_leaf_refused(x)) return;
    if (every_leaf_carried(x, h, low, high)) {
      add(low, high);
      return;
    }
    const double trial = x + h;
    const double v = slip_at(trial);
    const double moved_high = v > low ? std::min(high, v) : low;  // no target moves at a v not a number
    const double stayed_low = v > low ? v : low;
    const double next = h / 2;
    if (next > kOnsetStepTolerance) {
      walk(trial, next, low, moved_high);
      walk(x, next, stayed_low, high);
    } else {
      leaf(trial, trial, low, moved_high);
      leaf(x, trial, stayed_low, high);
    }
  }

  // The search ends with tb = `onset`, and b, c, ar and eps from its last
  // trial at `trial`; targets [low, high) end here.
  void leaf(double onset, double trial, double low, double high) {
    if (!(low < high)) return;
    Shape s{};
    s.td = td_;
    s.am = am_;
    s.tb = onset;
    double carried = 0;
    tslip(carried, 0, trial, am_, td_, p_.tr, ts_, s.b, s.c, s.ar, s.eps);
    if (observe_) observe_(trial, carried);
    if (!sound(s, p_) || !firm_bracket(s, p_)) return;
    const double whole = slip_until(s, p_, ts_);
    if (!std::isfinite(whole)) return;
    add(std::max(low, whole / (1 + kSlipTolerance)), std::min(high, whole / (1 - kSlipTolerance)));
  }

  // Every leaf below has tb >= x, so none is sound past tr or 2·td.
  bool every_leaf_refused(double x) const { return !(x < p_.tr) || x > td_ + td_; }

  // The leaves below have onsets and last trials within [x, x + 2h]. Where
  // those are all well before min(tr, 2·td), each leaf is sound: with u the
  // trial over td and v = u − 1, the onset speed is vm·(1 − v²)·√(D/(D − δ)),
  // D = td·(1 − v²)/(4·v) and δ <= the last step, which stays at most vm
  // while 4·step/td <= v·(2 − v²)·(1 − v²), a function with one peak on
  // (0, 1) (so checked at both ends, with a margin). Their whole slips lie
  // between the slips at the two ends (the slip falls with the onset there),
  // so a span within kBracketSpan carries every target in between.
  bool every_leaf_carried(double x, double h, double low, double high) {
    const double end = x + (h + h);
    if (!(end < p_.tr && end < td_ + td_)) return false;
    const double margin = 1.5 * 4 * last_step_ / td_;
    const auto room = [](double v) { return v * (2 - v * v) * (1 - v * v); };
    if (!(room(x / td_ - 1) >= margin && room(end / td_ - 1) >= margin)) return false;
    const double largest = slip_at(x), smallest = slip_at(end);
    if (!(std::isfinite(largest) && std::isfinite(smallest) && smallest > 0 && largest >= smallest)) return false;
    const double span = std::max(largest, high) - std::min(smallest, low);
    return span <= kBracketSpan * std::min(smallest, low);
  }

  void add(double low, double high) {
    if (!(low <= high)) return;
    if (!intervals_.empty() && low <= intervals_.back().high) {
      intervals_.back().high = std::max(intervals_.back().high, high);
    } else {
      intervals_.push_back({low, high});
    }
  }

  const Parameters& p_;
  const TrialObserver& observe_;
  double td_, am_, ts_;
  double last_step_;
  std::vector<SlipInterval> intervals_;
};

std::string vm_clause(const Parameters& p, const SlipInterval& carried) {
  const double lowest = p.vm * (p.slip / carried.high), highest = p.vm * (p.slip / carried.low);
  if (!(std::isfinite(lowest) && std::isfinite(highest) && lowest > 0)) return "";
  return "; vm from " + shortest(lowest) + " to " + shortest(highest) + " m/s carries " + shortest(p.slip) + " m";
}

const SlipInterval& widest(const std::vector<SlipInterval>& intervals) {
  return *std::max_element(intervals.begin(), intervals.end(), [](const SlipInterval& a, const SlipInterval& b) {
    return a.high / a.low < b.high / b.low;
  });
}

}  // namespace

double first_onset_slip(const Parameters& p) {
  const double td = peak_time(p.fmax);
  double carried = 0, b = 0, c = 0, ar = 0, eps = 0;
  tslip(carried, 0, td * 1.01, (p.vm + p.vm) / td, td, p.tr, stopping_time(p), b, c, ar, eps);
  return carried;
}

bool carries(const Shape& shape, const Parameters& p) {
  return sound(shape, p) && firm_bracket(shape, p) && within_tolerance(slip_until(shape, p, stopping_time(p)), p.slip);
}

std::vector<SlipInterval> carried_slips(const Parameters& p, const TrialObserver& observe) {
  return CarriedSlipsWalk(p, observe).run();
}

std::string slip_range_problem(const Parameters& p, const TrialObserver& observe) {
  const std::vector<SlipInterval> carried = carried_slips(p, observe);
  const std::string head = "slip = " + shortest(p.slip) + ": ";
  const std::string these = " for these fmax, vm, tr and ts";
  if (carried.empty()) {
    return head + "the function carries no slip" + these +
           ": no onset the search reaches, stepping by td = " + shortest(peak_time(p.fmax)) +
           " s and halving down to " + shortest(kOnsetStepTolerance) + " s, gives a sound function within " +
           shortest(kSlipTolerance * 100) + " % of its target";
  }
  if (carried.size() > 1) {
    const SlipInterval& wide = widest(carried);
    return head + "not carried; the slips the function carries" + these + " are not one interval but " +
           std::to_string(carried.size()) + " from " + shortest(carried.front().low) + " to " +
           shortest(carried.back().high) + " m with gaps, the widest from " + shortest(wide.low) + " to " +
           shortest(wide.high) + " m" + vm_clause(p, wide);
  }
  const SlipInterval& only = carried.front();
  if (only.low == only.high) {
    // The target equal to the first trial's slip alone: no vm is sure to carry
    // another slip exactly at its own first trial, so no vm range.
    return head + "must be " + shortest(only.low) + " m, the only slip the function carries" + these;
  }
  return head + "must be from " + shortest(only.low) + " to " + shortest(only.high) +
         " m, the slips the function carries" + these + vm_clause(p, only);
}

Shape carrying_shape(const Parameters& p, const TrialObserver& observe) {
  // Above the first trial's slip the search would step by td all the way to tr.
  if (!(p.slip <= first_onset_slip(p))) detail::refuse(Problem{"slip", slip_range_problem(p, observe)});
  const Shape shape = search_shape(p, observe);
  if (!carries(shape, p)) detail::refuse(Problem{"slip", slip_range_problem(p, observe)});
  return shape;
}

}  // namespace slipvel::detail
