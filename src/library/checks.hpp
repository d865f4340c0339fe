// The rules a source must keep, and the messages for those it breaks.
#pragma once

#include <string>
#include <vector>

#include "slipvel/slipvel.hpp"

namespace slipvel::library {

// The system's circle constant: td = 1/(kPai·fmax), as the program forms it.
inline constexpr double kPai = 3.141592654;
inline constexpr int kLargestNt = 4194304;

// The shortest text that reads back to the same double.
std::string shortest(double value);

// The stopping time: as given, or tr × 1.5 as the program forms it.
double stopping_time(const Parameters& p);

// The source on the shortest power-of-two record (at most its own) that holds
// every sample up to the first at rest after ts: the last non-zero one lies at
// or before ts, the zero after it one step later. Samples do not depend on the
// record's length, so these are the very ones of the whole record.
Parameters shortened_record(const Parameters& p);

// One "name = value: rule" line for every value that breaks a rule on its own
// or against the others, in the order dt, nt, fmax, vm, slip, tr, ts.
std::vector<std::string> parameter_problems(const Parameters& p);

// Joins the lines and throws them as one ParameterError.
[[noreturn]] void refuse(const std::vector<std::string>& problems);

}  // namespace slipvel::library
