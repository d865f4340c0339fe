// A heterogeneous rupture: slip from a von Kármán random field over the
// unfolded fault, rise time and rupture speed that follow it, and each
// subfault's own onset search, in the order Stochastic states.
#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdio>
#include <map>
#include <numbers>

#include <slipvel/text.hpp>

#include "build_steps.hpp"
#include "geometry.hpp"
#include "parallel.hpp"
#include "random.hpp"
#include "slip_field.hpp"
#include "slip_range.hpp"

namespace slipvel::rupture::detail {
namespace {

constexpr double kMetresPerKm = 1000;
// What real ruptures show; a realisation beyond it is likely a mistake.
constexpr double kMostPlausibleSlip = 50;  // m
constexpr double kMostPlausibleVm = 10;    // m/s

std::string three_digits(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3g", value);
  return text;
}

// What would keep a subfault the function refuses carried, by what refused
// it: a rise time too short for fmax (it follows the slip), a slip below or
// above what the function carries for the region's vm*tr/slip, a stopping
// time beyond the record.
std::string carrying_hint(const Problem& problem, const Parameters& p) {
  if (problem.field == "tr")
    return "a higher slip floor or fmax keeps such a subfault carried: its tr follows its slip";
  if (problem.field == "nt" || problem.field == "ts") {
    return "a larger nt or dt, or a shorter rise time, gives its ts room in the record";
  }
  if (problem.field == "slip") {
    const std::vector<slipvel::detail::SlipInterval> carried = slipvel::detail::carried_slips(p);
    if (!carried.empty() && p.slip > carried.back().high) {
      return "a region of larger vm*tr/slip keeps such a subfault carried";
    }
    return "a region of smaller vm*tr/slip, or a higher slip floor, keeps such a subfault carried";
  }
  return "a higher slip floor or fmax, or another vm*tr/slip of its region, keeps such a subfault carried";
}

// What each subfault is, found once without its position on the Earth.
struct Place {
  std::size_t segment;
  int i, j;
  std::size_t region;  // the segments' backgrounds first, then the patches
  double u, d;         // on the unfolded fault (km)
  double depth;        // km
  double area;         // m²
  double rigidity;     // Pa
};

std::vector<Place> places_of(const Rupture& rupture) {
  const Fault& fault = rupture.fault();
  std::vector<Place> places(rupture.size());
  for (std::size_t n = 0; n < places.size(); ++n) {
    const Subfault f = rupture.subfault(n);
    const Segment& g = fault.segments[f.segment];
    const double s = centre_s(g, f.i), d = centre_d(g, f.j);
    srf::Point where{};
    std::tie(where.vs, where.den) = vs_den_at(fault, g, depth_at(g, d));
    places[n] = {f.segment,
                 f.i,
                 f.j,
                 f.patch ? fault.segments.size() + *f.patch : f.segment,
                 Access::centre_u(rupture, f.segment) + s,
                 d,
                 depth_at(g, d),
                 subfault_area(g),
                 point_rigidity(where, rupture.rigidity())};
  }
  return places;
}

// The grid of the field: spaced the smallest subfault length and width, its
// nodes on the centres of the subfaults that set them.
FieldGrid grid_of(const std::vector<Segment>& segments) {
  double length = 0, width = 0, du = INFINITY, dd = INFINITY, u_anchor = 0;
  for (const Segment& g : segments) {
    if (g.len / g.nstk < du) du = g.len / g.nstk, u_anchor = length + du / 2;
    dd = std::min(dd, g.wid / g.ndip);
    length += g.len;
    width = std::max(width, g.wid);
  }
  return grid_covering(length, width, u_anchor, dd / 2, du, dd);
}

// The Hann taper sin²(π/2 · x/reach) within `reach` of an edge `x` away.
double taper(double x, double reach) {
  if (!(reach > 0) || x >= reach) return 1;
  const double s = std::sin(std::numbers::pi / 2 * std::max(0.0, x) / reach);
  return s * s;
}

// The region's table source and its line.
struct RegionValues {
  const RegionSource* source;
  int line;
  bool patch;
};

std::vector<RegionValues> regions_of(const Fault& fault) {
  std::vector<RegionValues> regions;
  for (const Segment& g : fault.segments) regions.push_back({&g.source, g.line, false});
  for (const Patch& p : fault.patches) regions.push_back({&p.source, p.line, true});
  return regions;
}

// A subfault's own source, before its onset search.
struct Own {
  double slip, vm, tr, ts;
};

// The parameters' bits, which identify a source.
using SourceKey = std::array<std::uint64_t, 4>;
SourceKey key_of(const Own& own) {
  return {std::bit_cast<std::uint64_t>(own.slip), std::bit_cast<std::uint64_t>(own.vm),
          std::bit_cast<std::uint64_t>(own.tr), std::bit_cast<std::uint64_t>(own.ts)};
}

class Realisation {
 public:
  Realisation(Rupture& rupture, const Stochastic& stochastic, double target, OptionSpelling spelling, int jobs,
              std::vector<Diagnostic>& said, const StopRequest& stop)
      : rupture_(rupture),
        fault_(rupture.fault()),
        stochastic_(stochastic),
        target_(target),
        spelling_(spelling),
        jobs_(jobs),
        said_(said),
        stop_(stop),
        places_(places_of(rupture)),
        regions_(regions_of(fault_)),
        names_(Access::names(rupture)) {}

