// The rules a source must keep, and the messages for those it breaks.
#pragma once

#include <string>
#include <vector>

#include <slipvel/slipvel.hpp>

namespace slipvel::detail {

// The smallest target slip (m) the onset search handles.
inline constexpr double kSmallestSlip = 1e-140;

// The problem of the value `name`: "name = value: rule".
Problem problem(const std::string& name, const std::string& value, const std::string& rule);
Problem problem(const std::string& name, double value, const std::string& rule);

// One problem for every value that breaks a rule on its own or against the
// others, in the order dt, nt, fmax, vm, slip, tr, ts.
std::vector<Problem> parameter_problems(const Parameters& p);

// Throws the problems as one ParameterError.
[[noreturn]] void refuse(std::vector<Problem> problems);
[[noreturn]] void refuse(Problem problem);

}  // namespace slipvel::detail
