#include "rupture.hpp"

#include <GeographicLib/Geodesic.hpp>
#include <GeographicLib/Math.hpp>
#include <algorithm>
#include <cmath>
#include <map>
#include <tuple>

#include <slipvel/text.hpp>

#include "common/parallel.hpp"

namespace slipvel::apps {
namespace {

using GeographicLib::Geodesic;
using GeographicLib::Math;

constexpr double kMetresPerKm = 1000;
constexpr double kSquareMetresPerSquareKm = 1e6;
// Where vs and den are in a point's columns (Source::extra).
constexpr std::size_t kRake = 5, kVs = 8, kDen = 9;

// The centre of subfault (i, j) on its segment (km).
double centre_s(const Segment& g, int i) { return -g.len / 2 + (i + 0.5) * g.len / g.nstk; }
double centre_d(const Segment& g, int j) { return (j + 0.5) * g.wid / g.ndip; }

// The place (s, d) of a segment as longitude and latitude: its horizontal
// offset from the top edge's centre (the dip direction is 90° clockwise from
// strike), mapped by the azimuthal equidistant projection about that centre
// on the WGS84 ellipsoid. Longitudes keep the segment's convention (−180…180
// or 0…360) as far as the range −180…360 allows.
std::pair<double, double> position(const Segment& g, double s, double d) {
  const double h = d * Math::cosd(g.dip);
  const double east = s * Math::sind(g.stk) + h * Math::sind(g.stk + 90);
  const double north = s * Math::cosd(g.stk) + h * Math::cosd(g.stk + 90);
  double lat = 0, lon = 0, unused = 0;
  Geodesic::WGS84().GenDirect(g.elat, g.elon, Math::atan2d(east, north), false,
                              std::sqrt(east * east + north * north) * kMetresPerKm,
                              Geodesic::LATITUDE | Geodesic::LONGITUDE | Geodesic::LONG_UNROLL, lat, lon, unused,
                              unused, unused, unused, unused, unused);
  if (lon > 360) lon -= 360;
  if (lon < -180) lon += 360;
  return {lon, lat};
}

// The patch whose region holds the place (s, d) of segment k, if any.
std::optional<std::size_t> patch_at(const Fault& fault, std::size_t k, double s, double d) {
  for (std::size_t p = 0; p < fault.patches.size(); ++p) {
    const Patch& q = fault.patches[p];
    if (q.segment == k && q.s0 <= s && s < q.s1 && q.d0 <= d && d < q.d1) return p;
  }
  return std::nullopt;
}

Parameters source_of(const RegionSource& region, const Parameters& sampling) {
  Parameters p = sampling;
  p.vm = region.vm;
  p.slip = region.slip;
  p.tr = region.tr;
  p.ts = region.ts;
  p.ts = stopping_time(p);  // written out, so a table of the points gives the same source
  return p;
}

Source point_of(const Fault& fault, const Subfault& f, std::size_t index, const Parameters& sampling) {
  const Segment& g = fault.segments[f.segment];
  const Hypocentre& h = fault.hypocentre;
  const double s = centre_s(g, f.i), d = centre_d(g, f.j);
  const RegionSource& region = f.patch ? fault.patches[*f.patch].source : g.source;
  // Along the unfolded fault from the hypocentre: exact on the hypocentre's own segment.
  const double du = (centre_u(fault.segments, f.segment) - centre_u(fault.segments, h.segment)) + (s - h.s);
  const double dd = d - h.d;
  const auto [lon, lat] = position(g, s, d);
  Source point{static_cast<int>(index + 1),
               std::to_string(f.segment + 1) + "-" + std::to_string(f.i) + "-" + std::to_string(f.j),
               source_of(region, sampling),
               {lon, lat, g.dtop + d * Math::sind(g.dip), g.stk, g.dip, region.rake,
                kSquareMetresPerSquareKm * (g.len / g.nstk) * (g.wid / g.ndip), std::sqrt(du * du + dd * dd) / fault.vr,
                g.vs, g.den}};
  return point;
}

std::vector<Subfault> subfaults_of(const Fault& fault) {
  std::vector<Subfault> subfaults;
  for (std::size_t k = 0; k < fault.segments.size(); ++k) {
    const Segment& g = fault.segments[k];
    for (int j = 0; j < g.ndip; ++j) {
      for (int i = 0; i < g.nstk; ++i)
        subfaults.push_back({k, i, j, patch_at(fault, k, centre_s(g, i), centre_d(g, j))});
    }
  }
  return subfaults;
}

srf::Plane plane_of(const Fault& fault, std::size_t k) {
  const Segment& g = fault.segments[k];
  const Hypocentre& h = fault.hypocentre;
  const double shyp = (centre_u(fault.segments, h.segment) - centre_u(fault.segments, k)) + h.s;
  return {g.elon, g.elat, g.nstk, g.ndip, g.len, g.wid, g.stk, g.dip, g.dtop, shyp, h.d};
}

}  // namespace

double centre_u(const std::vector<Segment>& segments, std::size_t k) {
  double before = 0;
  for (std::size_t m = 0; m < k; ++m) before += segments[m].len;
  return before + segments[k].len / 2;
}

Rupture lay_out(const Fault& fault, const Parameters& sampling, int jobs) {
  Rupture rupture;
  rupture.subfaults = subfaults_of(fault);
  rupture.points.resize(rupture.subfaults.size());
  for_each_index(rupture.subfaults.size(), jobs,
                 [&](std::size_t n) { rupture.points[n] = point_of(fault, rupture.subfaults[n], n, sampling); });
  for (std::size_t k = 0; k < fault.segments.size(); ++k) rupture.planes.push_back(plane_of(fault, k));
  return rupture;
}

std::vector<TableProblem> check_planes(const Rupture& rupture, const Fault& fault, srf::Version version) {
  std::vector<TableProblem> problems;
  for (std::size_t k = 0; k < rupture.planes.size(); ++k) {
    try {
      srf::check_plane(rupture.planes[k], version);
    } catch (const ParameterError& e) {
      problems.push_back({fault.segments[k].line, std::string("in the SRF PLANE block: ") + e.what()});
    }
  }
  return problems;
}

namespace {

// The rule a problem "name = value unit: rule" breaks: subfaults of one region
// that break it with values of their own (rupture times) are one problem.
std::string_view rule_of(std::string_view what) {
  const std::size_t colon = what.find(": ");
  return colon == std::string_view::npos ? what : what.substr(colon + 2);
}

}  // namespace

FaultProblems problems_by_region(const Rupture& rupture, const Fault& fault, const std::vector<TableProblem>& points) {
  // (in patches, region line, rule) → the first subfault's problem and how many share it
  std::map<std::tuple<bool, int, std::string_view>, std::pair<std::size_t, std::size_t>> grouped;
  std::vector<std::tuple<bool, int, std::string_view>> order;
  for (std::size_t k = 0; k < points.size(); ++k) {
    const TableProblem& p = points[k];
    const std::size_t n = static_cast<std::size_t>(p.line) - 1;
    const Subfault& f = rupture.subfaults[n];
    const bool in_patch = f.patch.has_value();
    const int line = in_patch ? fault.patches[*f.patch].line : fault.segments[f.segment].line;
    const auto key = std::make_tuple(in_patch, line, rule_of(p.what));
    const auto [where, fresh] = grouped.try_emplace(key, k, 0);
    if (fresh) order.push_back(key);
    ++where->second.second;
  }
  FaultProblems problems;
  for (const auto& key : order) {
    const auto& [in_patch, line, rule] = key;
    const auto [first_problem, count] = grouped[key];
    const std::string& what = points[first_problem].what;
    const std::size_t first = static_cast<std::size_t>(points[first_problem].line) - 1;
    const Subfault& f = rupture.subfaults[first];
    std::string text =
        "subfault " + rupture.points[first].id + " (i = " + std::to_string(f.i) + ", j = " + std::to_string(f.j) + ")";
    if (count > 1)
      text += " and " + std::to_string(count - 1) + (in_patch ? " more of this patch" : " more of this segment");
    (in_patch ? problems.patches : problems.segments).push_back({line, text + ": " + what});
  }
  for (auto* list : {&problems.segments, &problems.patches}) {
    std::stable_sort(list->begin(), list->end(),
                     [](const TableProblem& a, const TableProblem& b) { return a.line < b.line; });
  }
  return problems;
}

std::vector<const Patch*> empty_patches(const Rupture& rupture, const Fault& fault) {
  std::vector<bool> used(fault.patches.size(), false);
  for (const Subfault& f : rupture.subfaults) {
    if (f.patch) used[*f.patch] = true;
  }
  std::vector<const Patch*> empty;
  for (std::size_t p = 0; p < used.size(); ++p) {
    if (!used[p]) empty.push_back(&fault.patches[p]);
  }
  return empty;
}

std::vector<Source> stand_ins(const Rupture& rupture, const std::vector<const Patch*>& patches,
                              const Parameters& sampling) {
  std::vector<Source> points;
  for (const Patch* patch : patches) {
    const auto first = std::find_if(rupture.subfaults.begin(), rupture.subfaults.end(),
                                    [&](const Subfault& f) { return f.segment == patch->segment; });
    Source point = rupture.points[static_cast<std::size_t>(first - rupture.subfaults.begin())];
    point.line = static_cast<int>(points.size()) + 1;
    point.parameters = source_of(patch->source, sampling);
    point.extra[kRake] = patch->source.rake;
    points.push_back(std::move(point));
  }
  return points;
}

std::vector<Gap> gaps_between_segments(const Fault& fault) {
  std::vector<Gap> gaps;
  for (std::size_t k = 1; k < fault.segments.size(); ++k) {
    const Segment& before = fault.segments[k - 1];
    const Segment& after = fault.segments[k];
    const auto [end_lon, end_lat] = position(before, before.len / 2, 0);
    const auto [start_lon, start_lat] = position(after, -after.len / 2, 0);
    double metres = 0;
    Geodesic::WGS84().Inverse(end_lat, end_lon, start_lat, start_lon, metres);
    const double km = metres / kMetresPerKm;
    if (km > std::max(before.len / before.nstk, after.len / after.nstk)) gaps.push_back({k, km});
  }
  return gaps;
}

std::string points_text(const Rupture& rupture, int jobs) {
  const bool rigidity =
      std::any_of(rupture.points.begin(), rupture.points.end(), [](const Source& p) { return p.extra[kVs] > 0; });
  std::string text = "id,lon,lat,dep,stk,dip,rake,area,tinit,dt,nt,fmax,vm,slip,tr,ts";
  text += rigidity ? ",vs,den\n" : "\n";
  // Rows made a block at a time on every job, then joined in order.
  constexpr std::size_t kBlock = 1024;
  std::vector<std::string> blocks((rupture.points.size() + kBlock - 1) / kBlock);
  for_each_index(blocks.size(), jobs, [&](std::size_t b) {
    const auto put = [&](double value) { blocks[b].append(text::shortest(value)).push_back(','); };
    for (std::size_t n = b * kBlock; n < std::min(rupture.points.size(), (b + 1) * kBlock); ++n) {
      const Source& point = rupture.points[n];
      const Parameters& p = point.parameters;
      blocks[b].append(point.id).push_back(',');
      for (std::size_t c = 0; c < 8; ++c) put(point.extra[c]);
      put(p.dt);
      blocks[b].append(std::to_string(p.nt)).push_back(',');
      for (const double value : {p.fmax, p.vm, p.slip, p.tr, *p.ts}) put(value);
      blocks[b].pop_back();
      if (rigidity) {
        blocks[b].push_back(',');
        if (point.extra[kVs] > 0) blocks[b].append(text::shortest(point.extra[kVs])).push_back(',');
        if (point.extra[kDen] > 0) blocks[b].append(text::shortest(point.extra[kDen]));
        if (point.extra[kVs] <= 0) blocks[b].push_back(',');
      }
      blocks[b].push_back('\n');
    }
  });
  for (const std::string& block : blocks) text += block;
  return text;
}

std::string planes_text(const std::vector<srf::Plane>& planes) {
  std::string text = "elon,elat,nstk,ndip,len,wid,stk,dip,dtop,shyp,dhyp\n";
  for (const srf::Plane& p : planes) {
    for (const double value : {p.elon, p.elat}) text += text::shortest(value) + ",";
    text += std::to_string(p.nstk) + "," + std::to_string(p.ndip);
    for (const double value : {p.len, p.wid, p.stk, p.dip, p.dtop, p.shyp, p.dhyp}) {
      text.push_back(',');
      text += text::shortest(value);
    }
    text += "\n";
  }
  return text;
}

}  // namespace slipvel::apps
