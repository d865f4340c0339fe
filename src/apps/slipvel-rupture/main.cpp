// slipvel-rupture: a kinematic rupture from a fault description (segments,
// patches of larger slip, a hypocentre and a rupture velocity), written as an
// SRF file and as the points and planes tables slipvel-batch reads.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <new>
#include <optional>
#include <thread>
#include <variant>

#include <slipvel/moment.hpp>
#include <slipvel/text.hpp>

#include "common/atomic_file.hpp"
#include "common/batch.hpp"
#include "common/input.hpp"
#include "common/options.hpp"
#include "common/srf.hpp"
#include "common/write_all.hpp"
#include "fault.hpp"
#include "rupture.hpp"

namespace {

using namespace slipvel;
using namespace slipvel::apps;

constexpr const char* kName = "slipvel-rupture";

struct Request {
  std::string segments, patches, hypocentre;
  double vr = 0;
  Parameters sampling;  // dt, nt and fmax of every subfault
  double rigidity = kDefaultRigidity;
  std::string srf, srf_version = "1.0", srf_blocks = "per-plane", points, planes, moment_rate;
  bool srf_no_plane = false;
  int jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  bool quiet = false;
};

void add_options(CLI::App& app, Request& r) {
  app.add_option("--segments", r.segments,
                 "CSV of fault segments in order along strike: elon,elat,stk,dip,len,wid,dtop,nstk,ndip,rake,slip,vm,"
                 "tr and optional ts,vs,den")
      ->required()
      ->type_name("FILE")
      ->group("Fault");
  app.add_option("--patches", r.patches,
                 "CSV of patches (asperities): segment,s0,s1,d0,d1,slip,vm,tr and optional ts,rake")
      ->type_name("FILE")
      ->group("Fault");
  app.add_option("--hypocentre", r.hypocentre,
                 "where the rupture starts: segment number (from 1), s along strike from its centre (km), d down "
                 "dip from its top edge (km)")
      ->required()
      ->type_name("SEG:S:D")
      ->group("Fault");
  app.add_option("--vr", r.vr, "rupture velocity (km/s)")
      ->required()
      ->transform(kDecimal)
      ->type_name("KM/S")
      ->group("Fault");
  const auto sampling = [&app](const char* name, auto& value, const char* meaning, const char* unit,
                               const CLI::Validator& number) {
    app.add_option(name, value, meaning)->transform(number)->type_name(unit)->capture_default_str()->group("Sampling");
  };
  sampling("--dt", r.sampling.dt, "time step of the slip-rate samples (s)", "S", kDecimal);
  sampling("--nt", r.sampling.nt, "number of samples, a power of two: (nt-1)*dt must reach every ts", "N", kWhole);
  sampling("--fmax", r.sampling.fmax, "highest frequency (Hz); sets td = 1/(3.141592654*fmax)", "HZ", kDecimal);
  app.add_option("--srf", r.srf, "write the rupture as a Standard Rupture Format file ('-': standard output)")
      ->type_name("FILE")
      ->group("Output");
  app.add_option("--srf-version", r.srf_version, "SRF version, 1.0 (read by more codes) or 2.0 (needs vs, den)")
      ->type_name("V")
      ->transform(kSrfVersion)
      ->capture_default_str()
      ->group("Output");
  app.add_option("--srf-blocks", r.srf_blocks,
                 "POINTS blocks: per-plane (one per segment in a 2.0 file with several segments) or one (every "
                 "point in one block, as SW4 reads)")
      ->type_name("LAYOUT")
      ->transform(kSrfBlocks)
      ->capture_default_str()
      ->group("Output");
  app.add_flag("--srf-no-plane", r.srf_no_plane,
               "write no PLANE block, only the points (as SeisSol's SRF converter reads)")
      ->disable_flag_override()
      ->group("Output");
  app.add_option("--points", r.points, "write the points table slipvel-batch --table FILE --srf reads")
      ->type_name("FILE")
      ->group("Output");
  app.add_option("--planes", r.planes, "write the planes table slipvel-batch --planes reads")
      ->type_name("FILE")
      ->group("Output");
  app.add_option("--moment-rate", r.moment_rate, "write the rupture's moment-rate function")
      ->type_name("FILE")
      ->group("Output");
  app.add_option("--rigidity", r.rigidity, "rigidity (Pa) for the moment of segments without vs and den")
      ->transform(kDecimal)
      ->type_name("PA")
      ->capture_default_str()
      ->group("Output");
  app.add_option("-j,--jobs", r.jobs, "subfaults computed at a time [default: the number of processors]")
      ->transform(kWhole)
      ->type_name("N")
      ->check(CLI::Range(1, 4096).description(""))
      ->group("Run");
  app.add_flag("--quiet", r.quiet, "no progress line on a terminal")->group("Run");
}

// Each option that names a file, and its path.
std::vector<std::pair<const char*, const std::string*>> inputs(const Request& r) {
  return {{"--segments", &r.segments}, {"--patches", &r.patches}};
}
std::vector<std::pair<const char*, const std::string*>> outputs(const Request& r) {
  return {{"--srf", &r.srf}, {"--points", &r.points}, {"--planes", &r.planes}, {"--moment-rate", &r.moment_rate}};
}

// The same file by two names: a symbolic link, "./x" and "x", "-" and /dev/stdout.
bool same_file(const std::string& a, const std::string& b) {
  if (a == b) return true;
  std::error_code ignored;
  const auto resolved = [&](const std::string& path) {
    const std::string named = path == "-" ? "/dev/stdout" : path;
    return std::filesystem::weakly_canonical(std::filesystem::absolute(named, ignored), ignored);
  };
  return resolved(a) == resolved(b);
}

// Why `path` cannot be written, found before anything is: so that a later
// output's mistake does not leave the earlier ones written. "" if none.
std::string unwritable(const char* option, const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code ignored;
  if (path == "-" || fs::is_character_file(path, ignored) || fs::is_fifo(path, ignored)) return "";
  const std::string given = std::string(option) + " " + path;
  if (fs::is_directory(path, ignored)) return given + ": is a folder, not a file";
  const fs::path folder = fs::absolute(path, ignored).parent_path();
  if (!fs::is_directory(folder, ignored)) return given + ": no folder " + folder.string();
  if (::access(folder.c_str(), W_OK | X_OK) != 0) return given + ": the folder " + folder.string() + " is not writable";
  return "";
}

// How messages name an input: standard input as <stdin>.
std::string shown_name(const std::string& path) { return path == "-" ? "<stdin>" : path; }

// The library's problems with --dt, --nt and --fmax themselves, each on a line
// of its own: found once here rather than on every subfault. The probe has no
// ts, so that whether the record reaches a region's ts stays for that
// region's line.
std::string sampling_problems(const Parameters& sampling) {
  Parameters probe = sampling;
  probe.vm = probe.slip = probe.tr = 1;
  probe.ts = 0;
  std::vector<TableProblem> library;
  try {
    check_parameters(probe);
  } catch (const ParameterError& e) {
    add_problems(library, 0, e.what());
  }
  std::string found;
  for (const TableProblem& p : library) {
    if (p.what.starts_with("dt = ") || p.what.starts_with("nt = ") || p.what.starts_with("fmax = ")) {
      found += (found.empty() ? "--" : "\n--") + p.what;
    }
  }
  return found;
}

// What is wrong with the options beyond what CLI11 checks, or "".
std::string option_problem(const CLI::App& app, const Request& r) {
  for (const auto& [option, path] : inputs(r)) {
    if (app.count(option) > 0 && path->empty()) return std::string(option) + ": an empty path names nothing to read";
  }
  for (const auto& [option, path] : outputs(r)) {
    if (app.count(option) > 0 && path->empty()) return std::string(option) + ": an empty path names nothing to write";
  }
  if (r.segments == "-" && r.patches == "-") return "--segments and --patches cannot both read standard input";
  if (r.srf.empty() && r.points.empty()) return "nothing to write: give --srf FILE, --points FILE or both";
  if (!(std::isfinite(r.vr) && r.vr > 0)) return "--vr = " + text::shortest(r.vr) + ": must be greater than 0 km/s";
  if (!(std::isfinite(r.rigidity) && r.rigidity > 0)) {
    return "--rigidity = " + text::shortest(r.rigidity) + ": must be finite and greater than 0 Pa";
  }
  if (std::string problems = sampling_problems(r.sampling); !problems.empty()) return problems;
  const auto out = outputs(r);
  for (const auto& [option, path] : out) {
    if (std::string why = path->empty() ? "" : unwritable(option, *path); !why.empty()) return why;
  }
  // Every output its own file, none of them an input: nothing is overwritten
  // by the run itself.
  for (std::size_t a = 0; a < out.size(); ++a) {
    if (out[a].second->empty()) continue;
    for (std::size_t b = a + 1; b < out.size(); ++b) {
      if (out[b].second->empty()) continue;
      if (same_file(*out[a].second, *out[b].second)) {
        return std::string(out[a].first) + " and " + out[b].first + " name the same file " + *out[b].second;
      }
    }
    for (const auto& [option, path] : inputs(r)) {
      if (!path->empty() && *path != "-" && *out[a].second != "-" && same_file(*path, *out[a].second)) {
        return std::string(out[a].first) + " " + *out[a].second + " would overwrite the input " + option + " " + *path;
      }
    }
  }
  return "";
}

// Each line of `message`, as the program's.
void print_lines(std::string_view message) {
  std::vector<TableProblem> lines;
  add_problems(lines, 0, message);
  print_problems(kName, lines);
}

// The text of an input file; false (having said why) if it cannot be read.
bool read_input(const std::string& name, std::string& text) {
  std::string reason;
  if (read_whole(name, text, reason)) return true;
  std::fprintf(stderr, "%s: %s: %s\n", kName, shown_name(name).c_str(), reason.c_str());
  return false;
}

// The fault the input files describe, or false having printed its problems.
bool read_fault(const Request& r, srf::Version version, Fault& fault) {
  std::string text;
  if (!read_input(r.segments, text)) return false;
  SegmentsTable segments = read_segments(text, version);
  print_problems(shown_name(r.segments), segments.problems);
  if (!segments.problems.empty()) return false;
  fault.segments = std::move(segments.segments);
  if (!r.patches.empty()) {
    text.clear();
    if (!read_input(r.patches, text)) return false;
    PatchesTable patches = read_patches(text, fault.segments, shown_name(r.patches));
    print_problems(shown_name(r.patches), patches.problems);
    if (!patches.problems.empty()) return false;
    fault.patches = std::move(patches.patches);
  }
  const auto hypocentre = read_hypocentre(r.hypocentre, fault.segments);
  if (const auto* problem = std::get_if<std::string>(&hypocentre)) {
    std::fprintf(stderr, "%s: %s\n", kName, problem->c_str());
    return false;
  }
  fault.hypocentre = std::get<Hypocentre>(hypocentre);
  fault.vr = r.vr;
  return true;
}

// Every subfault checked as a point of the file; false having printed the
// problems, by the segment or patch line that gave the subfault its values.
bool check_points(const Request& r, const Rupture& rupture, const Fault& fault, srf::Version version,
                  std::vector<srf::PointSource>& points) {
  const std::vector<TableProblem> by_point = check_rupture(rupture.points, version, r.jobs, points);
  FaultProblems problems = problems_by_region(rupture, fault, by_point);
  const std::vector<TableProblem> planes = check_planes(rupture, fault, version);
  problems.segments.insert(problems.segments.end(), planes.begin(), planes.end());
  std::stable_sort(problems.segments.begin(), problems.segments.end(),
                   [](const TableProblem& a, const TableProblem& b) { return a.line < b.line; });
  print_problems(shown_name(r.segments), problems.segments);
  print_problems(shown_name(r.patches), problems.patches);
  return problems.segments.empty() && problems.patches.empty();
}

// A patch that holds no subfault's centre changes nothing, which is said; its
// values are still checked, as a subfault of it would be. False having
// printed their problems.
bool check_empty_patches(const Request& r, const Rupture& rupture, const Fault& fault, srf::Version version) {
  const std::vector<const Patch*> empty = empty_patches(rupture, fault);
  std::vector<srf::PointSource> unused;
  std::vector<TableProblem> problems = check_rupture(stand_ins(rupture, empty, r.sampling), version, 1, unused);
  for (TableProblem& p : problems) {
    p = {empty[static_cast<std::size_t>(p.line) - 1]->line, "a subfault of this patch would have " + p.what};
  }
  print_problems(shown_name(r.patches), problems);
  if (!problems.empty()) return false;
  for (const Patch* patch : empty) {
    std::fprintf(stderr,
                 "%s: warning: %s:%d: no subfault's centre lies in this patch, so it changes nothing "
                 "(more subfaults, nstk or ndip, would resolve it)\n",
                 kName, shown_name(r.patches).c_str(), patch->line);
  }
  return true;
}

void warn_about_gaps(const Request& r, const Fault& fault) {
  for (const Gap& gap : gaps_between_segments(fault)) {
    const Segment& segment = fault.segments[gap.segment];
    std::fprintf(stderr,
                 "%s: warning: %s:%d: segment %zu starts %.1f km from where segment %zu ends; rupture times take "
                 "them as joined end to end\n",
                 kName, shown_name(r.segments).c_str(), segment.line, gap.segment + 1, gap.km, gap.segment);
  }
}

// Values that keep every rule but are likely a mistake: one warning a kind,
// naming the first subfault and its segment's line.
void warn_about_implausible_values(const Request& r, const Rupture& rupture, const Fault& fault,
                                   const std::vector<srf::PointSource>& points, const RuptureMoment& moment) {
  Implausibles found("subfaults");
  for (std::size_t n = 0; n < points.size(); ++n) {
    const std::string place = shown_name(r.segments) + ":" +
                              std::to_string(fault.segments[rupture.subfaults[n].segment].line) + ": subfault " +
                              rupture.points[n].id;
    for (const slipvel::Problem& p : srf::implausible_values(points[n].where)) found.add(place, p);
    if (const auto p = srf::implausible_rupture_velocity(r.vr, points[n].where.vs)) found.add(place, *p);
  }
  if (const auto p = implausible_magnitude(moment_magnitude(moment.moment()))) found.add("", *p);
  for (const std::string& line : found.lines()) std::fprintf(stderr, "%s: warning: %s\n", kName, line.c_str());
}

// The files, which take their names together once every one is whole and the
// moment line is out (on standard error when a file goes to standard output).
void write_rupture(const Request& r, const Rupture& rupture, const std::vector<srf::PointSource>& points,
                   const srf::Layout& layout, const RuptureMoment& moment) {
  Settings settings;
  settings.jobs = r.jobs;
  settings.progress = !r.quiet && ::isatty(STDERR_FILENO);
  settings.umask = read_umask();
  const std::optional<FolderLock> lock = r.srf.empty() ? std::nullopt : lock_folder_of(r.srf);
  StagedFiles files(settings.umask);
  if (!r.srf.empty()) write_srf(points, rupture.planes, layout, files.add(r.srf), settings);
  if (!r.points.empty()) files.add(r.points).write(points_text(rupture, r.jobs));
  if (!r.planes.empty()) files.add(r.planes).write(planes_text(rupture.planes));
  if (!r.moment_rate.empty()) {
    files.add(r.moment_rate).write(moment_rate_text(moment_rate(points, r.sampling.dt, r.rigidity), r.sampling.dt));
  }
  const auto out = outputs(r);
  const bool on_stdout = std::any_of(out.begin(), out.end(), [](const auto& o) { return *o.second == "-"; });
  print_checked(on_stdout ? stderr : stdout, moment_line(moment));
  files.commit_all();
}

int run(const Request& r) {
  const srf::Version version = r.srf_version == "2.0" ? srf::Version::k2 : srf::Version::k1;
  Fault fault;
  if (!read_fault(r, version, fault)) return kUsageOrInput;
  const Rupture rupture = lay_out(fault, r.sampling, r.jobs);
  std::vector<srf::PointSource> points;
  if (!check_points(r, rupture, fault, version, points)) return kUsageOrInput;
  if (!check_empty_patches(r, rupture, fault, version)) return kUsageOrInput;
  const RuptureMoment moment = seismic_moment(points, r.rigidity);
  check_moment(moment);
  warn_about_gaps(r, fault);
  warn_about_implausible_values(r, rupture, fault, points, moment);
  const srf::Layout layout{version, r.srf_blocks == "one" ? srf::Blocks::kOne : srf::Blocks::kPerPlane,
                           !r.srf_no_plane};
  write_rupture(r, rupture, points, layout, moment);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // Under a file-size limit a write fails with EFBIG and is reported.
  std::signal(SIGXFSZ, SIG_IGN);
  remove_temporaries_on_signals();

  CLI::App app{
      "Builds a kinematic rupture from a fault description: segments with a background source, patches of "
      "their own source, a hypocentre and a rupture velocity. Every subfault gets the slip-velocity function "
      "of its region, starting when the rupture front reaches it.",
      kName};
  app.set_version_flag("--version", std::string(kName) + " " + slipvel::version());
  Request r;
  add_options(app, r);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : kUsageOrInput;
  }
  if (const std::string problem = option_problem(app, r); !problem.empty()) {
    print_lines(problem);
    return kUsageOrInput;
  }
  try {
    return run(r);
  } catch (const ParameterError& e) {
    print_lines(e.what());
    return kUsageOrInput;
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "%s: out of memory: fewer subfaults or a smaller nt take less\n", kName);
    return kWriteFailed;
  } catch (const WriteError& e) {
    std::fprintf(stderr, "%s: %s\n", kName, e.what());
    return kWriteFailed;
  }
}