  bool make() {
    const FieldGrid grid = grid_of(fault_.segments);
    const VonKarman spectrum = spectrum_for();
    for (const std::string& why : field_problems(grid, spectrum)) {
      error(Where::option("correlation"), "correlation", prefix() + "the slip field: " + why);
    }
    if (has_errors(said_)) return false;
    warn_about_resolution(grid, spectrum);
    const FieldSynthesis synthesis(grid, spectrum);
    const RandomField field = synthesis.realise(stochastic_.seed, stochastic_.realisation, Purpose::slip);
    if (!slips_from(field)) return false;
    scale_moment();
    rise_times();
    floor_slips();
    rupture_times();
    rakes(synthesis);
    for (int round = 0; round < kMostRounds; ++round) {
      if (!search_onsets()) return false;
      const double carried = carried_moment();
      if (std::abs(moment_magnitude(carried) - moment_magnitude(target_)) <= kTolerance) {
        warn_about_realised();
        Access::set_varied(rupture_, varied_);
        return true;
      }
      rescale(target_ / carried);
    }
    error({}, "mw", prefix() + "no factor of the slips reaches the moment within 0.001 in Mw");
    return false;
  }

 private:
  static constexpr int kMostRounds = 8;
  static constexpr double kTolerance = 0.001;

  std::string prefix() const { return "realisation " + std::to_string(stochastic_.realisation) + ": "; }
  void error(Where where, std::string field, std::string text) {
    said_.push_back(said_at(std::move(where), Severity::kError, std::move(field), std::move(text)));
  }
  void warning(Where where, std::string field, std::string text) {
    said_.push_back(said_at(std::move(where), Severity::kWarning, std::move(field), std::move(text)));
  }
  Where at_region(std::size_t r) const {
    const RegionValues& v = regions_[r];
    return (v.patch ? Named{names_.patches, names_.patches_rows} : Named{names_.segments, names_.segments_rows})
        .at(v.line);
  }

  VonKarman spectrum_for() const {
    if (stochastic_.correlation) {
      return {stochastic_.correlation->first, stochastic_.correlation->second, stochastic_.hurst};
    }
    VonKarman spectrum = von_karman_for_magnitude(moment_magnitude(target_));
    spectrum.hurst = stochastic_.hurst;
    return spectrum;
  }

  // A subfault larger than a quarter of the correlation length it samples
  // leaves the field's corner unresolved.
  void warn_about_resolution(const FieldGrid& grid, const VonKarman& spectrum) {
    if (grid.du <= spectrum.ax / 4 && grid.dd <= spectrum.az / 4) return;
    warning(Where::option("correlation"), "correlation",
            "subfaults of " + text::shortest(grid.du) + " km by " + text::shortest(grid.dd) +
                " km sample correlation lengths of " + text::shortest(spectrum.ax) + " km by " +
                text::shortest(spectrum.az) +
                " km: larger than a quarter of them, the field's corner is not resolved (subfaults of at most ax/4 by "
                "az/4 resolve it)");
  }

