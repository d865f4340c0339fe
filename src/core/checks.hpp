// The rules a source must keep, and the messages for those it breaks.
#pragma once

#include <string>
#include <vector>

#include <slipvel/slipvel.hpp>

namespace slipvel::detail {

// The smallest target slip (m) the onset search handles.
inline constexpr double kSmallestSlip = 1e-140;

// A value that breaks a rule: its name, its text and the rule, which a
// message puts together as "name = value: rule".
struct Finding {
  std::string name, value, rule;
};

// Every value of `p` that breaks a rule on its own or against the others, in
// the order dt, nt, fmax, vm, slip, tr, ts.
std::vector<Finding> parameter_findings(const Parameters& p);

// The problem of the value `name`: "name = value: rule".
Problem problem(const std::string& name, const std::string& value, const std::string& rule);
Problem problem(const std::string& name, double value, const std::string& rule);

// The findings as problems.
std::vector<Problem> parameter_problems(const Parameters& p);

// Throws the problems as one ParameterError.
[[noreturn]] void refuse(std::vector<Problem> problems);
[[noreturn]] void refuse(Problem problem);

}  // namespace slipvel::detail
