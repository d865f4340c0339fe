#include <slipvel/planes.hpp>

#include <array>
#include <limits>

#include <slipvel/text.hpp>

#include "csv.hpp"
#include "srf_fields.hpp"

namespace slipvel {
namespace {

constexpr double kOpen = std::numeric_limits<double>::infinity();

const std::array<table::NumberColumn, 11> kPlaneColumns = {{
    {"elon", "degrees", -180, 360, false},
    {"elat", "degrees", -90, 90, false},
    {"nstk", "", 1, 99999, false, true, true},  // %5d in the file
    {"ndip", "", 1, 99999, false, true, true},
    {"len", "km", 0, kOpen, true},
    {"wid", "km", 0, kOpen, true},
    {"stk", "degrees", 0, 360, false},
    {"dip", "degrees", 0, 90, false},
    {"dtop", "km", 0, kOpen, false},
    {"shyp", "km", -kOpen, kOpen, false},
    {"dhyp", "km", 0, kOpen, false},
}};

srf::Plane plane_of(const std::array<double, kPlaneColumns.size()>& v) {
  return {v[0], v[1], static_cast<int>(v[2]), static_cast<int>(v[3]), v[4], v[5], v[6], v[7], v[8], v[9], v[10]};
}

}  // namespace

PlanesTable read_planes(const Table& input, srf::Version version) {
  std::vector<table::Column> columns;
  for (const table::NumberColumn& c : kPlaneColumns) columns.push_back({c.name, true});
  const table::Csv csv = table::read_csv(input, columns);
  PlanesTable table{{}, csv.problems};
  for (const table::Row& row : csv.rows) {
    std::array<double, kPlaneColumns.size()> values{};
    bool ok = true;
    for (std::size_t c = 0; c < kPlaneColumns.size(); ++c) {
      if (auto problem = table::read_field(kPlaneColumns[c], row.fields[*csv.position[c]], values[c])) {
        table.problems.push_back(table::error(csv.where(row.line), problem->field, std::move(problem->text)));
        ok = false;
      }
    }
    if (!ok) continue;
    table.planes.push_back(plane_of(values));
    try {
      srf::check_plane(table.planes.back(), version);
    } catch (const ParameterError& e) {
      table::add_problems(table.problems, csv.where(row.line), e.problems());
    }
  }
  table::sort_by_line(table.problems);
  return table;
}

std::string planes_text(const std::vector<srf::Plane>& planes) {
  std::string text = "elon,elat,nstk,ndip,len,wid,stk,dip,dtop,shyp,dhyp\n";
  for (const srf::Plane& p : planes) {
    for (const double value : {p.elon, p.elat}) text += text::shortest(value + 0.0) + ",";
    text += std::to_string(p.nstk) + "," + std::to_string(p.ndip);
    for (const double value : {p.len, p.wid, p.stk, p.dip, p.dtop, p.shyp, p.dhyp}) {
      text.push_back(',');
      text += text::shortest(value + 0.0);  // no "-0"
    }
    text += "\n";
  }
  return text;
}

void write_planes(Sink& sink, const std::vector<srf::Plane>& planes) { sink.write(planes_text(planes)); }

long long points_in(const std::vector<srf::Plane>& planes) {
  long long count = 0;
  for (const srf::Plane& p : planes) count += static_cast<long long>(p.nstk) * p.ndip;
  return count;
}

}  // namespace slipvel
