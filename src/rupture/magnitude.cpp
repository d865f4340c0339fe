// Scaling a fault's slips to a target moment magnitude.
#include <cmath>
#include <limits>
#include <optional>
#include <set>

#include <slipvel/moment.hpp>
#include <slipvel/rupture.hpp>
#include <slipvel/text.hpp>

#include "build_steps.hpp"
#include "geometry.hpp"

namespace slipvel::rupture::detail {
namespace {

// Σ μ·area (N/m: moment per metre of slip) of the subfaults of each region:
// the segments' backgrounds, then the patches.
std::vector<double> moment_per_metre(const Fault& fault, const Parameters& sampling, double rigidity) {
  Fault layout_only = fault;
  layout_only.velocity = UniformSpeed{1};  // the regions are all that is needed, not the rupture times
  const Rupture layout = Access::make(std::move(layout_only), sampling, rigidity);
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

// The peak slip velocities (m/s) and the slips (m) real ruptures show; a
// scaled source outside them is likely a mistake (a magnitude too large for
// the fault, a slip in the wrong unit).
constexpr double kLeastPlausibleVm = 0.1, kMostPlausibleVm = 10, kMostPlausibleSlip = 50;

void warn_about_scaled_sources(const Fault& fault, double factor, double mw, const Named& segments,
                               const Named& patches, std::vector<Diagnostic>& said) {
  const std::size_t count = fault.segments.size();
  std::set<std::pair<int, bool>> said_of;  // the regions of a line (a traced fault's segments) said once
  for (std::size_t r = 0; r < count + fault.patches.size(); ++r) {
    const RegionSource& source = r < count ? fault.segments[r].source : fault.patches[r - count].source;
    const Where where = (r < count ? segments : patches).at(line_of(fault, r));
    const std::string scaled = "scaled by " + text::shortest(factor) + " for Mw " + text::shortest(mw) + ": ";
    if (!(source.slip > 0) || !said_of.emplace(line_of(fault, r), r >= count).second) continue;
    if (source.vm < kLeastPlausibleVm || source.vm > kMostPlausibleVm) {
      said.push_back(said_at(where, Severity::kWarning, "vm",
                             scaled + "vm = " + text::shortest(source.vm) + " m/s: outside " +
                                 text::shortest(kLeastPlausibleVm) + " to " + text::shortest(kMostPlausibleVm) +
                                 " m/s, the peak slip velocities of real ruptures"));
    }
    if (source.slip > kMostPlausibleSlip) {
      said.push_back(said_at(where, Severity::kWarning, "slip",
                             scaled + "slip = " + text::shortest(source.slip) + " m: above " +
                                 text::shortest(kMostPlausibleSlip) +
                                 " m, more than any earthquake has shown (a magnitude too large for this fault?)"));
    }
  }
}

}  // namespace

std::optional<double> scale_to_magnitude(Fault& fault, double mw, bool scale_vm, const Parameters& sampling,
                                         double rigidity, const Named& segments, const Named& patches,
                                         OptionSpelling spelling, std::vector<Diagnostic>& said) {
  const std::string option = spelt("mw", spelling) + " " + text::shortest(mw);
  const auto refuse = [&](std::string why) {
    said.push_back(said_at(Where::option("mw"), Severity::kError, "mw", option + ": " + std::move(why)));
    return std::nullopt;
  };
  const double target = std::pow(10.0, 1.5 * mw + 9.1);
  const std::vector<double> weights = moment_per_metre(fault, sampling, rigidity);
  const std::vector<RegionSource*> regions = regions_of(fault);
  std::vector<double> given(regions.size()), given_vm(regions.size());
  double nominal = 0;  // the moment if every function carried exactly its target slip
  for (std::size_t r = 0; r < regions.size(); ++r) {
    given[r] = regions[r]->slip;
    given_vm[r] = regions[r]->vm;
    nominal += weights[r] * given[r];
  }
  if (!(nominal > 0)) return refuse("no subfault slips, so no scaling of the slips reaches a magnitude");
  double factor = target / nominal;
  std::vector<Diagnostic> refused;
  // The moment the functions carry at a factor; unset when a region refuses its scaled source.
  const auto moment_at = [&](double f) -> std::optional<double> {
    double moment = 0;
    for (std::size_t r = 0; r < regions.size(); ++r) {
      regions[r]->slip = given[r] * f;
      if (scale_vm) regions[r]->vm = given_vm[r] * f;  // vm·tr/slip kept: the region's shape scaled
      Parameters source = sampling;
      source.vm = regions[r]->vm, source.slip = regions[r]->slip, source.tr = regions[r]->tr,
      source.ts = regions[r]->ts;
      try {
        moment += weights[r] * srf::whole_slip(srf::point_source({}, source));
      } catch (const ParameterError& e) {
        const bool patch = r >= fault.segments.size();
        const Where where = (patch ? patches : segments).at(line_of(fault, r));
        for (const Problem& p : e.problems()) {
          refused.push_back(
              said_at(where, Severity::kError, p.field,
                      "scaled by " + text::shortest(f) + " for Mw " + text::shortest(mw) + ": " + p.text));
        }
      }
    }
    return refused.empty() ? std::optional<double>(moment) : std::nullopt;
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
    const std::optional<double> moment = moment_at(factor);
    if (!moment) {  // in region order: the segments' lines, then the patches'
      said.insert(said.end(), refused.begin(), refused.end());
      return std::nullopt;
    }
    const double magnitude = moment_magnitude(*moment);
    if (std::abs(magnitude - mw) <= kTolerance) {
      said.push_back(said_at(
          Where::option("mw"), Severity::kNote, "mw",
          option + ": every region's slip" + (scale_vm ? " and vm" : "") + " scaled by " + text::shortest(factor)));
      if (scale_vm) warn_about_scaled_sources(fault, factor, mw, segments, patches, said);
      return factor;
    }
    (*moment < target ? low : high) = factor;
    double next = factor * target / *moment;
    if (!(next > low && next < high)) next = low + (high - low) / 2;
    if (next == low || next == high || round + 1 == kMostRounds) {
      return refuse(
          "no one factor of the slips reaches it within 0.001 (the whole slips the functions carry change "
          "in steps here); the nearest, " +
          text::shortest(factor) + ", gives Mw " + text::shortest(magnitude));
    }
    factor = next;
  }
  return std::nullopt;  // not reached: the last round refuses
}

}  // namespace slipvel::rupture::detail
