// slipvel-rupture as a user runs it: the library's refusals said as the
// library renders them, the options only the program has, the files read back
// by the test's own readers (the points table field by field, SRF by
// tests/srf_reader.hpp) and through slipvel-batch into the same bytes, what
// readers of the SRF file radiate, and failed writes.
#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include <slipvel/rupture.hpp>
#include <slipvel/slipvel.hpp>
#include <slipvel/text.hpp>

#include "bad_faults.hpp"
#include "expected_run.hpp"
#include "run_process.hpp"
#include "srf_reader.hpp"

namespace slipvel::testing {
namespace {

const std::string kRupture = SLIPVEL_RUPTURE_PROGRAM;
const std::string kBatch = SLIPVEL_BATCH_PROGRAM;

// "key=value" of the moment line.
double moment_field(const std::string& line, const std::string& key) {
  const std::size_t at = line.find(" " + key + "=");
  return at == std::string::npos ? std::nan("") : std::stod(line.substr(at + key.size() + 2));
}

Launch in(const TempDir& dir) {
  Launch launch;
  launch.folder = dir.path();
  return launch;
}

std::vector<std::string> fields(const std::string& line) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (std::size_t comma; (comma = line.find(',', start)) != std::string::npos; start = comma + 1) {
    out.push_back(line.substr(start, comma - start));
  }
  out.push_back(line.substr(start));
  return out;
}

// A CSV table as one map of column to text per row.
std::vector<std::map<std::string, std::string>> rows_of(const std::string& text) {
  std::vector<std::map<std::string, std::string>> rows;
  std::vector<std::string> header;
  for (const std::string& line : split_lines(text)) {
    if (line.empty() || line[0] == '#') continue;
    if (header.empty()) {
      header = fields(line);
      continue;
    }
    const std::vector<std::string> values = fields(line);
    rows.emplace_back();
    for (std::size_t c = 0; c < header.size(); ++c) rows.back()[header[c]] = values[c];
  }
  return rows;
}

// The program says every diagnostic of the library, as the library renders
// it, after its name; status 2 and nothing written.
TEST(RuptureProgram, SaysWhatTheLibraryRefuses) {
  for (const BadFault& c : read_bad_faults(SLIPVEL_SOURCE_DIR "/tests/data/bad_faults.txt")) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    for (const auto& [table, text] : c.tables) write_file(dir / (table + ".csv"), text);
    const Finished f = run_process(kRupture, program_arguments(c), in(dir));
    EXPECT_EQ(f.exit_code(), 2);
    std::string said;
    for (const Diagnostic& d : library_diagnostics(c)) {
      said +=
          std::string("slipvel-rupture: ") + (d.severity == Severity::kWarning ? "warning: " : "") + rendered(d) + "\n";
    }
    EXPECT_EQ(f.err, said);
    EXPECT_EQ(file_names(dir.path()).size(), c.tables.size());
  }
}

