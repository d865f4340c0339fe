// slipvel-rupture: a kinematic rupture from a fault description (segments,
// patches of larger slip, a hypocentre and a rupture velocity), written as an
// SRF file and as the points and planes tables slipvel-batch reads.
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include <slipvel/rupture.hpp>
#include <slipvel/table.hpp>
#include <slipvel/text.hpp>

#include "common/atomic_file.hpp"
#include "common/input.hpp"
#include "common/outputs.hpp"
#include "common/program.hpp"
#include "common/progress.hpp"
#include "common/report.hpp"
#include "common/write_all.hpp"
#include "csv.hpp"
#include "parallel.hpp"

namespace {

using namespace slipvel;
using namespace slipvel::apps;

struct Request {
  std::string segments, trace, faults, patches, medium, hypocentre, hypocentre_at;
  double max_strike_drift = 0.5;
  double vr = 0, vr_fraction = 0;
  std::optional<double> mw;
  std::string mw_scales = "slip-and-vm";
  std::optional<double> hypocentre_tolerance;
  Parameters sampling;  // dt, nt and fmax of every subfault
  double rigidity = kDefaultRigidity;
  std::string srf, srf_version = "1.0", srf_blocks = "per-plane", points, planes, moment_rate;
  bool srf_no_plane = false;
  std::string srf_for;
  int jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  bool quiet = false;
  // A stochastic rupture and its realisations.
  bool stochastic = false, random_hypocentre = false;
  std::string seed = "1", correlation, taper, shallow;
  int realisations = 1, realisation = 0;
  double hurst = 0.75, slip_cv = 0.85, vr_slip = 0.2, slip_floor = 0.05, rake_sigma = 0;
  std::optional<double> rise_time;
  std::string summary;
};

// The options of a stochastic rupture, which need --stochastic.
constexpr const char* kStochasticOptions[] = {
    "--seed",       "--realisations", "--realisation",       "--correlation", "--hurst",
    "--slip-cv",    "--taper",        "--shallow",           "--rise-time",   "--vr-slip",
    "--slip-floor", "--rake-sigma",   "--random-hypocentre", "--summary"};

void add_stochastic_options(CLI::App& app, Request& r) {
  const char* group = "Stochastic rupture (with --stochastic)";
  app.add_flag("--stochastic", r.stochastic,
               "heterogeneous slip: a von Karman random field over the fault, rise time and rupture speed that "
               "follow it (docs/slipvel-rupture.md says every step)")
      ->disable_flag_override()
      ->group(group);
  app.add_option("--seed", r.seed, "the seed of the random numbers, a whole number from 0 to 2^63-1 [default: 1]")
      ->type_name("S")
      ->group(group);
  auto* count = app.add_option("--realisations", r.realisations,
                               "write N realisations, numbered from 0; every output FILE as FILE-0000 before its "
                               "extension")
                    ->transform(kWhole)
                    ->type_name("N")
                    ->group(group);
  app.add_option("--realisation", r.realisation,
                 "write realisation K alone, named with K: the bytes of the same file of a run of more")
      ->transform(kWhole)
      ->type_name("K")
      ->excludes(count)
      ->group(group);
  app.add_option("--correlation", r.correlation,
                 "correlation lengths along strike and down dip (km) [default: from Mw, log10 ax = 0.5 Mw - 2.5, "
                 "log10 az = 0.33 Mw - 1.5]")
      ->type_name("AX:AZ")
      ->group(group);
  const auto number = [&](const char* name, double& value, const char* meaning, const char* unit) {
    app.add_option(name, value, meaning)->transform(kDecimal)->type_name(unit)->capture_default_str()->group(group);
  };
  number("--hurst", r.hurst, "Hurst exponent H of the von Karman spectrum, 0 < H <= 1 (1: the k^-2 model)", "H");
  number("--slip-cv", r.slip_cv, "sigma of the slip factor max(0, 1 + sigma*g); the slip's CV is lower", "SIGMA");
  app.add_option("--taper", r.taper,
                 "Hann taper at the fault's ends and bottom (and its top below the surface), fractions of the length "
                 "and width, each <= 0.5 [default: 0.2:0.2]")
      ->type_name("S:D")
      ->group(group);
  app.add_option("--shallow", r.shallow,
                 "above DEPTH km the rupture speed times VR and the rise time times TR [default: 5:0.7:2; 0:1:1 off]")
      ->type_name("DEPTH:VR:TR")
      ->group(group);
  app.add_option("--rise-time", r.rise_time,
                 "moment-weighted mean rise time (s) [default: 2.03e-9 * M0^(1/3), M0 in dyne-cm]")
      ->transform(kDecimal)
      ->type_name("S")
      ->group(group);
  number("--vr-slip", r.vr_slip, "with --vr-fraction, how much the speed follows slip: F*vs*(1 + A*...)", "A");
  number("--slip-floor", r.slip_floor, "a subfault below this fraction of the mean slip does not slip", "F");
  number("--rake-sigma", r.rake_sigma, "rake scatter (degrees), a second field of the same spectrum", "DEG");
  app.add_flag("--random-hypocentre,--random-hypocenter", r.random_hypocentre,
               "the hypocentre drawn per realisation, within 20-80 % of the length and 40-90 % of the width")
      ->disable_flag_override()
      ->group(group);
  app.add_option("--summary", r.summary, "write a CSV of the realisations: seed, M0, Mw, slips, rise time, ...")
      ->type_name("FILE")
      ->group(group);
}

void add_options(CLI::App& app, Request& r) {
  auto* segments =
      app.add_option("--segments", r.segments,
                     "CSV of fault segments in order along strike: the top edge as elon,elat,stk,len (its centre "
                     "and strike) or as lon1,lat1,lon2,lat2 (its trace), then dip,wid,dtop,nstk,ndip,rake,slip,vm,tr "
                     "and optional ts,vs,den ('-': standard input)")
          ->type_name("FILE")
          ->group("Fault");
  auto* trace = app.add_option("--trace", r.trace,
                               "instead of --segments, CSV of fault traces as polylines: fault,lon,lat, each "
                               "fault's vertices in order (it dips to the right looking along them); cut into "
                               "segments at every vertex and where the strike drifts")
                    ->type_name("FILE")
                    ->excludes(segments)
                    ->group("Fault");
  auto* faults = app.add_option("--faults", r.faults,
                                "with --trace, CSV of one row per fault in order along strike: "
                                "fault,dip,wid,dtop,sublen,ndip,rake,slip,vm,tr and optional ts,vs,den (sublen: the "
                                "subfault length along strike, km)")
                     ->type_name("FILE")
                     ->excludes(segments)
                     ->group("Fault");
  trace->needs(faults);
  faults->needs(trace);
  app.add_option("--max-strike-drift", r.max_strike_drift,
                 "with --trace, the most a segment's strike may differ from its trace's direction anywhere along "
                 "it (degrees)")
      ->transform(kDecimal)
      ->type_name("DEG")
      ->needs(trace)
      ->default_str("0.5")
      ->group("Fault");
  app.add_option("--patches", r.patches,
                 "CSV of patches (asperities): segment,s0,s1,d0,d1,slip and optional vm,tr,ts,rake (empty: the "
                 "segment's); with --trace, fault instead of segment and s along its whole trace from the first "
                 "vertex")
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
                     "down dip from its top edge (km); with --trace, FAULT:S:D, s along the fault's trace from its "
                     "first vertex")
          ->type_name("SEG:S:D")
          ->group("Fault");
  auto* at = app.add_option(
                    "--hypocentre-at,--hypocenter-at", r.hypocentre_at,
                    "where the rupture starts: longitude, latitude (degrees) and depth (km); the fault's nearest point")
                 ->type_name("LON:LAT:DEP")
                 ->excludes(hypocentre)
                 ->group("Fault");
  auto* vr = app.add_option("--vr", r.vr, "rupture velocity, the same everywhere (km/s)")
                 ->transform(kDecimal)
                 ->type_name("KM/S")
                 ->group("Fault");
  app.add_option("--vr-fraction", r.vr_fraction,
                 "rupture velocity as a fraction of the local vs (0 < F <= sqrt(3): faster outruns the P wave): the "
                 "front bends with the medium")
      ->transform(kDecimal)
      ->type_name("F")
      ->excludes(vr)
      ->group("Fault");
  auto* mw = app.add_option("--mw", r.mw,
                            "scale every region's slip and vm by one factor to reach this moment magnitude (-2 to 10), "
                            "keeping each region's vm*tr/slip: the function stays self-similar")
                 ->transform(kDecimal)
                 ->type_name("MW")
                 ->group("Fault");
  app.add_option("--mw-scales", r.mw_scales,
                 "what --mw scales: slip-and-vm, or slip (the slips alone, vm as the tables give it)")
      ->type_name("WHAT")
      ->check(CLI::IsMember({"slip-and-vm", "slip"}))
      ->capture_default_str()
      ->needs(mw)
      ->group("Fault");
  app.add_option("--hypocentre-tolerance,--hypocenter-tolerance", r.hypocentre_tolerance,
                 "how far (km) --hypocentre-at may lie from the fault [default: the larger of one subfault's "
                 "diagonal and 5 km]")
      ->transform(kDecimal)
      ->type_name("KM")
      ->needs(at)
      ->group("Fault");
  const auto sampling = [&app](const char* name, auto& value, const char* meaning, const char* unit,
                               const CLI::Validator& number) {
    app.add_option(name, value, meaning)->transform(number)->type_name(unit)->capture_default_str()->group("Sampling");
  };
  sampling("--dt", r.sampling.dt, "time step of the slip-rate samples (s)", "S", kDecimal);
  sampling("--nt", r.sampling.nt, "number of samples, a power of two: (nt-1)*dt must reach every ts", "N", kWhole);
  sampling("--fmax", r.sampling.fmax, "highest frequency (Hz); sets td = 1/(3.141592654*fmax)", "HZ", kDecimal);
  auto* srf =
      app.add_option("--srf", r.srf, "write the rupture as a Standard Rupture Format file ('-': standard output)")
          ->type_name("FILE")
          ->group("Output");
  app.add_option("--srf-version", r.srf_version,
                 "SRF version, 1.0 (read by more codes) or 2.0 (needs vs, den: from --medium or every segment)")
      ->type_name("V")
      ->transform(kSrfVersion)
      ->capture_default_str()
      ->needs(srf)
      ->group("Output");
  auto* blocks = app.add_option("--srf-blocks", r.srf_blocks,
                                "POINTS blocks: per-plane (one per segment in a 2.0 file with several segments) or "
                                "one (every point in one block, as SW4 reads)")
                     ->type_name("LAYOUT")
                     ->transform(kSrfBlocks)
                     ->capture_default_str()
                     ->needs(srf)
                     ->group("Output");
  auto* no_plane = app.add_flag("--srf-no-plane", r.srf_no_plane,
                                "write no PLANE block, only the points (as SeisSol's SRF converter reads); the "
                                "points are then one block")
                       ->disable_flag_override()
                       ->needs(srf)
                       ->group("Output");
  add_srf_for(app, r.srf_for, {blocks, no_plane})->needs(srf);
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
  add_stochastic_options(app, r);
}

