#include "common/srf.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <limits>
#include <memory>
#include <optional>
#include <thread>

#include "common/atomic_file.hpp"
#include "common/parallel.hpp"
#include "common/progress.hpp"

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
  std::vector<CsvColumn> columns;
  for (const NumberColumn& c : kPlaneColumns) columns.push_back({c.name, true});
  const CsvTable csv = read_csv(text, columns);
  PlanesTable table{{}, csv.problems};
  for (const CsvRow& row : csv.rows) {
    std::array<double, kPlaneColumns.size()> values{};
    bool ok = true;
    for (std::size_t c = 0; c < kPlaneColumns.size(); ++c) {
      if (auto problem = read_field(kPlaneColumns[c], row.fields[*csv.position[c]], values[c])) {
        table.problems.push_back({row.line, std::move(*problem)});
        ok = false;
      }
    }
    if (!ok) continue;
    table.planes.push_back(plane_of(values));
    try {
      srf::check_plane(table.planes.back(), version);
    } catch (const ParameterError& e) {
      add_problems(table.problems, row.line, e.what());
    }
  }
  std::stable_sort(table.problems.begin(), table.problems.end(),
                   [](const Problem& a, const Problem& b) { return a.line < b.line; });
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

// The library's problems with a source of slip 0 other than its slip: a point
// that does not slip is written without samples, but its other values must
// still make a source.
void check_without_slip(const Parameters& parameters) {
  try {
    check_parameters(parameters);
  } catch (const ParameterError& e) {
    std::vector<Problem> others;
    add_problems(others, 0, e.what());
    std::erase_if(others, [](const Problem& p) { return p.what.starts_with("slip = "); });
    std::string message;
    for (const Problem& p : others) message += (message.empty() ? "" : "\n") + p.what;
    if (!message.empty()) throw ParameterError(message);
  }
}

// The count of samples a slipping point's history has at most: through the
// interval that holds ts, and one zero.
std::size_t samples_at_most(const Parameters& p) { return static_cast<std::size_t>(stopping_time(p) / p.dt) + 3; }

RupturePoint checked_point(const Source& source, srf::Version version) {
  RupturePoint point{point_of(source), source.parameters};
  srf::check_point(point.where, version);
  if (point.where.vs > 0 && point.where.den > 0) {
    if (auto problem = rigidity_problem(point.where.vs, point.where.den)) throw ParameterError(*problem);
  }
  if (source.parameters.slip == 0) {
    check_without_slip(source.parameters);
    return point;
  }
  point.slips = true;
  point.shape = find_shape(source.parameters);
  point.slip = slip_until(point.shape, source.parameters, stopping_time(source.parameters));
  srf::check_slip_rate(point.slip * 100, std::min<std::size_t>(samples_at_most(source.parameters), 1000000), version);
  return point;
}

}  // namespace

std::vector<Problem> check_rupture(const std::vector<Source>& sources, srf::Version version, int jobs,
                                   std::vector<RupturePoint>& points) {
  points.assign(sources.size(), {});
  std::vector<std::string> refusals(sources.size());
  for_each_index(sources.size(), jobs, [&](std::size_t i) {
    try {
      points[i] = checked_point(sources[i], version);
    } catch (const ParameterError& e) {
      refusals[i] = e.what();
    }
  });
  std::vector<Problem> problems;
  for (std::size_t i = 0; i < sources.size(); ++i) add_problems(problems, sources[i].line, refusals[i]);
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

void write_srf(const std::vector<RupturePoint>& points, const std::vector<srf::Plane>& planes, srf::Version version,
               AtomicFile& file, const Settings& settings) {
  // Segment boundaries: version 2.0 with planes starts a POINTS block at each.
  std::vector<std::size_t> block_starts{0};
  if (version == srf::Version::k2) {
    for (std::size_t i = 0, start = 0; i + 1 < planes.size(); ++i) {
      start += static_cast<std::size_t>(planes[i].nstk) * static_cast<std::size_t>(planes[i].ndip);
      block_starts.push_back(start);
    }
  }
  file.write(srf::head_text(planes, version));
  Progress progress(points.size(), settings.progress);

  // The points are made a chunk at a time on every job; while one chunk is
  // made, the one before is written, in table order, by a thread of its own.
  constexpr std::size_t kChunk = 256;
  std::size_t block = 0;
  // The points' texts go out a megabyte at a time: a write per point cost
  // more system time than the bytes themselves.
  constexpr std::size_t kWriteSize = std::size_t{1} << 20;
  std::string pending;
  pending.reserve(kWriteSize);
  const auto write_chunk = [&](std::size_t first, const std::vector<PointText>& texts) {
    for (std::size_t i = 0; i < texts.size(); ++i) {
      const std::size_t point = first + i;
      if (block < block_starts.size() && point == block_starts[block]) {
        const std::size_t end = block + 1 < block_starts.size() ? block_starts[block + 1] : points.size();
        pending += srf::points_line(end - point);
        ++block;
      }
      pending.append(texts[i].bytes.get(), texts[i].size);
      if (pending.size() >= kWriteSize) {
        file.write(pending);
        pending.clear();
      }
    }
  };
  const auto make_chunk = [&](std::size_t first, std::vector<PointText>& texts) {
    texts.resize(std::min(kChunk, points.size() - first));
    for_each_index(texts.size(), settings.jobs, [&](std::size_t i) {
      const RupturePoint& point = points[first + i];
      const srf::SlipRate rate =
          point.slips ? srf::slip_rate(point.shape, point.parameters) : srf::no_slip(point.parameters.dt);
      // Written straight into its buffer: nothing cleared first, nothing copied.
      char* const text = texts[i].room(srf::point_text_capacity(rate));
      texts[i].size = static_cast<std::size_t>(srf::put_point_text(text, point.where, rate, version) - text);
      progress.advance();
    });
  };

  std::vector<PointText> made, writing;
  if (!points.empty()) make_chunk(0, made);
  for (std::size_t first = 0; first < points.size(); first += kChunk) {
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
      if (first + kChunk < points.size()) make_chunk(first + kChunk, made);
    }
    if (write_error) std::rethrow_exception(write_error);
  }
  if (points.empty()) pending += srf::points_line(0);
  file.write(pending);
  progress.finish();
}

}  // namespace slipvel::apps