// What only the program checks: its outputs, its options and their forms;
// status 2 and nothing written.
TEST(RuptureProgram, RefusesOptionsAndOutputsBeforeComputing) {
  struct Case {
    std::vector<std::string> options;
    std::string message;
    bool segments = true;  // --segments segments.csv unless the options name it
  };
  const Case cases[] = {
      {{"--trace", "segments.csv", "--hypocentre", "1:0:5", "--vr", "3", "--srf", "r.srf"},
       "--trace requires --faults",
       false},
      {{"--trace", "segments.csv", "--faults", "segments.csv", "--hypocentre", "1:0:5", "--vr", "3", "--srf", "r.srf"},
       "--segments excludes --trace"},
      {{"--hypocentre", "1:0:5", "--vr", "3", "--srf", "r.srf"},
       "no fault: give --segments FILE, or --trace FILE with --faults FILE",
       false},
      {{"--max-strike-drift", "1", "--hypocentre", "1:0:5", "--vr", "3", "--srf", "r.srf"},
       "--max-strike-drift requires --trace"},
      {{"--hypocentre", "1:0:5", "--vr", "3", "--points", "p.csv", "--srf-version", "2.0"},
       "--srf-version requires --srf"},
      {{"--hypocentre", "1:0:5", "--vr", "3", "--points", "p.csv", "--srf-for", "sw4"}, "--srf-for requires --srf"},
      {{"--hypocentre", "1:0:5", "--vr", "3", "--srf", "r.srf", "--mw-scales", "slip"}, "--mw-scales requires --mw"},
      {{"--hypocentre", "1:0:5", "--vr", "3", "--srf", "r.srf", "--hypocentre-tolerance", "3"},
       "--hypocentre-tolerance requires --hypocentre-at"},
      {{"--hypocentre", "1:0:5", "--vr", "3"}, "nothing to write: give --srf FILE, --points FILE or both"},
      {{"--vr", "3", "--srf", "r.srf"}, "no hypocentre: give --hypocentre SEG:S:D or --hypocentre-at LON:LAT:DEP"},
      {{"--hypocentre", "1:0:5", "--srf", "r.srf"}, "no rupture velocity: give --vr KM/S or --vr-fraction F"},
      {{"--hypocentre", "1:0:5", "--vr", "3", "--srf", "r.srf", "--srf-blocks", "two"},
       "--srf-blocks: \"two\" is not a POINTS block layout"},
      {{"--hypocentre", "1:0:5", "--vr", "3", "--srf", "r.srf", "--srf-for", "sw4", "--srf-no-plane"},
       "--srf-no-plane excludes --srf-for"},
      {{"--hypocentre", "1:0:5", "--vr", "3", "--srf", "r.srf", "--srf-blocks", "one", "--srf-for", "seissol"},
       "--srf-blocks excludes --srf-for"},
      {{"--hypocentre", "1:0:5", "--vr", "3", "--srf", "r.srf", "--srf-for", "SW4"}, "--srf-for: SW4 not in {"},
      {{"--hypocentre", "1:0:5", "--vr", "3", "--srf", "r.srf", "--srf-no-plane=3"},
       "srf-no-plane was given a disallowed flag override"},
      {{"--hypocentre", "1:0:5", "--vr", "3", "--vr-fraction", "0.8", "--srf", "r.srf"}, "--vr excludes --vr-fraction"},
      {{"--hypocentre", "1:0:5", "--vr", "3", "--srf", "-", "--points", "/dev/stdout"},
       "--srf and --points name the same file"},
      {{"--hypocentre", "1:0:5", "--vr", "3", "--srf", "segments.csv"},
       "--srf segments.csv would overwrite the input --segments"},
      {{"--hypocentre", "1:0:5", "--vr", "3", "--srf", "x", "--points", "./x"},
       "--srf and --points name the same file ./x"},
      {{"--hypocentre", "1:0:5", "--vr", "3", "--srf", "x", "--points", "nowhere/p.csv"},
       "--points nowhere/p.csv: no folder "},
      {{"--hypocentre", "1:0:5", "--vr", "3", "--srf", "x", "--patches", "-", "--segments", "-"},
       "--segments - (standard input) and --patches - (standard input) read the same file"},
      {{"--hypocentre", "1:0:5", "--vr", "3", "--srf", "r.srf", "--segments", "-", "--medium", "/dev/stdin"},
       "--segments - (standard input) and --medium /dev/stdin read the same file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    TempDir dir;
    write_file(dir / "segments.csv", kOneSegment);
    std::vector<std::string> arguments = c.options;
    if (c.segments && std::find(arguments.begin(), arguments.end(), "--segments") == arguments.end()) {
      arguments.insert(arguments.begin(), {"--segments", "segments.csv"});
    }
    const Finished f = run_process(kRupture, arguments, in(dir));
    EXPECT_EQ(f.exit_code(), 2);
    EXPECT_NE(f.err.find(c.message), std::string::npos) << f.err;
    EXPECT_EQ(file_names(dir.path()), std::vector<std::string>{"segments.csv"});
  }
}

// The files the program writes hold the library's rupture: the points table
// field by field in shortest texts, the planes, the SRF file read back by the
// test's own reader, and slipvel-batch on the tables writes the same bytes,
// moment line and moment rate.
TEST(RuptureProgram, FilesHoldTheRuptureAndReadBackThroughBatch) {
  struct Case {
    const char* name;
    std::string segments, patches, hypocentre, version;
    std::string warning;  // what both programs say of the file
    int coarse_line;      // the segment line the rupture's warning of coarse subfaults names
  };
  const std::string examples = std::string(SLIPVEL_SOURCE_DIR) + "/examples/";
  const std::string sw4_warning =
      "warning: SW4 reads only the first POINTS block: 450 of 730 points; --srf-for sw4 writes one block\n";
  const Case cases[] = {
      {"the example", read_file(examples + "segments.csv"), read_file(examples + "patches.csv"), "1:-8:9", "2.0", "",
       4},
      {"the bend, 2.0", read_file(examples + "bend-segments.csv"), read_file(examples + "bend-patches.csv"), "2:-3.5:7",
       "2.0", sw4_warning, 5},
      {"the bend, 1.0", read_file(examples + "bend-segments.csv"), read_file(examples + "bend-patches.csv"), "1:12:0",
       "1.0",
       "warning: SRF 1.0 carries no rigidity: a reader using --rigidity's default 3.6288e10 Pa gives 1.21 times the "
       "moment; write 2.0\n",
       5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    write_file(dir / "segments.csv", c.segments);
    write_file(dir / "patches.csv", c.patches);
    const Finished f = run_process(
        kRupture,
        {"--segments", "segments.csv", "--patches",     "patches.csv",   "--hypocentre", c.hypocentre, "--vr",
         "2.7",        "--srf",        "r.srf",         "--srf-version", c.version,      "--points",   "points.csv",
         "--planes",   "planes.csv",   "--moment-rate", "rate.csv",      "-j",           "2"},
        in(dir));
    ASSERT_EQ(f.exit_code(), 0) << f.err;
    const std::string coarse = "slipvel-rupture: warning: segments.csv:" + std::to_string(c.coarse_line) +
                               ": subfaults of 1 km along strike by 1 km down dip, the front at 2.7 km/s: the front "
                               "crosses a subfault in 0.37 s: the moment rate carries ripples near 2.7 Hz, inside the "
                               "band up to fmax = 6 Hz; subfaults of at most vr/fmax = 0.45 km keep them above it\n";
    EXPECT_EQ(f.err, coarse + (c.warning.empty() ? "" : "slipvel-rupture: " + c.warning));

    rupture::Inputs inputs(Table::text("segments.csv", c.segments));
    inputs.patches = Table::text("patches.csv", c.patches);
    const auto place = std::get<rupture::OnSegment>(
        rupture::parse_on_segment(c.hypocentre, "hypocentre", OptionSpelling::kCommandLine));
    const rupture::Built built = rupture::build(inputs, rupture::Options(place, rupture::UniformSpeed{2.7}));
    ASSERT_TRUE(built.rupture);
    const rupture::Rupture& r = *built.rupture;
    const auto points = rows_of(read_file(dir / "points.csv"));
    ASSERT_EQ(points.size(), r.size());
    for (std::size_t n = 0; n < r.size(); ++n) {
      const srf::PointSource p = r.point_source(n);
      const auto& row = points[n];
      const srf::Point& x = p.where;
      const Parameters& s = p.parameters;
      EXPECT_EQ(row.at("id"), r.id(n));
      const std::pair<const char*, double> values[] = {
          {"lon", x.lon},   {"lat", x.lat},     {"dep", x.dep}, {"stk", x.stk},   {"dip", x.dip}, {"rake", x.rake},
          {"area", x.area}, {"tinit", x.tinit}, {"dt", s.dt},   {"fmax", s.fmax}, {"vm", s.vm},   {"slip", s.slip},
          {"tr", s.tr},     {"ts", *s.ts},      {"vs", x.vs},   {"den", x.den}};
      for (const auto& [column, value] : values) EXPECT_EQ(row.at(column), text::shortest(value)) << column;
      EXPECT_EQ(row.at("nt"), std::to_string(s.nt));
    }
    const auto planes = rows_of(read_file(dir / "planes.csv"));
    ASSERT_EQ(planes.size(), r.planes().size());
    for (std::size_t k = 0; k < planes.size(); ++k) {
      EXPECT_EQ(planes[k].at("shyp"), text::shortest(r.planes()[k].shyp + 0.0));
      EXPECT_EQ(planes[k].at("len"), text::shortest(r.planes()[k].len));
    }

    // The file reads back: one block per segment in 2.0, the points' values.
    const std::vector<Point> srf =
        read_srf(read_file(dir / "r.srf"), c.version, planes.size(), c.version == "2.0" ? planes.size() : 1);
    ASSERT_EQ(srf.size(), points.size());
    for (std::size_t n = 0; n < srf.size(); ++n) {
      const srf::Point x = r.point(n);
      EXPECT_NEAR(srf[n].head[0], x.lon, 5e-7);  // 6 decimals
      EXPECT_NEAR(srf[n].head[2], x.dep, 5e-5 * x.dep);
      EXPECT_NEAR(srf[n].head[6], x.tinit, 5e-5 * std::max(1.0, x.tinit));
    }

    // The same bytes and the same moment from slipvel-batch on the tables.
    const Finished batch = run_process(kBatch,
                                       {"--table", "points.csv", "--planes", "planes.csv", "--srf", "b.srf",
                                        "--srf-version", c.version, "--moment-rate", "b.csv"},
                                       in(dir));
    ASSERT_EQ(batch.exit_code(), 0) << batch.err;
    EXPECT_EQ(batch.err, c.warning.empty() ? "" : "slipvel-batch: " + c.warning);
    EXPECT_EQ(read_file(dir / "b.srf"), read_file(dir / "r.srf"));
    EXPECT_EQ(read_file(dir / "b.csv"), read_file(dir / "rate.csv"));
    EXPECT_EQ(batch.out, f.out);
    EXPECT_EQ(moment_field(f.out, "M0_Nm"), r.moment().moment());
  }
}

// What the codes that read SRF files radiate, read as they read: sample k as
// the slip rate at tinit + k·dt, the first sample held for every time before
// tinit, the integral by the sum or the trapezoid rule, the first POINTS block
// alone or every block. The README's ruptures and a one-point table, at a
// fine and a coarse dt.
TEST(RuptureProgram, ReadersOfTheFileSeeTheWholeRupture) {
  const std::string examples = std::string(SLIPVEL_SOURCE_DIR) + "/examples/";
  struct Case {
    const char* name;
    bool rupture;  // slipvel-rupture on the segments, else slipvel-batch on points.csv
    std::vector<std::string> options;
    std::size_t blocks, first_block;  // POINTS blocks, points in the first
    bool plane;
  };
  const std::vector<std::string> readme = {
      "--segments", examples + "segments.csv", "--patches", examples + "patches.csv", "--hypocentre", "1:-8:9", "--vr",
      "2.8",        "--srf-version",           "2.0"};
  const std::vector<std::string> bend = {"--segments",    examples + "bend-segments.csv",
                                         "--patches",     examples + "bend-patches.csv",
                                         "--hypocentre",  "1:0:9",
                                         "--vr",          "2.8",
                                         "--srf-version", "2.0"};
  const auto with = [](std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  const Case cases[] = {
      {"README rupture, dt 0.005", true, readme, 1, 450, true},
      {"README rupture, dt 0.1", true, with(readme, {"--dt", "0.1"}), 1, 450, true},
      {"bend, blocks per plane", true, bend, 2, 450, true},
      {"bend, one block", true, with(bend, {"--srf-blocks", "one"}), 1, 730, true},
      {"bend, no PLANE, dt 0.1", true, with(bend, {"--srf-no-plane", "--dt", "0.1"}), 1, 730, false},
      {"bend, for SW4", true, with(bend, {"--srf-for", "sw4"}), 1, 730, true},
      {"bend, for SeisSol", true, with(bend, {"--srf-for", "seissol"}), 1, 730, false},
      {"bend, generic", true, with(bend, {"--srf-for", "generic"}), 2, 450, true},
      {"one point, for SeisSol", false, {"--table", "points.csv", "--srf-for", "seissol"}, 1, 1, false},
      {"one point, dt 0.005", false, {"--table", "points.csv"}, 1, 1, false},
      {"one point, dt 0.1", false, {"--table", "points.csv", "--dt", "0.1"}, 1, 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    write_file(dir / "points.csv",
               "id,lon,lat,dep,stk,dip,rake,area,tinit,vm,slip\np,-118,34,5,90,45,180,1e6,0.73,3,0.8\n");
    const Finished f = run_process(c.rupture ? kRupture : kBatch,
                                   with(c.options, {"--srf", "r.srf", "--moment-rate", "rate.csv"}), in(dir));
    ASSERT_EQ(f.exit_code(), 0) << f.err;
    const SrfFile file = read_srf_file(read_file(dir / "r.srf"));
    EXPECT_EQ(file.planes.empty(), !c.plane);
    ASSERT_EQ(file.blocks.size(), c.blocks);
    EXPECT_EQ(file.blocks[0].size(), c.first_block);  // all a reader of the first block sees

    double radiated_before_tinit = 0, m0 = 0;
    for (const auto& block : file.blocks) {
      for (const Point& p : block) {
        const double slip1 = p.second[1], dt = p.head[7], tinit = p.head[6];
        const double area = p.head[5] / 1e4,
                     mu = p.head.size() == 10 ? p.head[9] * 1000 * std::pow(p.head[8] / 100, 2) : 3.6288e10;
        if (slip1 == 0) continue;
        ASSERT_GE(p.samples.size(), 2u);
        radiated_before_tinit += mu * area * p.samples.front() / 100 * tinit;
        double sum = 0, rounding = 0;
        for (const double v : p.samples) sum += v, rounding += 5e-6 * v;
        const double trapezoid = dt * (sum - (p.samples.front() + p.samples.back()) / 2);
        EXPECT_NEAR(dt * sum, slip1, dt * rounding + 0.00005);
        EXPECT_NEAR(trapezoid, slip1, dt * rounding + 0.00005);
        m0 += mu * area * slip1 / 100;
      }
    }
    EXPECT_EQ(radiated_before_tinit, 0);  // every sample 0 is 0

    const double moment = moment_field(f.out, "M0_Nm");
    EXPECT_NEAR(m0, moment, 1e-5 * moment);  // slip1 to its printed digits
    const std::vector<std::string> rows = split_lines(read_file(dir / "rate.csv"));
    EXPECT_EQ(rows[1], "0,0");
    EXPECT_EQ(rows.back().substr(rows.back().find(',')), ",0");
    const double dt = std::stod(rows[2].substr(0, rows[2].find(',')));
    double integral = 0;
    for (std::size_t k = 1; k < rows.size(); ++k) integral += dt * std::stod(rows[k].substr(rows[k].find(',') + 1));
    EXPECT_NEAR(integral, moment, 1e-9 * moment);
  }
}

// What a newcomer writes means what it says: a patch's empty vm and tr are
// its segment's (its ts 1.5 times that tr), --hypocenter is --hypocentre, and
// a hypocentre at -0 is written 0.
TEST(RuptureProgram, EmptyPatchValuesAndAmericanSpellingAreTaken) {
  TempDir dir;
  write_file(
      dir / "segments.csv",
      "elon,elat,stk,dip,len,wid,dtop,nstk,ndip,rake,slip,vm,tr\n-118.5,34.2,300,45,30,15,1,6,3,90,0.5,1.5,1.2\n");
  write_file(dir / "patches.csv", "segment,s0,s1,d0,d1,slip,vm,tr\n1,-15,0,0,15,1.6,,\n");
  const Finished f = run_process(kRupture,
                                 {"--segments", "segments.csv", "--patches", "patches.csv", "--hypocenter", "1:-0:-0",
                                  "--vr", "3", "--points", "points.csv", "--planes", "planes.csv"},
                                 in(dir));
  ASSERT_EQ(f.exit_code(), 0) << f.err;
  const auto first = rows_of(read_file(dir / "points.csv")).front();  // in the patch
  EXPECT_EQ(first.at("slip") + " " + first.at("vm") + " " + first.at("tr") + " " + first.at("ts"),
            "1.6 1.5 1.2 1.7999999999999998");
  EXPECT_TRUE(read_file(dir / "planes.csv").ends_with(",0,0\n")) << read_file(dir / "planes.csv");
}

// A moment-rate function of more than 1e8 rows is refused before anything is
// written, by both programs; below that it has its rows and ends at 0.
TEST(RuptureProgram, MomentRateExtremes) {
  const std::string segments =
      "elon,elat,stk,dip,len,wid,dtop,nstk,ndip,rake,slip,vm,tr,vs,den\n"
      "-118.5,34.2,300,45,3,2,1,3,2,90,0.5,1.5,1.2,3300,2700\n";
  struct Case {
    bool rupture;
    std::string value;  // --vr, or the point's tinit
    std::size_t rows;   // 0: refused
  };
  const Case cases[] = {{true, "1e-290", 0}, {true, "1e-15", 0}, {true, "1e-13", 0},
                        {false, "1e300", 0}, {false, "1e16", 0}, {false, "100", 20637}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    TempDir dir;
    write_file(dir / "segments.csv", segments);
    write_file(dir / "points.csv",
               "id,lon,lat,dep,stk,dip,rake,area,tinit,vs,den\np,-118,34,5,90,45,180,1e6," + c.value + ",3300,2700\n");
    const std::vector<std::string> output = {"--srf", "r.srf", "--srf-version", "2.0", "--moment-rate", "rate.csv"};
    std::vector<std::string> arguments =
        c.rupture ? std::vector<std::string>{"--segments", "segments.csv", "--hypocentre", "1:0:1", "--vr", c.value}
                  : std::vector<std::string>{"--table", "points.csv"};
    arguments.insert(arguments.end(), output.begin(), output.end());
    const Finished f = run_process(c.rupture ? kRupture : kBatch, arguments, in(dir));
    if (c.rows == 0) {
      EXPECT_EQ(f.exit_code(), 2);
      EXPECT_NE(f.err.find("its moment-rate function at dt = 0.005 s would have"), std::string::npos) << f.err;
      EXPECT_EQ(file_names(dir.path()), (std::vector<std::string>{"points.csv", "segments.csv"}));
    } else {
      ASSERT_EQ(f.exit_code(), 0) << f.err;
      const std::vector<std::string> rows = split_lines(read_file(dir / "rate.csv"));
      EXPECT_EQ(rows.size() - 1, c.rows);  // ⌈(100 + 3.171)/0.005⌉ + 2
      EXPECT_EQ(rows.back(), "103.18,0");
    }
  }
}

// A file that cannot be written (a full disk, here a file-size limit of 256 KiB
// that the moment-rate file of a slow rupture passes): status 1, and the files
// written before it in the run are not left behind either.
TEST(RuptureProgram, AFailedWriteLeavesNoOtherFile) {
  TempDir dir;
  write_file(
      dir / "segments.csv",
      "elon,elat,stk,dip,len,wid,dtop,nstk,ndip,rake,slip,vm,tr\n-118.5,34.2,300,45,30,15,1,6,3,90,0.5,1.5,1.2\n");
  const auto limited = [&](const std::string& program, std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"-c", "ulimit -f 512 && exec \"$@\"", "sh", program});
    return run_process("/bin/sh", arguments, in(dir));
  };
  const std::vector<std::string> fault = {"--segments", "segments.csv", "--hypocentre", "1:0:5", "--vr", "0.1"};
  std::vector<std::string> all = fault;
  all.insert(all.end(), {"--srf", "r.srf", "--points", "p.csv", "--planes", "q.csv", "--moment-rate", "rate.csv"});
  const Finished f = limited(kRupture, all);
  EXPECT_EQ(f.exit_code(), 1);
  EXPECT_NE(f.err.find("rate.csv: File too large"), std::string::npos) << f.err;
  EXPECT_EQ(f.out, "");
  EXPECT_EQ(file_names(dir.path()), std::vector<std::string>{"segments.csv"});

  // The same for slipvel-batch writing the rupture from its points table.
  std::vector<std::string> points = fault;
  points.insert(points.end(), {"--points", "points.csv"});
  ASSERT_EQ(run_process(kRupture, points, in(dir)).exit_code(), 0);
  const Finished batch = limited(kBatch, {"--table", "points.csv", "--srf", "r.srf", "--moment-rate", "rate.csv"});
  EXPECT_EQ(batch.exit_code(), 1);
  EXPECT_NE(batch.err.find("rate.csv: File too large"), std::string::npos) << batch.err;
  EXPECT_EQ(batch.out, "");
  EXPECT_EQ(file_names(dir.path()), (std::vector<std::string>{"points.csv", "segments.csv"}));
}

// A subfault's SRF field that does not fit is found while the files are
// written: the run says every such problem as checking them all first does,
// with status 2, the warnings once, and no file written, whatever else it writes.
TEST(RuptureProgram, AFieldFoundTooWideWhileWritingLeavesNoFile) {
  TempDir dir;
  write_file(dir / "segments.csv",
             "elon,elat,stk,dip,len,wid,dtop,nstk,ndip,rake,slip,vm,tr,vs,den\n"
             "-118.5,34.2,300,45,30,15,1,6,3,90,0.5,1.5,1.2,3300,2700\n"
             "-118.7,34.35,300,45,20,15,1,4,3,90,0.5,1.5,1.2,3300,2700\n");
  const std::string refusal =
      "slipvel-rupture: segments.csv:2: subfault 1-0-0 (i = 0, j = 0) and 17 more of this segment: tinit = ";
  struct Case {
    std::vector<std::string> options;
    std::string warning;  // said once, before the refusal
  };
  const Case cases[] = {
      {{"--srf", "r.srf"}, ""},
      {{"--srf", "r.srf", "--points", "p.csv", "--planes", "q.csv", "--moment-rate", "m.csv"}, ""},
      {{"--srf", "r.srf", "--srf-version", "1.0", "--points", "p.csv"}, "SRF 1.0 carries no rigidity"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> arguments = {"--segments", "segments.csv", "--hypocentre", "1:0:5", "--vr", "1e-6"};
    arguments.insert(arguments.end(), c.options.begin(), c.options.end());
    const Finished f = run_process(kRupture, arguments, in(dir));
    SCOPED_TRACE(f.err);
    EXPECT_EQ(f.exit_code(), 2);
    EXPECT_EQ(f.out, "");
    const std::size_t at = f.err.find(refusal);
    ASSERT_NE(at, std::string::npos);
    EXPECT_NE(f.err.find("segments.csv:3: subfault 2-0-0 (i = 0, j = 0) and 11 more of this segment: tinit = ", at),
              std::string::npos);
    if (!c.warning.empty()) {
      EXPECT_LT(f.err.find(c.warning), at);
      EXPECT_EQ(f.err.find(c.warning, f.err.find(c.warning) + 1), std::string::npos);
    }
    EXPECT_EQ(file_names(dir.path()), std::vector<std::string>{"segments.csv"});
  }
  // To standard output, which keeps what it is sent, every problem is found first.
  const Finished f = run_process(
      kRupture, {"--segments", "segments.csv", "--hypocentre", "1:0:5", "--vr", "1e-6", "--srf", "-"}, in(dir));
  EXPECT_EQ(f.exit_code(), 2);
  EXPECT_EQ(f.out, "");
  EXPECT_NE(f.err.find(refusal), std::string::npos) << f.err;
}

}  // namespace
}  // namespace slipvel::testing
