// slipvel-batch: the slip-velocity function for one source given by options,
// or for every source of a table, written as the program's result files or
// as one SRF file of a rupture.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <thread>

#include <slipvel/moment.hpp>
#include <slipvel/moment_rate.hpp>
#include <slipvel/planes.hpp>
#include <slipvel/points.hpp>
#include <slipvel/sources.hpp>
#include <slipvel/srf.hpp>
#include <slipvel/text.hpp>

#include "common/atomic_file.hpp"
#include "common/batch.hpp"
#include "common/input.hpp"
#include "common/outputs.hpp"
#include "common/program.hpp"
#include "common/progress.hpp"
#include "common/report.hpp"
#include "common/write_all.hpp"
#include "csv.hpp"
#include "implausibles.hpp"

namespace {

using namespace slipvel;
using namespace slipvel::apps;

struct Request {
  Parameters defaults;
  double ts = 0;
  std::string table;
  std::filesystem::path folder = ".";
  int jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  bool quiet = false;
  std::string srf, planes, srf_version = "1.0", srf_blocks = "per-plane", srf_for;
  double rigidity = kDefaultRigidity;
  std::string moment_rate;
};

void add_options(CLI::App& app, Request& r) {
  const auto source_option = [&app](const char* name, auto& value, const char* meaning, const char* unit,
                                    const CLI::Validator& number) {
    app.add_option(name, value, meaning)->transform(number)->type_name(unit)->capture_default_str()->group("Source");
  };
  source_option("--dt", r.defaults.dt, "time step (s)", "S", kDecimal);
  source_option("--nt", r.defaults.nt, "number of samples, a power of two", "N", kWhole);
  source_option("--fmax", r.defaults.fmax, "highest frequency (Hz); sets td = 1/(3.141592654*fmax)", "HZ", kDecimal);
  source_option("--vm", r.defaults.vm, "peak slip velocity (m/s)", "M/S", kDecimal);
  source_option("--slip", r.defaults.slip, "target final slip (m)", "M", kDecimal);
  source_option("--tr", r.defaults.tr, "rise time (s)", "S", kDecimal);
  app.add_option("--ts", r.ts, "stopping time (s) [default: 1.5 x tr]")
      ->transform(kDecimal)
      ->type_name("S")
      ->group("Source");
  CLI::Option* table =
      app.add_option("--table", r.table,
                     "CSV table of sources, one per row ('-': standard input); header: id and any of "
                     "dt,nt,fmax,vm,slip,tr,ts (missing columns and empty fields take the options' values)")
          ->type_name("FILE")
          ->group("Input");
  CLI::Option* output = app.add_option("-o,--output", r.folder, "folder for the result files, created if missing")
                            ->type_name("DIR")
                            ->capture_default_str()
                            ->group("Output");
  CLI::Option* srf = app.add_option("--srf", r.srf,
                                    "write the table's sources as one Standard Rupture Format file FILE instead "
                                    "('-': standard output; the table then needs lon,lat,dep,stk,dip,rake,area,"
                                    "tinit; vs,den for 2.0)")
                         ->type_name("FILE")
                         ->group("Output")
                         ->excludes(output)
                         ->needs(table);
  app.add_option("--planes", r.planes,
                 "CSV of fault segments for the SRF PLANE block: elon,elat,nstk,ndip,len,wid,stk,dip,dtop,shyp,"
                 "dhyp (several SRF readers require the PLANE block)")
      ->type_name("FILE")
      ->group("Output")
      ->needs(srf);
  app.add_option("--srf-version", r.srf_version, "SRF version, 1.0 (read by more codes) or 2.0")
      ->type_name("V")
      ->transform(kSrfVersion)
      ->capture_default_str()
      ->group("Output")
      ->needs(srf);
  auto* blocks = app.add_option("--srf-blocks", r.srf_blocks,
                                "POINTS blocks: per-plane (one per plane in a 2.0 file with several planes) or one "
                                "(every point in one block, as SW4 reads)")
                     ->type_name("LAYOUT")
                     ->transform(kSrfBlocks)
                     ->capture_default_str()
                     ->group("Output")
                     ->needs(srf);
  add_srf_for(app, r.srf_for, {blocks}, "; sw4 needs --planes (its PLANE block)")->needs(srf);
  app.add_option("--rigidity", r.rigidity, "with --srf: rigidity (Pa) for the moment of points without vs and den")
      ->transform(kDecimal)
      ->type_name("PA")
      ->capture_default_str()
      ->group("Output")
      ->needs(srf);
  app.add_option("--moment-rate", r.moment_rate,
                 "with --srf: write the rupture's moment-rate function to FILE (the table needs one dt)")
      ->type_name("FILE")
      ->group("Output")
      ->needs(srf);
  app.add_option("-j,--jobs", r.jobs, "sources computed at a time [default: the number of processors]")
      ->transform(kWhole)
      ->type_name("N")
      ->check(CLI::Range(1, 4096).description(""))
      ->group("Run");
  app.add_flag("--quiet", r.quiet, "no progress line on a terminal")->disable_flag_override()->group("Run");
}

std::vector<NamedPath> inputs(const Request& r) { return {{"--table", r.table}, {"--planes", r.planes}}; }

// An empty path names no file or folder: refused rather than taken as unset.
void refuse_empty_paths(const CLI::App& app, const Request& r) {
  const NamedPath paths[] = {{"--srf", r.srf},
                             {"-o", r.folder.string()},
                             {"--table", r.table},
                             {"--planes", r.planes},
                             {"--moment-rate", r.moment_rate}};
  for (const auto& [option, path] : paths) {
    if (app.count(option) > 0 && path.empty()) throw Refusal(option + ": an empty path names nothing to use");
  }
  // SW4 reads the PLANE block, which only --planes gives a table's points.
  if (r.srf_for == "sw4" && r.planes.empty()) {
    throw Refusal("--srf-for sw4 needs --planes: SW4 requires the PLANE block, and a points table has none");
  }
}

// The inputs and where the outputs go, checked before anything is computed.
void refuse_unusable_outputs(const Request& r, const std::vector<std::string>& names_in_folder) {
  std::vector<std::string> problems = input_problems(inputs(r));
  if (problems.empty() && r.srf.empty())
    problems = folder_problems({"-o", r.folder.string()}, names_in_folder, inputs(r));
  if (problems.empty() && !r.srf.empty()) {
    problems = output_problems({{"--srf", r.srf}, {"--moment-rate", r.moment_rate}}, inputs(r));
  }
  if (!problems.empty()) throw Refusal(problems);
}

// The files a batch writes into its folder.
std::vector<std::string> files_of(const std::vector<SourceRow>& sources) {
  std::vector<std::string> names{"summary.csv"};
  for (const SourceRow& s : sources) {
    names.push_back(s.id + "_slip.csv");
    names.push_back(s.id + "_amp.csv");
  }
  return names;
}

// The planes of an SRF file, read and checked against the points' count.
std::vector<srf::Plane> read_planes_file(const Request& r, std::size_t points, srf::Version version) {
  if (r.planes.empty()) return {};
  PlanesTable planes = read_planes(Table::text(shown_path(r.planes), read_input({"--planes", r.planes})), version);
  if (planes.problems.empty() && points_in(planes.planes) != static_cast<long long>(points)) {
    Diagnostic d;
    d.where = Where::table(shown_path(r.planes));
    d.field = "nstk";
    d.text = std::to_string(points) + " points in " + shown_path(r.table) + ", the planes hold " +
             std::to_string(points_in(planes.planes)) + " (the sum of nstk*ndip)";
    planes.problems.push_back(std::move(d));
  }
  stop_on_errors(planes.problems);
  return planes.planes;
}

// A moment-rate function needs one time step: refused, naming the first row
// whose dt differs from the first row's.
void refuse_several_time_steps(const std::string& table, const std::vector<PointRow>& rows) {
  for (const PointRow& row : rows) {
    if (row.parameters.dt != rows.front().parameters.dt) {
      throw Refusal("--moment-rate needs one dt for the whole table: " + table + ":" +
                    std::to_string(rows.front().line) + " has dt = " + text::shortest(rows.front().parameters.dt) +
                    ", " + table + ":" + std::to_string(row.line) + " has dt = " + text::shortest(row.parameters.dt));
    }
  }
}

// Values that keep every rule but are likely a mistake: one warning a kind.
void warn_about_implausible_values(const PointsTable& table, const std::vector<srf::PointSource>& points,
                                   const RuptureMoment& moment) {
  detail::Implausibles found("rows");
  for (std::size_t i = 0; i < points.size(); ++i) {
    for (const slipvel::Problem& p : srf::implausible_values(points[i].where)) {
      found.add(Where::table(table.name, table.points[i].line), "", p);
    }
  }
  if (const auto p = implausible_magnitude(moment_magnitude(moment.moment()))) found.add({}, "", *p);
  present(found.warnings());
}

// The moment a reader of an SRF 1.0 file sums, the default rigidity at every
// point: the file carries no vs and den.
double moment_at_default_rigidity(const std::vector<srf::PointSource>& points) {
  RuptureMoment moment;
  for (const srf::PointSource& point : points) moment.add(point, kDefaultRigidity);
  return moment.moment();
}

// The one time step of a table's points (the option's for an empty table).
double time_step(const Request& r, const std::vector<srf::PointSource>& points) {
  return points.empty() ? r.defaults.dt : points.front().parameters.dt;
}

// The SRF file and the moment-rate file, which take their names together once
// both are whole and the moment line is out (on standard error when a file
// goes to standard output).
void write_rupture(const Request& r, const Settings& settings, const std::vector<srf::PointSource>& points,
                   const std::vector<srf::Plane>& planes, const srf::Layout& layout, const RuptureMoment& moment) {
  const FolderLocks locks = lock_folders_of({r.srf, r.moment_rate});
  StagedFiles files(settings.umask);
  {
    Progress progress(points.size(), settings.progress);
    srf::WriteOptions options{settings.jobs, [&](std::size_t done) { progress.reach(done); }};
    srf::write_srf(files.add(r.srf), {points.size(), [&](std::size_t n) { return points[n]; }}, planes, layout,
                   options);
    progress.finish();
  }
  if (!r.moment_rate.empty()) {
    const double dt = time_step(r, points);
    write_moment_rate(files.add(r.moment_rate), moment_rate(points, dt, r.rigidity), dt);
  }
  const bool on_standard_output = is_standard_output(r.srf) || is_standard_output(r.moment_rate);
  print_checked(on_standard_output ? stderr : stdout, moment_line(moment));
  files.commit_all();
}

int run_srf(const Request& r, const Settings& settings, const PointsTable& table, srf::Version version) {
  if (!r.moment_rate.empty() && table.problems.empty() && !table.points.empty()) {
    refuse_several_time_steps(table.name, table.points);
  }
  const SrfPoints checked = srf_points(table, version, r.jobs);
  std::vector<Diagnostic> problems = table.problems;
  problems.insert(problems.end(), checked.problems.begin(), checked.problems.end());
  table::sort_by_line(problems);
  stop_on_errors(problems);
  const std::vector<srf::PointSource>& points = checked.points;
  const std::vector<srf::Plane> planes = read_planes_file(r, table.points.size(), version);
  const RuptureMoment moment = seismic_moment(points, r.rigidity);
  check_moment(moment);
  if (!r.moment_rate.empty()) check_moment_rate(moment.duration(), time_step(r, points));
  warn_about_implausible_values(table, points, moment);
  std::vector<SourceRow> sources;
  for (const PointRow& row : table.points) sources.push_back({row.line, row.id, row.parameters});
  if (const std::string warning = nyquist_warning(sources_above_nyquist(sources)); !warning.empty()) warn(warning);
  const srf::Layout layout =
      r.srf_for.empty() ? srf::Layout{version, r.srf_blocks == "one" ? srf::Blocks::kOne : srf::Blocks::kPerPlane, true}
                        : srf::layout_for(reader_of(r.srf_for), version);
  for (const slipvel::Problem& p : srf::layout_warnings(planes, points.size(), layout, "--srf-for sw4")) warn(p.text);
  if (const auto p =
          srf::rigidity_warning(version, moment.moment(), moment_at_default_rigidity(points), "--rigidity")) {
    warn(p->text);
  }
  write_rupture(r, settings, points, planes, layout, moment);
  return kDone;
}

int run_table(const Request& r, const Settings& settings) {
  const srf::Version version = r.srf_version == "2.0" ? srf::Version::k2 : srf::Version::k1;
  const Table input = Table::text(shown_path(r.table), read_input({"--table", r.table}));
  if (!r.srf.empty()) return run_srf(r, settings, read_points(input, r.defaults, version), version);
  const SourcesTable table = read_sources(input, r.defaults);
  if (table.problems.empty()) refuse_unusable_outputs(r, files_of(table.sources));
  std::vector<Diagnostic> problems = table.problems;
  for (Diagnostic& d : check_sources(table, input.name, r.jobs)) problems.push_back(std::move(d));
  table::sort_by_line(problems);
  stop_on_errors(problems);
  for (const std::string& warning : write_batch(table.sources, settings)) warn(warning);
  return kDone;
}

int run(const CLI::App& app, Request& r) {
  refuse_empty_paths(app, r);
  if (app.count("--ts") > 0) r.defaults.ts = r.ts;
  if (!(std::isfinite(r.rigidity) && r.rigidity > 0)) {
    throw Refusal("--rigidity = " + text::shortest(r.rigidity) + ": must be finite and greater than 0 Pa");
  }
  refuse_unusable_outputs(r, {});  // before reading anything; the files of a table's ids once it is read
  Settings settings;
  settings.folder = r.folder;
  settings.jobs = r.jobs;
  settings.progress = !r.quiet && ::isatty(STDERR_FILENO);
  settings.umask = read_umask();
  if (!r.table.empty()) return run_table(r, settings);
  refuse_unusable_outputs(r, {"Vek_Slip.csv", "Vek_Amp.csv"});
  try {
    for (const std::string& warning : write_single(r.defaults, settings)) warn(warning);
  } catch (const ParameterError& e) {
    throw ParameterError(with_zero_slip_note(r.defaults, e.problems()));
  }
  return kDone;
}

}  // namespace

int main(int argc, char** argv) {
  Program program("slipvel-batch",
                  "Writes the slip-velocity function of one source (given by the options) or of every source of a "
                  "table, as Vek_Slip.csv and Vek_Amp.csv, or as <id>_slip.csv, <id>_amp.csv and summary.csv; or "
                  "the table's sources as one SRF file.");
  Request r;
  add_options(program.app(), r);
  return program.run(argc, argv, [&] { return run(program.app(), r); });
}
