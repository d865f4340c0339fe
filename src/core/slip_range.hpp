// Which target slips the function carries, and the message for those it does not.
//
// A slip is carried when the onset search's result is a sound function whose
// whole slip S(ts) lies within kSlipTolerance of the target: every value a
// finite number, never below 0 (the onset at most 2·td, before tr), the
// inverse-square-root stage no faster than vm, and |S(ts) − slip| at most
// kSlipTolerance·slip. Slips above the slip at the search's first onset 1.01·td
// are refused before searching: the search would step towards tr.
//
// The set of carried slips follows from the search itself. The search visits
// a fixed tree of onsets (steps of td, then halvings down to 1e-5 s); a target
// goes right at a trial whose slip is above it, else left, so each leaf of the
// tree takes one interval of targets and gives one function. carried_slips
// walks that tree, leaving out every subtree whose functions are all carried
// or all refused, and returns the exact set the acceptance test passes.
#pragma once

#include <string>
#include <vector>

#include <slipvel/slipvel.hpp>

#include "slip_velocity.hpp"

namespace slipvel::detail {

/// How far a function's whole slip may lie from its target, relative to it.
inline constexpr double kSlipTolerance = 0.01;

/// The slip (m) the function carries when its onset is the search's first, 1.01·td.
double first_onset_slip(const Parameters& p);

/// Whether the shape the search found for `p` (ts set) is a sound function
/// whose whole slip is within kSlipTolerance of p.slip.
bool carries(const Shape& shape, const Parameters& p);

/// A closed interval of target slips (m).
struct SlipInterval {
  double low;
  double high;
};

/// Every target slip that is carried for the fmax, vm, tr and ts of `p` (ts
/// set; p.slip is not used), as intervals in increasing order, apart from one
/// another. Every tslip evaluation is told to `observe`.
std::vector<SlipInterval> carried_slips(const Parameters& p, const TrialObserver& observe = {});

/// The line of a refusal of p.slip: the carried slips and the vm range that
/// would carry p.slip.
std::string slip_range_problem(const Parameters& p, const TrialObserver& observe = {});

/// Checks the slip against the first onset's, runs the onset search and checks
/// its result (p with ts set, its parameters already checked one by one).
/// Throws ParameterError with slip_range_problem's line for a slip not carried.
/// Search trials and the evaluations behind a refusal are told to `observe`.
Shape carrying_shape(const Parameters& p, const TrialObserver& observe = {});

}  // namespace slipvel::detail
