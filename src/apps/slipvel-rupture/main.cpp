// slipvel-rupture: a kinematic rupture from a fault description (segments,
// patches of larger slip, a hypocentre and a rupture velocity), written as an
// SRF file and as the points and planes tables slipvel-batch reads.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <thread>

#include <slipvel/moment.hpp>
#include <slipvel/rupture.hpp>
#include <slipvel/text.hpp>

#include "common/atomic_file.hpp"
#include "common/batch.hpp"
#include "common/input.hpp"
#include "common/outputs.hpp"
#include "common/parallel.hpp"
#include "common/program.hpp"
#include "common/srf.hpp"
#include "common/write_all.hpp"
#include "tables.hpp"

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

// What is wrong with the options beyond what CLI11 checks, every line of it.
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
  } else if (app.count("--vr") > 0 && !(std::isfinite(r.vr) && r.vr > 0)) {
    problems.push_back("--vr = " + text::shortest(r.vr) + ": must be greater than 0 km/s");
  } else if (app.count("--vr-fraction") > 0 && !(r.vr_fraction > 0 && r.vr_fraction <= 2)) {
    problems.push_back("--vr-fraction = " + text::shortest(r.vr_fraction) +
                       ": must be greater than 0 and at most 2 (a fraction of the shear-wave speed)");
  }
  if (!(std::isfinite(r.rigidity) && r.rigidity > 0)) {
    problems.push_back("--rigidity = " + text::shortest(r.rigidity) + ": must be finite and greater than 0 Pa");
  }
  for (const slipvel::Problem& p : rupture::sampling_problems(r.sampling)) problems.push_back("--" + p.text);
  if (problems.empty()) problems = output_problems(outputs(r), inputs(r));
  if (!problems.empty()) throw Refusal(problems);
}

// Says the problems of a table and stops, if it has any.
void stop_on(const std::string& table, const std::vector<TableProblem>& problems) {
  if (problems.empty()) return;
  say_problems(table, problems);
  throw AlreadySaid();
}

// The point of the fault nearest to a hypocentre given by position, said.
rupture::Hypocentre place_hypocentre(const std::string& given, const std::vector<rupture::Segment>& segments) {
  const rupture::NearestHypocentre nearest = rupture::read_hypocentre_at(given, segments);
  const rupture::Hypocentre& h = nearest.hypocentre;
  const auto metres = [](double km) { return std::round(km * 1000) / 1000 + 0.0; };  // no "-0.000"
  char place[160];  // to the metre: what the user checks it by
  std::snprintf(place, sizeof place, "on segment %zu at s = %.3f km, d = %.3f km, %.3f km from the point given",
                h.segment + 1, metres(h.s), metres(h.d), metres(nearest.km));
  say("--hypocentre-at " + given + ": " + place);
  return h;
}

// Every region's slip scaled for --mw, the factor said.
void scale_slips(const Request& r, rupture::Fault& fault) {
  const rupture::MagnitudeScaling scaling = rupture::scale_to_magnitude(fault, *r.mw, r.sampling, r.rigidity);
  if (!scaling.problems.empty()) {
    say_problems(shown_path(r.segments), scaling.problems.segments);
    say_problems(shown_path(r.patches), scaling.problems.patches);
    throw AlreadySaid();
  }
  say("--mw " + text::shortest(*r.mw) + ": every region's slip scaled by " + text::shortest(scaling.factor));
}

