// build(): a rupture from its tables and options, every check that does not
// depend on how it is written made once, in the order a user fixes them: the
// options, the medium, the segments and how they meet, the patches, the
// hypocentre, the rupture velocity, the magnitude, the regions' sources, then
// the moment.
#include <slipvel/rupture.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include <slipvel/text.hpp>

#include "build_steps.hpp"
#include "checks.hpp"
#include "csv.hpp"
#include "geometry.hpp"
#include "implausibles.hpp"
#include "parallel.hpp"

namespace slipvel::rupture {
namespace {

using namespace slipvel::rupture::detail;

// The sampling every subfault shares (dt, nt and fmax, as the library checks
// them), once rather than for every region; whether the record reaches a
// region's ts stays for that region.
void check_sampling(const Parameters& sampling, OptionSpelling spelling, std::vector<Diagnostic>& said) {
  Parameters probe = sampling;
  probe.vm = probe.slip = probe.tr = 1;
  probe.ts = 0;  // no ts: the record's length against it is each region's
  for (const slipvel::detail::Finding& f : slipvel::detail::parameter_findings(probe)) {
    if (f.name != "dt" && f.name != "nt" && f.name != "fmax") continue;
    said.push_back(said_at(Where::option(f.name), Severity::kError, f.name,
                           spelt(f.name, spelling) + " = " + f.value + ": " + f.rule));
  }
}

void check_rigidity(double rigidity, OptionSpelling spelling, std::vector<Diagnostic>& said) {
  if (std::isfinite(rigidity) && rigidity > 0) return;
  said.push_back(said_at(
      Where::option("rigidity"), Severity::kError, "rigidity",
      spelt("rigidity", spelling) + " = " + text::shortest(rigidity) + ": must be finite and greater than 0 Pa"));
}

void append(std::vector<Diagnostic>& to, std::vector<Diagnostic> from) {
  to.insert(to.end(), std::make_move_iterator(from.begin()), std::make_move_iterator(from.end()));
}

// The fault the tables describe, or nothing with the problems said.
std::optional<Fault> read_fault(const Inputs& inputs, const Options& options, const TableNames& names,
                                std::vector<Diagnostic>& said) {
  Fault fault;
  if (inputs.medium) {
    MediumRead medium = read_medium(*inputs.medium);
    append(said, std::move(medium.problems));
    if (has_errors(said)) return std::nullopt;
    fault.medium = std::move(medium.medium);
  }
  const std::string medium = inputs.medium ? inputs.medium->name : "";
  std::optional<TraceMap> traced;
  if (inputs.traces) {
    TracedRead read = read_traced(*inputs.traces, medium, options.max_strike_drift, options.spelling);
    append(said, std::move(read.problems));
    if (has_errors(said)) return std::nullopt;
    fault.segments = std::move(read.segments);
    traced = std::move(read.map);
  } else {
    SegmentsRead read = read_segments(inputs.segments, medium);
    append(said, std::move(read.problems));
    if (has_errors(said)) return std::nullopt;
    fault.segments = std::move(read.segments);
  }
  check_how_segments_meet(fault.segments, Named{names.segments, names.segments_rows}, said);
  if (has_errors(said)) return std::nullopt;
  const TraceMap* map = traced ? &*traced : nullptr;
  if (inputs.patches) {
    PatchesRead patches = read_patches(*inputs.patches, fault.segments, map);
    append(said, std::move(patches.problems));
    if (has_errors(said)) return std::nullopt;
    fault.patches = std::move(patches.patches);
  }
  const std::optional<Hypocentre> hypocentre =
      std::holds_alternative<RandomPlace>(options.hypocentre)
          ? std::optional<Hypocentre>(random_hypocentre(fault.segments, *options.stochastic))
          : place_hypocentre(options.hypocentre, fault.segments, options.hypocentre_tolerance, options.spelling, said,
                             map);
  if (!hypocentre) return std::nullopt;
  fault.hypocentre = *hypocentre;
  fault.velocity = options.velocity;
  check_velocity(fault, Named{names.segments, names.segments_rows}, options.spelling, said);
  if (has_errors(said)) return std::nullopt;
  return fault;
}

// Every region whose source the library refuses, once, at its line.
void check_regions(const Rupture& rupture, std::vector<Diagnostic>& said) {
  const TableNames& names = Access::names(rupture);
  std::vector<std::vector<Problem>> why;
  const std::vector<std::pair<int, bool>> regions = Access::refused_regions(rupture, why);
  for (std::size_t r = 0; r < regions.size(); ++r) {
    const auto [line, patch] = regions[r];
    const Named table = patch ? Named{names.patches, names.patches_rows} : Named{names.segments, names.segments_rows};
    table::add_problems(said, table.at(line), why[r]);
  }
}

void warn_about_empty_patches(const Rupture& rupture, std::vector<Diagnostic>& said) {
  const TableNames& names = Access::names(rupture);
  for (const Patch* patch : Access::empty_patches(rupture)) {
    said.push_back(said_at(Named{names.patches, names.patches_rows}.at(patch->line), Severity::kWarning, "s0",
                           "no subfault's centre lies in this patch, so it changes nothing (more subfaults, nstk or "
                           "ndip, would resolve it)"));
  }
}

// The slowest crossing of a subfault by the front: its larger side over the
// local rupture speed (a stochastic rupture's own, else vr, or vr_fraction
// times vs at its centre). A front that takes T s a subfault puts ripples
// near 1/T Hz into the moment rate.
struct SlowestCrossing {
  double seconds = 0, side = 0, speed = 0;  // s, km, km/s
  std::size_t segment = 0;

