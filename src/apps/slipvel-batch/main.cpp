// slipvel-batch: the slip-velocity function for one source given by options,
// or for every source of a table, written as the program's result files.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <new>
#include <optional>

#include <slipvel/moment.hpp>
#include <slipvel/text.hpp>
#include <thread>

#include "common/atomic_file.hpp"
#include "common/batch.hpp"
#include "common/input.hpp"
#include "common/options.hpp"
#include "common/srf.hpp"
#include "common/table.hpp"
#include "common/write_all.hpp"

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
  std::string srf, planes, srf_version = "1.0", srf_blocks = "per-plane";
  double rigidity = kDefaultRigidity;
  std::string moment_rate;
};

// An empty path names no file or folder: refused rather than taken as unset.
std::string empty_path_problem(const CLI::App& app, const Request& r) {
  using Path = std::pair<const char*, bool>;  // an option and whether its path is empty
  const Path paths[] = {{"--srf", r.srf.empty()},
                        {"-o", r.folder.empty()},
                        {"--table", r.table.empty()},
                        {"--planes", r.planes.empty()},
                        {"--moment-rate", r.moment_rate.empty()}};
  for (const auto& [option, empty] : paths) {
    if (app.count(option) > 0 && empty) return std::string(option) + ": an empty path names nothing to use";
  }
  return "";
}

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
                                    "(the table then needs lon,lat,dep,stk,dip,rake,area,tinit; vs,den for 2.0)")
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
  app.add_option("--srf-blocks", r.srf_blocks,
                 "POINTS blocks: per-plane (one per plane in a 2.0 file with several planes) or one (every point in "
                 "one block, as SW4 reads)")
      ->type_name("LAYOUT")
      ->transform(kSrfBlocks)
      ->capture_default_str()
      ->group("Output")
      ->needs(srf);
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
  app.add_flag("--quiet", r.quiet, "no progress line on a terminal")->group("Run");
}

void print_warning(const std::string& warning) {
  if (!warning.empty()) std::fprintf(stderr, "slipvel-batch: %s\n", warning.c_str());
}

// The planes of an SRF file, or the problems that keep them from being read.
std::vector<srf::Plane> read_planes_file(const Request& r, std::size_t points, srf::Version version, bool& failed) {
  if (r.planes.empty()) return {};
  std::string text, reason;
  if (!read_whole(r.planes, text, reason)) {
    std::fprintf(stderr, "slipvel-batch: %s: %s\n", r.planes.c_str(), reason.c_str());
    failed = true;
    return {};
  }
  PlanesTable planes = read_planes(text, version);
  if (planes.problems.empty() && points_in(planes.planes) != static_cast<long long>(points)) {
    planes.problems.push_back({0, std::to_string(points) + " points in " + r.table + ", the planes hold " +
                                      std::to_string(points_in(planes.planes)) + " (the sum of nstk*ndip)"});
  }
  print_problems(r.planes, planes.problems);
  failed = !planes.problems.empty();
  return planes.planes;
}

// A moment-rate function needs one time step: the first row whose dt differs
// from the first row's, or nothing.
std::optional<std::string> several_time_steps(const std::string& table, const std::vector<Source>& sources) {
  for (const Source& s : sources) {
    if (s.parameters.dt != sources.front().parameters.dt) {
      return "--moment-rate needs one dt for the whole table: " + table + ":" + std::to_string(sources.front().line) +
             " has dt = " + text::shortest(sources.front().parameters.dt) + ", " + table + ":" +
             std::to_string(s.line) + " has dt = " + text::shortest(s.parameters.dt);
    }
  }
  return std::nullopt;
}

// Values that keep every rule but are likely a mistake: one warning a kind.
void warn_about_implausible_values(const std::string& table, const std::vector<Source>& sources,
                                   const std::vector<srf::PointSource>& points, const RuptureMoment& moment) {
  Implausibles found("rows");
  for (std::size_t i = 0; i < points.size(); ++i) {
    for (const slipvel::Problem& p : srf::implausible_values(points[i].where)) {
      found.add(table + ":" + std::to_string(sources[i].line), p);
    }
  }
  if (const auto p = implausible_magnitude(moment_magnitude(moment.moment()))) found.add("", *p);
  for (const std::string& line : found.lines()) print_warning("warning: " + line);
}

// The SRF file and the moment-rate file, which take their names together once
// both are whole and the moment line is out.
int write_rupture(const Request& r, const Settings& settings, const std::vector<srf::PointSource>& points,
                  const std::vector<srf::Plane>& planes, const srf::Layout& layout, const RuptureMoment& moment) {
  const std::optional<FolderLock> lock = lock_folder_of(r.srf);
  StagedFiles files(settings.umask);
  write_srf(points, planes, layout, files.add(r.srf), settings);
  if (!r.moment_rate.empty()) {
    const double dt = points.empty() ? r.defaults.dt : points.front().parameters.dt;
    files.add(r.moment_rate).write(moment_rate_text(moment_rate(points, dt, r.rigidity), dt));
  }
  // "-": the file itself is on standard output
  print_checked(r.srf == "-" ? stderr : stdout, moment_line(moment));
  files.commit_all();
  return 0;
}