// The fault the input files describe.
rupture::Fault read_fault(const Request& r, srf::Version version, bool hypocentre_by_position) {
  rupture::Fault fault;
  if (!r.medium.empty()) {
    rupture::MediumTable medium = rupture::read_medium(read_input({"--medium", r.medium}));
    stop_on(shown_path(r.medium), medium.problems);
    fault.medium = std::move(medium.medium);
  }
  rupture::SegmentsTable segments = rupture::read_segments(read_input({"--segments", r.segments}), version,
                                                           r.medium.empty() ? "" : shown_path(r.medium));
  stop_on(shown_path(r.segments), segments.problems);
  const rupture::OverlapProblems overlaps = rupture::overlap_problems(segments.segments);
  stop_on(shown_path(r.segments), overlaps.refused);
  for (const TableProblem& p : overlaps.warned)
    warn(shown_path(r.segments) + ":" + std::to_string(p.line) + ": " + p.text);
  fault.segments = std::move(segments.segments);
  if (!r.patches.empty()) {
    const std::string name = shown_path(r.patches);
    rupture::PatchesTable patches = rupture::read_patches(read_input({"--patches", r.patches}), fault.segments, name);
    stop_on(name, patches.problems);
    fault.patches = std::move(patches.patches);
  }
  fault.hypocentre = hypocentre_by_position ? place_hypocentre(r.hypocentre_at, fault.segments)
                                            : rupture::read_hypocentre(r.hypocentre, fault.segments);
  fault.vr = r.vr;
  fault.vr_fraction = r.vr_fraction;
  stop_on(shown_path(r.segments), rupture::rupture_time_problems(fault));
  if (r.mw) scale_slips(r, fault);
  return fault;
}

// Every region's source and every subfault as a point of the file: the
// problems by the segment or patch line that gave the values.
void refuse_unusable_points(const Request& r, const rupture::Rupture& rupture, srf::Version version) {
  rupture::FaultProblems problems = rupture.region_problems(version);
  constexpr std::size_t kChunk = 4096;
  std::vector<std::vector<std::pair<std::size_t, slipvel::Problem>>> found((rupture.size() + kChunk - 1) / kChunk);
  for_each_index(found.size(), r.jobs, [&](std::size_t c) {
    found[c] = rupture.point_problems(c * kChunk, std::min(rupture.size(), (c + 1) * kChunk), version);
  });
  std::vector<std::pair<std::size_t, slipvel::Problem>> by_point;
  for (auto& chunk : found) by_point.insert(by_point.end(), chunk.begin(), chunk.end());
  const rupture::FaultProblems by_region = rupture.by_region(by_point);
  problems.segments.insert(problems.segments.end(), by_region.segments.begin(), by_region.segments.end());
  problems.patches.insert(problems.patches.end(), by_region.patches.begin(), by_region.patches.end());
  table::sort_by_line(problems.segments);
  table::sort_by_line(problems.patches);
  if (problems.empty()) return;
  say_problems(shown_path(r.segments), problems.segments);
  say_problems(shown_path(r.patches), problems.patches);
  throw AlreadySaid();
}

void warn_about_empty_patches(const Request& r, const rupture::Rupture& rupture) {
  for (const rupture::Patch* patch : rupture.empty_patches()) {
    warn(shown_path(r.patches) + ":" + std::to_string(patch->line) +
         ": no subfault's centre lies in this patch, so it changes nothing (more subfaults, nstk or ndip, would "
         "resolve it)");
  }
}

void warn_about_gaps(const Request& r, const rupture::Fault& fault) {
  for (const rupture::Gap& gap : rupture::gaps_between_segments(fault.segments)) {
    char km[32];
    std::snprintf(km, sizeof km, "%.1f", gap.km);
    warn(shown_path(r.segments) + ":" + std::to_string(fault.segments[gap.segment].line) + ": segment " +
         std::to_string(gap.segment + 1) + " starts " + km + " km from where segment " + std::to_string(gap.segment) +
         " ends; rupture times take them as joined end to end");
  }
}

PointSources points_of(const rupture::Rupture& rupture) {
  return {rupture.size(), [&rupture](std::size_t n) { return rupture.point_source(n); }};
}

