// What both table programs print about a rupture they wrote.
#pragma once

#include <string>

#include <slipvel/moment.hpp>

namespace slipvel::apps {

// "points=N area_m2=A M0_Nm=M Mw=W duration_s=D\n", numbers in their shortest
// round-trip text, Mw "-" when M0 is 0.
std::string moment_line(const RuptureMoment& moment);

}  // namespace slipvel::apps
