// slipvel-rupture: a kinematic rupture from a fault description (segments,
// patches of larger slip, a hypocentre and a rupture velocity), written as an
// SRF file and as the points and planes tables slipvel-batch reads.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <thread>

#include <slipvel/rupture.hpp>
#include <slipvel/table.hpp>

#include "common/atomic_file.hpp"
#include "common/input.hpp"
#include "common/outputs.hpp"
#include "common/program.hpp"
#include "common/progress.hpp"
#include "common/report.hpp"
#include "common/write_all.hpp"

namespace {

using namespace slipvel;
using namespace slipvel::apps;

struct Request {
  std::string segments, patches, medium, hypocentre, hypocentre_at;
  double vr = 0, vr_fraction = 0;
  std::optional<double> mw;
  Parameters sampling;  // dt, nt and fmax of every subfault
  double rigidity = kDefaultRigidity;
  std::string srf, srf_version = "1.0", srf_blocks = "per-plane", points, planes, moment_rate;
  bool srf_no_plane = false;
  int jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  bool quiet = false;
};

void add_options(CLI::App& app, Request& r) {
  app.add_option("--segments", r.segments,
                 "CSV of fault segments in order along strike: the top edge as elon,elat,stk,len (its centre and "
                 "strike) or as lon1,lat1,lon2,lat2 (its trace), then dip,wid,dtop,nstk,ndip,rake,slip,vm,tr and "
                 "optional ts,vs,den ('-': standard input)")
      ->required()
      ->type_name("FILE")
      ->group("Fault");
  app.add_option("--patches", r.patches,
                 "CSV of patches (asperities): segment,s0,s1,d0,d1,slip and optional vm,tr,ts,rake (empty: the "
                 "segment's)")
      ->type_name("FILE")
      ->group("Fault");
  app.add_option("--medium", r.medium,
                 "CSV of a layered medium, depth,vs,den (the top of each layer in km from 0 down, m/s, kg/m^3): "
                 "each subfault takes the layer of its centre's depth")
      ->type_name("FILE")
      ->group("Fault");
  auto* hypocentre =
      app.add_option("--hypocentre,--hypocenter", r.hypocentre,
                     "where the rupture starts: segment number (from 1), s along strike from its centre (km), d "
                     "down dip from its top edge (km)")
          ->type_name("SEG:S:D")
          ->group("Fault");
  app.add_option("--hypocentre-at,--hypocenter-at", r.hypocentre_at,
                 "where the rupture starts: longitude, latitude (degrees) and depth (km); the fault's nearest point")
      ->type_name("LON:LAT:DEP")
      ->excludes(hypocentre)
      ->group("Fault");
  auto* vr = app.add_option("--vr", r.vr, "rupture velocity, the same everywhere (km/s)")
                 ->transform(kDecimal)
                 ->type_name("KM/S")
                 ->group("Fault");
  app.add_option("--vr-fraction", r.vr_fraction,
                 "rupture velocity as a fraction of the local vs (0 < F <= 2): the front bends with the medium")
      ->transform(kDecimal)
      ->type_name("F")
      ->excludes(vr)
      ->group("Fault");
  app.add_option("--mw", r.mw, "scale every region's slip by one factor to reach this moment magnitude")
      ->transform(kDecimal)
      ->type_name("MW")
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
  app.add_option("--srf-version", r.srf_version,
                 "SRF version, 1.0 (read by more codes) or 2.0 (needs vs, den: from --medium or every segment)")
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
  app.add_flag("--quiet", r.quiet, "no progress line on a terminal")->disable_flag_override()->group("Run");
}

std::vector<NamedPath> inputs(const Request& r) {
  return {{"--segments", r.segments}, {"--patches", r.patches}, {"--medium", r.medium}};
}
std::vector<NamedPath> outputs(const Request& r) {
  return {{"--srf", r.srf}, {"--points", r.points}, {"--planes", r.planes}, {"--moment-rate", r.moment_rate}};
}

// What the command line cannot give the library: paths, outputs, and the
// options of which one must be given.
void refuse_unusable_options(const CLI::App& app, const Request& r) {
  std::vector<std::string> problems;
  for (const auto& paths : {inputs(r), outputs(r)}) {
    for (const auto& [option, path] : paths) {
      if (app.count(option) > 0 && path.empty()) problems.push_back(option + ": an empty path names nothing to use");
    }
  }
  for (std::string& p : input_problems(inputs(r))) problems.push_back(std::move(p));
  if (r.srf.empty() && r.points.empty()) problems.push_back("nothing to write: give --srf FILE, --points FILE or both");
  if (app.count("--hypocentre") + app.count("--hypocentre-at") == 0) {
    problems.push_back("no hypocentre: give --hypocentre SEG:S:D or --hypocentre-at LON:LAT:DEP");
  }
  if (app.count("--vr") + app.count("--vr-fraction") == 0) {
    problems.push_back("no rupture velocity: give --vr KM/S or --vr-fraction F");
  }
  if (problems.empty()) problems = output_problems(outputs(r), inputs(r));
  if (!problems.empty()) throw Refusal(problems);
}

// The options as the library takes them.
rupture::Options options_of(const CLI::App& app, const Request& r) {
  const auto parsed = [](auto result) {
    if (const auto* problem = std::get_if<Diagnostic>(&result)) stop_on_errors({*problem});
    return std::get<0>(result);
  };
  rupture::Options options{app.count("--hypocentre") > 0
                               ? rupture::HypocentreGiven(parsed(rupture::parse_on_segment(
                                     r.hypocentre, "hypocentre", OptionSpelling::kCommandLine)))
                               : rupture::HypocentreGiven(parsed(rupture::parse_position(
                                     r.hypocentre_at, "hypocentre_at", OptionSpelling::kCommandLine))),
                           app.count("--vr") > 0 ? rupture::RuptureVelocity(rupture::UniformSpeed{r.vr})
                                                 : rupture::RuptureVelocity(rupture::FractionOfVs{r.vr_fraction})};
  options.mw = r.mw;
  options.sampling = r.sampling;
  options.rigidity = r.rigidity;
  options.jobs = r.jobs;
  return options;
}

rupture::Inputs inputs_of(const Request& r) {
  const auto table = [](const std::string& option, const std::string& path) {
    return Table::text(shown_path(path), read_input({option, path}));
  };
  rupture::Inputs inputs{table("--segments", r.segments)};
  if (!r.patches.empty()) inputs.patches = table("--patches", r.patches);
  if (!r.medium.empty()) inputs.medium = table("--medium", r.medium);
  return inputs;
}

srf::Layout layout_of(const Request& r) {
  return {r.srf_version == "2.0" ? srf::Version::k2 : srf::Version::k1,
          r.srf_blocks == "one" ? srf::Blocks::kOne : srf::Blocks::kPerPlane, !r.srf_no_plane};
}

// What the files asked for need of the rupture, checked before anything is written.
void refuse_unwritable(const Request& r, const rupture::Rupture& rupture) {
  std::vector<Diagnostic> problems;
  if (!r.srf.empty()) problems = rupture::srf_problems(rupture, layout_of(r), r.jobs);
  if (!r.moment_rate.empty()) {
    for (Diagnostic& d : rupture::moment_rate_problems(rupture)) problems.push_back(std::move(d));
  }
  stop_on_errors(problems);
}

// The files, which take their names together once every one is whole and the
// moment line is out (on standard error when a file goes to standard output).
void write_rupture(const Request& r, const rupture::Rupture& rupture) {
  const bool progress_line = !r.quiet && ::isatty(STDERR_FILENO);
  const std::optional<FolderLock> lock = r.srf.empty() ? std::nullopt : lock_folder_of(r.srf);
  StagedFiles files(read_umask());
  if (!r.srf.empty()) {
    Progress progress(rupture.size(), progress_line);
    rupture::write_srf(rupture, layout_of(r), files.add(r.srf),
                       {r.jobs, [&](std::size_t done) { progress.reach(done); }});
    progress.finish();
  }
  if (!r.points.empty()) rupture::write_points(rupture, files.add(r.points), r.jobs);
  if (!r.planes.empty()) rupture::write_planes(rupture, files.add(r.planes));
  if (!r.moment_rate.empty()) rupture::write_moment_rate(rupture, files.add(r.moment_rate), r.jobs);
  const auto out = outputs(r);
  const bool on_standard_output = std::any_of(
      out.begin(), out.end(), [](const NamedPath& o) { return !o.path.empty() && is_standard_output(o.path); });
  print_checked(on_standard_output ? stderr : stdout, moment_line(rupture.moment()));
  files.commit_all();
}

int run(const CLI::App& app, const Request& r) {
  refuse_unusable_options(app, r);
  const rupture::Options options = options_of(app, r);
  const rupture::Built built = rupture::build(inputs_of(r), options);
  stop_on_errors(built.diagnostics);
  refuse_unwritable(r, *built.rupture);
  write_rupture(r, *built.rupture);
  return kDone;
}

}  // namespace

int main(int argc, char** argv) {
  Program program("slipvel-rupture",
                  "Builds a kinematic rupture from a fault description: segments with a background source, patches "
                  "of their own source, a hypocentre and a rupture velocity. Every subfault gets the slip-velocity "
                  "function of its region, starting when the rupture front reaches it.");
  Request r;
  add_options(program.app(), r);
  return program.run(argc, argv, [&] { return run(program.app(), r); });
}