// The rupture's moment, and values that keep every rule but are likely a
// mistake, one warning a kind naming the first subfault and its segment's line.
RuptureMoment moment_of(const Request& r, const rupture::Rupture& rupture) {
  RuptureMoment moment;
  Implausibles found("subfaults");
  const rupture::Fault& fault = rupture.fault();
  for_each_point(points_of(rupture), r.jobs, [&](std::size_t n, const srf::PointSource& point) {
    moment.add(point, point_rigidity(point.where, r.rigidity));
    // vs and den of a medium are its layer's; the rest the subfault's segment's.
    const auto place = [&](const std::string& field) {
      if (!fault.medium.empty() && (field == "vs" || field == "den")) {
        return shown_path(r.medium) + ":" + std::to_string(fault.medium.at(point.where.dep).line) +
               ": the layer of subfault " + rupture.id(n);
      }
      const int line = fault.segments[rupture.subfault(n).segment].line;
      return shown_path(r.segments) + ":" + std::to_string(line) + ": subfault " + rupture.id(n);
    };
    for (const slipvel::Problem& p : srf::implausible_values(point.where)) found.add(place(p.field), p);
    if (r.vr_fraction > 0) return;  // the same fraction of vs everywhere: said once, below
    if (const auto p = srf::implausible_rupture_velocity(r.vr, point.where.vs)) found.add(place(p->field), *p);
  });
  if (r.vr_fraction > 1) {
    warn("--vr-fraction " + text::shortest(r.vr_fraction) +
         ": the front runs faster than the shear-wave speed everywhere (a supershear rupture)");
  }
  check_moment(moment);
  if (const auto p = implausible_magnitude(moment_magnitude(moment.moment()))) found.add("", *p);
  for (const std::string& line : found.lines()) warn(line);
  return moment;
}

// The files, which take their names together once every one is whole and the
// moment line is out (on standard error when a file goes to standard output).
void write_rupture(const Request& r, const rupture::Rupture& rupture, const srf::Layout& layout,
                   const RuptureMoment& moment) {
  Settings settings;
  settings.jobs = r.jobs;
  settings.progress = !r.quiet && ::isatty(STDERR_FILENO);
  settings.umask = read_umask();
  const std::optional<FolderLock> lock = r.srf.empty() ? std::nullopt : lock_folder_of(r.srf);
  StagedFiles files(settings.umask);
  if (!r.srf.empty()) write_srf(points_of(rupture), rupture.planes(), layout, files.add(r.srf), settings);
  if (!r.points.empty()) write_points(rupture, files.add(r.points), r.jobs);
  if (!r.planes.empty()) files.add(r.planes).write(planes_text(rupture.planes()));
  if (!r.moment_rate.empty()) {
    MomentRate rate(r.sampling.dt, moment.duration());
    for_each_point(points_of(rupture), r.jobs, [&](std::size_t, const srf::PointSource& point) {
      rate.add(point, point_rigidity(point.where, r.rigidity));
    });
    files.add(r.moment_rate).write(moment_rate_text(rate.rows(), r.sampling.dt));
  }
  const auto out = outputs(r);
  const bool on_standard_output = std::any_of(
      out.begin(), out.end(), [](const NamedPath& o) { return !o.path.empty() && is_standard_output(o.path); });
  print_checked(on_standard_output ? stderr : stdout, moment_line(moment));
  files.commit_all();
}

int run(const CLI::App& app, const Request& r) {
  refuse_unusable_options(app, r);
  const srf::Version version = r.srf_version == "2.0" ? srf::Version::k2 : srf::Version::k1;
  const rupture::Rupture rupture(read_fault(r, version, app.count("--hypocentre-at") > 0), r.sampling);
  refuse_unusable_points(r, rupture, version);
  warn_about_empty_patches(r, rupture);
  warn_about_gaps(r, rupture.fault());
  const RuptureMoment moment = moment_of(r, rupture);
  if (!r.moment_rate.empty()) check_moment_rate(moment.duration(), r.sampling.dt);
  const srf::Layout layout{version, r.srf_blocks == "one" ? srf::Blocks::kOne : srf::Blocks::kPerPlane,
                           !r.srf_no_plane};
  write_rupture(r, rupture, layout, moment);
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
