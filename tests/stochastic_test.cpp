// Stochastic ruptures: the rules every realisation keeps, over an ensemble
// of fixed seeds (the field's own statistics are slip_field_test's), and the
// program's realisations: the same bytes whatever -j, N or order, a pinned
// realisation, refusals and a full disk.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <set>

#include <slipvel/rupture.hpp>
#include <slipvel/text.hpp>

#include "expected_run.hpp"
#include "fingerprint.hpp"
#include "run_process.hpp"

namespace slipvel::testing {
namespace {

const std::string kRupture = SLIPVEL_RUPTURE_PROGRAM;

// A bend of two segments with a patch, in a layered medium, sized for its
// magnitude; every region's vm·tr/slip is 1.3, where the function carries
// rise times from 2 to 60 td.
const char* const kSegments =
    "elon,elat,stk,dip,len,wid,dtop,nstk,ndip,rake,slip,vm,tr\n"
    "0,0,0,60,30,15,1,30,15,90,1,0.8667,1.5\n"
    "-0.01556,0.2238,350,60,20,15,1,20,15,80,1,0.8667,1.5\n";
const char* const kPatches = "segment,s0,s1,d0,d1,slip,vm,tr,ts\n1,-8,4,3,10,2,1.444,1.8,3\n";
const char* const kMedium = "depth,vs,den\n0,2000,2300\n3,3200,2600\n8,3500,2800\n";
constexpr double kMw = 6.8;

rupture::Built realisation(std::uint64_t k, rupture::Stochastic stochastic, const rupture::HypocentreGiven& start) {
  rupture::Inputs inputs(Table::text("segments.csv", kSegments));
  inputs.patches = Table::text("patches.csv", kPatches);
  inputs.medium = Table::text("medium.csv", kMedium);
  rupture::Options options(start, rupture::FractionOfVs{0.8});
  options.mw = kMw;
  stochastic.realisation = k;
  options.stochastic = stochastic;
  return rupture::build(inputs, options);
}

// The region (segment or patch) of each subfault, and its table values.
struct RegionValues {
  double slip, vm, tr, ts;
};

// Every realisation of an ensemble keeps the rules, whatever its field:
// Mw within 0.001 of the target, tr/√s one constant below the shallow depth
// and TR times it above, each region's vm·tr/slip and ts/tr, the floor, and
// a hypocentre inside its box. The ensemble's rake scatter has the spread
// asked, within sampling error.
TEST(Stochastic, EveryRealisationKeepsTheRules) {
  constexpr int kRealisations = 200;
  rupture::Stochastic stochastic;
  stochastic.seed = 20261210;
  stochastic.rake_sigma = 15;
  const std::map<std::pair<bool, int>, RegionValues> regions = {
      {{false, 2}, {1, 0.8667, 1.5, 2.25}}, {{false, 3}, {1, 0.8667, 1.5, 2.25}}, {{true, 2}, {2, 1.444, 1.8, 3}}};
  double rake_squares = 0;
  std::size_t rakes = 0;
  for (int k = 0; k < kRealisations; ++k) {
    SCOPED_TRACE("realisation " + std::to_string(k));
    const rupture::Built b = realisation(static_cast<std::uint64_t>(k), stochastic, rupture::RandomPlace{});
    ASSERT_TRUE(b.rupture) << (b.diagnostics.empty() ? "" : rendered(b.diagnostics.back()));
    const rupture::Rupture& r = *b.rupture;
    EXPECT_NEAR(moment_magnitude(r.moment().moment()), kMw, 0.001);
    std::optional<double> deep, shallow;  // tr/√s of each kind
    double area = 0, slip = 0;
    for (std::size_t n = 0; n < r.size(); ++n) {
      const srf::PointSource p = r.point_source(n);
      area += p.where.area, slip += p.where.area * p.parameters.slip;
    }
    const double mean = slip / area;
    for (std::size_t n = 0; n < r.size(); ++n) {
      const srf::PointSource p = r.point_source(n);
      const rupture::Subfault f = r.subfault(n);
      const auto key = f.patch ? std::pair{true, r.fault().patches[*f.patch].line}
                               : std::pair{false, r.fault().segments[f.segment].line};
      const RegionValues& region = regions.at(key);
      const Parameters& s = p.parameters;
      const double base_rake = f.patch ? 90 : f.segment == 0 ? 90 : 80;
      rake_squares += (p.where.rake - base_rake) * (p.where.rake - base_rake), ++rakes;
      if (s.slip == 0) {  // the floor: the region's own function
        EXPECT_EQ(s.vm, region.vm);
        EXPECT_EQ(s.tr, region.tr);
        continue;
      }
      EXPECT_GE(s.slip, 0.05 * mean);
      EXPECT_NEAR(s.vm * s.tr / s.slip, region.vm * region.tr / region.slip, 1e-12 * region.vm);
      EXPECT_NEAR(*s.ts / s.tr, region.ts / region.tr, 1e-12);
      std::optional<double>& constant = p.where.dep < 5 ? shallow : deep;
      const double ratio = s.tr / std::sqrt(s.slip) / (p.where.dep < 5 ? 2 : 1);
      if (!constant) constant = ratio;
      EXPECT_NEAR(ratio, *constant, 1e-12 * *constant);
    }
    ASSERT_TRUE(deep && shallow);
    EXPECT_NEAR(*shallow, *deep, 1e-12 * *deep);
    // The hypocentre: within 20 % to 80 % of the 50 km and 40 % to 90 % of the 15 km.
    const rupture::Start& h = r.hypocentre();
    const double u = (h.segment == 0 ? 15 : 40) + h.s;
    EXPECT_GE(u, 0.2 * 50);
    EXPECT_LE(u, 0.8 * 50);
    EXPECT_GE(h.d, 0.4 * 15);
    EXPECT_LE(h.d, 0.9 * 15);
  }
  // 200 realisations of 750 subfaults, far more than the field's correlated
  // samples: the spread of 15 degrees within 10 %.
  EXPECT_NEAR(std::sqrt(rake_squares / static_cast<double>(rakes)), 15, 1.5);
}

// Realisations are their own: the same one whatever was built before it,
// different ones apart; the seed changes them all.
TEST(Stochastic, ARealisationIsAFunctionOfItsSeedAndNumberAlone) {
  rupture::Stochastic stochastic;
  const rupture::OnSegment start{1, 0, 5};
  const auto tinits = [&](std::uint64_t k, std::uint64_t seed) {
    rupture::Stochastic s = stochastic;
    s.seed = seed;
    const rupture::Built b = realisation(k, s, start);
    std::vector<double> values;
    for (std::size_t n = 0; b.rupture && n < b.rupture->size(); ++n) {
      values.push_back(b.rupture->point_source(n).parameters.slip);
      values.push_back(b.rupture->point(n).tinit);
    }
    return values;
  };
  const std::vector<double> third = tinits(3, 1);
  ASSERT_FALSE(third.empty());
  tinits(2, 1);
  EXPECT_EQ(tinits(3, 1), third);
  EXPECT_NE(tinits(4, 1), third);
  EXPECT_NE(tinits(3, 2), third);
}

Launch in(const TempDir& dir) {
  Launch launch;
  launch.folder = dir.path();
  return launch;
}

std::vector<std::string> scenario(const std::vector<std::string>& more) {
  std::vector<std::string> arguments = {"--segments",    "segments.csv", "--patches",    "patches.csv",
                                        "--medium",      "medium.csv",   "--hypocentre", "1:0:5",
                                        "--vr-fraction", "0.8",          "--mw",         "6.8",
                                        "--stochastic",  "--seed",       "20261210",     "--quiet"};
  arguments.insert(arguments.end(), more.begin(), more.end());
  if (std::find(more.begin(), more.end(), "--srf") != more.end())
    arguments.insert(arguments.end(), {"--srf-version", "2.0"});
  return arguments;
}

void write_tables(const TempDir& dir) {
  write_file(dir / "segments.csv", kSegments);
  write_file(dir / "patches.csv", kPatches);
  write_file(dir / "medium.csv", kMedium);
}

// A realisation's bytes are its own: the same for -j 1 and -j 2, alone
// (--realisation K) or among 50, and pinned for one, so that a change of the
// generator or of any step shows.
TEST(StochasticProgram, ARealisationsBytesDoNotDependOnTheRun) {
  TempDir dir;
  write_tables(dir);
  const Finished many = run_process(
      kRupture,
      scenario({"--realisations", "50", "--srf", "r.srf", "--points", "p.csv", "--summary", "s.csv", "-j", "2"}),
      in(dir));
  ASSERT_EQ(many.exit_code(), 0) << many.err;
  const std::vector<std::string> lines = split_lines(many.out);
  ASSERT_EQ(lines.size(), 50u);
  for (std::size_t k = 0; k < lines.size(); ++k) {
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "%04zu: points=", k);
    EXPECT_TRUE(lines[k].starts_with(prefix)) << lines[k];
  }
  for (const char* jobs : {"1", "2"}) {
    TempDir one;
    write_tables(one);
    const Finished alone = run_process(
        kRupture, scenario({"--realisation", "37", "--srf", "r.srf", "--points", "p.csv", "-j", jobs}), in(one));
    ASSERT_EQ(alone.exit_code(), 0) << alone.err;
    EXPECT_EQ(read_file(one / "r-0037.srf"), read_file(dir / "r-0037.srf"));
    EXPECT_EQ(read_file(one / "p-0037.csv"), read_file(dir / "p-0037.csv"));
    EXPECT_EQ(alone.out, lines[37].substr(0, 6) + alone.out.substr(6));
  }
  // Pinned: a change of the generator, the field or any step changes it.
  EXPECT_EQ(fingerprint(read_file(dir / "r-0003.srf")), 0x94224407ff9656bcULL);
  const std::vector<std::string> summary = split_lines(read_file(dir / "s.csv"));
  ASSERT_EQ(summary.size(), 52u);
  EXPECT_TRUE(summary[0].starts_with("# slipvel-rupture " + std::string(SLIPVEL_EXPECTED_VERSION) + ": "));
  EXPECT_EQ(summary[1],
            "realisation,seed,M0_Nm,Mw,mean_slip_m,max_slip_m,mean_rise_time_s,hypocentre_lon,hypocentre_lat,"
            "hypocentre_dep_km,duration_s,files");
  EXPECT_TRUE(summary[5].starts_with("3,20261210,")) << summary[5];
  EXPECT_TRUE(summary[5].ends_with(",r-0003.srf p-0003.csv")) << summary[5];
}

// Options a stochastic rupture refuses, and its options without it: status
// 2, the option, the value and the rule, nothing written.
TEST(StochasticProgram, RefusesBadOptionsBeforeWritingAnything) {
  struct Case {
    std::vector<std::string> options;
    std::string says;
  };
  const Case cases[] = {
      {{"--slip-cv", "-1"}, "--slip-cv = -1: must be at least 0"},
      {{"--hurst", "0"}, "--hurst = 0: must be greater than 0 and at most 1"},
      {{"--hurst", "1.5"}, "--hurst = 1.5: must be greater than 0 and at most 1"},
      {{"--correlation", "0:5"},
       "--correlation = 0:5: both correlation lengths (km) must be finite and greater than 0"},
      {{"--correlation", "5"}, "--correlation \"5\": must be AX:AZ, two lengths (km)"},
      {{"--seed", "-1"}, "--seed = -1: must be a whole number from 0 to 2^63-1"},
      {{"--seed", "9223372036854775808"}, "--seed = 9223372036854775808: must be a whole number from 0 to 2^63-1"},
      {{"--seed", "1.5"}, "--seed = 1.5: must be a whole number"},
      {{"--realisations", "0"}, "--realisations = 0: must be at least 1"},
      {{"--realisation", "-1"}, "--realisation = -1: must be at least 0"},
      {{"--rise-time", "0"}, "--rise-time = 0: must be finite and greater than 0 s"},
      {{"--rise-time", "100"}, "--rise-time = 100: its stopping time 1.5*100 s lies beyond the record"},
      {{"--shallow", "5:0:2"}, "--shallow = 5:0:2: the depth (km) must be at least 0 and both factors"},
      {{"--shallow", "5:0.7"}, "--shallow \"5:0.7\": must be DEPTH:VR:TR"},
      {{"--taper", "0.6:0.2"}, "--taper = 0.6:0.2: each must be from 0 to 0.5"},
      {{"--vr-slip", "1.5"}, "--vr-slip = 1.5: must be at least 0 and less than 1"},
      {{"--vr-fraction", "1.6", "--vr-slip", "0.2"}, "faster than the P wave (sqrt(3) vs)"},
      {{"--realisations", "2", "--points", "-"}, "--points -: 2 realisations cannot share standard output"},
      {{"--realisations", "2", "--points", "r.srf"}, "--srf and --points name the same file r-0000.srf"},
      {{"--realisations", "2", "--realisation", "1"}, "--realisations excludes --realisation"},
      {{"--realisations", "2", "--summary", "r-0001.srf"}, "--srf and --summary name the same file r-0001.srf"},
      {{"--realisations", "2", "--points", "/dev/null"}, "--points /dev/null: 2 realisations cannot share one device"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.says);
    TempDir dir;
    write_tables(dir);
    std::vector<std::string> arguments = scenario({"--srf", "r.srf"});
    // A later --vr-fraction stands in for the scenario's.
    for (std::size_t i = 0; i < c.options.size(); i += 2) {
      const auto given = std::find(arguments.begin(), arguments.end(), c.options[i]);
      if (given != arguments.end()) arguments.erase(given, given + 2);
    }
    arguments.insert(arguments.end(), c.options.begin(), c.options.end());
    const Finished f = run_process(kRupture, arguments, in(dir));
    EXPECT_EQ(f.exit_code(), 2);
    EXPECT_NE(f.err.find(c.says), std::string::npos) << f.err;
    EXPECT_EQ(file_names(dir.path()).size(), 3u);
  }
  for (const char* option : {"--seed", "--hurst", "--summary", "--random-hypocentre"}) {
    TempDir dir;
    write_tables(dir);
    std::vector<std::string> arguments = {"--segments", "segments.csv", "--hypocentre", "1:0:5", "--vr",
                                          "3",          "--srf",        "r.srf",        option};
    if (std::string(option) != "--random-hypocentre") arguments.push_back("1");
    const Finished f = run_process(kRupture, arguments, in(dir));
    EXPECT_EQ(f.exit_code(), 2);
    EXPECT_NE(f.err.find(std::string(option) + ": needs --stochastic"), std::string::npos) << f.err;
  }
}

// Every realisation's names are checked before anything is written, not the
// first one's alone: a later realisation's file that is an input is refused.
// Standard output and devices are never numbered: with one realisation they
// are written as named (the moment line then on standard error), a summary
// on standard output once, whole.
TEST(StochasticProgram, EveryRealisationsNamesAreCheckedAndStandardOutputIsNeverNumbered) {
  {
    TempDir dir;
    write_tables(dir);
    write_file(dir / "m-0001.csv", kMedium);
    std::vector<std::string> arguments =
        scenario({"--realisations", "2", "--moment-rate", "m.csv", "--points", "p.csv"});
    std::replace(arguments.begin(), arguments.end(), std::string("medium.csv"), std::string("m-0001.csv"));
    const Finished f = run_process(kRupture, arguments, in(dir));
    EXPECT_EQ(f.exit_code(), 2);
    EXPECT_NE(f.err.find("--moment-rate m-0001.csv would overwrite the input --medium m-0001.csv"), std::string::npos)
        << f.err;
    EXPECT_EQ(read_file(dir / "m-0001.csv"), kMedium);
    EXPECT_EQ(file_names(dir.path()).size(), 4u);
  }
  {
    TempDir dir;
    write_tables(dir);
    const Finished f = run_process(kRupture, scenario({"--realisation", "3", "--srf", "-"}), in(dir));
    ASSERT_EQ(f.exit_code(), 0) << f.err;
    EXPECT_TRUE(f.out.starts_with("2.0\nPLANE 2\n")) << f.out.substr(0, 40);
    EXPECT_NE(f.err.find("0003: points="), std::string::npos) << f.err;
    EXPECT_EQ(file_names(dir.path()).size(), 3u);  // no file named after "-"
  }
  {
    TempDir dir;
    write_tables(dir);
    const Finished f =
        run_process(kRupture, scenario({"--realisations", "2", "--points", "p.csv", "--summary", "-"}), in(dir));
    ASSERT_EQ(f.exit_code(), 0) << f.err;
    EXPECT_TRUE(f.out.starts_with("# slipvel-rupture ")) << f.out;
    EXPECT_EQ(split_lines(f.out).size(), 4u);  // the comment, the header, two rows: once
    EXPECT_NE(f.err.find("0001: points="), std::string::npos) << f.err;
  }
}

// A disk that fills: status 1, and no file of a realisation left in part.
TEST(StochasticProgram, AFullDiskLeavesNoPartOfARealisation) {
  TempDir dir;
  write_tables(dir);
  Launch launch = in(dir);
  launch.file_size_limit = 200 * 1024;
  const Finished f = run_process(kRupture, scenario({"--realisations", "3", "--srf", "r.srf", "-j", "1"}), launch);
  EXPECT_EQ(f.exit_code(), 1);
  EXPECT_NE(f.err.find("File too large"), std::string::npos) << f.err;
  EXPECT_EQ(file_names(dir.path()), (std::vector<std::string>{"medium.csv", "patches.csv", "segments.csv"}));

  // A limit that the first realisation's points table fits under (136,982
  // bytes) and the second's does not (143,539): the first stays whole, said
  // and summarized, the second leaves nothing.
  TempDir later;
  write_tables(later);
  launch = in(later);
  launch.file_size_limit = 140000;
  const Finished g = run_process(
      kRupture, scenario({"--realisations", "3", "--points", "p.csv", "--summary", "s.csv", "-j", "1"}), launch);
  EXPECT_EQ(g.exit_code(), 1);
  EXPECT_NE(g.err.find("p-0001.csv: File too large"), std::string::npos) << g.err;
  EXPECT_TRUE(g.out.starts_with("0000: points=750 ")) << g.out;
  EXPECT_EQ(file_names(later.path()),
            (std::vector<std::string>{"medium.csv", "p-0000.csv", "patches.csv", "s.csv", "segments.csv"}));
  const std::vector<std::string> summary = split_lines(read_file(later / "s.csv"));
  ASSERT_EQ(summary.size(), 3u);
  EXPECT_TRUE(summary[2].starts_with("0,20261210,")) << summary[2];
}

}  // namespace
}  // namespace slipvel::testing
