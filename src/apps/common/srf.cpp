#include "common/srf.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <thread>

#include "common/atomic_file.hpp"
#include "common/parallel.hpp"
#include "common/progress.hpp"

#include <slipvel/text.hpp>

namespace slipvel::apps {
namespace {

constexpr double kOpen = std::numeric_limits<double>::infinity();

enum PointColumn { kLon, kLat, kDep, kStk, kDip, kRake, kArea, kTinit, kVs, kDen };

const std::array<NumberColumn, 11> kPlaneColumns = {{
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

std::vector<NumberColumn> point_columns(srf::Version version) {
  const bool v2 = version == srf::Version::k2;
  return {
      {"lon", "degrees", -180, 360, false},  {"lat", "degrees", -90, 90, false}, {"dep", "km", 0, kOpen, false},
      {"stk", "degrees", 0, 360, false},     {"dip", "degrees", 0, 90, false},   {"rake", "degrees", -180, 360, false},
      {"area", "m^2", 0, kOpen, true},       {"tinit", "s", 0, kOpen, false},    {"vs", "m/s", 0, kOpen, true, v2},
      {"den", "kg/m^3", 0, kOpen, true, v2},
  };
}

PlanesTable read_planes(std::string_view text, srf::Version version) {
  std::vector<table::Column> columns;
  for (const NumberColumn& c : kPlaneColumns) columns.push_back({c.name, true});
  const table::Csv csv = table::read_csv(text, columns);
  PlanesTable table{{}, csv.problems};
  for (const table::Row& row : csv.rows) {
    std::array<double, kPlaneColumns.size()> values{};
    bool ok = true;
    for (std::size_t c = 0; c < kPlaneColumns.size(); ++c) {
      if (auto problem = table::read_field(kPlaneColumns[c], row.fields[*csv.position[c]], values[c])) {
        table.problems.push_back({row.line, problem->field, std::move(problem->text)});
        ok = false;
      }
    }
    if (!ok) continue;
    table.planes.push_back(plane_of(values));
    try {
      srf::check_plane(table.planes.back(), version);
    } catch (const ParameterError& e) {
      table::add_problems(table.problems, row.line, e.problems());
    }
  }
  table::sort_by_line(table.problems);
  return table;
}

srf::Point point_of(const Source& source) {
  const std::vector<double>& x = source.extra;
  return {x[kLon], x[kLat], x[kDep], x[kStk], x[kDip], x[kRake], x[kArea], x[kTinit], x[kVs], x[kDen]};
}

long long points_in(const std::vector<srf::Plane>& planes) {
  long long count = 0;
  for (const srf::Plane& p : planes) count += static_cast<long long>(p.nstk) * p.ndip;
  return count;
}

namespace {

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
  std::vector<slipvel::Problem> refusal;
};

// Each distinct source searched once, on every job: the points of a rupture
// mostly share the source of their region. `which[i]` is the entry of source i.
std::vector<Searched> search_each_source_once(const std::vector<Source>& sources, int jobs,
                                              std::vector<std::size_t>& which) {
  std::map<SourceKey, std::size_t> seen;
  std::vector<const Source*> distinct;
  which.resize(sources.size());
  for (std::size_t i = 0; i < sources.size(); ++i) {
    const auto [at, fresh] = seen.try_emplace(key_of(sources[i].parameters), distinct.size());
    if (fresh) distinct.push_back(&sources[i]);
    which[i] = at->second;
  }
  std::vector<Searched> searched(distinct.size());
  for_each_index(distinct.size(), jobs, [&](std::size_t d) {
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
srf::PointSource checked_point(const Source& source, const Searched& searched, srf::Version version) {
  const srf::Point where = point_of(source);
  srf::PointSource point = searched.point;
  point.where = where;
  std::vector<slipvel::Problem> problems = searched.refusal;
  const auto note = [&](const auto& check) {
    try {
      check();
    } catch (const ParameterError& e) {
      problems.insert(problems.end(), e.problems().begin(), e.problems().end());
    }
  };
  note([&] { srf::check_point(point, version); });
  if (where.vs > 0 && where.den > 0) note([&] { check_rigidity(where.vs, where.den); });
  if (!problems.empty()) throw ParameterError(std::move(problems));
  return point;
}

}  // namespace

std::vector<TableProblem> check_rupture(const std::vector<Source>& sources, srf::Version version, int jobs,
                                        std::vector<srf::PointSource>& points) {
  std::vector<std::size_t> which;
  const std::vector<Searched> searched = search_each_source_once(sources, jobs, which);
  points.assign(sources.size(), {});
  std::vector<std::vector<slipvel::Problem>> refusals(sources.size());
  for_each_index(sources.size(), jobs, [&](std::size_t i) {
    try {
      points[i] = checked_point(sources[i], searched[which[i]], version);
    } catch (const ParameterError& e) {
      refusals[i] = e.problems();
    }
  });
  std::vector<TableProblem> problems;
  for (std::size_t i = 0; i < sources.size(); ++i) table::add_problems(problems, sources[i].line, refusals[i]);
  if (!problems.empty()) points.clear();
  return problems;
}

namespace {

// The text of one point, made by a job and written later. Its buffer is kept
// for the point at the same place of a later chunk: freeing and taking fresh
// memory for every point cost more system time than writing the file.
struct PointText {
  std::unique_ptr<char[]> bytes;
  std::size_t size = 0, capacity = 0;

  char* room(std::size_t needed) {
    if (capacity < needed) {
      bytes = std::make_unique_for_overwrite<char[]>(needed);
      capacity = needed;
    }
    return bytes.get();
  }
};

}  // namespace

PointSources points_of(const std::vector<srf::PointSource>& points) {
  return {points.size(), [&points](std::size_t n) { return points[n]; }};
}

void for_each_point(const PointSources& points, int jobs,
                    const std::function<void(std::size_t, const srf::PointSource&)>& use) {
  constexpr std::size_t kChunk = 4096;
  std::vector<srf::PointSource> chunk;
  for (std::size_t first = 0; first < points.count; first += kChunk) {
    chunk.resize(std::min(kChunk, points.count - first));
    for_each_index(chunk.size(), jobs, [&](std::size_t i) { chunk[i] = points.at(first + i); });
    for (std::size_t i = 0; i < chunk.size(); ++i) use(first + i, chunk[i]);
  }
}

void write_srf(const PointSources& points, const std::vector<srf::Plane>& planes, const srf::Layout& layout,
               AtomicFile& file, const Settings& settings) {
  // Where each POINTS block starts, in point order.
  std::vector<std::size_t> block_starts;
  for (std::size_t start = 0; const std::size_t size : srf::block_sizes(planes, points.count, layout)) {
    block_starts.push_back(start);
    start += size;
  }
  file.write(srf::head_text(planes, layout));
  Progress progress(points.count, settings.progress);

  // The points are made a chunk at a time on every job; while one chunk is
  // made, the one before is written, in table order, by a thread of its own,
  // in one gathered write: a write per point cost more system time than the
  // bytes themselves, and copying them into one buffer first cost a tenth of
  // the work of making them.
  constexpr std::size_t kChunk = 256;
  std::size_t block = 0;
  std::vector<std::string> block_lines;
  std::vector<std::string_view> pieces;
  const auto write_chunk = [&](std::size_t first, const std::vector<PointText>& texts) {
    block_lines.clear();
    block_lines.reserve(block_starts.size());  // the pieces point into them: never moved
    pieces.clear();
    for (std::size_t i = 0; i < texts.size(); ++i) {
      const std::size_t point = first + i;
      if (block < block_starts.size() && point == block_starts[block]) {
        const std::size_t end = block + 1 < block_starts.size() ? block_starts[block + 1] : points.count;
        pieces.push_back(block_lines.emplace_back(srf::points_line(end - point)));
        ++block;
      }
      pieces.emplace_back(texts[i].bytes.get(), texts[i].size);
    }
    file.write(std::span<const std::string_view>(pieces));
  };
  const auto make_chunk = [&](std::size_t first, std::vector<PointText>& texts) {
    texts.resize(std::min(kChunk, points.count - first));
    for_each_index(texts.size(), settings.jobs, [&](std::size_t i) {
      const srf::PointSource point = points.at(first + i);
      // Written straight into its buffer: nothing cleared first, nothing copied.
      char* const text = texts[i].room(srf::point_text_capacity(point));
      texts[i].size = static_cast<std::size_t>(srf::put_point_text(text, point, layout.version) - text);
      progress.advance();
    });
  };

  std::vector<PointText> made, writing;
  if (points.count > 0) make_chunk(0, made);
  for (std::size_t first = 0; first < points.count; first += kChunk) {
    std::swap(made, writing);
    std::exception_ptr write_error;
    {
      std::jthread writer([&] {
        try {
          write_chunk(first, writing);
        } catch (...) {
          write_error = std::current_exception();
        }
      });
      if (first + kChunk < points.count) make_chunk(first + kChunk, made);
    }
    if (write_error) std::rethrow_exception(write_error);
  }
  if (points.count == 0) file.write(srf::points_line(0));
  progress.finish();
}

std::string moment_line(const RuptureMoment& m) {
  const std::string mw = m.moment() > 0 ? text::shortest(moment_magnitude(m.moment())) : "-";
  return "points=" + std::to_string(m.points()) + " area_m2=" + text::shortest(m.area()) +
         " M0_Nm=" + text::shortest(m.moment()) + " Mw=" + mw + " duration_s=" + text::shortest(m.duration()) + "\n";
}

void Implausibles::add(const std::string& place, const slipvel::Problem& problem) {
  const auto kind = std::find_if(kinds_.begin(), kinds_.end(), [&](const Kind& k) { return k.field == problem.field; });
  if (kind == kinds_.end()) {
    kinds_.push_back({problem.field, place.empty() ? problem.text : place + ": " + problem.text});
  } else {
    ++kind->more;
  }
}

std::vector<std::string> Implausibles::lines() const {
  std::vector<std::string> lines;
  for (const Kind& k : kinds_) {
    lines.push_back(k.more == 0 ? k.first : k.first + " (and " + std::to_string(k.more) + " more " + what_ + ")");
  }
  return lines;
}

}  // namespace slipvel::apps
