#include <slipvel/rupture.hpp>

#include <GeographicLib/Geodesic.hpp>
#include <GeographicLib/Math.hpp>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <tuple>

#include <slipvel/moment.hpp>
#include <slipvel/text.hpp>

#include "build_steps.hpp"
#include "front_times.hpp"
#include "geometry.hpp"
#include "patch_index.hpp"

namespace slipvel::rupture {

namespace detail {

std::vector<Strip> strips_of(const std::vector<Segment>& segments) {
  std::vector<Strip> strips;
  double before = 0;
  for (const Segment& g : segments) {
    strips.push_back({before, before + g.len, g.wid});
    before += g.len;
  }
  return strips;
}

std::pair<double, double> front_spacing(const std::vector<Segment>& segments) {
  constexpr double kPerSubfault = 4;
  double du = std::numeric_limits<double>::infinity(), dd = du;
  for (const Segment& g : segments) {
    du = std::min(du, g.len / g.nstk / kPerSubfault);
    dd = std::min(dd, g.wid / g.ndip / kPerSubfault);
  }
  return {du, dd};
}

}  // namespace detail

namespace {

using GeographicLib::Geodesic;
using GeographicLib::Math;
using namespace slipvel::rupture::detail;
constexpr double kMetresPerKm = 1000;

Parameters source_of(const RegionSource& region, const Parameters& sampling) {
  Parameters p = sampling;
  p.vm = region.vm;
  p.slip = region.slip;
  p.tr = region.tr;
  p.ts = region.ts;
  p.ts = stopping_time(p);  // written out, so a table of the points gives the same source
  return p;
}

std::shared_ptr<const FrontTimes> solve_front_times(const Fault& fault, double fraction,
                                                    const std::vector<double>& centre_u, const StopRequest& stop) {
  const auto [du, dd] = front_spacing(fault.segments);
  const auto speed = [&fault, fraction](std::size_t k, double, double d) {
    const Segment& g = fault.segments[k];
    return fraction * vs_den_at(fault, g, depth_at(g, d)).first / kMetresPerKm;
  };
  const Hypocentre& h = fault.hypocentre;
  return std::make_shared<const FrontTimes>(strips_of(fault.segments), speed, centre_u[h.segment] + h.s, h.d, du, dd,
                                            true, stop);  // the speed follows the depth alone
}

}  // namespace

const Layer& Medium::at(double depth) const {
  constexpr double kOnBoundary = 1e-9;  // km: sin 30° rounds 0.5 down, and a depth on a boundary with it
  const auto below = std::upper_bound(layers.begin(), layers.end(), depth + kOnBoundary,
                                      [](double d, const Layer& layer) { return d < layer.top; });
  return below == layers.begin() ? layers.front() : *(below - 1);
}

namespace detail {

void check_velocity(const Fault& fault, const Named& table, OptionSpelling spelling, std::vector<Diagnostic>& said) {
  const auto error = [&](Where where, std::string field, std::string text) {
    said.push_back(said_at(std::move(where), Severity::kError, std::move(field), std::move(text)));
  };
  // The front must cross the fault in a time the arithmetic holds: at the
  // least speed, the unfolded fault's diagonal in at most kLongestCrossing.
  double length = 0, width = 0;
  for (const Segment& g : fault.segments) length += g.len, width = std::max(width, g.wid);
  const double diagonal = std::hypot(length, width);
  const auto crossing_problem = [&](double least_speed) -> std::string {
    if (diagonal / least_speed <= kLongestCrossing) return "";
    return ": too slow for finite rupture times (the front would take " + text::shortest(diagonal / least_speed) +
           " s across the fault's " + text::shortest(diagonal) + " km at " + text::shortest(least_speed) +
           " km/s, more than 1e300 s)";
  };
  if (const auto* uniform = std::get_if<UniformSpeed>(&fault.velocity)) {
    const std::string given = spelt("vr", spelling) + " = " + text::shortest(uniform->km_per_s);
    if (!(std::isfinite(uniform->km_per_s) && uniform->km_per_s > 0)) {
      error(Where::option("vr"), "vr", given + ": must be greater than 0 km/s");
    } else if (const std::string slow = crossing_problem(uniform->km_per_s); !slow.empty()) {
      error(Where::option("vr"), "vr", given + slow);
    }
    return;
  }
  const double fraction = std::get<FractionOfVs>(fault.velocity).fraction;
  const std::string option = spelt("vr_fraction", spelling);
  if (!(fraction > 0 && fraction <= kFastestFraction)) {
    error(Where::option("vr_fraction"), "vr_fraction",
          option + " = " + text::shortest(fraction) +
              ": must be greater than 0 and at most sqrt(3) = 1.7320508075688772 (a fraction of the shear-wave "
              "speed; faster than sqrt(3) vs outruns the P wave)");
    return;
  }
  double least_vs = std::numeric_limits<double>::infinity();
  for (const Layer& layer : fault.medium.layers) least_vs = std::min(least_vs, layer.vs);
  for (const Segment& g : fault.segments) {
    if (fault.medium.empty() && g.vs > 0) least_vs = std::min(least_vs, g.vs);
  }
  for (const Segment& g : fault.segments) {
    if (fault.medium.empty() && !(g.vs > 0)) {
      error(table.at(g.line), "vs",
            "no vs: the rupture velocity is a fraction of vs, so every segment needs vs and den (or a medium to give "
            "them)");
    }
  }
  // A speed that rounds to 0, or whose reciprocal overflows, never arrives.
  const auto too_slow = [&](double vs, Where where, const std::string& place) {
    const double vr = fraction * vs / kMetresPerKm;
    if (!(vs > 0) || (std::isfinite(vr) && vr > 0 && std::isfinite(1 / vr))) return;
    error(std::move(where), "vr_fraction",
          "vr = " + text::shortest(fraction) + " * vs = " + text::shortest(vr) + " km/s " + place +
              " (vs = " + text::shortest(vs) + " m/s): too slow for the front ever to arrive");
  };
  for (const Layer& layer : fault.medium.layers) {
    too_slow(layer.vs, table.at(), "in the medium's layer of line " + std::to_string(layer.line));
  }
  for (const Segment& g : fault.segments) {
    if (fault.medium.empty()) too_slow(g.vs, table.at(g.line), "on this segment");
  }
  if (has_errors(said)) return;
  if (const std::string slow = crossing_problem(fraction * least_vs / kMetresPerKm);
      std::isfinite(least_vs) && !slow.empty()) {
    error(Where::option("vr_fraction"), "vr_fraction", option + " = " + text::shortest(fraction) + slow);
    return;
  }
  const auto [du, dd] = front_spacing(fault.segments);
  const std::size_t nodes = FrontTimes::nodes_for(strips_of(fault.segments), du, dd);
  if (nodes > kMostFrontNodes) {
    error(table.at(), "nstk",
          "the grid of rupture times would have " +
              (nodes == SIZE_MAX ? std::string("too many") : std::to_string(nodes)) +
              " nodes, a quarter of the shortest subfault length apart along strike and a quarter of the shortest "
              "width down dip: at most " +
              std::to_string(kMostFrontNodes) + " (" + std::to_string(kMostFrontNodes * 9 / 1'000'000) +
              " MB); fewer or more even subfaults need fewer");
  }
}

std::pair<int, bool> Access::region_line(const Rupture& r, std::size_t n) {
  const Subfault f = r.subfault(n);
  if (f.patch) return {r.fault_.patches[*f.patch].line, true};
  return {r.fault_.segments[f.segment].line, false};
}

std::vector<std::pair<int, bool>> Access::refused_regions(const Rupture& r, std::vector<std::vector<Problem>>& why) {
  // Once a line: the segments of a traced fault, and the parts of a patch
  // across a vertex, share their row.
  std::vector<std::pair<int, bool>> regions;
  const auto add = [&](int line, bool patch, const std::vector<Problem>& refused) {
    if (refused.empty() || std::find(regions.begin(), regions.end(), std::pair{line, patch}) != regions.end()) return;
    regions.emplace_back(line, patch);
    why.push_back(refused);
  };
  for (std::size_t k = 0; k < r.segment_regions_.size(); ++k) {
    add(r.fault_.segments[k].line, false, r.segment_regions_[k].refused);
  }
  for (std::size_t p = 0; p < r.patch_regions_.size(); ++p) {
    add(r.fault_.patches[p].line, true, r.patch_regions_[p].refused);
  }
  return regions;
}

std::vector<const Patch*> Access::empty_patches(const Rupture& r) {
  std::vector<bool> used(r.fault_.patches.size(), false);
  for (std::size_t k = 0; k < r.fault_.segments.size(); ++k) {
    const Segment& g = r.fault_.segments[k];
    for (int j = 0; j < g.ndip; ++j) {
      for (int i = 0; i < g.nstk; ++i) {
        if (const auto p = r.patch_at(k, centre_s(g, i), centre_d(g, j))) used[*p] = true;
      }
    }
  }
  // A patch across a vertex of a trace is several, at one line: empty only if all are.
  std::map<int, bool> line_used;
  for (std::size_t p = 0; p < used.size(); ++p) line_used[r.fault_.patches[p].line] |= used[p];
  std::vector<const Patch*> empty;
  for (std::size_t p = 0; p < used.size(); ++p) {
    const int line = r.fault_.patches[p].line;
    if (line_used[line]) continue;
    empty.push_back(&r.fault_.patches[p]);
    line_used[line] = true;  // said once
  }
  return empty;
}

std::vector<Access::RegionSource> Access::region_sources(const Rupture& r) {
  std::vector<RegionSource> regions;
  if (r.varied_) {  // each distinct source, at the line of the first subfault's region that has it
    for (const Varied::Source& source : r.varied_->sources) {
      const auto [line, patch] = region_line(r, source.first);
      regions.push_back({line, patch, {{}, source.parameters, source.shape}});
    }
    return regions;
  }
  for (std::size_t k = 0; k < r.segment_regions_.size(); ++k) {
    const Rupture::Region& g = r.segment_regions_[k];
    regions.push_back({r.fault_.segments[k].line, false, {{}, g.parameters, g.shape}});
  }
  for (std::size_t p = 0; p < r.patch_regions_.size(); ++p) {
    const Rupture::Region& g = r.patch_regions_[p];
    regions.push_back({r.fault_.patches[p].line, true, {{}, g.parameters, g.shape}});
  }
  return regions;
}

}  // namespace detail

Rupture::Rupture(Fault fault, const Parameters& sampling, double rigidity, bool fronts, const StopRequest& stop)
    : fault_(std::move(fault)), sampling_(sampling), rigidity_(rigidity), first_{0} {
  double before = 0;
  for (const Segment& g : fault_.segments) {
    first_.push_back(first_.back() + static_cast<std::size_t>(g.nstk) * static_cast<std::size_t>(g.ndip));
    centre_u_.push_back(before + g.len / 2);
    before += g.len;
  }
  patches_of_.resize(fault_.segments.size());
  for (std::size_t p = 0; p < fault_.patches.size(); ++p) patches_of_[fault_.patches[p].segment].push_back(p);
  auto indexes = std::make_shared<std::vector<PatchIndex>>();
  for (std::size_t k = 0; k < fault_.segments.size(); ++k) {
    const Segment& g = fault_.segments[k];
    PatchIndex& index = indexes->emplace_back(-g.len / 2, g.len, g.wid, patches_of_[k].size());
    for (std::size_t n = 0; n < patches_of_[k].size(); ++n) index.add(n, fault_.patches[patches_of_[k][n]]);
  }
  patch_index_ = std::move(indexes);
  const Hypocentre& h = fault_.hypocentre;
  for (std::size_t k = 0; k < fault_.segments.size(); ++k) {
    const Segment& g = fault_.segments[k];
    const double shyp = (centre_u(h.segment) - centre_u(k)) + h.s;
    planes_.push_back({g.elon, g.elat, g.nstk, g.ndip, g.len, g.wid, g.stk, g.dip, g.dtop, shyp, h.d});
  }
  // Every subfault of a region has the region's source: one onset search each.
  const auto region = [&](const RegionSource& source) {
    Region r{source_of(source, sampling), std::nullopt, {}};
    try {
      r.shape = srf::point_source({}, r.parameters).shape;
    } catch (const ParameterError& e) {
      r.refused = e.problems();
    }
    return r;
  };
  for (const Segment& g : fault_.segments) segment_regions_.push_back(region(g.source));
  for (const Patch& p : fault_.patches) patch_regions_.push_back(region(p.source));
  if (const auto* fraction = std::get_if<FractionOfVs>(&fault_.velocity); fraction && fronts) {
    front_times_ = solve_front_times(fault_, fraction->fraction, centre_u_, stop);
  }
  const Segment& g = fault_.segments[h.segment];
  const auto [lon, lat] = position(g, h.s, h.d);
  start_ = {h.segment, h.s, h.d, lon, lat, depth_at(g, h.d)};
}

bool Rupture::has_medium_values() const {
  return !fault_.medium.empty() ||
         std::any_of(fault_.segments.begin(), fault_.segments.end(), [](const Segment& g) { return g.vs > 0; });
}

Subfault Rupture::subfault(std::size_t n) const {
  const auto k = static_cast<std::size_t>(std::upper_bound(first_.begin(), first_.end(), n) - first_.begin()) - 1;
  const Segment& g = fault_.segments[k];
  const auto local = n - first_[k];
  const int j = static_cast<int>(local / static_cast<std::size_t>(g.nstk));
  const int i = static_cast<int>(local % static_cast<std::size_t>(g.nstk));
  return {k, i, j, patch_at(k, centre_s(g, i), centre_d(g, j))};
}

std::string Rupture::id(std::size_t n) const {
  const Subfault f = subfault(n);
  return std::to_string(f.segment + 1) + "-" + std::to_string(f.i) + "-" + std::to_string(f.j);
}

std::optional<std::size_t> Rupture::patch_at(std::size_t k, double s, double d) const {
  // The first of the segment's patches that holds the place, among those near it.
  for (const std::size_t n : (*patch_index_)[k].near(s, d)) {
    const std::size_t p = patches_of_[k][n];
    const Patch& q = fault_.patches[p];
    if (q.s0 <= s && s < q.s1 && q.d0 <= d && d < q.d1) return p;
  }
  return std::nullopt;
}

const Rupture::Region& Rupture::region_of(const Subfault& f) const {
  return f.patch ? patch_regions_[*f.patch] : segment_regions_[f.segment];
}

srf::Point Rupture::point(std::size_t n) const { return point_of(n, true); }

srf::Point Rupture::point_of(std::size_t n, bool placed) const {
  const Subfault f = subfault(n);
  const Segment& g = fault_.segments[f.segment];
  const Hypocentre& h = fault_.hypocentre;
  const double s = centre_s(g, f.i), d = centre_d(g, f.j);
  // Along the unfolded fault from the hypocentre: exact on the hypocentre's own segment.
  const double du = (centre_u(f.segment) - centre_u(h.segment)) + (s - h.s);
  const double dd = d - h.d;
  const auto [lon, lat] = placed ? position(g, s, d) : std::pair{0.0, 0.0};
  const double rake = varied_ ? varied_->rake[n] : f.patch ? fault_.patches[*f.patch].source.rake : g.source.rake;
  const double depth = depth_at(g, d);
  const auto [vs, den] = vs_den_at(fault_, g, depth);
  const double tinit = front_times_ ? front_times_->at(f.segment, centre_u(f.segment) + s, d)
                                    : std::sqrt(du * du + dd * dd) / std::get<UniformSpeed>(fault_.velocity).km_per_s;
  return {lon, lat, depth, g.stk, g.dip, rake, subfault_area(g), tinit, vs, den};
}

srf::PointSource Rupture::point_source(std::size_t n) const { return point_source_of(n, true); }

srf::PointSource Rupture::point_source_of(std::size_t n, bool placed) const {
  if (varied_) {
    const Varied::Source& source = varied_->sources[varied_->source_of[n]];
    return {point_of(n, placed), source.parameters, source.shape};
  }
  const Region& r = region_of(subfault(n));
  return {point_of(n, placed), r.parameters, r.shape};
}

Rupture::Realised Rupture::realised() const {
  Realised found;
  double area = 0, weight = 0;
  for (std::size_t n = 0; n < size(); ++n) {
    const Subfault f = subfault(n);
    const Segment& g = fault_.segments[f.segment];
    const double a = subfault_area(g);
    const Parameters& p = varied_ ? varied_->sources[varied_->source_of[n]].parameters : region_of(f).parameters;
    srf::Point where{};
    std::tie(where.vs, where.den) = vs_den_at(fault_, g, depth_at(g, centre_d(g, f.j)));
    const double w = point_rigidity(where, rigidity_) * a * p.slip;
    area += a;
    found.mean_slip += a * p.slip;
    found.peak_slip = std::max(found.peak_slip, p.slip);
    weight += w;
    found.mean_rise_time += w * p.tr;
  }
  found.mean_slip /= area;
  found.mean_rise_time = weight > 0 ? found.mean_rise_time / weight : 0;
  return found;
}

}  // namespace slipvel::rupture
