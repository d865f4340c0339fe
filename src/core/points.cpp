#include <slipvel/points.hpp>

#include <array>
#include <bit>
#include <cstdint>
#include <limits>
#include <map>
#include <variant>

#include <slipvel/moment.hpp>
#include <slipvel/text.hpp>

#include "csv.hpp"
#include "parallel.hpp"
#include "source_rows.hpp"
#include "srf_fields.hpp"

namespace slipvel {
namespace {

using table::NumberColumn;

constexpr double kOpen = std::numeric_limits<double>::infinity();

enum PointColumn { kLon, kLat, kDep, kStk, kDip, kRake, kArea, kTinit, kVs, kDen };

// The point columns, in this order among a row's extra values: vs and den
// are required for version 2.0, which writes them; 1.0 takes them when given
// (for the moment's rigidity) but does not write them.
std::vector<NumberColumn> point_columns(srf::Version version) {
  const bool v2 = version == srf::Version::k2;
  return {
      {"lon", "degrees", -180, 360, false},  {"lat", "degrees", -90, 90, false}, {"dep", "km", 0, kOpen, false},
      {"stk", "degrees", 0, 360, false},     {"dip", "degrees", 0, 90, false},   {"rake", "degrees", -180, 360, false},
      {"area", "m^2", 0, kOpen, true},       {"tinit", "s", 0, kOpen, false},    {"vs", "m/s", 0, kOpen, true, v2},
      {"den", "kg/m^3", 0, kOpen, true, v2},
  };
}

srf::Point point_of(const std::vector<double>& x) {
  return {x[kLon], x[kLat], x[kDep], x[kStk], x[kDip], x[kRake], x[kArea], x[kTinit], x[kVs], x[kDen]};
}

// The parameters' bits, which identify a source.
using SourceKey = std::array<std::uint64_t, 7>;
SourceKey key_of(const Parameters& p) {
  const auto bits = [](double v) { return std::bit_cast<std::uint64_t>(v); };
  return {bits(p.dt),
          static_cast<std::uint64_t>(p.nt),
          bits(p.fmax),
          bits(p.vm),
          bits(p.slip),
          bits(p.tr),
          bits(stopping_time(p))};
}

// A source's onset search, or the library's refusal of it.
struct Searched {
  srf::PointSource point;
  std::vector<Problem> refusal;
};

// Each distinct source searched once, on every job: the points of a rupture
// mostly share the source of their region. `which[i]` is the entry of row i.
std::vector<Searched> search_each_source_once(const std::vector<PointRow>& rows, int jobs,
                                              std::vector<std::size_t>& which) {
  std::map<SourceKey, std::size_t> seen;
  std::vector<const PointRow*> distinct;
  which.resize(rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const auto [at, fresh] = seen.try_emplace(key_of(rows[i].parameters), distinct.size());
    if (fresh) distinct.push_back(&rows[i]);
    which[i] = at->second;
  }
  std::vector<Searched> searched(distinct.size());
  detail::for_each_index(distinct.size(), jobs, [&](std::size_t d) {
    try {
      searched[d].point = srf::point_source({}, distinct[d]->parameters);
    } catch (const ParameterError& e) {
      searched[d].refusal = e.problems();
    }
  });
  return searched;
}

// The point of a row, or every problem it has: its source, its values
// against their fields, its rigidity.
std::vector<Problem> check_point(const PointRow& row, const Searched& searched, srf::Version version,
                                 srf::PointSource& point) {
  point = searched.point;
  point.where = row.where;
  std::vector<Problem> problems = searched.refusal;
  const auto note = [&](const auto& check) {
    try {
      check();
    } catch (const ParameterError& e) {
      problems.insert(problems.end(), e.problems().begin(), e.problems().end());
    }
  };
  note([&] { srf::check_point(point, version); });
  if (row.where.vs > 0 && row.where.den > 0) note([&] { check_rigidity(row.where.vs, row.where.den); });
  return problems;
}

// The row of one point: its values in their shortest round-trip texts.
void append_row(std::string& rows, const PointRow& row, bool rigidity) {
  const auto put = [&](double value) { rows.append(text::shortest(value + 0.0)).push_back(','); };  // no "-0"
  const srf::Point& x = row.where;
  const Parameters& p = row.parameters;
  rows.append(row.id).push_back(',');
  for (const double value : {x.lon, x.lat, x.dep, x.stk, x.dip, x.rake, x.area, x.tinit, p.dt}) put(value);
  rows.append(std::to_string(p.nt)).push_back(',');
  for (const double value : {p.fmax, p.vm, p.slip, p.tr, stopping_time(p)}) put(value);
  rows.pop_back();
  if (rigidity) {
    rows.push_back(',');
    if (x.vs > 0) rows.append(text::shortest(x.vs)).append(",").append(text::shortest(x.den));
    if (!(x.vs > 0)) rows.push_back(',');
  }
  rows.push_back('\n');
}

}  // namespace

PointsTable read_points(const Table& table, const Parameters& defaults, srf::Version version) {
  detail::SourceRows read = detail::read_source_rows(table, defaults, point_columns(version));
  PointsTable points{{}, std::move(read.problems), table.name, std::holds_alternative<Columns>(table.content)};
  for (std::size_t i = 0; i < read.rows.size(); ++i) {
    SourceRow& row = read.rows[i];
    points.points.push_back({row.line, std::move(row.id), point_of(read.extra[i]), row.parameters});
  }
  return points;
}

SrfPoints srf_points(const PointsTable& table, srf::Version version, int jobs) {
  std::vector<std::size_t> which;
  const std::vector<Searched> searched = search_each_source_once(table.points, jobs, which);
  SrfPoints made;
  made.points.assign(table.points.size(), {});
  std::vector<std::vector<Problem>> refusals(table.points.size());
  detail::for_each_index(table.points.size(), jobs, [&](std::size_t i) {
    refusals[i] = check_point(table.points[i], searched[which[i]], version, made.points[i]);
  });
  for (std::size_t i = 0; i < table.points.size(); ++i) {
    // The rows' places are the table's: a row of columns, or a line.
    for (const Problem& p : refusals[i]) {
      Diagnostic d;
      d.where = Where::table(table.name, table.points[i].line, table.from_columns);
      d.field = p.field;
      d.text = p.text;
      made.problems.push_back(std::move(d));
    }
  }
  if (!made.problems.empty()) made.points.clear();
  return made;
}

void write_points(Sink& sink, const PointRows& rows, int jobs) {
  sink.write(rows.rigidity ? "id,lon,lat,dep,stk,dip,rake,area,tinit,dt,nt,fmax,vm,slip,tr,ts,vs,den\n"
                           : "id,lon,lat,dep,stk,dip,rake,area,tinit,dt,nt,fmax,vm,slip,tr,ts\n");
  detail::for_each_chunk_in_order<std::string>(
      rows.count, jobs,
      [&](detail::ChunkRange range, std::string& text) {
        text.clear();
        for (std::size_t n = range.first; n < range.last; ++n) append_row(text, rows.at(n), rows.rigidity);
      },
      [&](detail::ChunkRange, const std::string& text) { sink.write(text); });
}

}  // namespace slipvel