std::vector<NamedPath> inputs(const Request& r) {
  return {{"--segments", r.segments},
          {"--trace", r.trace},
          {"--faults", r.faults},
          {"--patches", r.patches},
          {"--medium", r.medium}};
}
std::vector<NamedPath> outputs(const Request& r) {
  return {{"--srf", r.srf}, {"--points", r.points}, {"--planes", r.planes}, {"--moment-rate", r.moment_rate}};
}

// Which realisations a run writes, and whether their files take numbers.
struct Realisations {
  std::vector<int> numbers;  // in order
  bool numbered = false;     // every output FILE as FILE-KKKK
};

Realisations realisations_of(const CLI::App& app, const Request& r) {
  if (app.count("--realisation") > 0) return {{r.realisation}, true};
  if (app.count("--realisations") == 0) return {{0}, false};
  Realisations chosen{{}, true};
  for (int k = 0; k < r.realisations; ++k) chosen.numbers.push_back(k);
  return chosen;
}

// An output of realisation k: the number before the file name's extension,
// four digits at least ("r.srf" → "r-0000.srf", "out/r" → "out/r-0000").
// Standard output, a device or a FIFO is written as it is named: a name
// made from it would be a new file beside it (in /dev, say).
std::string numbered(const std::string& path, int k, bool number) {
  if (!number || path.empty() || written_directly(path)) return path;
  char digits[16];
  std::snprintf(digits, sizeof digits, "-%04d", k);
  const std::size_t slash = path.rfind('/');
  const std::size_t dot = path.rfind('.');
  const bool extension = dot != std::string::npos && dot > (slash == std::string::npos ? 0 : slash + 1);
  return extension ? path.substr(0, dot) + digits + path.substr(dot) : path + digits;
}