  // slip = region slip × max(0, 1 + σ·g) × taper, over the region's mean.
  bool slips_from(const RandomField& field) {
    const double length = places_.empty() ? 0 : strips_of(fault_.segments).back().u1;
    std::vector<double> factor(places_.size()), sums(regions_.size(), 0.0);
    std::vector<std::size_t> counts(regions_.size(), 0);
    for (std::size_t n = 0; n < places_.size(); ++n) {
      const Place& p = places_[n];
      const Segment& g = fault_.segments[p.segment];
      double f = std::max(0.0, 1 + stochastic_.slip_cv * field.at(p.u, p.d));
      f *= taper(std::min(p.u, length - p.u), stochastic_.taper_along * length);
      f *= taper(g.wid - p.d, stochastic_.taper_down * g.wid);
      if (g.dtop > 0) f *= taper(p.d, stochastic_.taper_down * g.wid);
      factor[n] = f;
      sums[p.region] += f;
      ++counts[p.region];
    }
    own_.resize(places_.size());
    for (std::size_t r = 0; r < regions_.size(); ++r) {
      if (counts[r] > 0 && regions_[r].source->slip > 0 && !(sums[r] > 0)) {
        error(at_region(r), "slip",
              prefix() +
                  "every subfault of this region has a slip factor of 0 (the field, clipped at 0, or the "
                  "taper): a smaller slip_cv or taper, or more subfaults, keep some");
      }
    }
    if (has_errors(said_)) return false;
    for (std::size_t n = 0; n < places_.size(); ++n) {
      const std::size_t r = places_[n].region;
      const double mean = sums[r] / static_cast<double>(counts[r]);
      own_[n].slip = regions_[r].source->slip > 0 ? regions_[r].source->slip * (factor[n] / mean) : 0;
    }
    return true;
  }

  // One factor for the target moment, as if every function carried its slip.
  void scale_moment() {
    double nominal = 0;
    for (std::size_t n = 0; n < places_.size(); ++n) nominal += places_[n].rigidity * places_[n].area * own_[n].slip;
    for (Own& own : own_) own.slip *= target_ / nominal;
  }

  bool shallow(const Place& p) const { return p.depth < stochastic_.shallow_depth; }

  // tr = c·√s (TR times it above the shallow depth), c giving the
  // moment-weighted mean rise time; ts and vm keep the region's shape.
  void rise_times() {
    const double mean = stochastic_.rise_time.value_or(2.03e-9 * std::cbrt(target_ * 1e7));  // M0 in dyne·cm
    double weights = 0, weighted = 0;
    for (std::size_t n = 0; n < places_.size(); ++n) {
      const double w = places_[n].rigidity * places_[n].area * own_[n].slip;
      weights += w;
      weighted += w * std::sqrt(own_[n].slip) * (shallow(places_[n]) ? stochastic_.shallow_tr : 1);
    }
    const double c = mean * weights / weighted;
    for (std::size_t n = 0; n < places_.size(); ++n) {
      const RegionSource& region = *regions_[places_[n].region].source;
      Own& own = own_[n];
      if (!(own.slip > 0)) continue;
      own.tr = c * std::sqrt(own.slip) * (shallow(places_[n]) ? stochastic_.shallow_tr : 1);
      own.ts = own.tr * (region.ts.value_or(region.tr * 1.5) / region.tr);
      own.vm = region.vm * region.tr / region.slip * own.slip / own.tr;
    }
  }

  // A subfault below the floor does not slip, and keeps its region's function.
  void floor_slips() {
    double area = 0, slip = 0;
    for (std::size_t n = 0; n < places_.size(); ++n) area += places_[n].area, slip += places_[n].area * own_[n].slip;
    mean_slip_ = slip / area;
    for (std::size_t n = 0; n < places_.size(); ++n) {
      if (own_[n].slip >= stochastic_.slip_floor * mean_slip_ && own_[n].slip > 0) continue;
      const RegionSource& region = *regions_[places_[n].region].source;
      own_[n] = {0, region.vm, region.tr, region.ts.value_or(region.tr * 1.5)};
    }
  }

  // The local rupture speed (km/s), constant over each subfault.
  double speed(std::size_t n) const {
    const Place& p = places_[n];
    const double shallow_factor = shallow(p) ? stochastic_.shallow_vr : 1;
    if (const auto* uniform = std::get_if<UniformSpeed>(&fault_.velocity)) return uniform->km_per_s * shallow_factor;
    const double fraction = std::get<FractionOfVs>(fault_.velocity).fraction;
    const Segment& g = fault_.segments[p.segment];
    const double vs = vs_den_at(fault_, g, p.depth).first;
    const double cv = stochastic_.slip_cv;
    const double follows = cv > 0 ? std::clamp((own_[n].slip / mean_slip_ - 1) / cv, -1.0, 1.0) : 0;
    return fraction * vs / kMetresPerKm * (1 + stochastic_.vr_slip * follows) * shallow_factor;
  }

