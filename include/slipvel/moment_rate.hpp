// slipvel/moment_rate.hpp: the moment-rate file, a rupture's moment rate
// against time (the rows of slipvel::MomentRate), written and read.
//
//   time(s),moment_rate(N*m/s)
//   0,0
//   0.005,1.2e+15
//
// One row per step k = 0, 1, …: the time k·dt and the mean moment rate over
// the step that ends there, every number in its shortest round-trip text.
// Functions that throw say so; the others throw nothing but std::bad_alloc.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include <slipvel/sink.hpp>

namespace slipvel {

/// Writes the moment-rate file of `rows` (N·m/s) at step `dt` (s) to `sink`.
/// Throws what the sink throws.
void write_moment_rate(Sink& sink, const std::vector<double>& rows, double dt);

/// The same file as a string.
std::string moment_rate_text(const std::vector<double>& rows, double dt);

/// A moment-rate file read back.
struct MomentRateFile {
  std::vector<double> times;  ///< s
  std::vector<double> rates;  ///< N·m/s
};

/// Reads a moment-rate file: its header, then rows of two finite numbers, the
/// times increasing. Throws ParameterError naming `name`, the line, the value
/// and the rule.
MomentRateFile read_moment_rate(std::string_view text, const std::string& name);

}  // namespace slipvel