std::vector<NamedPath> outputs_of(const Request& r, int k, bool number) {
  std::vector<NamedPath> named = outputs(r);
  for (NamedPath& o : named) o.path = numbered(o.path, k, number);
  return named;
}

// Options of a stochastic rupture without --stochastic, and realisations
// that cannot be told apart.
void add_stochastic_problems(const CLI::App& app, const Request& r, std::vector<std::string>& problems) {
  if (!r.stochastic) {
    for (const char* option : kStochasticOptions) {
      if (app.count(option) > 0)
        problems.push_back(std::string(option) + ": needs --stochastic (a heterogeneous rupture)");
    }
    return;
  }
  if (app.count("--realisations") > 0 && r.realisations < 1) {
    problems.push_back("--realisations = " + std::to_string(r.realisations) + ": must be at least 1");
  }
  if (app.count("--realisation") > 0 && r.realisation < 0) {
    problems.push_back("--realisation = " + std::to_string(r.realisation) + ": must be at least 0");
  }
  if (app.count("--realisations") > 0 && r.realisations > 1) {
    for (const auto& [option, path] : outputs(r)) {
      if (path == "-") {
        problems.push_back(option + " -: " + std::to_string(r.realisations) +
                           " realisations cannot share standard output; give a file");
      } else if (!path.empty() && written_directly(path)) {
        problems.push_back(option + " " + path + ": " + std::to_string(r.realisations) +
                           " realisations cannot share one device or FIFO; give a file");
      }
    }
  }
  if (r.random_hypocentre && app.count("--hypocentre") + app.count("--hypocentre-at") > 0) {
    problems.push_back("--random-hypocentre excludes --hypocentre and --hypocentre-at");
  }
}

