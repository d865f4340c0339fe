// Scaling a fault's slips to a target moment magnitude.
#include <cmath>
#include <limits>
#include <optional>

#include <slipvel/moment.hpp>
#include <slipvel/rupture.hpp>
#include <slipvel/text.hpp>

#include "geometry.hpp"

namespace slipvel::rupture {
namespace {

using namespace slipvel::rupture::detail;

// Σ μ·area (N/m: moment per metre of slip) of the subfaults of each region:
// the segments' backgrounds, then the patches.
std::vector<double> moment_per_metre(const Fault& fault, const Parameters& sampling, double rigidity) {
  Fault layout_only = fault;
  layout_only.vr_fraction = 0;  // the regions are all that is needed, not the rupture times
  layout_only.vr = 1;
  const Rupture layout(std::move(layout_only), sampling);
  std::vector<double> weights(fault.segments.size() + fault.patches.size(), 0.0);
  for (std::size_t n = 0; n < layout.size(); ++n) {
    const Subfault f = layout.subfault(n);
    const Segment& g = fault.segments[f.segment];
    srf::Point where{};
    std::tie(where.vs, where.den) = vs_den_at(fault, g, depth_at(g, centre_d(g, f.j)));
    weights[f.patch ? fault.segments.size() + *f.patch : f.segment] +=
        point_rigidity(where, rigidity) * subfault_area(g);
  }
  return weights;
}

std::vector<RegionSource*> regions_of(Fault& fault) {
  std::vector<RegionSource*> regions;
  for (Segment& g : fault.segments) regions.push_back(&g.source);
  for (Patch& p : fault.patches) regions.push_back(&p.source);
  return regions;
}

int line_of(const Fault& fault, std::size_t region) {
  const std::size_t segments = fault.segments.size();
  return region < segments ? fault.segments[region].line : fault.patches[region - segments].line;
}

}  // namespace

MagnitudeScaling scale_to_magnitude(Fault& fault, double mw, const Parameters& sampling, double rigidity) {
  if (!std::isfinite(mw)) throw ParameterError(Problem{"mw", "mw = " + text::shortest(mw) + ": must be finite"});
  const double target = std::pow(10.0, 1.5 * mw + 9.1);
  const std::vector<double> weights = moment_per_metre(fault, sampling, rigidity);
  const std::vector<RegionSource*> regions = regions_of(fault);
  std::vector<double> given(regions.size());
  double nominal = 0;  // the moment if every function carried exactly its target slip
  for (std::size_t r = 0; r < regions.size(); ++r) {
    given[r] = regions[r]->slip;
    nominal += weights[r] * given[r];
  }
  if (!(nominal > 0)) {
    throw ParameterError(Problem{
        "mw", "mw = " + text::shortest(mw) + ": no subfault slips, so no scaling of the slips reaches a magnitude"});
  }
  MagnitudeScaling scaling{target / nominal, 0, {}};
  // The moment the functions carry at a factor; unset when a region refuses its scaled source.
  const auto moment_at = [&](double factor) -> std::optional<double> {
    double moment = 0;
    for (std::size_t r = 0; r < regions.size(); ++r) {
      regions[r]->slip = given[r] * factor;
      Parameters source = sampling;
      source.vm = regions[r]->vm, source.slip = regions[r]->slip, source.tr = regions[r]->tr,
      source.ts = regions[r]->ts;
      try {
        moment += weights[r] * srf::whole_slip(srf::point_source({}, source));
      } catch (const ParameterError& e) {
        auto& to = r < fault.segments.size() ? scaling.problems.segments : scaling.problems.patches;
        table::add_problems(to, line_of(fault, r), e.problems());
      }
    }
    return scaling.problems.empty() ? std::optional<double>(moment) : std::nullopt;
  };
  // The functions carry their target slip to within 1 %, so the first factor
  // lands within 0.003 of mw and a refinement by the moment they do carry
  // usually closes in. Their whole slips change in small steps with the
  // target, though: the factor is kept between the last ones found too low
  // and too high, and taken halfway between them when a refinement would
  // leave them.
  constexpr int kMostRounds = 64;
  constexpr double kTolerance = 0.001;
  double low = 0, high = std::numeric_limits<double>::infinity();
  for (int round = 0; round < kMostRounds; ++round) {
    const std::optional<double> moment = moment_at(scaling.factor);
    if (!moment) break;
    scaling.magnitude = moment_magnitude(*moment);
    if (std::abs(scaling.magnitude - mw) <= kTolerance) break;
    (*moment < target ? low : high) = scaling.factor;
    double next = scaling.factor * target / *moment;
    if (!(next > low && next < high)) next = low + (high - low) / 2;
    if (next == low || next == high || round + 1 == kMostRounds) {
      throw ParameterError(Problem{"mw", "mw = " + text::shortest(mw) +
                                             ": no one factor of the slips reaches it within 0.001 (the whole "
                                             "slips the functions carry change in steps here); the nearest, " +
                                             text::shortest(scaling.factor) + ", gives Mw " +
                                             text::shortest(scaling.magnitude)});
    }
    scaling.factor = next;
  }
  for (auto* list : {&scaling.problems.segments, &scaling.problems.patches}) {
    for (table::TableProblem& p : *list) {
      p.text = "scaled by " + text::shortest(scaling.factor) + " for Mw " + text::shortest(mw) + ": " + p.text;
    }
  }
  return scaling;
}

}  // namespace slipvel::rupture
