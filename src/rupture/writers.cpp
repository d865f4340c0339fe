// The files of a rupture: the SRF file, checked for its layout before a byte
// is written, the points and planes tables and the moment-rate file.
#include <algorithm>
#include <cstdio>
#include <map>
#include <tuple>

#include <slipvel/moment_rate.hpp>
#include <slipvel/planes.hpp>
#include <slipvel/points.hpp>
#include <slipvel/rupture.hpp>

#include "build_steps.hpp"
#include "csv.hpp"
#include "parallel.hpp"
#include "srf_fields.hpp"

namespace slipvel::rupture {
namespace {

using namespace slipvel::rupture::detail;

Named table_of(const Rupture& rupture, bool patch) {
  const TableNames& names = Access::names(rupture);
  return patch ? Named{names.patches, names.patches_rows} : Named{names.segments, names.segments_rows};
}

// SRF 2.0 writes vs and den for every point.
void check_vs_den(const Rupture& rupture, std::vector<Diagnostic>& said) {
  const Fault& fault = rupture.fault();
  if (!fault.medium.empty()) return;
  const Named segments = table_of(rupture, false);
  if (!rupture.has_medium_values()) {
    said.push_back(said_at(segments.at(), Severity::kError, "vs",
                           "SRF 2.0 writes vs and den for every point: the table needs vs and den columns (or a "
                           "medium)"));
    return;
  }
  for (const Segment& g : fault.segments) {
    if (g.vs > 0 && g.den > 0) continue;
    said.push_back(said_at(segments.at(g.line), Severity::kError, "vs",
                           "vs and den: SRF 2.0 writes them for every point, so every segment needs both"));
  }
}

// What follows from a region's source alone (slip1, nt1), once for the
// region, whether or not it holds a subfault's centre.
void check_regions(const Rupture& rupture, srf::Version version, std::vector<Diagnostic>& said) {
  for (const Access::RegionSource& region : Access::region_sources(rupture)) {
    try {
      srf::check_slip_fields(region.source, version);
    } catch (const ParameterError& e) {
      table::add_problems(said, table_of(rupture, region.patch).at(region.line), e.problems());
    }
  }
}

void check_planes(const Rupture& rupture, srf::Version version, std::vector<Diagnostic>& said) {
  const Named segments = table_of(rupture, false);
  for (std::size_t k = 0; k < rupture.planes().size(); ++k) {
    try {
      srf::check_plane(rupture.planes()[k], version);
    } catch (const ParameterError& e) {
      for (const Problem& p : e.problems()) {
        said.push_back(said_at(segments.at(rupture.fault().segments[k].line), Severity::kError, p.field,
                               "in the SRF PLANE block: " + p.text));
      }
    }
  }
}

// Each subfault's values against their fields, as problems of the regions'
// lines: each (region, field) once, naming the first subfault it hits and
// how many more of the region it hits.
void check_points(const Rupture& rupture, srf::Version version, int jobs, std::vector<Diagnostic>& said) {
  std::vector<std::pair<std::size_t, Problem>> found;
  const double dt = Access::sampling(rupture).dt;
  slipvel::detail::for_each_chunk_in_order<std::vector<std::pair<std::size_t, Problem>>>(
      rupture.size(), jobs,
      [&](slipvel::detail::ChunkRange range, std::vector<std::pair<std::size_t, Problem>>& chunk) {
        chunk.clear();
        for (std::size_t n = range.first; n < range.last; ++n) {
          try {
            srf::check_where(rupture.point(n), dt, version);
          } catch (const ParameterError& e) {
            for (const Problem& p : e.problems()) chunk.emplace_back(n, p);
          }
        }
      },
      [&](slipvel::detail::ChunkRange, const std::vector<std::pair<std::size_t, Problem>>& chunk) {
        found.insert(found.end(), chunk.begin(), chunk.end());
      });
  // (in a patch, region line, field) → the first subfault's problem and how many share it
  std::map<std::tuple<bool, int, std::string>, std::pair<std::size_t, std::size_t>> grouped;
  std::vector<std::tuple<bool, int, std::string>> order;
  for (std::size_t k = 0; k < found.size(); ++k) {
    const auto [line, in_patch] = Access::region_line(rupture, found[k].first);
    const auto key = std::make_tuple(in_patch, line, found[k].second.field);
    const auto [where, fresh] = grouped.try_emplace(key, k, 0);
    if (fresh) order.push_back(key);
    ++where->second.second;
  }
  for (const auto& key : order) {
    const auto& [in_patch, line, field] = key;
    const auto [first_problem, count] = grouped[key];
    const auto& [n, problem] = found[first_problem];
    const Subfault f = rupture.subfault(n);
    std::string text =
        "subfault " + rupture.id(n) + " (i = " + std::to_string(f.i) + ", j = " + std::to_string(f.j) + ")";
    if (count > 1) {
      text += " and " + std::to_string(count - 1) + (in_patch ? " more of this patch" : " more of this segment");
    }
    said.push_back(said_at(table_of(rupture, in_patch).at(line), Severity::kError, field, text + ": " + problem.text));
  }
}

// The segments table's problems before the patches table's, each in line order.
void in_table_order(const Rupture& rupture, std::vector<Diagnostic>& said) {
  const std::string& patches = Access::names(rupture).patches;
  const auto in_patches = [&](const Diagnostic& d) { return !patches.empty() && d.where.name == patches; };
  std::stable_sort(said.begin(), said.end(), [&](const Diagnostic& a, const Diagnostic& b) {
    return std::make_tuple(in_patches(a), a.where.line) < std::make_tuple(in_patches(b), b.where.line);
  });
}

srf::Points points_of(const Rupture& rupture) {
  return {rupture.size(), [&rupture](std::size_t n) { return rupture.point_source(n); }};
}

// What a reader of the file will get wrong: the POINTS blocks SW4 leaves
// out, and a 1.0 file's moment at a reader's default rigidity.
void warn_about_readers(const Rupture& rupture, const srf::Layout& layout, std::vector<Diagnostic>& said) {
  const OptionSpelling spelling = Access::names(rupture).spelling;
  const std::string sw4 = spelling == OptionSpelling::kCommandLine ? "--srf-for sw4" : "for_code=\"sw4\"";
  for (const Problem& p : srf::layout_warnings(layout.plane_block ? rupture.planes() : std::vector<srf::Plane>{},
                                               rupture.size(), layout, sw4)) {
    said.push_back(said_at({}, Severity::kWarning, p.field, p.text));
  }
  if (const auto p = srf::rigidity_warning(layout.version, rupture.moment().moment(),
                                           Access::moment_at_default_rigidity(rupture), spelt("rigidity", spelling))) {
    said.push_back(said_at({}, Severity::kWarning, p->field, p->text));
  }
}

// The problems of srf_fault_problems, in the order found.
void add_fault_problems(const Rupture& rupture, const srf::Layout& layout, std::vector<Diagnostic>& said) {
  warn_about_readers(rupture, layout, said);
  if (layout.version == srf::Version::k2) check_vs_den(rupture, said);
  check_regions(rupture, layout.version, said);
  if (layout.plane_block) check_planes(rupture, layout.version, said);
}

// The errors of srf_problems, for a write that found one.
[[noreturn]] void refuse_srf(const Rupture& rupture, const srf::Layout& layout, int jobs) {
  throw ParameterError(errors_of(srf_problems(rupture, layout, jobs)));
}

}  // namespace

std::vector<Diagnostic> srf_fault_problems(const Rupture& rupture, const srf::Layout& layout) {
  std::vector<Diagnostic> said;
  add_fault_problems(rupture, layout, said);
  in_table_order(rupture, said);  // a stable order: as srf_problems has them, less the subfaults'
  return said;
}

std::vector<Diagnostic> srf_problems(const Rupture& rupture, const srf::Layout& layout, int jobs) {
  std::vector<Diagnostic> said;
  add_fault_problems(rupture, layout, said);
  check_points(rupture, layout.version, jobs, said);
  in_table_order(rupture, said);
  return said;
}

// The subfaults' values are checked as their texts are made: a value that
// does not fit stops the writer, and the whole check then says every one.
void write_srf(const Rupture& rupture, const srf::Layout& layout, Sink& sink, const srf::WriteOptions& options) {
  if (has_errors(srf_fault_problems(rupture, layout))) refuse_srf(rupture, layout, options.jobs);
  try {
    srf::write_srf(sink, points_of(rupture), rupture.planes(), layout, options);
  } catch (const ParameterError&) {
    if (has_errors(srf_problems(rupture, layout, options.jobs))) refuse_srf(rupture, layout, options.jobs);
    throw;
  }
}

void write_points(const Rupture& rupture, Sink& sink, int jobs) {
  const auto row = [&rupture](std::size_t n) {
    const srf::PointSource point = rupture.point_source(n);
    return PointRow{0, rupture.id(n), point.where, point.parameters};
  };
  slipvel::write_points(sink, {rupture.size(), row, rupture.has_medium_values()}, jobs);
}

void write_planes(const Rupture& rupture, Sink& sink) { slipvel::write_planes(sink, rupture.planes()); }

std::vector<Diagnostic> errors_of(std::vector<Diagnostic> diagnostics) {
  std::erase_if(diagnostics, [](const Diagnostic& d) { return d.severity != Severity::kError; });
  return diagnostics;
}

std::vector<Diagnostic> moment_rate_problems(const Rupture& rupture) {
  try {
    check_moment_rate(rupture.moment().duration(), Access::sampling(rupture).dt);
  } catch (const ParameterError& e) {
    return e.diagnostics();
  }
  return {};
}

void write_moment_rate(const Rupture& rupture, Sink& sink, int jobs) {
  std::vector<Diagnostic> problems = moment_rate_problems(rupture);
  if (!problems.empty()) throw ParameterError(std::move(problems));
  const double dt = Access::sampling(rupture).dt;
  MomentRate rate(dt, rupture.moment().duration());
  slipvel::detail::for_each_chunk_in_order<std::vector<srf::PointSource>>(
      rupture.size(), jobs,
      [&](slipvel::detail::ChunkRange range, std::vector<srf::PointSource>& points) {
        points.clear();
        for (std::size_t n = range.first; n < range.last; ++n) points.push_back(Access::unplaced_source(rupture, n));
      },
      [&](slipvel::detail::ChunkRange, const std::vector<srf::PointSource>& points) {
        for (const srf::PointSource& point : points) rate.add(point, point_rigidity(point.where, rupture.rigidity()));
      });
  write_moment_rate(sink, rate.rows(), dt);
}

}  // namespace slipvel::rupture
