#include "fault.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <span>

#include <slipvel/moment.hpp>
#include <slipvel/text.hpp>

namespace slipvel::apps {
namespace {

constexpr double kOpen = std::numeric_limits<double>::infinity();

// Only the column's name matters to read_csv; required ones must be named.
std::vector<CsvColumn> csv_columns(std::span<const NumberColumn> columns) {
  std::vector<CsvColumn> names;
  for (const NumberColumn& c : columns) names.push_back({c.name, c.required});
  return names;
}

// The row's values by their columns' rules: empty where an optional column is
// left out or its field is empty; a problem for each field that breaks its rule.
std::vector<std::optional<double>> read_values(const CsvTable& csv, const CsvRow& row,
                                               std::span<const NumberColumn> columns,
                                               std::vector<TableProblem>& problems) {
  std::vector<std::optional<double>> values(columns.size());
  for (std::size_t c = 0; c < columns.size(); ++c) {
    if (!csv.position[c]) continue;
    const std::string_view text = row.fields[*csv.position[c]];
    if (text.empty() && !columns[c].required) continue;
    double value = 0;
    if (auto problem = read_field(columns[c], text, value)) {
      problems.push_back({row.line, std::move(*problem)});
    } else {
      values[c] = value + 0.0;  // "-0" is 0, and written as 0
    }
  }
  return values;
}

std::string km(double value) { return text::shortest(value) + " km"; }

std::string segment_count(std::size_t count) { return std::to_string(count) + (count == 1 ? " segment" : " segments"); }

// The columns of the segments table, in the order of kSegment….
enum SegmentColumn {
  kElon,
  kElat,
  kStk,
  kDip,
  kLen,
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
  kDen
};

// vs and den are optional here: read_segments says what SRF 2.0 needs of them.
const std::vector<NumberColumn> kSegmentColumns = {
    {"elon", "degrees", -180, 360, false},
    {"elat", "degrees", -90, 90, false},
    {"stk", "degrees", 0, 360, false},
    {"dip", "degrees", 0, 90, false},
    {"len", "km", 0, kOpen, true},
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
};

Segment segment_of(int line, const std::vector<std::optional<double>>& v) {
  Segment s;
  s.line = line;
  s.elon = *v[kElon], s.elat = *v[kElat], s.stk = *v[kStk], s.dip = *v[kDip];
  s.len = *v[kLen], s.wid = *v[kWid], s.dtop = *v[kDtop];
  s.nstk = static_cast<int>(*v[kNstk]), s.ndip = static_cast<int>(*v[kNdip]);
  s.source = {*v[kSlip], *v[kVm], *v[kTr], v[kTs], *v[kRake]};
  s.vs = v[kVs].value_or(0), s.den = v[kDen].value_or(0);
  return s;
}

// Geodesics from a segment's top-edge centre reach at most half the Earth's
// circumference (about 20,004 km): a longer segment cannot be mapped.
constexpr double kLongestSide = 20000;  // km

// What keeps a segment's subfaults from being mapped or having an area, if anything.
std::optional<std::string> geometry_problem(const Segment& s) {
  if (s.len > kLongestSide || s.wid > kLongestSide) {
    return "len = " + km(s.len) + ", wid = " + km(s.wid) + ": a segment's sides must be at most " + km(kLongestSide) +
           " (geodesics from its top edge's centre reach half the Earth's circumference at most)";
  }
  const double area = 1e6 * (s.len / s.nstk) * (s.wid / s.ndip);
  if (!(area > 0)) {
    return "len/nstk = " + km(s.len / s.nstk) + ", wid/ndip = " + km(s.wid / s.ndip) +
           ": a subfault's area must be greater than 0 m^2 (it rounds to 0)";
  }
  return std::nullopt;
}

enum PatchColumn { kSegment, kS0, kS1, kD0, kD1, kPatchSlip, kPatchVm, kPatchTr, kPatchTs, kPatchRake };

const std::vector<NumberColumn> kPatchColumns = {
    {"segment", "", 1, 99999, false, true, true},
    {"s0", "km", -kOpen, kOpen, false},
    {"s1", "km", -kOpen, kOpen, false},
    {"d0", "km", -kOpen, kOpen, false},
    {"d1", "km", -kOpen, kOpen, false},
    {"slip", "m", 0, kOpen, false},
    {"vm", "m/s", 0, kOpen, true},
    {"tr", "s", 0, kOpen, true},
    {"ts", "s", 0, kOpen, true, false},
    {"rake", "degrees", -180, 360, false, false},
};

// Whether the patch lies wholly inside its segment; if not, why.
std::optional<std::string> outside(const Patch& p, const Segment& s) {
  std::string why;
  if (!(p.s0 < p.s1)) why = "s0 = " + km(p.s0) + ": must be less than s1 = " + km(p.s1);
  if (!(p.d0 < p.d1)) {
    why += why.empty() ? "" : "; ";
    why += "d0 = " + km(p.d0) + ": must be less than d1 = " + km(p.d1);
  }
  if (!why.empty()) return why;
  if (p.s0 >= -s.len / 2 && p.s1 <= s.len / 2 && p.d0 >= 0 && p.d1 <= s.wid) return std::nullopt;
  return "s " + km(p.s0) + " to " + km(p.s1) + ", d " + km(p.d0) + " to " + km(p.d1) +
         ": a patch must lie wholly inside its segment " + std::to_string(p.segment + 1) + " (s from " +
         km(-s.len / 2) + " to " + km(s.len / 2) + ", d from 0 to " + km(s.wid) + ")";
}

bool overlap(const Patch& a, const Patch& b) {
  return a.segment == b.segment && a.s0 < b.s1 && b.s0 < a.s1 && a.d0 < b.d1 && b.d0 < a.d1;
}

void sort_by_line(std::vector<TableProblem>& problems) {
  std::stable_sort(problems.begin(), problems.end(),
                   [](const TableProblem& a, const TableProblem& b) { return a.line < b.line; });
}

}  // namespace

// What is wrong with a row's vs and den, if anything: SRF 2.0 writes both for
// every point; otherwise they give the rigidity den*vs^2, so both or neither.
std::optional<std::string> vs_den_problem(const std::optional<double>& vs, const std::optional<double>& den,
                                          srf::Version version) {
  if (version == srf::Version::k2 && !(vs && den)) {
    return "vs and den: --srf-version 2.0 writes them for every point, so every segment needs both";
  }
  if (vs.has_value() != den.has_value()) return "vs and den: give both (the rigidity den*vs^2) or neither";
  if (vs) {
    try {
      check_rigidity(*vs, *den);
    } catch (const ParameterError& e) {
      return e.what();
    }
  }
  return std::nullopt;
}

SegmentsTable read_segments(std::string_view text, srf::Version version) {
  const std::span<const NumberColumn> columns = kSegmentColumns;
  const CsvTable csv = read_csv(text, csv_columns(columns));
  SegmentsTable table{{}, csv.problems};
  const bool has_rigidity = csv.position[kVs] && csv.position[kDen];
  if (csv.problems.empty() && version == srf::Version::k2 && !has_rigidity) {
    table.problems.push_back({0,
                              "--srf-version 2.0 writes vs and den for every point: the table needs vs and den "
                              "columns"});
    return table;
  }
  long long subfaults = 0;
  for (const CsvRow& row : csv.rows) {
    const std::size_t before = table.problems.size();
    const std::vector<std::optional<double>> values = read_values(csv, row, columns, table.problems);
    if (table.problems.size() == before) {
      if (auto problem = vs_den_problem(values[kVs], values[kDen], version)) {
        table.problems.push_back({row.line, std::move(*problem)});
      }
    }
    if (table.problems.size() > before) continue;
    table.segments.push_back(segment_of(row.line, values));
    if (auto problem = geometry_problem(table.segments.back())) {
      table.problems.push_back({row.line, std::move(*problem)});
      table.segments.pop_back();
      continue;
    }
    subfaults += static_cast<long long>(table.segments.back().nstk) * table.segments.back().ndip;
  }
  if (csv.problems.empty() && csv.rows.empty()) table.problems.push_back({0, "no segments: the table has no rows"});
  if (subfaults > kMostSubfaults) {
    table.problems.push_back({0, std::to_string(subfaults) + " subfaults in all (the sum of nstk*ndip): at most " +
                                     std::to_string(kMostSubfaults)});
  }
  sort_by_line(table.problems);
  return table;
}

PatchesTable read_patches(std::string_view text, const std::vector<Segment>& segments, const std::string& name) {
  const CsvTable csv = read_csv(text, csv_columns(kPatchColumns));
  PatchesTable table{{}, csv.problems};
  for (const CsvRow& row : csv.rows) {
    const std::size_t before = table.problems.size();
    const std::vector<std::optional<double>> v = read_values(csv, row, kPatchColumns, table.problems);
    if (table.problems.size() > before) continue;
    const auto number = static_cast<std::size_t>(*v[kSegment]);
    if (number > segments.size()) {
      table.problems.push_back({row.line, "segment = " + std::to_string(number) + ": the segments table has " +
                                              segment_count(segments.size())});
      continue;
    }
    const Segment& segment = segments[number - 1];
    Patch patch{row.line,
                number - 1,
                *v[kS0],
                *v[kS1],
                *v[kD0],
                *v[kD1],
                {*v[kPatchSlip], *v[kPatchVm], *v[kPatchTr], v[kPatchTs], v[kPatchRake].value_or(segment.source.rake)}};
    if (auto why = outside(patch, segment)) {
      table.problems.push_back({row.line, std::move(*why)});
      continue;
    }
    for (const Patch& earlier : table.patches) {
      if (overlap(earlier, patch)) {
        table.problems.push_back({row.line, "overlaps the patch of " + name + ":" + std::to_string(earlier.line) +
                                                " on segment " + std::to_string(number)});
      }
    }
    table.patches.push_back(patch);
  }
  sort_by_line(table.problems);
  return table;
}

std::variant<Hypocentre, std::string> read_hypocentre(std::string_view text, const std::vector<Segment>& segments) {
  const std::string given = "--hypocentre \"" + std::string(text) + "\"";
  std::vector<std::string_view> parts;
  for (std::size_t colon; (colon = text.find(':')) != std::string_view::npos; text.remove_prefix(colon + 1)) {
    parts.push_back(text.substr(0, colon));
  }
  parts.push_back(text);
  int number = 0;
  double s = 0, d = 0;
  if (parts.size() != 3 || parse_integer(parts[0], number) != Parsed::kOk || parse_number(parts[1], s) != Parsed::kOk ||
      parse_number(parts[2], d) != Parsed::kOk) {
    return given + ": must be SEG:S:D, the segment's number (from 1) and s, d on it (km), as 1:-5.5:12";
  }
  if (number < 1 || static_cast<std::size_t>(number) > segments.size()) {
    return given + ": segment " + std::to_string(number) + " is not in the segments table, which has " +
           segment_count(segments.size());
  }
  const Segment& segment = segments[static_cast<std::size_t>(number) - 1];
  if (!(std::abs(s) <= segment.len / 2 && d >= 0 && d <= segment.wid)) {
    return given + ": not on segment " + std::to_string(number) + ", which has s from " + km(-segment.len / 2) +
           " to " + km(segment.len / 2) + " and d from 0 to " + km(segment.wid);
  }
  return Hypocentre{static_cast<std::size_t>(number) - 1, s, d};
}

}  // namespace slipvel::apps
