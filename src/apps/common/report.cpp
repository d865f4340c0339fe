#include "common/report.hpp"

#include <slipvel/text.hpp>

namespace slipvel::apps {

std::string moment_line(const RuptureMoment& m) {
  const std::string mw = m.moment() > 0 ? text::shortest(moment_magnitude(m.moment())) : "-";
  return "points=" + std::to_string(m.points()) + " area_m2=" + text::shortest(m.area()) +
         " M0_Nm=" + text::shortest(m.moment()) + " Mw=" + mw + " duration_s=" + text::shortest(m.duration()) + "\n";
}

}  // namespace slipvel::apps