  // The front march over the subfaults' speeds, unless the speed is one
  // uniform speed everywhere (then the straight lines give the times).
  void rupture_times() {
    const bool uniform = std::holds_alternative<UniformSpeed>(fault_.velocity);
    const bool any_shallow = std::any_of(places_.begin(), places_.end(), [&](const Place& p) { return shallow(p); });
    if (uniform && (stochastic_.shallow_vr == 1 || !any_shallow)) return;
    std::vector<std::size_t> first(fault_.segments.size() + 1, 0);
    for (std::size_t k = 0; k < fault_.segments.size(); ++k) {
      first[k + 1] = first[k] + static_cast<std::size_t>(fault_.segments[k].nstk) * fault_.segments[k].ndip;
    }
    std::vector<double> speeds(places_.size());
    for (std::size_t n = 0; n < places_.size(); ++n) speeds[n] = speed(n);
    const std::vector<Strip> strips = strips_of(fault_.segments);
    // A grid node takes the speed of the subfault it lies in.
    const auto at = [&](std::size_t k, double u, double d) {
      const Segment& g = fault_.segments[k];
      const double i = std::floor((u - strips[k].u0) / (g.len / g.nstk)), j = std::floor(d / (g.wid / g.ndip));
      const auto column = static_cast<std::size_t>(std::clamp(i, 0.0, g.nstk - 1.0));
      const auto row = static_cast<std::size_t>(std::clamp(j, 0.0, g.ndip - 1.0));
      return speeds[first[k] + row * static_cast<std::size_t>(g.nstk) + column];
    };
    const auto [du, dd] = front_spacing(fault_.segments);
    const Hypocentre& h = fault_.hypocentre;
    Access::set_front_times(
        rupture_, std::make_shared<const FrontTimes>(strips, at, Access::centre_u(rupture_, h.segment) + h.s, h.d, du,
                                                     dd, false, stop_));
  }

  // rake + DEG·g_r, g_r a second field; in the region's convention of angles.
  void rakes(const FieldSynthesis& synthesis) {
    rake_.resize(places_.size());
    std::optional<RandomField> scatter;
    if (stochastic_.rake_sigma > 0)
      scatter = synthesis.realise(stochastic_.seed, stochastic_.realisation, Purpose::rake);
    for (std::size_t n = 0; n < places_.size(); ++n) {
      const double given = regions_[places_[n].region].source->rake;
      if (!scatter) {
        rake_[n] = given;
        continue;
      }
      double rake = given + stochastic_.rake_sigma * scatter->at(places_[n].u, places_[n].d);
      const double low = given < 180 ? -180 : 0;  // -180…180 or 0…360, as the table gives it
      rake = std::fmod(rake - low, 360.0);
      rake_[n] = (rake < 0 ? rake + 360 : rake) + low;
    }
  }

  // Each distinct source's onset search, on every job; a slipping subfault
  // whose source the library refuses is said with its region and values.
  bool search_onsets() {
    auto varied = std::make_shared<Varied>();
    varied->source_of.resize(places_.size());
    varied->rake = rake_;
    varied->speed.resize(places_.size());
    for (std::size_t n = 0; n < places_.size(); ++n) varied->speed[n] = static_cast<float>(speed(n));
    std::map<SourceKey, std::uint32_t> seen;
    const Parameters& sampling = Access::sampling(rupture_);
    for (std::size_t n = 0; n < places_.size(); ++n) {
      const auto [at, fresh] = seen.try_emplace(key_of(own_[n]), static_cast<std::uint32_t>(varied->sources.size()));
      if (fresh) {
        Parameters p = sampling;
        p.slip = own_[n].slip, p.vm = own_[n].vm, p.tr = own_[n].tr, p.ts = own_[n].ts;
        varied->sources.push_back({p, std::nullopt, n});
      }
      varied->source_of[n] = at->second;
    }
    std::vector<std::vector<Problem>> refused(varied->sources.size());
    slipvel::detail::for_each_index(
        varied->sources.size(), jobs_,
        [&](std::size_t s) {
          Varied::Source& source = varied->sources[s];
          try {
            source.shape = srf::point_source({}, source.parameters).shape;
          } catch (const ParameterError& e) {
            refused[s] = e.problems();
          }
        },
        {}, stop_);
    for (std::size_t s = 0; s < refused.size(); ++s) {
      if (refused[s].empty()) continue;
      const Varied::Source& source = varied->sources[s];
      const Parameters& p = source.parameters;
      for (const Problem& problem : refused[s]) {
        error(at_region(places_[source.first].region), problem.field,
              prefix() + "subfault " + rupture_.id(source.first) + " (slip = " + text::shortest(p.slip) + " m, vm = " +
                  text::shortest(p.vm) + " m/s, tr = " + text::shortest(p.tr) + " s, ts = " + text::shortest(*p.ts) +
                  " s): " + problem.text + " (" + carrying_hint(problem, p) + ")");
      }
    }
    varied_ = varied;
    return !has_errors(said_);
  }