  void add(const Fault& fault, std::size_t segment, double vs, const float* varied_speed) {
    const Segment& g = fault.segments[segment];
    const double local = varied_speed ? *varied_speed
                         : std::holds_alternative<UniformSpeed>(fault.velocity)
                             ? std::get<UniformSpeed>(fault.velocity).km_per_s
                             : std::get<FractionOfVs>(fault.velocity).fraction * vs / 1000;
    const double larger = std::max(g.len / g.nstk, g.wid / g.ndip);
    if (!(larger / local > seconds)) return;
    seconds = larger / local, side = larger, speed = local, this->segment = segment;
  }
};

std::string three_digits(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3g", value);
  return text;
}

// Subfaults the front crosses in more than 1/fmax: the ripples of the front
// passing one subfault after the next fall inside the band the sources carry.
void warn_about_coarse_subfaults(const Rupture& rupture, const SlowestCrossing& slowest, const Parameters& sampling,
                                 std::vector<Diagnostic>& said) {
  if (!(slowest.seconds > 1 / sampling.fmax)) return;
  const TableNames& names = Access::names(rupture);
  const Segment& g = rupture.fault().segments[slowest.segment];
  said.push_back(said_at(
      Named{names.segments, names.segments_rows}.at(g.line), Severity::kWarning, "nstk",
      "subfaults of " + three_digits(g.len / g.nstk) + " km along strike by " + three_digits(g.wid / g.ndip) +
          " km down dip, the front at " + three_digits(slowest.speed) + " km/s: the front crosses a subfault in " +
          three_digits(slowest.seconds) + " s: the moment rate carries ripples near " +
          three_digits(1 / slowest.seconds) + " Hz, inside the band up to fmax = " + text::shortest(sampling.fmax) +
          " Hz; subfaults of at most vr/fmax = " + three_digits(slowest.speed / sampling.fmax) +
          " km keep them above it"));
}

// Samples too far apart for fmax, as slipvel-batch and Python's
// slip_function warn of them. (The SRF file's samples are the means over
// each step, which sum to the slip however coarse the step: the 1 % check
// of point samples has nothing to find there.)
void warn_about_nyquist(const Parameters& sampling, std::vector<Diagnostic>& said) {
  if (!above_nyquist(sampling)) return;
  said.push_back(said_at(Where::option("dt"), Severity::kWarning, "dt",
                         "fmax = " + text::shortest(sampling.fmax) + " Hz is above the Nyquist frequency 1/(2*dt) = " +
                             text::shortest(nyquist_frequency(sampling.dt)) +
                             " Hz of dt = " + text::shortest(sampling.dt) + " s: " + kAboveNyquistCost));
}

// The rupture's moment, summed in file order, and the values that keep every
// rule but are likely a mistake, one warning a kind naming the first subfault.
RuptureMoment sum_moment(const Rupture& rupture, const Inputs& inputs, const Options& options,
                         double& at_default_rigidity, std::vector<Diagnostic>& said) {
  const TableNames& names = Access::names(rupture);
  const Fault& fault = rupture.fault();
  const Named segments{names.segments, names.segments_rows};
  const Named medium{inputs.medium ? inputs.medium->name : "", false};
  const auto* uniform = std::get_if<UniformSpeed>(&fault.velocity);
  RuptureMoment moment, default_moment;
  SlowestCrossing slowest;
  slipvel::detail::Implausibles found("subfaults");
  slipvel::detail::for_each_chunk_in_order<std::vector<srf::PointSource>>(
      rupture.size(), options.jobs,
      [&](slipvel::detail::ChunkRange range, std::vector<srf::PointSource>& points) {
        points.clear();
        for (std::size_t n = range.first; n < range.last; ++n) points.push_back(Access::unplaced_source(rupture, n));
      },
      [&](slipvel::detail::ChunkRange range, const std::vector<srf::PointSource>& points) {
        for (std::size_t i = 0; i < points.size(); ++i) {
          const srf::PointSource& point = points[i];
          const std::size_t n = range.first + i;
          moment.add(point, point_rigidity(point.where, rupture.rigidity()));
          default_moment.add(point, kDefaultRigidity);
          const std::size_t segment = rupture.subfault(n).segment;
          const Varied* varied = Access::varied(rupture);
          slowest.add(fault, segment, point.where.vs, varied ? &varied->speed[n] : nullptr);
          // vs and den of a medium are its layer's; the rest the subfault's segment's.
          const Where at_segment = segments.at(fault.segments[segment].line);
          for (const Problem& p : srf::implausible_values(point.where)) {
            if (!fault.medium.empty() && (p.field == "vs" || p.field == "den")) {
              found.add(medium.at(fault.medium.at(point.where.dep).line),
                        "the layer of subfault " + rupture.id(n) + ": ", p);
            } else {
              found.add(at_segment, "subfault " + rupture.id(n) + ": ", p);
            }
          }
          if (!uniform) continue;  // the same fraction of vs everywhere: said once, below
          if (const auto p = srf::implausible_rupture_velocity(uniform->km_per_s, point.where.vs)) {
            found.add(at_segment, "subfault " + rupture.id(n) + ": ", *p);
          }
        }
      },
      {}, options.stop);
  if (const auto* fraction = std::get_if<FractionOfVs>(&fault.velocity); fraction && fraction->fraction > 1) {
    said.push_back(said_at(Where::option("vr_fraction"), Severity::kWarning, "vr_fraction",
                           spelt("vr_fraction", options.spelling) + " " + text::shortest(fraction->fraction) +
                               ": the front runs faster than the shear-wave speed everywhere (a supershear rupture)"));
  }
  try {
    check_moment(moment);
  } catch (const ParameterError& e) {
    append(said, e.diagnostics());
    return moment;
  }
  if (const auto p = implausible_magnitude(moment_magnitude(moment.moment()))) found.add({}, "", *p);
  append(said, found.warnings());
  warn_about_nyquist(options.sampling, said);
  warn_about_coarse_subfaults(rupture, slowest, options.sampling, said);
  at_default_rigidity = default_moment.moment();
  return moment;
}

// The moment of the rupture with every region's own source: Σ μ·area·S(ts).
double uniform_moment(const Rupture& rupture) {
  const Fault& fault = rupture.fault();
  double moment = 0;
  for (std::size_t n = 0; n < rupture.size(); ++n) {
    const Subfault f = rupture.subfault(n);
    const Segment& g = fault.segments[f.segment];
    srf::Point where{};
    std::tie(where.vs, where.den) = vs_den_at(fault, g, depth_at(g, centre_d(g, f.j)));
    const Parameters& sampling = Access::sampling(rupture);
    const RegionSource& region = f.patch ? fault.patches[*f.patch].source : g.source;
    if (!(region.slip > 0)) continue;
    Parameters p = sampling;
    p.slip = region.slip, p.vm = region.vm, p.tr = region.tr, p.ts = region.ts;
    moment += point_rigidity(where, rupture.rigidity()) * subfault_area(g) * srf::whole_slip(srf::point_source({}, p));
  }
  return moment;
}

// Magnitudes beyond these are no earthquake's (and their moments under- or
// overflow the arithmetic of the scaling).
constexpr double kLeastMagnitude = -2, kMostMagnitude = 10;

void check_magnitude(const Options& options, std::vector<Diagnostic>& said) {
  if (!options.mw || (*options.mw >= kLeastMagnitude && *options.mw <= kMostMagnitude)) return;
  said.push_back(said_at(Where::option("mw"), Severity::kError, "mw",
                         spelt("mw", options.spelling) + " = " + text::shortest(*options.mw) + ": must be from " +
                             text::shortest(kLeastMagnitude) + " to " + text::shortest(kMostMagnitude) +
                             ", the moment magnitudes of earthquakes"));
}

// A mean rise time whose stopping time (1.5 times it) lies beyond the
// record: most subfaults would be refused one by one; the option is.
void check_rise_time_fits(const Stochastic& stochastic, const Parameters& sampling, OptionSpelling spelling,
                          std::vector<Diagnostic>& said) {
  const double record = static_cast<double>(sampling.nt - 1) * sampling.dt;
  if (!stochastic.rise_time || !(*stochastic.rise_time > 0) || !(record > 0) || 1.5 * *stochastic.rise_time <= record) {
    return;
  }
  said.push_back(said_at(Where::option("rise_time"), Severity::kError, "rise_time",
                         spelt("rise_time", spelling) + " = " + text::shortest(*stochastic.rise_time) +
                             ": its stopping time 1.5*" + text::shortest(*stochastic.rise_time) +
                             " s lies beyond the record (nt - 1)*dt = " + text::shortest(record) +
                             " s; a larger nt or dt, or a shorter rise time"));
}

// The options of a stochastic rupture, or the random hypocentre without one.
void check_heterogeneity(const Options& options, std::vector<Diagnostic>& said) {
  if (options.stochastic && options.mw_scales == MagnitudeScales::kSlip) {
    said.push_back(said_at(Where::option("mw_scales"), Severity::kError, "mw_scales",
                           spelt("mw_scales", options.spelling) +
                               " slip: a stochastic rupture keeps every region's vm*tr/slip, so its vm follows the "
                               "slip"));
  }
  if (options.stochastic) {
    check_stochastic(*options.stochastic, options.velocity, options.spelling, said);
    check_rise_time_fits(*options.stochastic, options.sampling, options.spelling, said);
  } else if (std::holds_alternative<RandomPlace>(options.hypocentre)) {
    said.push_back(said_at(Where::option("random_hypocentre"), Severity::kError, "random_hypocentre",
                           spelt("random_hypocentre", options.spelling) +
                               ": a hypocentre drawn at random belongs to a stochastic rupture (" +
                               spelt("stochastic", options.spelling) + ")"));
  }
}

}  // namespace

Built build(const Inputs& inputs, const Options& options) {
  Built built;
  std::vector<Diagnostic>& said = built.diagnostics;
  check_sampling(options.sampling, options.spelling, said);
  check_rigidity(options.rigidity, options.spelling, said);
  check_magnitude(options, said);
  check_heterogeneity(options, said);
  if (has_errors(said)) return built;
  // With traces, the segments' lines are their faults' rows.
  const Table& segments = inputs.traces ? inputs.traces->faults : inputs.segments;
  const bool segment_rows = std::holds_alternative<Columns>(segments.content);
  const bool patch_rows = inputs.patches && std::holds_alternative<Columns>(inputs.patches->content);
  TableNames names{segments.name, inputs.patches ? inputs.patches->name : "", segment_rows, patch_rows,
                   options.spelling};
  std::optional<Fault> fault = read_fault(inputs, options, names, said);
  if (!fault) return built;
  double factor = 1;
  if (options.mw && !options.stochastic) {
    const std::optional<double> scaled = scale_to_magnitude(
        *fault, *options.mw, options.mw_scales == MagnitudeScales::kSlipAndVm, options.sampling, options.rigidity,
        {names.segments, names.segments_rows}, {names.patches, names.patches_rows}, options.spelling, said);
    if (!scaled) return built;
    factor = *scaled;
  }
  Rupture rupture =
      Access::make(std::move(*fault), options.sampling, options.rigidity, !options.stochastic, options.stop);
  Access::set_names(rupture, std::move(names));
  Access::set_slip_factor(rupture, factor);
  check_regions(rupture, said);
  if (has_errors(said)) return built;
  if (options.stochastic) {
    const double target = options.mw ? std::pow(10.0, 1.5 * *options.mw + 9.1) : uniform_moment(rupture);
    if (!vary(rupture, *options.stochastic, target, options.spelling, options.jobs, said, options.stop)) return built;
  }
  warn_about_empty_patches(rupture, said);
  double at_default_rigidity = 0;
  const RuptureMoment moment = sum_moment(rupture, inputs, options, at_default_rigidity, said);
  if (has_errors(said)) return built;
  Access::set_moment(rupture, moment, at_default_rigidity);
  built.rupture = std::make_shared<const Rupture>(std::move(rupture));
  return built;
}

}  // namespace slipvel::rupture