// Two files of one name: the names made from the outputs collide, across
// realisations or with the summary.
void add_colliding_names(const Request& r, const Realisations& chosen, std::vector<std::string>& problems) {
  std::map<std::string, std::string> taken;  // absolute name → the option and realisation
  if (!r.summary.empty() && !written_directly(r.summary)) {
    std::error_code ignored;
    taken.emplace(std::filesystem::absolute(r.summary, ignored).lexically_normal().string(), "--summary");
  }
  for (const int k : chosen.numbers) {
    for (const auto& [option, path] : outputs_of(r, k, chosen.numbered)) {
      if (path.empty() || written_directly(path)) continue;
      std::error_code ignored;
      const std::string name = std::filesystem::absolute(path, ignored).lexically_normal().string();
      const std::string who = option + " of realisation " + std::to_string(k);
      const auto [at, fresh] = taken.try_emplace(name, who);
      if (!fresh) problems.push_back(at->second + " and " + who + " name the same file " + path);
    }
    if (problems.size() > 20) return;
  }
}

// What the command line cannot give the library: paths, outputs, and the
// options of which one must be given.
void refuse_unusable_options(const CLI::App& app, const Request& r, const Realisations& chosen) {
  std::vector<std::string> problems;
  for (const auto& paths : {inputs(r), outputs(r)}) {
    for (const auto& [option, path] : paths) {
      if (app.count(option) > 0 && path.empty()) problems.push_back(option + ": an empty path names nothing to use");
    }
  }
  for (std::string& p : input_problems(inputs(r))) problems.push_back(std::move(p));
  if (app.count("--segments") + app.count("--trace") == 0) {
    problems.push_back("no fault: give --segments FILE, or --trace FILE with --faults FILE");
  }
  if (r.srf.empty() && r.points.empty()) problems.push_back("nothing to write: give --srf FILE, --points FILE or both");
  if (app.count("--hypocentre") + app.count("--hypocentre-at") == 0 && !r.random_hypocentre) {
    problems.push_back("no hypocentre: give --hypocentre SEG:S:D or --hypocentre-at LON:LAT:DEP");
  }
  if (app.count("--vr") + app.count("--vr-fraction") == 0) {
    problems.push_back("no rupture velocity: give --vr KM/S or --vr-fraction F");
  }
  add_stochastic_problems(app, r, problems);
  // Every realisation's files against the inputs and the summary, as its names make them.
  for (std::size_t i = 0; problems.empty() && i < chosen.numbers.size(); ++i) {
    std::vector<NamedPath> written = outputs_of(r, chosen.numbers[i], chosen.numbered);
    if (!r.summary.empty()) written.push_back({"--summary", r.summary});
    problems = output_problems(written, inputs(r));
  }
  if (problems.empty()) add_colliding_names(r, chosen, problems);
  if (!problems.empty()) throw Refusal(problems);
}

// "A:B" or "A:B:C" of decimal numbers, as `option` takes them.
std::vector<double> colon_numbers(const std::string& option, const std::string& text, std::size_t count,
                                  const char* form) {
  std::vector<double> values;
  std::size_t start = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t end = i + 1 < count ? text.find(':', start) : text.size();
    double value = 0;
    if (end == std::string::npos || table::parse_number(text.substr(start, end - start), value) != table::Parsed::kOk ||
        (i + 1 == count && text.find(':', start) != std::string::npos)) {
      throw Refusal(option + " \"" + text + "\": must be " + form);
    }
    values.push_back(value);
    start = end + 1;
  }
  return values;
}

