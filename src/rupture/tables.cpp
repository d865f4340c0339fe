#include <GeographicLib/Geodesic.hpp>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <limits>
#include <map>
#include <set>
#include <tuple>
#include <variant>

#include <slipvel/moment.hpp>
#include <slipvel/text.hpp>

#include "build_steps.hpp"
#include "csv.hpp"
#include "geometry.hpp"
#include "patch_index.hpp"

namespace slipvel::rupture::detail {
namespace {

constexpr double kOpen = std::numeric_limits<double>::infinity();

using table::NumberColumn;

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
std::variant<TopEdgeForm, Diagnostic> top_edge_form(const table::Csv& csv) {
  const auto named = [&](const SegmentColumn(&columns)[4]) {
    return std::count_if(std::begin(columns), std::end(columns), [&](SegmentColumn c) { return csv.position[c]; });
  };
  const auto centre = named(kCentreColumns), trace = named(kTraceColumns);
  const std::string forms =
      "the top edge by its centre (" + names_of(kCentreColumns) + ") or by its trace (" + names_of(kTraceColumns) + ")";
  const auto problem = [&](std::string field, std::string text) {
    return table::error(csv.where(0), std::move(field), std::move(text));
  };
  if (centre > 0 && trace > 0) return problem("elon", "columns of both forms: give " + forms + ", not both");
  for (const auto& [count, columns, form] :
       {std::tuple{centre, &kCentreColumns, TopEdgeForm::kCentre}, {trace, &kTraceColumns, TopEdgeForm::kTrace}}) {
    if (count == 4) return form;
    if (count == 0) continue;
    for (const SegmentColumn c : *columns) {
      if (!csv.position[c]) return problem(kSegmentColumns[c].name, "no " + kSegmentColumns[c].name + " column");
    }
  }
  return problem("elon", "no top edge: give " + forms);
}

// Whether a row gives a longitude above 180: the table's are then written in [0, 360).
bool east_longitude(const std::vector<std::optional<double>>& v) {
  return v[kElon].value_or(0) > 180 || v[kLon1].value_or(0) > 180 || v[kLon2].value_or(0) > 180;
}

Segment segment_of(int line, const std::vector<std::optional<double>>& v, TopEdgeForm form, bool east) {
  Segment s;
  s.line = line;
  s.east_longitudes = east;
  if (form == TopEdgeForm::kCentre) {
    s.elon = normalized_longitude(*v[kElon], east), s.elat = *v[kElat], s.stk = *v[kStk], s.len = *v[kLen];
  } else {
    const detail::TopEdge edge = detail::top_edge_of_trace(*v[kLon1], *v[kLat1], *v[kLon2], *v[kLat2], east);
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
std::optional<Problem> layer_problem(const Layer& layer, bool first, const Layer* above, const table::Csv& csv) {
  if (first && layer.top != 0) {
    return Problem{"depth", "depth = " + km(layer.top) + ": the first layer's top must be at depth 0 km"};
  }
  if (above && !(layer.top > above->top)) {
    return Problem{"depth", "depth = " + km(layer.top) + ": must be deeper than the top of the layer above (" +
                                km(above->top) + (csv.from_columns ? ", row " : ", line ") +
                                std::to_string(above->line) + ")"};
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

// The point of segment `g` nearest to the point `p` of its frame.
std::pair<double, double> nearest_on(const Segment& g, const detail::InPlane& p) {
  return {std::clamp(p.s, -g.len / 2, g.len / 2), std::clamp(p.d, 0.0, g.wid)};
}

// What is wrong with a row's vs and den, if anything: they give the rigidity
// den*vs^2, so both or neither.
std::optional<Problem> vs_den_problem(const std::optional<double>& vs, const std::optional<double>& den) {
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

SegmentsRead read_segments(const Table& input, const std::string& medium) {
  const std::vector<NumberColumn>& columns = kSegmentColumns;
  const table::Csv csv = table::read_csv(input, table::columns_of(columns, kTopEdgeColumns));
  SegmentsRead table{{}, csv.problems, csv.from_columns};
  if (!csv.problems.empty()) return table;
  const auto form = top_edge_form(csv);
  if (const auto* problem = std::get_if<Diagnostic>(&form)) {
    table.problems.push_back(*problem);
    return table;
  }
  const bool has_vs_or_den = csv.position[kVs] || csv.position[kDen];
  if (!medium.empty() && has_vs_or_den) {
    table.problems.push_back(table::error(csv.where(0), csv.position[kVs] ? "vs" : "den",
                                          "vs and den columns, and the medium " + medium +
                                              " gives every subfault vs and den by its depth: give them in one of "
                                              "the two"));
    return table;
  }
  std::vector<std::pair<Where, std::vector<std::optional<double>>>> rows;
  bool east = false;
  for (const table::Row& row : csv.rows) {
    const std::size_t before = table.problems.size();
    std::vector<std::optional<double>> values = table::read_values(csv, row, columns, table.problems);
    const Where where = csv.where(row.line);
    if (table.problems.size() == before && medium.empty()) {
      if (auto problem = vs_den_problem(values[kVs], values[kDen])) {
        table.problems.push_back(table::error(where, problem->field, std::move(problem->text)));
      }
    }
    east = east || east_longitude(values);
    if (table.problems.size() == before) rows.emplace_back(where, std::move(values));
  }
  long long subfaults = 0;
  for (const auto& [where, values] : rows) {
    const Segment segment = segment_of(where.line, values, std::get<TopEdgeForm>(form), east);
    if (auto problem = geometry_problem(segment)) {
      table.problems.push_back(table::error(where, problem->field, std::move(problem->text)));
      continue;
    }
    table.segments.push_back(segment);
    subfaults += static_cast<long long>(segment.nstk) * segment.ndip;
  }
  if (csv.rows.empty()) table.problems.push_back(table::error(csv.where(0), "", "no segments: the table has no rows"));
  if (subfaults > kMostSubfaults) {
    table.problems.push_back(table::error(csv.where(0), "nstk",
                                          std::to_string(subfaults) +
                                              " subfaults in all (the sum of nstk*ndip): at most " +
                                              std::to_string(kMostSubfaults)));
  }
  table::sort_by_line(table.problems);
  return table;
}

namespace {

enum TraceColumn { kTraceFault, kTraceLon, kTraceLat };
const std::vector<NumberColumn> kTraceColumnRules = {
    {"fault", "", 1, 99999, false, true, true},
    {"lon", "degrees", -180, 360, false},
    {"lat", "degrees", -90, 90, false},
};

// The faults table: a fault's number and subfault length, then the segments
// table's rules for the rest.
enum FaultColumn {
  kFaultNumber,
  kSublen,
  kFaultDip,
  kFaultWid,
  kFaultDtop,
  kFaultNdip,
  kFaultRake,
  kFaultSlip,
  kFaultVm,
  kFaultTr,
  kFaultTs,
  kFaultVs,
  kFaultDen
};
const std::vector<NumberColumn> kFaultColumns = {
    {"fault", "", 1, 99999, false, true, true},
    {"sublen", "km", 0, kOpen, true},
    kSegmentColumns[kDip],
    kSegmentColumns[kWid],
    kSegmentColumns[kDtop],
    kSegmentColumns[kNdip],
    kSegmentColumns[kRake],
    kSegmentColumns[kSlip],
    kSegmentColumns[kVm],
    kSegmentColumns[kTr],
    kSegmentColumns[kTs],
    kSegmentColumns[kVs],
    kSegmentColumns[kDen],
};

struct Vertex {
  int line;
  double lon, lat;
};

// The most segments the piece between two vertices is cut into.
constexpr std::size_t kMostPiecesBetweenVertices = 10000;

// Whether two vertices are one place on the Earth, to 1e-9 degrees (0.1 mm):
// longitudes a turn apart are one, and at a pole every longitude is.
bool same_place(const Vertex& a, const Vertex& b) {
  constexpr double kSamePlace = 1e-9;  // degrees
  if (!(std::abs(a.lat - b.lat) < kSamePlace)) return false;
  return std::abs(a.lat) == 90 || std::abs(std::remainder(a.lon - b.lon, 360.0)) < kSamePlace;
}

// Each fault's vertices in the order of the trace table, by number.
struct TraceRows {
  std::map<int, std::vector<Vertex>> vertices;
  std::map<int, int> first_line;
  bool east = false;
  bool from_columns = false;  // rows of columns: messages count rows
};

TraceRows read_trace_rows(const Table& input, std::vector<Diagnostic>& problems) {
  const table::Csv csv = table::read_csv(input, table::columns_of(kTraceColumnRules));
  problems.insert(problems.end(), csv.problems.begin(), csv.problems.end());
  TraceRows rows;
  rows.from_columns = csv.from_columns;
  int last = 0;                 // the fault of the row before
  std::set<int> with_refusals;  // faults with a row refused: said once, not again as too few vertices
  bool any_refused = false;
  for (const table::Row& row : csv.rows) {
    const std::size_t before = problems.size();
    const std::vector<std::optional<double>> v = table::read_values(csv, row, kTraceColumnRules, problems);
    if (v[kTraceFault] && problems.size() > before) with_refusals.insert(static_cast<int>(*v[kTraceFault]));
    any_refused = any_refused || problems.size() > before;
    if (problems.size() > before) continue;
    const Where where = csv.where(row.line);
    const int fault = static_cast<int>(*v[kTraceFault]);
    rows.east = rows.east || *v[kTraceLon] > 180;
    std::vector<Vertex>& vertices = rows.vertices[fault];
    if (fault != last && !vertices.empty()) {
      problems.push_back(table::error(where, "fault",
                                      "fault " + std::to_string(fault) +
                                          " again: a fault's vertices must be "
                                          "consecutive rows (its first at " +
                                          table::place(csv.where(rows.first_line[fault])) + ")"));
      continue;
    }
    if (vertices.empty()) rows.first_line[fault] = row.line;
    last = fault;
    if (!vertices.empty() && same_place(vertices.back(), {row.line, *v[kTraceLon], *v[kTraceLat]})) {
      problems.push_back(table::error(where, "lon",
                                      "the same point as " + table::place(csv.where(vertices.back().line)) +
                                          ": consecutive vertices of a trace must differ"));
      with_refusals.insert(fault);
      continue;
    }
    vertices.push_back({row.line, *v[kTraceLon], *v[kTraceLat]});
  }
  if (csv.problems.empty() && csv.rows.empty()) {
    problems.push_back(table::error(csv.where(0), "", "no vertices: the table has no rows"));
  }
  for (const auto& [fault, vertices] : rows.vertices) {
    if (vertices.size() == 1 && !with_refusals.contains(fault) && !any_refused) {
      problems.push_back(
          table::error(csv.where(vertices.front().line), "fault",
                       "fault " + std::to_string(fault) + " has one vertex: a trace needs two at least"));
    }
  }
  return rows;
}

// Vertices farther apart than this (km) are nearly antipodal: many
// geodesics, or none well defined, join them.
constexpr double kFarthestVertices = 19900;

// What keeps the piece between two vertices from being cut into segments, if
// anything: vertices nearly antipodal, or a direction that turns too fast.
std::optional<std::string> piece_problem(const Vertex& a, double metres, double drift,
                                         const std::vector<TopEdge>& pieces) {
  if (metres / 1000 > kFarthestVertices) {
    return "this vertex and the one of line " + std::to_string(a.line) + " lie " + km(metres / 1000) +
           " apart, nearly antipodal: no one geodesic joins them; give a vertex between them";
  }
  if (!pieces.empty()) return std::nullopt;
  return "the trace from line " + std::to_string(a.line) + " to here turns too fast for " +
         std::to_string(kMostPiecesBetweenVertices) + " segments to keep their strike within " + text::shortest(drift) +
         " degrees of it (a trace near a pole turns fast; so does a long one at a small " + "drift)";
}

// The segments of one fault's trace: its pieces between vertices, each cut
// where the direction drifts, with nstk from the subfault length. A problem
// of a piece names the trace table's line of its second vertex.
void cut_fault(const std::vector<Vertex>& vertices, const std::vector<std::optional<double>>& v, const Where& where,
               const Named& trace, bool east, double drift, TracedRead& read) {
  TracedFault fault{static_cast<int>(*v[kFaultNumber]), where.line, read.segments.size(), {0.0}};
  for (std::size_t k = 1; k < vertices.size(); ++k) {
    const Vertex& a = vertices[k - 1];
    const Vertex& b = vertices[k];
    double metres = 0;
    GeographicLib::Geodesic::WGS84().Inverse(a.lat, a.lon, b.lat, b.lon, metres);
    std::vector<TopEdge> pieces;
    if (metres / 1000 <= kFarthestVertices) {
      pieces = pieces_of_geodesic(a.lon, a.lat, b.lon, b.lat, east, drift, kMostPiecesBetweenVertices);
    }
    if (auto problem = piece_problem(a, metres, drift, pieces)) {
      read.problems.push_back(table::error(trace.at(b.line), "lon", std::move(*problem)));
      return;
    }
    for (const TopEdge& edge : pieces) {
      Segment g;
      g.line = where.line;
      g.east_longitudes = east;
      g.elon = edge.elon, g.elat = edge.elat, g.stk = edge.stk, g.len = edge.len;
      g.dip = *v[kFaultDip], g.wid = *v[kFaultWid], g.dtop = *v[kFaultDtop];
      const double along = std::round(edge.len / *v[kSublen]);
      if (!(along <= 99999)) {
        read.problems.push_back(table::error(where, "sublen",
                                             "sublen = " + km(*v[kSublen]) + ": a segment of " + km(edge.len) +
                                                 " would have " + text::shortest(along) +
                                                 " subfaults along strike: at most 99999"));
        return;
      }
      g.nstk = std::max(1, static_cast<int>(along));
      g.ndip = static_cast<int>(*v[kFaultNdip]);
      g.source = {*v[kFaultSlip], *v[kFaultVm], *v[kFaultTr], v[kFaultTs], *v[kFaultRake]};
      g.vs = v[kFaultVs].value_or(0), g.den = v[kFaultDen].value_or(0);
      if (auto problem = geometry_problem(g)) {
        read.problems.push_back(table::error(where, problem->field, std::move(problem->text)));
        return;
      }
      read.segments.push_back(g);
      fault.starts.push_back(fault.starts.back() + g.len);
    }
  }
  read.map.faults.push_back(std::move(fault));
}

}  // namespace

const TracedFault* TraceMap::fault(int number) const {
  for (const TracedFault& f : faults) {
    if (f.number == number) return &f;
  }
  return nullptr;
}

std::pair<std::size_t, double> TraceMap::on_segment(const TracedFault& f, double s) const {
  std::size_t k = 0;
  while (k + 1 < f.segments() && s > f.starts[k + 1]) ++k;
  const double half = (f.starts[k + 1] - f.starts[k]) / 2;
  return {f.first + k, std::clamp(s - f.starts[k] - half, -half, half)};
}

std::pair<const TracedFault*, double> TraceMap::along_trace(std::size_t k, double s) const {
  for (const TracedFault& f : faults) {
    if (k < f.first || k >= f.first + f.segments()) continue;
    const std::size_t piece = k - f.first;
    return {&f, f.starts[piece] + (f.starts[piece + 1] - f.starts[piece]) / 2 + s};
  }
  return {nullptr, s};
}

TracedRead read_traced(const Traces& traces, const std::string& medium, double max_strike_drift,
                       OptionSpelling spelling) {
  TracedRead read;
  if (!(max_strike_drift > 0 && max_strike_drift <= 45)) {
    read.problems.push_back(said_at(Where::option("max_strike_drift"), Severity::kError, "max_strike_drift",
                                    spelt("max_strike_drift", spelling) + " = " + text::shortest(max_strike_drift) +
                                        ": must be greater than 0 and at most 45 degrees"));
    return read;
  }
  const TraceRows rows = read_trace_rows(traces.trace, read.problems);
  const bool trace_read = read.problems.empty();  // else the faults are not checked against it
  const table::Csv csv = table::read_csv(traces.faults, table::columns_of(kFaultColumns));
  read.from_columns = csv.from_columns;
  read.problems.insert(read.problems.end(), csv.problems.begin(), csv.problems.end());
  if (!csv.problems.empty()) return read;
  if (!medium.empty() && (csv.position[kFaultVs] || csv.position[kFaultDen])) {
    read.problems.push_back(table::error(csv.where(0), csv.position[kFaultVs] ? "vs" : "den",
                                         "vs and den columns, and the medium " + medium +
                                             " gives every subfault vs and den by its depth: give them in one of "
                                             "the two"));
    return read;
  }
  std::map<int, int> row_of;  // each fault's row of the faults table
  std::set<int> named;        // the faults the table names, its rows refused or not
  long long subfaults = 0;
  for (const table::Row& row : csv.rows) {
    const std::size_t before = read.problems.size();
    const std::vector<std::optional<double>> v = table::read_values(csv, row, kFaultColumns, read.problems);
    if (v[kFaultNumber]) named.insert(static_cast<int>(*v[kFaultNumber]));
    if (read.problems.size() > before) continue;
    const Where where = csv.where(row.line);
    const int number = static_cast<int>(*v[kFaultNumber]);
    if (const auto [earlier, fresh] = row_of.emplace(number, row.line); !fresh) {
      read.problems.push_back(table::error(
          where, "fault",
          "fault " + std::to_string(number) + " again: its row is " + table::place(csv.where(earlier->second))));
      continue;
    }
    if (medium.empty()) {
      if (auto problem = vs_den_problem(v[kFaultVs], v[kFaultDen])) {
        read.problems.push_back(table::error(where, problem->field, std::move(problem->text)));
        continue;
      }
    }
    const auto trace = rows.vertices.find(number);
    if (!trace_read) continue;
    if (trace == rows.vertices.end()) {
      read.problems.push_back(table::error(
          where, "fault",
          "fault " + std::to_string(number) + ": the trace table " + traces.trace.name + " has no vertices of it"));
      continue;
    }
    if (trace->second.size() < 2) continue;  // said of the trace table
    const std::size_t first = read.segments.size();
    cut_fault(trace->second, v, where, Named{traces.trace.name, rows.from_columns}, rows.east, max_strike_drift, read);
    for (std::size_t k = first; k < read.segments.size(); ++k) {
      subfaults += static_cast<long long>(read.segments[k].nstk) * read.segments[k].ndip;
    }
  }
  for (const auto& [number, vertices] : rows.vertices) {
    if (trace_read && !named.contains(number)) {
      read.problems.push_back(table::error(
          Where::table(traces.trace.name, vertices.front().line), "fault",
          "fault " + std::to_string(number) + ": the faults table " + traces.faults.name + " has no row of it"));
    }
  }
  if (csv.rows.empty()) read.problems.push_back(table::error(csv.where(0), "", "no faults: the table has no rows"));
  if (subfaults > kMostSubfaults) {
    read.problems.push_back(
        table::error(csv.where(0), "sublen",
                     std::to_string(subfaults) + " subfaults in all: at most " + std::to_string(kMostSubfaults)));
  }
  // The trace table's problems first, each table's in line order.
  const std::string& trace = traces.trace.name;
  std::stable_sort(read.problems.begin(), read.problems.end(), [&](const Diagnostic& a, const Diagnostic& b) {
    return std::make_tuple(a.where.name != trace, a.where.line) < std::make_tuple(b.where.name != trace, b.where.line);
  });
  return read;
}

MediumRead read_medium(const Table& input) {
  const table::Csv csv = table::read_csv(input, table::columns_of(kLayerColumns));
  MediumRead table{{}, csv.problems};
  Layer above{};  // the last row whose depth was read, where has_above
  bool has_above = false;
  for (const table::Row& row : csv.rows) {
    const std::size_t before = table.problems.size();
    const std::vector<std::optional<double>> v = table::read_values(csv, row, kLayerColumns, table.problems);
    const bool first = &row == &csv.rows.front();
    const Where where = csv.where(row.line);
    if (!v[kTop]) {
      has_above = false;  // nothing to order the next row against
      continue;
    }
    const Layer layer{where.line, *v[kTop], v[kLayerVs].value_or(0), v[kLayerDen].value_or(0)};
    if (auto problem = layer_problem(layer, first, has_above ? &above : nullptr, csv)) {
      table.problems.push_back(table::error(where, problem->field, std::move(problem->text)));
    }
    above = layer;
    has_above = true;
    if (table.problems.size() > before) continue;
    try {
      check_rigidity(layer.vs, layer.den);
    } catch (const ParameterError& e) {
      table::add_problems(table.problems, where, e.problems());
      continue;
    }
    table.medium.layers.push_back(layer);
  }
  if (csv.problems.empty() && csv.rows.empty()) {
    table.problems.push_back(table::error(csv.where(0), "", "no layers: the table has no rows"));
  }
  table::sort_by_line(table.problems);
  return table;
}

namespace {

// A patch on a traced fault (s along its trace) as the patches of the
// segments it crosses, each at its line.
void cut_patch(const Patch& whole, const TracedFault& fault, std::vector<Patch>& patches) {
  for (std::size_t k = 0; k < fault.segments(); ++k) {
    const double start = fault.starts[k], end = fault.starts[k + 1], half = (end - start) / 2;
    if (!(whole.s0 < end && start < whole.s1)) continue;
    Patch part = whole;
    part.segment = fault.first + k;
    part.s0 = std::max(whole.s0, start) - start - half;
    part.s1 = std::min(whole.s1, end) - start - half;
    patches.push_back(part);
  }
}

// Whether a patch on a traced fault lies wholly on it; if not, why.
std::optional<Problem> outside_fault(const Patch& p, const TracedFault& f, const Segment& first) {
  Segment whole = first;
  whole.len = f.length();
  Patch centred = p;
  centred.s0 -= f.length() / 2, centred.s1 -= f.length() / 2;
  if (!outside(centred, whole)) return std::nullopt;
  if (!(p.s0 < p.s1) || !(p.d0 < p.d1)) return outside(p, whole);
  return Problem{"s0", "s " + km(p.s0) + " to " + km(p.s1) + ", d " + km(p.d0) + " to " + km(p.d1) +
                           ": a patch must lie wholly on its fault " + std::to_string(f.number) + " (s from 0 to " +
                           km(f.length()) + " along its trace, d from 0 to " + km(first.wid) + ")"};
}

}  // namespace

namespace {

// The patches of one place (a segment, or a traced fault along its trace)
// that overlap an earlier one of it, one problem for each such pair, each
// patch checked against the earlier ones near it alone.
void add_overlaps(const std::vector<Patch>& read, const std::vector<std::vector<std::size_t>>& on,
                  const std::vector<Segment>& segments, const TraceMap* traced, const table::Csv& csv,
                  const std::string& key, std::vector<Diagnostic>& problems) {
  for (std::size_t place = 0; place < on.size(); ++place) {
    if (on[place].empty()) continue;
    const TracedFault* fault = traced ? &traced->faults[place] : nullptr;
    const Segment& segment = segments[fault ? fault->first : place];
    PatchIndex index = fault ? PatchIndex(0, fault->length(), segment.wid, on[place].size())
                             : PatchIndex(-segment.len / 2, segment.len, segment.wid, on[place].size());
    for (std::size_t n = 0; n < on[place].size(); ++n) {
      const Patch& patch = read[on[place][n]];
      for (const std::size_t e : index.near(patch)) {
        const Patch& earlier = read[on[place][e]];
        if (!overlap(earlier, patch)) continue;
        const int number = fault ? fault->number : static_cast<int>(place + 1);
        problems.push_back(table::error(csv.where(patch.line), "s0",
                                        "overlaps the patch of " +
                                            table::place(where_in(csv.name, earlier.line, csv.from_columns)) + " on " +
                                            key + " " + std::to_string(number)));
      }
      index.add(n, patch);
    }
  }
}

}  // namespace

PatchesRead read_patches(const Table& input, const std::vector<Segment>& segments, const TraceMap* traced) {
  std::vector<NumberColumn> columns = kPatchColumns;
  if (traced) columns[kSegment].name = "fault";
  const std::string& key = columns[kSegment].name;
  const table::Csv csv = table::read_csv(input, table::columns_of(columns));
  PatchesRead table{{}, csv.problems, csv.from_columns};
  std::vector<Patch> read;  // as given: on a segment, or on a fault (its index in the map) along its trace
  std::vector<std::vector<std::size_t>> on(traced ? traced->faults.size() : segments.size());  // read, by place
  for (const table::Row& row : csv.rows) {
    const std::size_t before = table.problems.size();
    const std::vector<std::optional<double>> v = table::read_values(csv, row, columns, table.problems);
    if (table.problems.size() > before) continue;
    const Where where = csv.where(row.line);
    const auto number = static_cast<std::size_t>(*v[kSegment]);
    const TracedFault* fault = traced ? traced->fault(static_cast<int>(number)) : nullptr;
    if (traced ? fault == nullptr : number > segments.size()) {
      table.problems.push_back(table::error(
          where, key,
          traced
              ? "fault = " + std::to_string(number) + ": the faults table has no fault " + std::to_string(number)
              : "segment = " + std::to_string(number) + ": the segments table has " + segment_count(segments.size())));
      continue;
    }
    const Segment& segment = segments[fault ? fault->first : number - 1];
    Patch patch{where.line,
                fault ? static_cast<std::size_t>(fault - traced->faults.data()) : number - 1,
                *v[kS0],
                *v[kS1],
                *v[kD0],
                *v[kD1],
                {*v[kPatchSlip], v[kPatchVm].value_or(segment.source.vm), v[kPatchTr].value_or(segment.source.tr),
                 v[kPatchTs], v[kPatchRake].value_or(segment.source.rake)}};
    if (auto why = fault ? outside_fault(patch, *fault, segment) : outside(patch, segment)) {
      table.problems.push_back(table::error(where, why->field, std::move(why->text)));
      continue;
    }
    on[patch.segment].push_back(read.size());
    read.push_back(patch);
  }
  add_overlaps(read, on, segments, traced, csv, key, table.problems);
  if (!traced) {
    table.patches = std::move(read);
  } else {
    for (const Patch& p : read) cut_patch(p, traced->faults[p.segment], table.patches);
  }
  table::sort_by_line(table.problems);
  return table;
}

namespace {

std::string given_text(const OnSegment& h) {
  return std::to_string(h.segment) + ":" + text::shortest(h.s) + ":" + text::shortest(h.d);
}

std::string given_text(const NearestTo& h) {
  return text::shortest(h.lon) + ":" + text::shortest(h.lat) + ":" + text::shortest(h.dep);
}

Diagnostic option_error(const std::string& keyword, std::string text) {
  return said_at(Where::option(keyword), Severity::kError, keyword, std::move(text));
}

// A hypocentre on a traced fault, s along its trace.
std::optional<Hypocentre> on_fault(const OnSegment& h, const std::vector<Segment>& segments, const TraceMap& traced,
                                   OptionSpelling spelling, std::vector<Diagnostic>& said) {
  const std::string given = spelt("hypocentre", spelling) + " " + given_text(h);
  const TracedFault* fault = traced.fault(h.segment);
  if (fault == nullptr) {
    said.push_back(
        option_error("hypocentre", given + ": fault " + std::to_string(h.segment) + " is not in the faults table"));
    return std::nullopt;
  }
  const double wid = segments[fault->first].wid;
  if (!(h.s >= 0 && h.s <= fault->length() && h.d >= 0 && h.d <= wid)) {
    said.push_back(option_error("hypocentre", given + ": not on fault " + std::to_string(h.segment) +
                                                  ", which has s from 0 to " + km(fault->length()) +
                                                  " along its trace and d from 0 to " + km(wid)));
    return std::nullopt;
  }
  const auto [k, s] = traced.on_segment(*fault, h.s);
  return Hypocentre{k, s + 0.0, h.d + 0.0};
}

// A place as the messages name it: on a segment, or on a traced fault along
// its trace; to the metre (what the user checks a landing by) or in shortest texts.
std::string place_text(std::size_t k, double s, double d, const TraceMap* traced, bool to_the_metre) {
  const auto length = [to_the_metre](double value) {
    if (!to_the_metre) return km(value);
    char text[48];
    std::snprintf(text, sizeof text, "%.3f km", std::round(value * 1000) / 1000 + 0.0);  // + 0.0: no "-0.000"
    return std::string(text);
  };
  if (const auto [fault, along] = traced ? traced->along_trace(k, s) : std::pair<const TracedFault*, double>{}; fault) {
    return "fault " + std::to_string(fault->number) + " at s = " + length(along) + " along its trace, d = " + length(d);
  }
  return "segment " + std::to_string(k + 1) + " at s = " + length(s) + ", d = " + length(d);
}

std::optional<Hypocentre> on_segment(const OnSegment& h, const std::vector<Segment>& segments, OptionSpelling spelling,
                                     std::vector<Diagnostic>& said) {
  const std::string given = spelt("hypocentre", spelling) + " " + given_text(h);
  if (h.segment < 1 || static_cast<std::size_t>(h.segment) > segments.size()) {
    said.push_back(option_error("hypocentre", given + ": segment " + std::to_string(h.segment) +
                                                  " is not in the segments table, which has " +
                                                  segment_count(segments.size())));
    return std::nullopt;
  }
  const Segment& segment = segments[static_cast<std::size_t>(h.segment) - 1];
  if (!(std::abs(h.s) <= segment.len / 2 && h.d >= 0 && h.d <= segment.wid)) {
    said.push_back(option_error("hypocentre", given + ": not on segment " + std::to_string(h.segment) +
                                                  ", which has s from " + km(-segment.len / 2) + " to " +
                                                  km(segment.len / 2) + " and d from 0 to " + km(segment.wid)));
    return std::nullopt;
  }
  return Hypocentre{static_cast<std::size_t>(h.segment) - 1, h.s + 0.0, h.d + 0.0};  // + 0.0: "-0" is 0
}

std::optional<Hypocentre> nearest_to(const NearestTo& h, const std::vector<Segment>& segments,
                                     std::optional<double> tolerance, OptionSpelling spelling,
                                     std::vector<Diagnostic>& said, const TraceMap* traced) {
  const std::string given = spelt("hypocentre_at", spelling) + " " + given_text(h);
  if (!(h.lon >= -180 && h.lon <= 360 && h.lat >= -90 && h.lat <= 90 && std::isfinite(h.dep))) {
    said.push_back(option_error("hypocentre_at", given + ": the longitude must be from -180 to 360 degrees, the "
                                                         "latitude from -90 to 90 and the depth finite"));
    return std::nullopt;
  }
  Hypocentre nearest{0, 0, 0};
  double distance = kOpen;
  for (std::size_t k = 0; k < segments.size(); ++k) {
    const InPlane p = in_plane(segments[k], h.lon, h.lat, h.dep);
    const auto [s, d] = nearest_on(segments[k], p);
    const double off = std::hypot(p.s - s, p.d - d, p.off);
    if (off < distance) nearest = {k, s + 0.0, d + 0.0}, distance = off;  // + 0.0: no "-0"
  }
  const Segment& g = segments[nearest.segment];
  constexpr double kCatalogueError = 5;  // km: how far catalogue hypocentres commonly lie off mapped traces
  const double diagonal = std::hypot(g.len / g.nstk, g.wid / g.ndip);
  const double most = tolerance.value_or(std::max(diagonal, kCatalogueError));
  if (!(distance <= most)) {
    const std::string rule = tolerance ? " (" + spelt("hypocentre_tolerance", spelling) + ")"
                                       : " (the larger of one of its subfaults' diagonal and " + km(kCatalogueError) +
                                             "; " + spelt("hypocentre_tolerance", spelling) + " sets another)";
    said.push_back(option_error("hypocentre_at", given + ": " + km(distance) + " from the fault (nearest on " +
                                                     place_text(nearest.segment, nearest.s, nearest.d, traced, false) +
                                                     "): at most " + km(most) + rule));
    return std::nullopt;
  }
  char off[64];
  std::snprintf(off, sizeof off, ", %.3f km from the point given", std::round(distance * 1000) / 1000 + 0.0);
  said.push_back(said_at(Where::option("hypocentre_at"), Severity::kNote, "hypocentre_at",
                         given + ": on " + place_text(nearest.segment, nearest.s, nearest.d, traced, true) + off));
  return nearest;
}

}  // namespace

std::optional<Hypocentre> place_hypocentre(const HypocentreGiven& given, const std::vector<Segment>& segments,
                                           std::optional<double> tolerance, OptionSpelling spelling,
                                           std::vector<Diagnostic>& said, const TraceMap* traced) {
  if (const auto* h = std::get_if<OnSegment>(&given)) {
    return traced ? on_fault(*h, segments, *traced, spelling, said) : on_segment(*h, segments, spelling, said);
  }
  if (tolerance && !(std::isfinite(*tolerance) && *tolerance >= 0)) {
    said.push_back(option_error("hypocentre_tolerance", spelt("hypocentre_tolerance", spelling) + " = " +
                                                            text::shortest(*tolerance) +
                                                            ": must be finite and at least 0 km"));
    return std::nullopt;
  }
  return nearest_to(std::get<NearestTo>(given), segments, tolerance, spelling, said, traced);
}

Where where_in(const std::string& table, int line, bool from_columns) {
  return Where::table(table, line, from_columns && line > 0);
}

Diagnostic said_at(Where where, Severity severity, std::string field, std::string text) {
  Diagnostic d = table::error(std::move(where), std::move(field), std::move(text));
  d.severity = severity;
  return d;
}

}  // namespace slipvel::rupture::detail

namespace slipvel::rupture {

namespace {

std::vector<std::string_view> colon_fields(std::string_view text) {
  std::vector<std::string_view> parts;
  for (std::size_t colon; (colon = text.find(':')) != std::string_view::npos; text.remove_prefix(colon + 1)) {
    parts.push_back(text.substr(0, colon));
  }
  parts.push_back(text);
  return parts;
}

// The three numbers of "A:B:C", or nothing; the first a whole number where `whole`.
std::optional<std::array<double, 3>> three_numbers(std::string_view text, bool whole) {
  const std::vector<std::string_view> parts = colon_fields(text);
  if (parts.size() != 3) return std::nullopt;
  std::array<double, 3> values{};
  for (std::size_t i = 0; i < 3; ++i) {
    int number = 0;
    const table::Parsed parsed =
        i == 0 && whole ? table::parse_integer(parts[i], number) : table::parse_number(parts[i], values[i]);
    if (parsed != table::Parsed::kOk) return std::nullopt;
    if (i == 0 && whole) values[i] = number;
  }
  return values;
}

Diagnostic form_error(const std::string& keyword, OptionSpelling spelling, std::string_view text, const char* form) {
  return detail::said_at(Where::option(keyword), Severity::kError, keyword,
                         spelt(keyword, spelling) + " \"" + table::shown(text) + "\": must be " + form);
}

}  // namespace

std::variant<OnSegment, Diagnostic> parse_on_segment(std::string_view text, const std::string& keyword,
                                                     OptionSpelling spelling) {
  const auto values = three_numbers(text, true);
  if (!values) {
    return form_error(keyword, spelling, text,
                      "SEG:S:D, the segment's number (from 1) and s, d on it (km), as 1:-5.5:12 (with traces, "
                      "FAULT:S:D: the fault's number and s along its trace)");
  }
  return OnSegment{static_cast<int>((*values)[0]), (*values)[1], (*values)[2]};
}

std::variant<NearestTo, Diagnostic> parse_position(std::string_view text, const std::string& keyword,
                                                   OptionSpelling spelling) {
  const auto values = three_numbers(text, false);
  if (!values) {
    return form_error(keyword, spelling, text,
                      "LON:LAT:DEP, longitude and latitude (degrees) and depth (km), as -118.45:34.25:10");
  }
  return NearestTo{(*values)[0], (*values)[1], (*values)[2]};
}

}  // namespace slipvel::rupture
