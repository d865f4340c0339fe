#include <slipvel/rupture.hpp>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>
#include <tuple>
#include <variant>

#include <slipvel/moment.hpp>
#include <slipvel/text.hpp>

#include "geometry.hpp"

namespace slipvel::rupture {
namespace {

constexpr double kOpen = std::numeric_limits<double>::infinity();

using table::NumberColumn;
using table::TableProblem;

// Only the column's name matters to read_csv; required ones must be named,
// but for those the header may leave out (`optional_from` on).
std::vector<table::Column> csv_columns(const std::vector<NumberColumn>& columns,
                                       std::size_t optional_from = static_cast<std::size_t>(-1)) {
  std::vector<table::Column> names;
  for (std::size_t c = 0; c < columns.size(); ++c) {
    names.push_back({columns[c].name, columns[c].required && c < optional_from});
  }
  return names;
}

std::string km(double value) { return text::shortest(value) + " km"; }

std::string segment_count(std::size_t count) { return std::to_string(count) + (count == 1 ? " segment" : " segments"); }

// The columns of the segments table, in the order of kSegment…; the top
// edge's two forms come last, as the header may name either.
enum SegmentColumn {
  kDip,
  kWid,
  kDtop,
  kNstk,
  kNdip,
  kRake,
  kSlip,
  kVm,
  kTr,
  kTs,
  kVs,
  kDen,
  kElon,
  kElat,
  kStk,
  kLen,
  kLon1,
  kLat1,
  kLon2,
  kLat2
};
constexpr std::size_t kTopEdgeColumns = kElon;

// vs and den are optional here: read_segments says what SRF 2.0 needs of them.
const std::vector<NumberColumn> kSegmentColumns = {
    {"dip", "degrees", 0, 90, false},
    {"wid", "km", 0, kOpen, true},
    {"dtop", "km", 0, kOpen, false},
    {"nstk", "", 1, 99999, false, true, true},
    {"ndip", "", 1, 99999, false, true, true},
    {"rake", "degrees", -180, 360, false},
    {"slip", "m", 0, kOpen, false},
    {"vm", "m/s", 0, kOpen, true},
    {"tr", "s", 0, kOpen, true},
    {"ts", "s", 0, kOpen, true, false},
    {"vs", "m/s", 0, kOpen, true, false},
    {"den", "kg/m^3", 0, kOpen, true, false},
    {"elon", "degrees", -180, 360, false},
    {"elat", "degrees", -90, 90, false},
    {"stk", "degrees", 0, 360, false},
    {"len", "km", 0, kOpen, true},
    {"lon1", "degrees", -180, 360, false},
    {"lat1", "degrees", -90, 90, false},
    {"lon2", "degrees", -180, 360, false},
    {"lat2", "degrees", -90, 90, false},
};

// The top edge's two forms: its centre and direction, or its trace.
enum class TopEdgeForm { kCentre, kTrace };
constexpr SegmentColumn kCentreColumns[] = {kElon, kElat, kStk, kLen};
constexpr SegmentColumn kTraceColumns[] = {kLon1, kLat1, kLon2, kLat2};

std::string names_of(const SegmentColumn (&columns)[4]) {
  std::string names;
  for (const SegmentColumn c : columns) names += (names.empty() ? "" : ", ") + kSegmentColumns[c].name;
  return names;
}

// The form the header gives the top edge in, or the problem of its columns.
std::variant<TopEdgeForm, TableProblem> top_edge_form(const table::Csv& csv) {
  const auto named = [&](const SegmentColumn(&columns)[4]) {
    return std::count_if(std::begin(columns), std::end(columns), [&](SegmentColumn c) { return csv.position[c]; });
  };
  const auto centre = named(kCentreColumns), trace = named(kTraceColumns);
  const std::string forms =
      "the top edge by its centre (" + names_of(kCentreColumns) + ") or by its trace (" + names_of(kTraceColumns) + ")";
  if (centre > 0 && trace > 0) return TableProblem{0, "elon", "columns of both forms: give " + forms + ", not both"};
  for (const auto& [count, columns, form] :
       {std::tuple{centre, &kCentreColumns, TopEdgeForm::kCentre}, {trace, &kTraceColumns, TopEdgeForm::kTrace}}) {
    if (count == 4) return form;
    if (count == 0) continue;
    for (const SegmentColumn c : *columns) {
      if (!csv.position[c])
        return TableProblem{0, kSegmentColumns[c].name, "no " + kSegmentColumns[c].name + " column"};
    }
  }
  return TableProblem{0, "elon", "no top edge: give " + forms};
}

Segment segment_of(int line, const std::vector<std::optional<double>>& v, TopEdgeForm form) {
  Segment s;
  s.line = line;
  if (form == TopEdgeForm::kCentre) {
    s.elon = *v[kElon], s.elat = *v[kElat], s.stk = *v[kStk], s.len = *v[kLen];
  } else {
    const detail::TopEdge edge = detail::top_edge_of_trace(*v[kLon1], *v[kLat1], *v[kLon2], *v[kLat2]);
    s.elon = edge.elon, s.elat = edge.elat, s.stk = edge.stk, s.len = edge.len;
  }
  s.dip = *v[kDip];
  s.wid = *v[kWid], s.dtop = *v[kDtop];
  s.nstk = static_cast<int>(*v[kNstk]), s.ndip = static_cast<int>(*v[kNdip]);
  s.source = {*v[kSlip], *v[kVm], *v[kTr], v[kTs], *v[kRake]};
  s.vs = v[kVs].value_or(0), s.den = v[kDen].value_or(0);
  return s;
}

// Geodesics from a segment's top-edge centre reach at most half the Earth's
// circumference (about 20,004 km): a longer segment cannot be mapped.
constexpr double kLongestSide = 20000;  // km

// What keeps a segment's subfaults from being mapped or having an area, if anything.
std::optional<Problem> geometry_problem(const Segment& s) {
  if (!(s.len > 0)) {  // only a trace can give it: the len column must be greater than 0
    return Problem{"lon1", "lon1, lat1 and lon2, lat2 are one point: a segment's trace must have a length"};
  }
  if (s.len > kLongestSide || s.wid > kLongestSide) {
    return Problem{"len", "len = " + km(s.len) + ", wid = " + km(s.wid) + ": a segment's sides must be at most " +
                              km(kLongestSide) +
                              " (geodesics from its top edge's centre reach half the Earth's circumference at most)"};
  }
  const double area = 1e6 * (s.len / s.nstk) * (s.wid / s.ndip);
  if (!(area > 0)) {
    return Problem{"len", "len/nstk = " + km(s.len / s.nstk) + ", wid/ndip = " + km(s.wid / s.ndip) +
                              ": a subfault's area must be greater than 0 m^2 (it rounds to 0)"};
  }
  return std::nullopt;
}

enum LayerColumn { kTop, kLayerVs, kLayerDen };
const std::vector<NumberColumn> kLayerColumns = {
    {"depth", "km", 0, kOpen, false},
    {"vs", "m/s", 0, kOpen, true},
    {"den", "kg/m^3", 0, kOpen, true},
};

// What keeps a layer from following the rows above it, if anything: the first
// row must start at the surface, every other one deeper than the last depth
// read (a row refused for another value still gives its depth).
std::optional<Problem> layer_problem(const Layer& layer, bool first, std::optional<Layer> above) {
  if (first && layer.top != 0) {
    return Problem{"depth", "depth = " + km(layer.top) + ": the first layer's top must be at depth 0 km"};
  }
  if (above && !(layer.top > above->top)) {
    return Problem{"depth", "depth = " + km(layer.top) + ": must be deeper than the top of the layer above (" +
                                km(above->top) + ", line " + std::to_string(above->line) + ")"};
  }
  return std::nullopt;
}

enum PatchColumn { kSegment, kS0, kS1, kD0, kD1, kPatchSlip, kPatchVm, kPatchTr, kPatchTs, kPatchRake };

const std::vector<NumberColumn> kPatchColumns = {
    {"segment", "", 1, 99999, false, true, true}, {"s0", "km", -kOpen, kOpen, false},
    {"s1", "km", -kOpen, kOpen, false},           {"d0", "km", -kOpen, kOpen, false},
    {"d1", "km", -kOpen, kOpen, false},           {"slip", "m", 0, kOpen, false},
    {"vm", "m/s", 0, kOpen, true, false},  // empty or left out: the segment's
    {"tr", "s", 0, kOpen, true, false},    // empty or left out: the segment's
    {"ts", "s", 0, kOpen, true, false},           {"rake", "degrees", -180, 360, false, false},
};

// Whether the patch lies wholly inside its segment; if not, why.
std::optional<Problem> outside(const Patch& p, const Segment& s) {
  std::string why;
  if (!(p.s0 < p.s1)) why = "s0 = " + km(p.s0) + ": must be less than s1 = " + km(p.s1);
  if (!(p.d0 < p.d1)) {
    why += why.empty() ? "" : "; ";
    why += "d0 = " + km(p.d0) + ": must be less than d1 = " + km(p.d1);
  }
  if (!why.empty()) return Problem{p.s0 < p.s1 ? "d0" : "s0", why};
  if (p.s0 >= -s.len / 2 && p.s1 <= s.len / 2 && p.d0 >= 0 && p.d1 <= s.wid) return std::nullopt;
  return Problem{"s0", "s " + km(p.s0) + " to " + km(p.s1) + ", d " + km(p.d0) + " to " + km(p.d1) +
                           ": a patch must lie wholly inside its segment " + std::to_string(p.segment + 1) +
                           " (s from " + km(-s.len / 2) + " to " + km(s.len / 2) + ", d from 0 to " + km(s.wid) + ")"};
}

bool overlap(const Patch& a, const Patch& b) {
  return a.segment == b.segment && a.s0 < b.s1 && b.s0 < a.s1 && a.d0 < b.d1 && b.d0 < a.d1;
}

std::vector<std::string_view> colon_fields(std::string_view text) {
  std::vector<std::string_view> parts;
  for (std::size_t colon; (colon = text.find(':')) != std::string_view::npos; text.remove_prefix(colon + 1)) {
    parts.push_back(text.substr(0, colon));
  }
  parts.push_back(text);
  return parts;
}

// The point of segment `g` nearest to the point `p` of its frame.
std::pair<double, double> nearest_on(const Segment& g, const detail::InPlane& p) {
  return {std::clamp(p.s, -g.len / 2, g.len / 2), std::clamp(p.d, 0.0, g.wid)};
}

[[noreturn]] void refuse_hypocentre(std::string text) { throw ParameterError(Problem{"hypocentre", std::move(text)}); }

// What is wrong with a row's vs and den, if anything: SRF 2.0 writes both for
// every point; otherwise they give the rigidity den*vs^2, so both or neither.
std::optional<Problem> vs_den_problem(const std::optional<double>& vs, const std::optional<double>& den,
                                      srf::Version version) {
  if (version == srf::Version::k2 && !(vs && den)) {
    return Problem{"vs", "vs and den: --srf-version 2.0 writes them for every point, so every segment needs both"};
  }
  if (vs.has_value() != den.has_value()) {
    return Problem{"vs", "vs and den: give both (the rigidity den*vs^2) or neither"};
  }
  if (vs) {
    try {
      check_rigidity(*vs, *den);
    } catch (const ParameterError& e) {
      return e.problems().front();
    }
  }
  return std::nullopt;
}

}  // namespace

SegmentsTable read_segments(std::string_view text, srf::Version version, const std::string& medium) {
  const std::vector<NumberColumn>& columns = kSegmentColumns;
  const table::Csv csv = table::read_csv(text, csv_columns(columns, kTopEdgeColumns));
  SegmentsTable table{{}, csv.problems};
  if (!csv.problems.empty()) return table;
  const auto form = top_edge_form(csv);
  if (const auto* problem = std::get_if<TableProblem>(&form)) {
    table.problems.push_back(*problem);
    return table;
  }
  const bool has_vs_or_den = csv.position[kVs] || csv.position[kDen];
  if (!medium.empty() && has_vs_or_den) {
    table.problems.push_back({0, csv.position[kVs] ? "vs" : "den",
                              "vs and den columns, and the medium " + medium +
                                  " gives every subfault vs and den by its depth: give them in one of the two"});
    return table;
  }
  if (medium.empty() && version == srf::Version::k2 && !(csv.position[kVs] && csv.position[kDen])) {
    table.problems.push_back({0, "vs",
                              "--srf-version 2.0 writes vs and den for every point: the table needs vs and den "
                              "columns (or a medium)"});
    return table;
  }
  long long subfaults = 0;
  for (const table::Row& row : csv.rows) {
    const std::size_t before = table.problems.size();
    const std::vector<std::optional<double>> values = table::read_values(csv, row, columns, table.problems);
    if (table.problems.size() == before && medium.empty()) {
      if (auto problem = vs_den_problem(values[kVs], values[kDen], version)) {
        table.problems.push_back({row.line, problem->field, std::move(problem->text)});
      }
    }
    if (table.problems.size() > before) continue;
    const Segment segment = segment_of(row.line, values, std::get<TopEdgeForm>(form));
    if (auto problem = geometry_problem(segment)) {
      table.problems.push_back({row.line, problem->field, std::move(problem->text)});
      continue;
    }
    table.segments.push_back(segment);
    subfaults += static_cast<long long>(segment.nstk) * segment.ndip;
  }
  if (csv.rows.empty()) table.problems.push_back({0, "", "no segments: the table has no rows"});
  if (subfaults > kMostSubfaults) {
    table.problems.push_back({0, "nstk",
                              std::to_string(subfaults) + " subfaults in all (the sum of nstk*ndip): at most " +
                                  std::to_string(kMostSubfaults)});
  }
  table::sort_by_line(table.problems);
  return table;
}

MediumTable read_medium(std::string_view text) {
  const table::Csv csv = table::read_csv(text, csv_columns(kLayerColumns));
  MediumTable table{{}, csv.problems};
  std::optional<Layer> above;  // the last row whose depth was read
  for (const table::Row& row : csv.rows) {
    const std::size_t before = table.problems.size();
    const std::vector<std::optional<double>> v = table::read_values(csv, row, kLayerColumns, table.problems);
    const bool first = &row == &csv.rows.front();
    if (!v[kTop]) {
      above.reset();  // nothing to order the next row against
      continue;
    }
    const Layer layer{row.line, *v[kTop], v[kLayerVs].value_or(0), v[kLayerDen].value_or(0)};
    if (auto problem = layer_problem(layer, first, above)) {
      table.problems.push_back({row.line, problem->field, std::move(problem->text)});
    }
    above = layer;
    if (table.problems.size() > before) continue;
    try {
      check_rigidity(layer.vs, layer.den);
    } catch (const ParameterError& e) {
      table::add_problems(table.problems, row.line, e.problems());
      continue;
    }
    table.medium.layers.push_back(layer);
  }
  if (csv.problems.empty() && csv.rows.empty()) table.problems.push_back({0, "", "no layers: the table has no rows"});
  table::sort_by_line(table.problems);
  return table;
}

PatchesTable read_patches(std::string_view text, const std::vector<Segment>& segments, const std::string& name) {
  const table::Csv csv = table::read_csv(text, csv_columns(kPatchColumns));
  PatchesTable table{{}, csv.problems};
  std::vector<std::vector<std::size_t>> on_segment(segments.size());  // the patches read so far, by segment
  for (const table::Row& row : csv.rows) {
    const std::size_t before = table.problems.size();
    const std::vector<std::optional<double>> v = table::read_values(csv, row, kPatchColumns, table.problems);
    if (table.problems.size() > before) continue;
    const auto number = static_cast<std::size_t>(*v[kSegment]);
    if (number > segments.size()) {
      table.problems.push_back(
          {row.line, "segment",
           "segment = " + std::to_string(number) + ": the segments table has " + segment_count(segments.size())});
      continue;
    }
    const Segment& segment = segments[number - 1];
    Patch patch{row.line,
                number - 1,
                *v[kS0],
                *v[kS1],
                *v[kD0],
                *v[kD1],
                {*v[kPatchSlip], v[kPatchVm].value_or(segment.source.vm), v[kPatchTr].value_or(segment.source.tr),
                 v[kPatchTs], v[kPatchRake].value_or(segment.source.rake)}};
    if (auto why = outside(patch, segment)) {
      table.problems.push_back({row.line, why->field, std::move(why->text)});
      continue;
    }
    for (const std::size_t e : on_segment[number - 1]) {
      const Patch& earlier = table.patches[e];
      if (overlap(earlier, patch)) {
        table.problems.push_back({row.line, "s0",
                                  "overlaps the patch of " + name + ":" + std::to_string(earlier.line) +
                                      " on segment " + std::to_string(number)});
      }
    }
    on_segment[number - 1].push_back(table.patches.size());
    table.patches.push_back(patch);
  }
  table::sort_by_line(table.problems);
  return table;
}

Hypocentre read_hypocentre(std::string_view text, const std::vector<Segment>& segments) {
  const std::string given = "hypocentre \"" + table::shown(text) + "\"";
  const std::vector<std::string_view> parts = colon_fields(text);
  int number = 0;
  double s = 0, d = 0;
  if (parts.size() != 3 || table::parse_integer(parts[0], number) != table::Parsed::kOk ||
      table::parse_number(parts[1], s) != table::Parsed::kOk ||
      table::parse_number(parts[2], d) != table::Parsed::kOk) {
    refuse_hypocentre(given + ": must be SEG:S:D, the segment's number (from 1) and s, d on it (km), as 1:-5.5:12");
  }
  if (number < 1 || static_cast<std::size_t>(number) > segments.size()) {
    refuse_hypocentre(given + ": segment " + std::to_string(number) + " is not in the segments table, which has " +
                      segment_count(segments.size()));
  }
  const Segment& segment = segments[static_cast<std::size_t>(number) - 1];
  if (!(std::abs(s) <= segment.len / 2 && d >= 0 && d <= segment.wid)) {
    refuse_hypocentre(given + ": not on segment " + std::to_string(number) + ", which has s from " +
                      km(-segment.len / 2) + " to " + km(segment.len / 2) + " and d from 0 to " + km(segment.wid));
  }
  return Hypocentre{static_cast<std::size_t>(number) - 1, s + 0.0, d + 0.0};  // + 0.0: "-0" is 0
}

NearestHypocentre read_hypocentre_at(std::string_view text, const std::vector<Segment>& segments) {
  const std::string given = "hypocentre \"" + table::shown(text) + "\"";
  const std::vector<std::string_view> parts = colon_fields(text);
  double lon = 0, lat = 0, depth = 0;
  if (parts.size() != 3 || table::parse_number(parts[0], lon) != table::Parsed::kOk ||
      table::parse_number(parts[1], lat) != table::Parsed::kOk ||
      table::parse_number(parts[2], depth) != table::Parsed::kOk) {
    refuse_hypocentre(given +
                      ": must be LON:LAT:DEP, longitude and latitude (degrees) and depth (km), as -118.45:34.25:10");
  }
  if (!(lon >= -180 && lon <= 360 && lat >= -90 && lat <= 90)) {
    refuse_hypocentre(given + ": the longitude must be from -180 to 360 degrees and the latitude from -90 to 90");
  }
  NearestHypocentre nearest{{0, 0, 0}, kOpen};
  for (std::size_t k = 0; k < segments.size(); ++k) {
    const detail::InPlane p = detail::in_plane(segments[k], lon, lat, depth);
    const auto [s, d] = nearest_on(segments[k], p);
    const double km = std::hypot(p.s - s, p.d - d, p.off);
    if (km < nearest.km) nearest = {{k, s + 0.0, d + 0.0}, km};  // + 0.0: no "-0"
  }
  const Segment& g = segments[nearest.hypocentre.segment];
  const double diagonal = std::hypot(g.len / g.nstk, g.wid / g.ndip);
  if (!(nearest.km <= diagonal)) {
    refuse_hypocentre(given + ": " + km(nearest.km) + " from the fault (nearest on segment " +
                      std::to_string(nearest.hypocentre.segment + 1) + " at s = " + km(nearest.hypocentre.s) +
                      ", d = " + km(nearest.hypocentre.d) + "): at most the diagonal of one of its subfaults, " +
                      km(diagonal));
  }
  return nearest;
}

}  // namespace slipvel::rupture