std::uint64_t seed_of(const std::string& text) {
  std::uint64_t seed = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seed);
  if (text.empty() || end != text.data() + text.size() || error != std::errc() || seed > (std::uint64_t{1} << 63) - 1) {
    throw Refusal("--seed = " + text + ": must be a whole number from 0 to 2^63-1 (9223372036854775807)");
  }
  return seed;
}

std::optional<rupture::Stochastic> stochastic_of(const CLI::App& app, const Request& r) {
  if (!r.stochastic) return std::nullopt;
  rupture::Stochastic s;
  s.seed = seed_of(r.seed);
  if (app.count("--correlation") > 0) {
    const std::vector<double> v = colon_numbers("--correlation", r.correlation, 2, "AX:AZ, two lengths (km)");
    s.correlation = std::pair{v[0], v[1]};
  }
  s.hurst = r.hurst;
  s.slip_cv = r.slip_cv;
  if (app.count("--taper") > 0) {
    const std::vector<double> v = colon_numbers("--taper", r.taper, 2, "S:D, two fractions");
    s.taper_along = v[0], s.taper_down = v[1];
  }
  if (app.count("--shallow") > 0) {
    const std::vector<double> v = colon_numbers("--shallow", r.shallow, 3, "DEPTH:VR:TR, a depth (km) and two factors");
    s.shallow_depth = v[0], s.shallow_vr = v[1], s.shallow_tr = v[2];
  }
  s.rise_time = r.rise_time;
  s.vr_slip = r.vr_slip;
  s.slip_floor = r.slip_floor;
  s.rake_sigma = r.rake_sigma;
  return s;
}

// The options as the library takes them.
rupture::Options options_of(const CLI::App& app, const Request& r) {
  const auto parsed = [](auto result) {
    if (const auto* problem = std::get_if<Diagnostic>(&result)) stop_on_errors({*problem});
    return std::get<0>(result);
  };
  rupture::Options options{r.random_hypocentre ? rupture::HypocentreGiven(rupture::RandomPlace{})
                           : app.count("--hypocentre") > 0
                               ? rupture::HypocentreGiven(parsed(rupture::parse_on_segment(
                                     r.hypocentre, "hypocentre", OptionSpelling::kCommandLine)))
                               : rupture::HypocentreGiven(parsed(rupture::parse_position(
                                     r.hypocentre_at, "hypocentre_at", OptionSpelling::kCommandLine))),
                           app.count("--vr") > 0 ? rupture::RuptureVelocity(rupture::UniformSpeed{r.vr})
                                                 : rupture::RuptureVelocity(rupture::FractionOfVs{r.vr_fraction})};
  options.mw = r.mw;
  options.mw_scales = r.mw_scales == "slip" ? rupture::MagnitudeScales::kSlip : rupture::MagnitudeScales::kSlipAndVm;
  options.hypocentre_tolerance = r.hypocentre_tolerance;
  options.max_strike_drift = r.max_strike_drift;
  options.sampling = r.sampling;
  options.rigidity = r.rigidity;
  options.jobs = r.jobs;
  options.stochastic = stochastic_of(app, r);
  return options;
}

rupture::Inputs inputs_of(const Request& r) {
  const auto table = [](const std::string& option, const std::string& path) {
    return Table::text(shown_path(path), read_input({option, path}));
  };
  rupture::Inputs inputs =
      r.trace.empty() ? rupture::Inputs(table("--segments", r.segments))
                      : rupture::Inputs(rupture::Traces{table("--trace", r.trace), table("--faults", r.faults)});
  if (!r.patches.empty()) inputs.patches = table("--patches", r.patches);
  if (!r.medium.empty()) inputs.medium = table("--medium", r.medium);
  return inputs;
}

srf::Layout layout_of(const Request& r) {
  const srf::Version version = r.srf_version == "2.0" ? srf::Version::k2 : srf::Version::k1;
  if (!r.srf_for.empty()) return srf::layout_for(reader_of(r.srf_for), version);
  return {version, r.srf_blocks == "one" ? srf::Blocks::kOne : srf::Blocks::kPerPlane, !r.srf_no_plane};
}

