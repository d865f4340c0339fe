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

#include "front_times.hpp"
#include "geometry.hpp"

namespace slipvel::rupture {
namespace {

using GeographicLib::Geodesic;
using GeographicLib::Math;
using table::TableProblem;
using namespace slipvel::rupture::detail;
using FrontStrip = slipvel::rupture::detail::Strip;

constexpr double kOpen = std::numeric_limits<double>::infinity();

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

// The strips of the unfolded fault, the segments end to end.
std::vector<FrontStrip> strips_of(const std::vector<Segment>& segments) {
  std::vector<FrontStrip> strips;
  double before = 0;
  for (const Segment& g : segments) {
    strips.push_back({before, before + g.len, g.wid});
    before += g.len;
  }
  return strips;
}

// The grid's spacings along strike and down dip: a quarter of the shortest
// subfault side each way, where the second-order marching keeps its times at
// the centres within 1 % plus a quarter of a subfault's crossing time.
std::pair<double, double> front_spacing(const std::vector<Segment>& segments) {
  constexpr double kPerSubfault = 4;
  double du = kOpen, dd = kOpen;
  for (const Segment& g : segments) {
    du = std::min(du, g.len / g.nstk / kPerSubfault);
    dd = std::min(dd, g.wid / g.ndip / kPerSubfault);
  }
  return {du, dd};
}

std::shared_ptr<const FrontTimes> solve_front_times(const Fault& fault, const std::vector<double>& centre_u) {
  const auto [du, dd] = front_spacing(fault.segments);
  const auto speed = [&fault](std::size_t k, double, double d) {
    const Segment& g = fault.segments[k];
    return fault.vr_fraction * vs_den_at(fault, g, depth_at(g, d)).first / kMetresPerKm;
  };
  const Hypocentre& h = fault.hypocentre;
  return std::make_shared<const FrontTimes>(strips_of(fault.segments), speed, centre_u[h.segment] + h.s, h.d, du, dd);
}

}  // namespace

const Layer& Medium::at(double depth) const {
  const auto below =
      std::upper_bound(layers.begin(), layers.end(), depth, [](double d, const Layer& layer) { return d < layer.top; });
  return below == layers.begin() ? layers.front() : *(below - 1);
}

std::vector<Problem> sampling_problems(const Parameters& sampling) {
  Parameters probe = sampling;
  probe.vm = probe.slip = probe.tr = 1;
  probe.ts = 0;  // no ts: the record's length against it is each region's
  std::vector<Problem> found;
  try {
    check_parameters(probe);
  } catch (const ParameterError& e) {
    for (const Problem& p : e.problems()) {
      if (p.field == "dt" || p.field == "nt" || p.field == "fmax") found.push_back(p);
    }
  }
  return found;
}

std::vector<TableProblem> rupture_time_problems(const Fault& fault) {
  std::vector<TableProblem> found;
  if (!(fault.vr_fraction > 0)) return found;
  for (const Segment& g : fault.segments) {
    if (fault.medium.empty() && !(g.vs > 0)) {
      found.push_back({g.line, "vs",
                       "no vs: the rupture velocity is a fraction of vs, so every segment needs vs and den (or a "
                       "medium to give them)"});
    }
  }
  // A speed that rounds to 0, or whose reciprocal overflows, never arrives.
  const auto too_slow = [&](double vs, int line, const std::string& where) {
    const double vr = fault.vr_fraction * vs / kMetresPerKm;
    if (!(vs > 0) || (std::isfinite(vr) && vr > 0 && std::isfinite(1 / vr))) return;
    found.push_back({line, "vr_fraction",
                     "vr = " + text::shortest(fault.vr_fraction) + " * vs = " + text::shortest(vr) + " km/s " + where +
                         " (vs = " + text::shortest(vs) + " m/s): too slow for the front ever to arrive"});
  };
  for (const Layer& layer : fault.medium.layers) {
    too_slow(layer.vs, 0, "in the medium's layer of line " + std::to_string(layer.line));
  }
  for (const Segment& g : fault.segments) {
    if (fault.medium.empty()) too_slow(g.vs, g.line, "on this segment");
  }
  const auto [du, dd] = front_spacing(fault.segments);
  const std::size_t nodes = FrontTimes::nodes_for(strips_of(fault.segments), du, dd);
  if (nodes > kMostFrontNodes) {
    found.push_back(
        {0, "nstk",
         "the grid of rupture times would have " +
             (nodes == SIZE_MAX ? std::string("too many") : std::to_string(nodes)) +
             " nodes, a quarter of the shortest subfault length apart along strike and a quarter of the shortest "
             "width down dip: at most " +
             std::to_string(kMostFrontNodes) + " (" + std::to_string(kMostFrontNodes * 9 / 1'000'000) +
             " MB); fewer or more even subfaults need fewer"});
  }
  return found;
}

Rupture::Rupture(Fault fault, const Parameters& sampling) : fault_(std::move(fault)), sampling_(sampling), first_{0} {
  double before = 0;
  for (const Segment& g : fault_.segments) {
    first_.push_back(first_.back() + static_cast<std::size_t>(g.nstk) * static_cast<std::size_t>(g.ndip));
    centre_u_.push_back(before + g.len / 2);
    before += g.len;
  }
  patches_of_.resize(fault_.segments.size());
  for (std::size_t p = 0; p < fault_.patches.size(); ++p) patches_of_[fault_.patches[p].segment].push_back(p);
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
  if (fault_.vr_fraction > 0) front_times_ = solve_front_times(fault_, centre_u_);
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
  for (const std::size_t p : patches_of_[k]) {
    const Patch& q = fault_.patches[p];
    if (q.s0 <= s && s < q.s1 && q.d0 <= d && d < q.d1) return p;
  }
  return std::nullopt;
}

const Rupture::Region& Rupture::region_of(const Subfault& f) const {
  return f.patch ? patch_regions_[*f.patch] : segment_regions_[f.segment];
}

srf::Point Rupture::point(std::size_t n) const {
  const Subfault f = subfault(n);
  const Segment& g = fault_.segments[f.segment];
  const Hypocentre& h = fault_.hypocentre;
  const double s = centre_s(g, f.i), d = centre_d(g, f.j);
  // Along the unfolded fault from the hypocentre: exact on the hypocentre's own segment.
  const double du = (centre_u(f.segment) - centre_u(h.segment)) + (s - h.s);
  const double dd = d - h.d;
  const auto [lon, lat] = position(g, s, d);
  const double rake = f.patch ? fault_.patches[*f.patch].source.rake : g.source.rake;
  const double depth = depth_at(g, d);
  const auto [vs, den] = vs_den_at(fault_, g, depth);
  const double tinit =
      front_times_ ? front_times_->at(f.segment, centre_u(f.segment) + s, d) : std::sqrt(du * du + dd * dd) / fault_.vr;
  return {lon, lat, depth, g.stk, g.dip, rake, subfault_area(g), tinit, vs, den};
}

srf::PointSource Rupture::point_source(std::size_t n) const {
  const Region& r = region_of(subfault(n));
  return {point(n), r.parameters, r.shape};
}

int Rupture::region_line(std::size_t n, bool& in_patch) const {
  const Subfault f = subfault(n);
  in_patch = f.patch.has_value();
  return in_patch ? fault_.patches[*f.patch].line : fault_.segments[f.segment].line;
}

std::vector<const Patch*> Rupture::empty_patches() const {
  std::vector<bool> used(fault_.patches.size(), false);
  for (std::size_t k = 0; k < fault_.segments.size(); ++k) {
    const Segment& g = fault_.segments[k];
    for (int j = 0; j < g.ndip; ++j) {
      for (int i = 0; i < g.nstk; ++i) {
        if (const auto p = patch_at(k, centre_s(g, i), centre_d(g, j))) used[*p] = true;
      }
    }
  }
  std::vector<const Patch*> empty;
  for (std::size_t p = 0; p < used.size(); ++p) {
    if (!used[p]) empty.push_back(&fault_.patches[p]);
  }
  return empty;
}

FaultProblems Rupture::region_problems(srf::Version version) const {
  FaultProblems problems;
  // A region's source, and the fields that follow from it alone (slip1, nt1),
  // once for the region, whether or not it holds a subfault's centre.
  const auto check = [&](const Region& r, int line, std::vector<TableProblem>& to) {
    table::add_problems(to, line, r.refused);
    if (!r.refused.empty()) return;
    try {
      srf::check_slip_fields({{}, r.parameters, r.shape}, version);
    } catch (const ParameterError& e) {
      table::add_problems(to, line, e.problems());
    }
  };
  for (std::size_t k = 0; k < segment_regions_.size(); ++k) {
    const Segment& g = fault_.segments[k];
    check(segment_regions_[k], g.line, problems.segments);
    if (version == srf::Version::k2 && fault_.medium.empty() && !(g.vs > 0 && g.den > 0)) {
      problems.segments.push_back(
          {g.line, "vs", "vs and den: SRF 2.0 writes them for every point, so every segment needs both"});
    }
  }
  for (std::size_t p = 0; p < patch_regions_.size(); ++p) {
    check(patch_regions_[p], fault_.patches[p].line, problems.patches);
  }
  for (std::size_t k = 0; k < planes_.size(); ++k) {
    try {
      srf::check_plane(planes_[k], version);
    } catch (const ParameterError& e) {
      for (const Problem& p : e.problems()) {
        problems.segments.push_back({fault_.segments[k].line, p.field, "in the SRF PLANE block: " + p.text});
      }
    }
  }
  table::sort_by_line(problems.segments);
  return problems;
}

std::vector<std::pair<std::size_t, Problem>> Rupture::point_problems(std::size_t first, std::size_t last,
                                                                     srf::Version version) const {
  std::vector<std::pair<std::size_t, Problem>> found;
  for (std::size_t n = first; n < last; ++n) {
    try {
      srf::check_where(point(n), sampling_.dt, version);
    } catch (const ParameterError& e) {
      for (const Problem& p : e.problems()) found.emplace_back(n, p);
    }
  }
  return found;
}

FaultProblems Rupture::by_region(const std::vector<std::pair<std::size_t, Problem>>& point_problems) const {
  // (in a patch, region line, field) → the first subfault's problem and how many share it
  std::map<std::tuple<bool, int, std::string>, std::pair<std::size_t, std::size_t>> grouped;
  std::vector<std::tuple<bool, int, std::string>> order;
  for (std::size_t k = 0; k < point_problems.size(); ++k) {
    bool in_patch = false;
    const int line = region_line(point_problems[k].first, in_patch);
    const auto key = std::make_tuple(in_patch, line, point_problems[k].second.field);
    const auto [where, fresh] = grouped.try_emplace(key, k, 0);
    if (fresh) order.push_back(key);
    ++where->second.second;
  }
  FaultProblems problems;
  for (const auto& key : order) {
    const auto& [in_patch, line, field] = key;
    const auto [first_problem, count] = grouped[key];
    const auto& [n, problem] = point_problems[first_problem];
    const Subfault f = subfault(n);
    std::string text = "subfault " + id(n) + " (i = " + std::to_string(f.i) + ", j = " + std::to_string(f.j) + ")";
    if (count > 1) {
      text += " and " + std::to_string(count - 1) + (in_patch ? " more of this patch" : " more of this segment");
    }
    (in_patch ? problems.patches : problems.segments).push_back({line, field, text + ": " + problem.text});
  }
  table::sort_by_line(problems.segments);
  table::sort_by_line(problems.patches);
  return problems;
}

std::vector<Gap> gaps_between_segments(const std::vector<Segment>& segments) {
  std::vector<Gap> gaps;
  for (std::size_t k = 1; k < segments.size(); ++k) {
    const Segment& before = segments[k - 1];
    const Segment& after = segments[k];
    const auto [end_lon, end_lat] = position(before, before.len / 2, 0);
    const auto [start_lon, start_lat] = position(after, -after.len / 2, 0);
    double metres = 0;
    Geodesic::WGS84().Inverse(end_lat, end_lon, start_lat, start_lon, metres);
    const double km = metres / kMetresPerKm;
    if (km > std::max(before.len / before.nstk, after.len / after.nstk)) gaps.push_back({k, km});
  }
  return gaps;
}

}  // namespace slipvel::rupture