int run_table(const Request& r, const Settings& settings) {
  const std::string name = r.table == "-" ? "<stdin>" : r.table;
  std::string text, reason;
  if (!read_whole(r.table, text, reason)) {
    std::fprintf(stderr, "slipvel-batch: %s: %s\n", name.c_str(), reason.c_str());
    return kUsageOrInput;
  }
  const srf::Version version = r.srf_version == "2.0" ? srf::Version::k2 : srf::Version::k1;
  const bool srf_mode = !r.srf.empty();
  Table table = read_table(text, r.defaults, srf_mode ? point_columns(version) : std::vector<NumberColumn>{});
  if (srf_mode && !r.moment_rate.empty() && table.problems.empty()) {
    if (const auto problem = several_time_steps(name, table.sources)) {
      std::fprintf(stderr, "slipvel-batch: %s\n", problem->c_str());
      return kUsageOrInput;
    }
  }
  std::vector<srf::PointSource> points;
  std::vector<TableProblem> refused =
      srf_mode ? check_rupture(table.sources, version, r.jobs, points) : check_sources(table.sources, r.jobs);
  table.problems.insert(table.problems.end(), refused.begin(), refused.end());
  std::stable_sort(table.problems.begin(), table.problems.end(),
                   [](const TableProblem& a, const TableProblem& b) { return a.line < b.line; });
  print_problems(name, table.problems);
  bool planes_failed = false;
  const std::vector<srf::Plane> planes = table.problems.empty()
                                             ? read_planes_file(r, table.sources.size(), version, planes_failed)
                                             : std::vector<srf::Plane>{};
  if (!table.problems.empty() || planes_failed) return kUsageOrInput;
  if (!srf_mode) {
    print_warning(write_batch(table.sources, settings));
    return 0;
  }
  const RuptureMoment moment = seismic_moment(points, r.rigidity);
  check_moment(moment);
  warn_about_implausible_values(name, table.sources, points, moment);
  const srf::Layout layout{version, r.srf_blocks == "one" ? srf::Blocks::kOne : srf::Blocks::kPerPlane, true};
  return write_rupture(r, settings, points, planes, layout, moment);
}

}  // namespace

int main(int argc, char** argv) {
  // Under a file-size limit a write fails with EFBIG and is reported.
  std::signal(SIGXFSZ, SIG_IGN);
  remove_temporaries_on_signals();

  CLI::App app{
      "Writes the slip-velocity function of one source (given by the options) or of every source of a "
      "table, as Vek_Slip.csv and Vek_Amp.csv, or as <id>_slip.csv, <id>_amp.csv and summary.csv.",
      "slipvel-batch"};
  app.set_version_flag("--version", std::string("slipvel-batch ") + slipvel::version());
  Request r;
  add_options(app, r);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : kUsageOrInput;
  }
  if (const std::string problem = empty_path_problem(app, r); !problem.empty()) {
    std::fprintf(stderr, "slipvel-batch: %s\n", problem.c_str());
    return kUsageOrInput;
  }
  if (app.count("--ts") > 0) r.defaults.ts = r.ts;

  Settings settings;
  settings.folder = r.folder;
  settings.jobs = r.jobs;
  settings.progress = !r.quiet && ::isatty(STDERR_FILENO);
  settings.umask = read_umask();
  try {
    if (!(std::isfinite(r.rigidity) && r.rigidity > 0)) {
      std::fprintf(stderr, "--rigidity = %s: must be finite and greater than 0\n", text::shortest(r.rigidity).c_str());
      return kUsageOrInput;
    }
    if (!r.table.empty()) return run_table(r, settings);
    print_warning(write_single(r.defaults, settings));
    return 0;
  } catch (const ParameterError& e) {
    const std::string message = r.table.empty() ? zero_slip_note(r.defaults, e.what()) : e.what();
    std::fprintf(stderr, "%s\n", message.c_str());
    return kUsageOrInput;
  } catch (const std::bad_alloc&) {
    // Files finished before stay whole; the unfinished ones were removed.
    std::fprintf(stderr, "slipvel-batch: out of memory: fewer jobs (-j) or a smaller nt take less\n");
    return kWriteFailed;
  } catch (const WriteError& e) {
    std::fprintf(stderr, "slipvel-batch: %s\n", e.what());
    return kWriteFailed;
  }
}