// What the files asked for need of the rupture. `each_subfault`: each
// subfault's SRF fields checked too, else left to the writer, which checks
// them as it makes their texts.
std::vector<Diagnostic> unwritable(const Request& r, const rupture::Rupture& rupture, int jobs,
                                   bool each_subfault = true) {
  std::vector<Diagnostic> problems;
  if (!r.srf.empty()) {
    problems = each_subfault ? rupture::srf_problems(rupture, layout_of(r), jobs)
                             : rupture::srf_fault_problems(rupture, layout_of(r));
  }
  if (!r.moment_rate.empty()) {
    for (Diagnostic& d : rupture::moment_rate_problems(rupture)) problems.push_back(std::move(d));
  }
  return problems;
}

std::vector<Diagnostic> joined(std::vector<Diagnostic> first, const std::vector<Diagnostic>& then) {
  first.insert(first.end(), then.begin(), then.end());
  return first;
}

// One realisation's files, which take their names together once every one
// is whole. Returns the names written.
std::vector<std::string> write_rupture(const Request& r, const rupture::Rupture& rupture,
                                       const std::vector<NamedPath>& named, int jobs, bool progress_line) {
  const auto path = [&](const char* option) {
    for (const NamedPath& n : named) {
      if (n.option == option) return n.path;
    }
    return std::string();
  };
  StagedFiles files(read_umask());
  std::vector<std::string> written;
  if (!r.srf.empty()) {
    Progress progress(rupture.size(), progress_line);
    rupture::write_srf(rupture, layout_of(r), files.add(path("--srf")),
                       {jobs, [&](std::size_t done) { progress.reach(done); }});
    progress.finish();
  }
  if (!r.points.empty()) rupture::write_points(rupture, files.add(path("--points")), jobs);
  if (!r.planes.empty()) rupture::write_planes(rupture, files.add(path("--planes")));
  if (!r.moment_rate.empty()) rupture::write_moment_rate(rupture, files.add(path("--moment-rate")), jobs);
  files.commit_all();
  for (const NamedPath& n : named) {
    if (!n.path.empty()) written.push_back(n.path);
  }
  return written;
}

// Whether any output goes to standard output: the moment lines then go to standard error.
bool any_on_standard_output(const Request& r) {
  auto out = outputs(r);
  out.push_back({"--summary", r.summary});
  return std::any_of(out.begin(), out.end(),
                     [](const NamedPath& o) { return !o.path.empty() && is_standard_output(o.path); });
}

// What the summary says of one realisation.
struct Done {
  int number;
  std::uint64_t seed;
  RuptureMoment moment;
  rupture::Rupture::Realised realised;
  rupture::Start start;
  std::vector<std::string> files;
  std::vector<Diagnostic> warnings;  // and notes, said with its moment line
};

