// The rules a source must keep, and the messages for those it breaks.
#pragma once

#include <string>
#include <vector>

#include <slipvel/slipvel.hpp>

namespace slipvel::detail {

// The smallest target slip (m) the onset search handles.
inline constexpr double kSmallestSlip = 1e-140;

// One "name = value: rule" line for every value that breaks a rule on its own
// or against the others, in the order dt, nt, fmax, vm, slip, tr, ts.
std::vector<std::string> parameter_problems(const Parameters& p);

// Joins the lines and throws them as one ParameterError.
[[noreturn]] void refuse(const std::vector<std::string>& problems);

}  // namespace slipvel::detail
