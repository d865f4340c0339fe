// The time-history file: time, slip velocity, slip (trapezoid rule) and slip
// acceleration (backward difference), one row per sample.
#pragma once

#include <span>
#include <string>

namespace slipvel::detail {

// Fills the columns of the file's rows for samples 0..nt): time (k·dt, the
// first one a literal 0), slip as a running trapezoid sum and acceleration as
// the backward difference, both 0 in the first row. Each span must hold nt
// values (std::length_error otherwise).
void time_history_columns(double dt, int nt, std::span<const double> svwave, std::span<double> time,
                          std::span<double> displacement, std::span<double> acceleration);

// Header and rows: "tttt.tttt,vvvvvvv.vvvvvvv,ddddddd.ddddddd,aaaaaaa.aaaaaaa",
// 56 characters each, one per element of the four equally long columns.
std::string time_history_rows_text(std::span<const double> time, std::span<const double> velocity,
                                   std::span<const double> displacement, std::span<const double> acceleration);

}  // namespace slipvel::detail