// A CSV field as RFC 4180 writes it: quoted, its quotes doubled, where it
// holds a comma, a quote or a line end (a file name may).
std::string csv_field(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (const char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

// The summary of the realisations written: a comment line with the program's
// version and command line, then one row each.
std::string summary_text(const std::vector<Done>& done, const std::string& command_line) {
  std::string comment = "# slipvel-rupture " + std::string(version()) + ": " + command_line;
  std::replace(comment.begin(), comment.end(), '\n', ' ');  // one line, whatever the arguments hold
  std::replace(comment.begin(), comment.end(), '\r', ' ');
  std::string text = comment + "\n";
  text +=
      "realisation,seed,M0_Nm,Mw,mean_slip_m,max_slip_m,mean_rise_time_s,hypocentre_lon,hypocentre_lat,"
      "hypocentre_dep_km,duration_s,files\n";
  for (const Done& d : done) {
    text += std::to_string(d.number) + "," + std::to_string(d.seed);
    for (const double value :
         {d.moment.moment(), moment_magnitude(d.moment.moment()), d.realised.mean_slip, d.realised.peak_slip,
          d.realised.mean_rise_time, d.start.lon, d.start.lat, d.start.dep, d.moment.duration()}) {
      text.append(",").append(text::shortest(value + 0.0));
    }
    std::string files;
    for (const std::string& f : d.files) files += (files.empty() ? "" : " ") + f;
    text += "," + csv_field(files) + "\n";
  }
  return text;
}

// Realisations as they are made on several jobs, said and summarized in
// their order whatever order they finish in. The summary is written when the
// first realisation is done, again at most every second and at the end, so
// that an interrupted run leaves one listing what it wrote (and never the
// summary of an earlier run beside its files).
class Ensemble {
 public:
  Ensemble(const Request& r, const Realisations& chosen, std::string command_line)
      : r_(r), chosen_(chosen), command_line_(std::move(command_line)), done_(chosen.numbers.size()) {}

  void finish(std::size_t index, Done done) {
    const std::lock_guard lock(mutex_);
    done_[index] = std::move(done);
    while (said_ < done_.size() && done_[said_]) say(*done_[said_++]);
    const auto now = std::chrono::steady_clock::now();
    if (!summarized_ || now - summarized_at_ >= std::chrono::seconds(1)) save_summary(now, false);
  }

  // At the end, or when the run stops early: the moment lines of the
  // realisations written that were waiting for an earlier one, and the
  // summary of all written.
  void close() {
    const std::lock_guard lock(mutex_);
    for (; said_ < done_.size(); ++said_) {
      if (done_[said_]) say(*done_[said_]);
    }
    save_summary(std::chrono::steady_clock::now(), true);
  }

  // Says each warning and note once, however many realisations find it.
  void say_once(const std::vector<Diagnostic>& diagnostics) {
    const std::lock_guard lock(mutex_);
    say_fresh(diagnostics);
  }

  // The numbers of the realisations written, as "0-3, 5".
  std::string written_numbers() const {
    const std::lock_guard lock(mutex_);
    std::string text;
    for (std::size_t i = 0; i < done_.size(); ++i) {
      if (!done_[i]) continue;
      std::size_t last = i;
      while (last + 1 < done_.size() && done_[last + 1]) ++last;
      text += (text.empty() ? "" : ", ") + std::to_string(chosen_.numbers[i]) +
              (last > i ? "-" + std::to_string(chosen_.numbers[last]) : "");
      i = last;
    }
    return text.empty() ? "none" : text;
  }

 private:
  void say_fresh(const std::vector<Diagnostic>& diagnostics) {
    std::vector<Diagnostic> fresh;
    for (const Diagnostic& d : diagnostics) {
      if (said_lines_.insert(rendered(d)).second) fresh.push_back(d);
    }
    present(fresh);
  }

  // In the realisations' order, so that a run says the same whatever order
  // its jobs finish in.
  void say(const Done& d) {
    say_fresh(d.warnings);
    const std::string line = moment_line(d.moment);
    print_checked(any_on_standard_output(r_) ? stderr : stdout,
                  chosen_.numbered ? numbered_line(d.number, line) : line);
  }

  // A summary on standard output or a device is written once, at the end.
  void save_summary(std::chrono::steady_clock::time_point now, bool last) {
    summarized_ = true;
    summarized_at_ = now;
    if (r_.summary.empty() || (!last && written_directly(r_.summary))) return;
    std::vector<Done> all;
    for (const auto& d : done_) {
      if (d) all.push_back(*d);
    }
    write_atomically(r_.summary, summary_text(all, command_line_), read_umask());
  }

  static std::string numbered_line(int number, const std::string& line) {
    char prefix[24];
    std::snprintf(prefix, sizeof prefix, "%04d: ", number);
    return prefix + line;
  }

  const Request& r_;
  const Realisations& chosen_;
  const std::string command_line_;
  mutable std::mutex mutex_;
  std::vector<std::optional<Done>> done_;
  std::size_t said_ = 0;
  std::set<std::string> said_lines_;
  bool summarized_ = false;
  std::chrono::steady_clock::time_point summarized_at_;
};

// A realisation the library refuses once the run has begun: the files of the
// ones before it stay; this one stops the run.
class RealisationRefused : public std::exception {
 public:
  RealisationRefused(int number, std::vector<Diagnostic> diagnostics)
      : number_(number), diagnostics_(std::move(diagnostics)) {}
  int number() const { return number_; }
  const std::vector<Diagnostic>& diagnostics() const { return diagnostics_; }

 private:
  int number_;
  std::vector<Diagnostic> diagnostics_;
};

// Whether every output is staged and takes its name only once whole (none
// is standard output, a FIFO or a device, which keep what they are sent).
bool all_staged(const std::vector<NamedPath>& named) {
  return std::none_of(named.begin(), named.end(),
                      [](const NamedPath& o) { return !o.path.empty() && written_directly(o.path); });
}

// Builds, checks and writes one realisation; `first`: the run's first,
// which says its warnings before writing (the others' with their moment
// lines, in order).
// Where every output is staged, a subfault's SRF field that does not fit is
// found while the files are written, none of them committed: the refusal
// then says what checking every problem before writing would have said.
Done make_realisation(const Request& r, const rupture::Inputs& inputs, rupture::Options options, int number,
                      const Realisations& chosen, int jobs, bool progress_line, bool first, Ensemble& ensemble) {
  if (options.stochastic) options.stochastic->realisation = static_cast<std::uint64_t>(number);
  options.jobs = jobs;
  const rupture::Built built = rupture::build(inputs, options);
  const std::vector<NamedPath> named = outputs_of(r, number, chosen.numbered);
  std::vector<Diagnostic> problems = built.diagnostics;
  if (built.rupture) {
    problems = joined(std::move(problems), unwritable(r, *built.rupture, jobs, !all_staged(named)));
  }
  if (has_errors(problems)) {
    throw RealisationRefused(number,
                             built.rupture ? joined(built.diagnostics, unwritable(r, *built.rupture, jobs)) : problems);
  }
  if (first) ensemble.say_once(problems);  // warnings and notes
  const rupture::Rupture& rupture = *built.rupture;
  std::vector<std::string> files;
  try {
    files = write_rupture(r, rupture, named, jobs, progress_line);
  } catch (const ParameterError& e) {
    // The first's warnings are said; its errors are those of the SRF file.
    throw RealisationRefused(number, first ? e.diagnostics() : joined(built.diagnostics, unwritable(r, rupture, jobs)));
  }
  return {number,
          options.stochastic ? options.stochastic->seed : 0,
          rupture.moment(),
          rupture.realised(),
          rupture.hypocentre(),
          std::move(files),
          first ? std::vector<Diagnostic>{} : std::move(problems)};
}

// The command line as a shell takes it back: each argument that holds
// anything but letters, digits and -_./:=+,@% single-quoted.
std::string command_line_of(int argc, char** argv) {
  std::string line;
  for (int i = 0; i < argc; ++i) {
    const std::string argument = argv[i];
    const bool plain = !argument.empty() && argument.find_first_not_of(
                                                "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"
                                                "-_./:=+,@%") == std::string::npos;
    std::string shown = "'";
    for (const char c : argument) shown += c == '\'' ? std::string("'\\''") : std::string(1, c);
    line += (i == 0 ? "" : " ") + (plain ? argument : shown + "'");
  }
  return line;
}

int run(const CLI::App& app, const Request& r, const std::string& command_line) {
  const Realisations chosen = realisations_of(app, r);
  refuse_unusable_options(app, r, chosen);
  const rupture::Options options = options_of(app, r);
  const rupture::Inputs inputs = inputs_of(r);
  // One run at a time writes into a folder: a second one is refused.
  std::vector<std::filesystem::path> written{r.summary};
  for (const NamedPath& o : outputs_of(r, chosen.numbers.front(), chosen.numbered)) written.emplace_back(o.path);
  const FolderLocks locks = lock_folders_of(written);
  Ensemble ensemble(r, chosen, command_line);
  const bool progress_line = !r.quiet && ::isatty(STDERR_FILENO) && chosen.numbers.size() == 1;
  // The first realisation checks the tables and options before anything is written.
  try {
    ensemble.finish(
        0, make_realisation(r, inputs, options, chosen.numbers.front(), chosen, r.jobs, progress_line, true, ensemble));
    const std::size_t rest = chosen.numbers.size() - 1;
    const int parallel =
        static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(r.jobs), std::max<std::size_t>(rest, 1)));
    const int inner = std::max(1, r.jobs / parallel);
    detail::for_each_index(rest, parallel, [&](std::size_t i) {
      ensemble.finish(
          i + 1, make_realisation(r, inputs, options, chosen.numbers[i + 1], chosen, inner, false, false, ensemble));
    });
  } catch (const RealisationRefused& e) {
    if (e.number() == chosen.numbers.front()) stop_on_errors(e.diagnostics());  // nothing written yet
    ensemble.close();
    say("realisation " + std::to_string(e.number()) + " is refused; the realisations written stay whole (" +
        ensemble.written_numbers() + (r.summary.empty() ? "" : ", listed in " + r.summary) + "):");
    present(e.diagnostics());
    throw AlreadySaid();
  } catch (const WriteError&) {
    ensemble.close();  // what was written before the failure, said and summarized
    throw;
  }
  ensemble.close();
  return kDone;
}

}  // namespace

int main(int argc, char** argv) {
  Program program("slipvel-rupture",
                  "Builds a kinematic rupture from a fault description: segments (or polyline traces) with a "
                  "background source, patches of their own source, a hypocentre and a rupture velocity. Every "
                  "subfault gets the slip-velocity function of its region, starting when the rupture front reaches "
                  "it.");
  Request r;
  add_options(program.app(), r);
  const std::string command_line = command_line_of(argc, argv);
  return program.run(argc, argv, [&] { return run(program.app(), r, command_line); });
}
