// Vek_Slip.csv: time, slip velocity, slip (trapezoid rule) and slip
// acceleration (backward difference), one row per sample.
#pragma once

#include <span>
#include <string>

#include "textio/sink.hpp"

namespace slipvel::output {

// Header and rows: "tttt.tttt,vvvvvvv.vvvvvvv,ddddddd.ddddddd,aaaaaaa.aaaaaaa",
// 56 characters each. The first row has time, slip and acceleration 0.
std::string time_history_text(double dt, int nt, std::span<const double> svwave);

void time_history_stage(double dt, int nt, std::span<const double> svwave, textio::Sink& out);

}  // namespace slipvel::output