  double carried_moment() const {
    double moment = 0;
    for (std::size_t n = 0; n < places_.size(); ++n) {
      const Varied::Source& source = varied_->sources[varied_->source_of[n]];
      moment += places_[n].rigidity * places_[n].area * srf::whole_slip({{}, source.parameters, source.shape});
    }
    return moment;
  }

  // Slip and vm scaled together: tr, ts, the floor and the speeds stay.
  void rescale(double factor) {
    for (Own& own : own_) {
      if (!(own.slip > 0)) continue;
      own.slip *= factor;
      own.vm *= factor;
    }
  }

  void warn_about_realised() {
    std::size_t slip_at = 0, vm_at = 0;
    for (std::size_t n = 0; n < own_.size(); ++n) {
      if (own_[n].slip > own_[slip_at].slip) slip_at = n;
      if (own_[n].slip > 0 && (own_[vm_at].slip == 0 || own_[n].vm > own_[vm_at].vm)) vm_at = n;
    }
    if (own_.empty()) return;
    if (own_[slip_at].slip > kMostPlausibleSlip) {
      warning(at_region(places_[slip_at].region), "slip",
              prefix() + "subfault " + rupture_.id(slip_at) + ": slip = " + text::shortest(own_[slip_at].slip) +
                  " m: above " + text::shortest(kMostPlausibleSlip) + " m, more than any earthquake has shown");
    }
    if (own_[vm_at].slip > 0 && own_[vm_at].vm > kMostPlausibleVm) {
      warning(at_region(places_[vm_at].region), "vm",
              prefix() + "subfault " + rupture_.id(vm_at) + ": vm = " + text::shortest(own_[vm_at].vm) +
                  " m/s: above " + text::shortest(kMostPlausibleVm) +
                  " m/s, faster than the peak slip velocities of real ruptures");
    }
  }

