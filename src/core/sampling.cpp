// The rules by which a sampled function falls short of its source: kept here
// once, so that every program and the Python module warn alike.
#include <slipvel/slipvel.hpp>

#include <cmath>

namespace slipvel {

double nyquist_frequency(double dt) { return 1 / (2 * dt); }

bool above_nyquist(const Parameters& parameters) { return parameters.fmax > nyquist_frequency(parameters.dt); }

bool coarsely_sampled(const SlipFunction& function) {
  if (function.displacement.empty()) return false;
  const double asked = function.parameters.slip;
  return !(std::fabs(function.displacement.back() - asked) <= kSampledSlipTolerance * asked);
}

}  // namespace slipvel