  Rupture& rupture_;
  const Fault& fault_;
  const Stochastic& stochastic_;
  double target_;
  [[maybe_unused]] OptionSpelling spelling_;
  int jobs_;
  std::vector<Diagnostic>& said_;
  const StopRequest& stop_;
  std::vector<Place> places_;
  std::vector<RegionValues> regions_;
  TableNames names_;
  std::vector<Own> own_;
  std::vector<double> rake_;
  double mean_slip_ = 0;
  std::shared_ptr<Varied> varied_;
};

}  // namespace

Hypocentre random_hypocentre(const std::vector<Segment>& segments, const Stochastic& stochastic) {
  Stream stream(stochastic.seed, stochastic.realisation, Purpose::hypocentre);
  const std::vector<Strip> strips = strips_of(segments);
  const double u = strips.back().u1 * (0.2 + 0.6 * stream.uniform());
  const double fraction = 0.4 + 0.5 * stream.uniform();
  std::size_t k = 0;
  while (k + 1 < strips.size() && u > strips[k].u1) ++k;
  const Segment& g = segments[k];
  return {k, u - (strips[k].u0 + g.len / 2) + 0.0, fraction * g.wid};
}

void check_stochastic(const Stochastic& s, const RuptureVelocity& velocity, OptionSpelling spelling,
                      std::vector<Diagnostic>& said) {
  const auto refuse = [&](const std::string& keyword, const std::string& value, const std::string& rule) {
    said.push_back(said_at(Where::option(keyword), Severity::kError, keyword,
                           spelt(keyword, spelling) + " = " + value + ": " + rule));
  };
  const auto number = [](double v) { return text::shortest(v); };
  if (s.seed > kMostSeed) refuse("seed", std::to_string(s.seed), "must be a whole number from 0 to 2^63-1");
  if (s.realisation > kMostRealisation) {
    refuse("realisation", std::to_string(s.realisation), "must be a whole number from 0 to 2^31-1");
  }
  if (s.correlation && !(std::isfinite(s.correlation->first) && s.correlation->first > 0 &&
                         std::isfinite(s.correlation->second) && s.correlation->second > 0)) {
    refuse("correlation", number(s.correlation->first) + ":" + number(s.correlation->second),
           "both correlation lengths (km) must be finite and greater than 0");
  }
  if (!(s.hurst > 0 && s.hurst <= 1)) refuse("hurst", number(s.hurst), "must be greater than 0 and at most 1");
  if (!(std::isfinite(s.slip_cv) && s.slip_cv >= 0)) refuse("slip_cv", number(s.slip_cv), "must be at least 0");
  if (!(s.taper_along >= 0 && s.taper_along <= 0.5 && s.taper_down >= 0 && s.taper_down <= 0.5)) {
    refuse("taper", number(s.taper_along) + ":" + number(s.taper_down),
           "each must be from 0 to 0.5 (fractions of the length and of the width)");
  }
  if (!(std::isfinite(s.shallow_depth) && s.shallow_depth >= 0 && std::isfinite(s.shallow_vr) && s.shallow_vr > 0 &&
        std::isfinite(s.shallow_tr) && s.shallow_tr > 0)) {
    refuse("shallow", number(s.shallow_depth) + ":" + number(s.shallow_vr) + ":" + number(s.shallow_tr),
           "the depth (km) must be at least 0 and both factors finite and greater than 0");
  }
  if (s.rise_time && !(std::isfinite(*s.rise_time) && *s.rise_time > 0)) {
    refuse("rise_time", number(*s.rise_time), "must be finite and greater than 0 s");
  }
  if (!(std::isfinite(s.vr_slip) && s.vr_slip >= 0 && s.vr_slip < 1)) {
    refuse("vr_slip", number(s.vr_slip), "must be at least 0 and less than 1");
  }
  if (!(s.slip_floor >= 0 && s.slip_floor < 1))
    refuse("slip_floor", number(s.slip_floor), "must be from 0 to less than 1");
  if (!(std::isfinite(s.rake_sigma) && s.rake_sigma >= 0 && s.rake_sigma <= 180)) {
    refuse("rake_sigma", number(s.rake_sigma), "must be from 0 to 180 degrees");
  }
  if (const auto* fraction = std::get_if<FractionOfVs>(&velocity);
      fraction && fraction->fraction * (1 + s.vr_slip) > kFastestFraction) {
    refuse("vr_slip", number(s.vr_slip),
           "with " + spelt("vr_fraction", spelling) + " " + number(fraction->fraction) + " the front runs at up to " +
               three_digits(fraction->fraction * (1 + s.vr_slip)) +
               " vs where slip is high: faster than the P wave (sqrt(3) vs)");
  }
}

bool vary(Rupture& rupture, const Stochastic& stochastic, double target, OptionSpelling spelling, int jobs,
          std::vector<Diagnostic>& said, const StopRequest& stop) {
  return Realisation(rupture, stochastic, target, spelling, jobs, said, stop).make();
}

}  // namespace slipvel::rupture::detail

namespace slipvel::rupture {

SlipField slip_field(double length, double width, double du, double dd, double ax, double az, double hurst,
                     std::uint64_t seed, std::uint64_t realisation) {
  using namespace detail;
  const auto refuse = [](const std::string& field, const std::string& text) {
    throw ParameterError(Problem{field, text});
  };
  for (const auto& [name, value] : {std::pair{"length", length}, {"width", width}, {"du", du}, {"dd", dd}}) {
    if (!(std::isfinite(value) && value > 0)) {
      refuse(name, std::string(name) + " = " + text::shortest(value) + ": must be finite and greater than 0 km");
    }
  }
  if (seed > kMostSeed) refuse("seed", "seed = " + std::to_string(seed) + ": must be from 0 to 2^63-1");
  if (realisation > kMostRealisation) {
    refuse("realisation", "realisation = " + std::to_string(realisation) + ": must be from 0 to 2^31-1");
  }
  const FieldGrid grid = grid_covering(length, width, du / 2, dd / 2, du, dd);
  const VonKarman spectrum{ax, az, hurst};
  std::vector<Problem> problems;
  for (const std::string& why : field_problems(grid, spectrum)) problems.emplace_back("correlation", why);
  if (!problems.empty()) throw ParameterError(std::move(problems));
  const RandomField field = FieldSynthesis(grid, spectrum).realise(seed, realisation, Purpose::slip);
  return {grid.nu, grid.nd, du, dd, field.values()};
}

}  // namespace slipvel::rupture
