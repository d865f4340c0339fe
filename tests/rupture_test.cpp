// slipvel-rupture against computations of the test's own: positions by an
// inverse geodesic, depths, areas, rupture times and sources by the rules,
// the files read back, the same SRF bytes through slipvel-batch, refusals.
#include <gtest/gtest.h>

#include <GeographicLib/Geodesic.hpp>
#include <cmath>
#include <map>
#include <numbers>

#include <slipvel/slipvel.hpp>

#include "expected_run.hpp"
#include "run_process.hpp"
#include "srf_reader.hpp"

namespace slipvel::testing {
namespace {

const std::string kRupture = SLIPVEL_RUPTURE_PROGRAM;
const std::string kBatch = SLIPVEL_BATCH_PROGRAM;
constexpr double kDegree = std::numbers::pi / 180;

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
  std::vector<std::string> lines = split_lines(text);
  std::vector<std::map<std::string, std::string>> rows;
  std::vector<std::string> header;
  for (const std::string& line : lines) {
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

// A field's text; "" where the row leaves it out.
std::string text(const std::map<std::string, std::string>& row, const std::string& column) {
  const auto at = row.find(column);
  return at == row.end() ? "" : at->second;
}

double number(const std::map<std::string, std::string>& row, const std::string& column) {
  const std::string field = text(row, column);
  return field.empty() ? std::nan("") : std::stod(field);
}

// Two segments, the second bending away and steeper, a patch on each; the
// first without vs and den where the version allows.
const char* const kTwoSegments =
    "elon,elat,stk,dip,len,wid,dtop,nstk,ndip,rake,slip,vm,tr,ts,vs,den\n"
    "# a comment line and a blank one are skipped\n"
    "\n"
    "142.5,38.1,20,30,24,12,2,8,4,90,0.6,1.5,1.2,,3400,2700\n"
    "142.6197,38.2589,45,60,18,16,2,6,8,80,0.4,1.2,1,2,3500,2800\n";
const char* const kTwoPatches =
    "segment,s0,s1,d0,d1,slip,vm,tr,ts,rake\n"
    "1,-6,3,3,9,1.8,3.5,1.8,,100\n"
    "2,-9,0,0,6,1.2,3,1.6,2.5,\n";

struct Layout {
  std::vector<std::map<std::string, std::string>> segments, patches;
  std::size_t hyp_segment;
  double hyp_s, hyp_d, vr;
};

double centre_u(const Layout& f, std::size_t k) {
  double u = 0;
  for (std::size_t m = 0; m < k; ++m) u += number(f.segments[m], "len");
  return u + number(f.segments[k], "len") / 2;
}

// Checks every row of the points table by the rules, in file order.
void check_points(const Layout& f, const std::vector<std::map<std::string, std::string>>& points) {
  std::size_t n = 0;
  for (std::size_t k = 0; k < f.segments.size(); ++k) {
    const auto& g = f.segments[k];
    const double len = number(g, "len"), wid = number(g, "wid"), stk = number(g, "stk"), dip = number(g, "dip");
    const int nstk = static_cast<int>(number(g, "nstk")), ndip = static_cast<int>(number(g, "ndip"));
    for (int j = 0; j < ndip; ++j) {
      for (int i = 0; i < nstk; ++i, ++n) {
        ASSERT_LT(n, points.size());
        const auto& p = points[n];
        SCOPED_TRACE(p.at("id"));
        EXPECT_EQ(p.at("id"), std::to_string(k + 1) + "-" + std::to_string(i) + "-" + std::to_string(j));
        const double s = -len / 2 + (i + 0.5) * len / nstk, d = (j + 0.5) * wid / ndip;
        EXPECT_NEAR(number(p, "dep"), number(g, "dtop") + d * std::sin(dip * kDegree), 1e-12);
        EXPECT_NEAR(number(p, "area"), 1e6 * (len / nstk) * (wid / ndip), 1e-9);
        // The position, by the inverse problem from the top edge's centre.
        const double h = d * std::cos(dip * kDegree);
        const double east = s * std::sin(stk * kDegree) + h * std::sin((stk + 90) * kDegree);
        const double north = s * std::cos(stk * kDegree) + h * std::cos((stk + 90) * kDegree);
        double distance = 0, azimuth = 0, unused = 0;
        GeographicLib::Geodesic::WGS84().Inverse(number(g, "elat"), number(g, "elon"), number(p, "lat"),
                                                 number(p, "lon"), distance, azimuth, unused);
        const double expected = std::hypot(east, north) * 1000;
        EXPECT_NEAR(distance, expected, 1e-3);
        const double turn = std::remainder(azimuth - std::atan2(east, north) / kDegree, 360.0);
        EXPECT_LT(expected * std::abs(turn) * kDegree, 1e-3);
        // The rupture time over the unfolded fault.
        const double du = centre_u(f, k) + s - (centre_u(f, f.hyp_segment) + f.hyp_s), dd = d - f.hyp_d;
        EXPECT_NEAR(number(p, "tinit"), std::hypot(du, dd) / f.vr, 1e-12);
        // The source: the patch the centre lies in, else the segment's.
        auto region = g;
        for (const auto& q : f.patches) {
          if (number(q, "segment") == static_cast<double>(k + 1) && number(q, "s0") <= s && s < number(q, "s1") &&
              number(q, "d0") <= d && d < number(q, "d1")) {
            region = q;
            if (text(q, "rake").empty()) region["rake"] = g.at("rake");
          }
        }
        for (const char* c : {"slip", "vm", "tr", "rake"}) EXPECT_EQ(number(p, c), number(region, c)) << c;
        const double ts = text(region, "ts").empty() ? 1.5 * number(region, "tr") : number(region, "ts");
        EXPECT_EQ(number(p, "ts"), ts);
        EXPECT_EQ(text(p, "vs"), text(g, "vs"));
        EXPECT_EQ(text(p, "den"), text(g, "den"));
      }
    }
  }
  EXPECT_EQ(n, points.size());
}

TEST(Rupture, SubfaultsFollowTheRulesAndReadBackThroughBatch) {
  struct Case {
    const char* name;
    std::string segments, patches, hypocentre, version;
    std::size_t hyp_segment;
    double hyp_s, hyp_d;
  };
  const std::string examples = std::string(SLIPVEL_SOURCE_DIR) + "/examples/";
  const Case cases[] = {
      {"the example", read_file(examples + "segments.csv"), read_file(examples + "patches.csv"), "1:-8:9", "2.0", 0, -8,
       9},
      {"two segments, 2.0", kTwoSegments, kTwoPatches, "2:-3.5:7", "2.0", 1, -3.5, 7},
      {"two segments, 1.0", kTwoSegments, kTwoPatches, "1:12:0", "1.0", 0, 12, 0},
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
    EXPECT_EQ(f.err, "");
    const Layout layout{rows_of(c.segments), rows_of(c.patches), c.hyp_segment, c.hyp_s, c.hyp_d, 2.7};
    const auto points = rows_of(read_file(dir / "points.csv"));
    check_points(layout, points);

    // Each plane's hypocentre is the same place, against its own centre.
    const auto planes = rows_of(read_file(dir / "planes.csv"));
    ASSERT_EQ(planes.size(), layout.segments.size());
    for (std::size_t k = 0; k < planes.size(); ++k) {
      EXPECT_NEAR(number(planes[k], "shyp"), centre_u(layout, c.hyp_segment) + c.hyp_s - centre_u(layout, k), 1e-12);
      EXPECT_EQ(number(planes[k], "dhyp"), c.hyp_d);
    }

    // The file reads back: one block per segment in 2.0, the points' values.
    const std::vector<Point> srf =
        read_srf(read_file(dir / "r.srf"), c.version, planes.size(), c.version == "2.0" ? planes.size() : 1);
    ASSERT_EQ(srf.size(), points.size());
    for (std::size_t n = 0; n < srf.size(); ++n) {
      EXPECT_NEAR(srf[n].head[0], number(points[n], "lon"), c.version == "2.0" ? 5e-7 : 5e-5);  // 6 or 4 decimals
      EXPECT_NEAR(srf[n].head[2], number(points[n], "dep"), 5e-5);
      EXPECT_NEAR(srf[n].head[6], number(points[n], "tinit"), 5e-5 * std::max(1.0, number(points[n], "tinit")));
    }

    // The same bytes and the same moment from slipvel-batch on the tables.
    const Finished batch = run_process(kBatch,
                                       {"--table", "points.csv", "--planes", "planes.csv", "--srf", "b.srf",
                                        "--srf-version", c.version, "--moment-rate", "b.csv"},
                                       in(dir));
    ASSERT_EQ(batch.exit_code(), 0) << batch.err;
    EXPECT_EQ(read_file(dir / "b.srf"), read_file(dir / "r.srf"));
    EXPECT_EQ(read_file(dir / "b.csv"), read_file(dir / "rate.csv"));
    EXPECT_EQ(batch.out, f.out);

    // The moment: Σ μ·area·S(ts) by the test's own sum.
    double m0 = 0;
    for (const auto& p : points) {
      Parameters source;
      source.vm = number(p, "vm"), source.slip = number(p, "slip"), source.tr = number(p, "tr");
      source.ts = number(p, "ts");
      const double mu = number(p, "den") * number(p, "vs") * number(p, "vs");
      if (source.slip > 0) m0 += mu * number(p, "area") * slip_until(find_shape(source), source, *source.ts);
    }
    const std::size_t at = f.out.find("M0_Nm=");
    ASSERT_NE(at, std::string::npos) << f.out;
    EXPECT_NEAR(std::stod(f.out.substr(at + 6)), m0, 1e-12 * m0);
  }
}

// A layered medium gives each subfault the layer of its centre's depth (the
// deeper one on a boundary), in the tables, the SRF and the moment; --mw
// scales every region's slip by the one factor it says.
TEST(Rupture, LayeredMediumAndTargetMagnitude) {
  TempDir dir;
  write_file(dir / "segments.csv",
             "elon,elat,stk,dip,len,wid,dtop,nstk,ndip,rake,slip,vm,tr\n0,0,0,90,10,10,0,5,10,0,0.5,1.5,1.2\n");
  write_file(dir / "patches.csv", "segment,s0,s1,d0,d1,slip\n1,-5,0,0,5,1\n");
  write_file(dir / "medium.csv", "depth,vs,den\n0,2000,2300\n1.5,3000,2500\n5,3500,2700\n");
  const std::vector<std::string> fault = {"--segments", "segments.csv", "--patches",    "patches.csv",
                                          "--medium",   "medium.csv",   "--hypocentre", "1:0:5",
                                          "--vr",       "2.5",          "--mw",         "6.1"};
  std::vector<std::string> arguments = fault;
  arguments.insert(arguments.end(),
                   {"--srf", "r.srf", "--srf-version", "2.0", "--points", "points.csv", "--planes", "planes.csv"});
  const Finished f = run_process(kRupture, arguments, in(dir));
  ASSERT_EQ(f.exit_code(), 0) << f.err;
  const std::string said = "slipvel-rupture: --mw 6.1: every region's slip scaled by ";
  ASSERT_TRUE(f.err.starts_with(said)) << f.err;
  const double factor = std::stod(f.err.substr(said.size()));
  EXPECT_NEAR(moment_field(f.out, "Mw"), 6.1, 0.001);
  for (const auto& p : rows_of(read_file(dir / "points.csv"))) {
    SCOPED_TRACE(p.at("id"));
    const double dep = number(p, "dep");
    EXPECT_EQ(text(p, "vs") + "," + text(p, "den"), dep < 1.5 ? "2000,2300" : dep < 5 ? "3000,2500" : "3500,2700");
    const bool in_patch = number(p, "lat") < 0 && dep < 5;  // striking north: s < 0 is south
    EXPECT_EQ(number(p, "slip"), (in_patch ? 1 : 0.5) * factor);
  }
  const Finished batch = run_process(
      kBatch, {"--table", "points.csv", "--planes", "planes.csv", "--srf", "b.srf", "--srf-version", "2.0"}, in(dir));
  ASSERT_EQ(batch.exit_code(), 0) << batch.err;
  EXPECT_EQ(read_file(dir / "b.srf"), read_file(dir / "r.srf"));
  EXPECT_EQ(batch.out, f.out);
}

// --vr-fraction: the front runs at F·vs of the medium, so it bends with the
// layers. Checked against exact first arrivals within 1 % plus a quarter of a
// subfault's crossing at the least speed: a uniform medium gives the straight
// line over the unfolded fault (that --vr gives), and with a fast layer below
// a slow one a subfault straight above the hypocentre is reached up the
// vertical, a level one along the straight line in the fast layer.
TEST(Rupture, RuptureVelocityFollowsTheMedium) {
  const std::string segments =
      "elon,elat,stk,dip,len,wid,dtop,nstk,ndip,rake,slip,vm,tr\n"
      "0,0,0,90,20,20,0,20,20,0,0.5,1.5,1.2\n0,0.1357,0,90,10,12,0,10,12,0,0.5,1.5,1.2\n";
  const auto times = [&](const std::string& medium, const std::vector<std::string>& velocity) {
    TempDir dir;
    write_file(dir / "segments.csv", segments);
    write_file(dir / "medium.csv", medium);
    std::vector<std::string> arguments = {"--segments",   "segments.csv", "--medium", "medium.csv",
                                          "--hypocentre", "1:0.5:10",     "--points", "points.csv"};
    arguments.insert(arguments.end(), velocity.begin(), velocity.end());
    const Finished f = run_process(kRupture, arguments, in(dir));
    EXPECT_EQ(f.exit_code(), 0) << f.err;
    std::map<std::string, double> tinit;
    for (const auto& p : rows_of(read_file(dir / "points.csv"))) tinit[p.at("id")] = number(p, "tinit");
    return tinit;
  };
  const auto within_bound = [](double got, double exact, double least_vr) {
    EXPECT_LE(std::abs(got - exact), 0.01 * exact + 0.25 * 1.0 / least_vr) << got << " against " << exact;
  };
  const auto uniform = times("depth,vs,den\n0,3500,2700\n", {"--vr-fraction", "0.8"});
  const auto straight = times("depth,vs,den\n0,3500,2700\n", {"--vr", "2.8"});
  ASSERT_EQ(uniform.size(), 520u);
  for (const auto& [id, t] : straight) {
    SCOPED_TRACE(id);
    within_bound(uniform.at(id), t, 2.8);
  }
  const auto layered = times("depth,vs,den\n0,2000,2300\n6,4000,2700\n", {"--vr-fraction", "0.8"});
  within_bound(layered.at("1-10-0"), 4 / 3.2 + 5.5 / 1.6, 1.6);  // up 4 km fast, 5.5 km slow
  within_bound(layered.at("1-19-9"), 9 / 3.2, 1.6);              // 9 km level in the fast layer
}

// A fault given by its trace: each segment's centre is the midpoint of its
// trace, its strike points to the trace's second end, its length reaches both
// ends; consecutive segments sharing an end are joined without a word, and
// the same fault by centre and strike gives the same points. A hypocentre at
// a subfault's centre by position lands on it.
TEST(Rupture, FaultByItsTraceAndHypocentreByPosition) {
  const double trace[][4] = {{142.0, 38.0, 142.1, 38.2}, {142.1, 38.2, 142.12, 38.4}};
  std::string segments = "lon1,lat1,lon2,lat2,dip,wid,dtop,nstk,ndip,rake,slip,vm,tr\n";
  for (const auto& t : trace) {
    for (const double value : t) segments += std::to_string(value) + ",";
    segments += "60,12,1,8,4,90,0.5,1.5,1.2\n";
  }
  TempDir dir;
  write_file(dir / "segments.csv", segments);
  const auto run = [&](const std::vector<std::string>& hypocentre) {
    std::vector<std::string> arguments = {"--segments", "segments.csv", "--vr",     "3",
                                          "--points",   "points.csv",   "--planes", "planes.csv"};
    arguments.insert(arguments.end(), hypocentre.begin(), hypocentre.end());
    return run_process(kRupture, arguments, in(dir));
  };
  const Finished f = run({"--hypocentre", "2:-1:5"});
  ASSERT_EQ(f.exit_code(), 0) << f.err;
  EXPECT_EQ(f.err, "");  // no gap between the segments
  const auto planes = rows_of(read_file(dir / "planes.csv"));
  ASSERT_EQ(planes.size(), 2u);
  std::string centred = "elon,elat,stk,len,dip,wid,dtop,nstk,ndip,rake,slip,vm,tr\n";
  for (std::size_t k = 0; k < planes.size(); ++k) {
    const auto& g = planes[k];
    for (const auto& [lon, lat, toward] :
         {std::tuple{trace[k][0], trace[k][1], 180.0}, {trace[k][2], trace[k][3], 0.0}}) {
      double metres = 0, azimuth = 0, unused = 0;
      GeographicLib::Geodesic::WGS84().Inverse(number(g, "elat"), number(g, "elon"), lat, lon, metres, azimuth, unused);
      EXPECT_NEAR(metres / 1000, number(g, "len") / 2, 1e-9);
      EXPECT_NEAR(std::remainder(azimuth - number(g, "stk") - toward, 360.0), 0, 1e-9);
    }
    EXPECT_GE(number(g, "stk"), 0);
    EXPECT_LT(number(g, "stk"), 360);
    centred += text(g, "elon") + "," + text(g, "elat") + "," + text(g, "stk") + "," + text(g, "len") +
               ",60,12,1,8,4,90,0.5,1.5,1.2\n";
  }
  const std::string points = read_file(dir / "points.csv");
  write_file(dir / "segments.csv", centred);
  ASSERT_EQ(run({"--hypocentre", "2:-1:5"}).exit_code(), 0);
  EXPECT_EQ(read_file(dir / "points.csv"), points);

  // Subfault 2-3-2 lies at s = -len/16, d = 7.5 km of segment 2.
  const auto rows = rows_of(points);
  const auto& p = rows[8 * 4 + 2 * 8 + 3];
  ASSERT_EQ(p.at("id"), "2-3-2");
  const Finished at = run({"--hypocentre-at", text(p, "lon") + ":" + text(p, "lat") + ":" + text(p, "dep")});
  ASSERT_EQ(at.exit_code(), 0) << at.err;
  EXPECT_NE(at.err.find("on segment 2 at s = -1.392 km, d = 7.500 km"), std::string::npos) << at.err;
  const auto placed = rows_of(read_file(dir / "planes.csv"));
  EXPECT_NEAR(number(placed[1], "shyp"), -number(planes[1], "len") / 16, 1e-9);
  EXPECT_NEAR(number(placed[1], "dhyp"), 7.5, 1e-9);
}

// Bad segments, patches, hypocentres and options: status 2, the line and the
// rule, and no file written.
TEST(Rupture, BadFaultsAreRefusedWholeWithTheirLines) {
  const std::string header = "elon,elat,stk,dip,len,wid,dtop,nstk,ndip,rake,slip,vm,tr\n";
  const std::string segment = "-118.5,34.2,300,45,30,15,1,6,3,90,0.5,1.5,1.2\n";
  const std::string patches = "segment,s0,s1,d0,d1,slip,vm,tr\n";
  struct Case {
    std::string segments, patches;
    std::vector<std::string> options;
    std::string message;
    std::string medium = "";
  };
  const std::vector<std::string> srf = {"--srf", "r.srf"};
  const std::string trace = "lon1,lat1,lon2,lat2,dip,wid,dtop,nstk,ndip,rake,slip,vm,tr\n";
  const std::string medium = "depth,vs,den\n0,2000,2300\n5,3200,2600\n";
  const Case cases[] = {
      {header + "-118.5,34.2,300,45,30,15,1,0,3,90,0.5,1.5,1.2\n", "", srf,
       "segments.csv:2: nstk = 0: must be from 1 to 99999, a whole number"},
      {header + "-118.5,34.2,300,95,30,15,1,6,3,90,0.5,1.5,1.2\n", "", srf,
       "segments.csv:2: dip = 95: must be from 0 to 90 degrees"},
      {"elon,elat,stk,dip,len,wid,dtop,nstk,ndip,rake,slip,vm,tr,vs\n-118.5,34.2,300,45,30,15,1,6,3,90,0.5,1.5,1.2,"
       "3300\n",
       "", srf, "segments.csv:2: vs and den: give both (the rigidity den*vs^2) or neither"},
      {header + segment,
       "",
       {"--srf", "r.srf", "--srf-version", "2.0"},
       "segments.csv: SRF 2.0 writes vs and den for every point: the table needs vs and den columns (or a medium)"},
      {"elon,elat,stk,dip,len,wid,dtop,nstk,ndip,rake,slip,vm,tr,vs,den\n-118.5,34.2,300,45,30,15,1,6,3,90,0.5,1.5,1.2,"
       ",\n",
       "",
       {"--srf", "r.srf", "--srf-version", "2.0"},
       "segments.csv: SRF 2.0 writes vs and den for every point: the table needs vs and den columns (or a medium)"},
      {"elon,elat,stk,dip,len,wid,dtop,nstk,ndip,rake,slip,vm,tr,vs,den\n-118.5,34.2,300,45,30,15,1,6,3,90,0.5,1.5,1.2,"
       "3300,1e300\n",
       "", srf, "M0 = inf N*m, area = 4.5e+08 m^2: the rupture's sums must be finite numbers"},
      {header, "", srf, "segments.csv: no segments: the table has no rows"},
      {header + "-118.5,34.2,300,45,30000,15,1,6,3,90,0.5,1.5,1.2\n", "", srf,
       "segments.csv:2: len = 30000 km, wid = 15 km: a segment's sides must be at most 20000 km"},
      {header + "-118.5,34.2,300,45,1e-300,1e-300,1,6,3,90,0.5,1.5,1.2\n", "", srf,
       "segments.csv:2: len/nstk = 1.6666666666666667e-301 km, wid/ndip = 3.3333333333333334e-301 km: a subfault's "
       "area "
       "must be greater than 0 m^2"},
      {header + segment + "-120.5,36.2,300,45,30,15,1,6,3,90,0.5,1.5,1.2\n",
       patches + "1,-10,0,0,5,1.6,3.5,1.8\n2,0,5,0,5,1.6,3.5,1.8\n1,-5,5,4,8,1.6,3.5,1.8\n", srf,
       "patches.csv:4: overlaps the patch of patches.csv:2 on segment 1"},
      {header + segment, patches + "1,10,16,0,5,1.6,3.5,1.8\n", srf,
       "patches.csv:2: s 10 km to 16 km, d 0 km to 5 km: a patch must lie wholly inside its segment 1 (s from -15 km "
       "to 15 km, d from 0 to 15 km)"},
      {header + segment, patches + "2,0,5,0,5,1.6,3.5,1.8\n", srf,
       "patches.csv:2: segment = 2: the segments table has 1 segment"},
      {header + segment, patches + "1,5,0,0,5,1.6,3.5,1.8\n", srf,
       "patches.csv:2: s0 = 5 km: must be less than s1 = 0 km"},
      {header + segment, patches + "1,0.1,0.2,0.1,0.2,50,3.5,1.8\n", srf, "patches.csv:2: slip = 50: must be from"},
      {header + "-118.5,34.2,300,45,30,15,1,6,3,90,9,1.5,1.2\n", "", srf, "segments.csv:2: slip = 9: must be from"},
      {header + segment,
       "",
       {"--srf", "r.srf", "--vr", "1e-6"},
       "segments.csv:2: subfault 1-0-0 (i = 0, j = 0) and 17 more of this segment: tinit = "},
      {header + segment, patches + "1,-15,0,0,15,50,3.5,1.8\n", srf, "patches.csv:2: slip = 50: must be from"},
      {header + segment,
       "",
       {"--srf", "r.srf", "--hypocentre", "2:0:0"},
       "--hypocentre 2:0:0: segment 2 is not in the segments table, which has 1"},
      {header + segment,
       "",
       {"--srf", "r.srf", "--hypocentre", "1:16:0"},
       "--hypocentre 1:16:0: not on segment 1, which has s from -15 km to 15 km and d from 0 to 15 km"},
      {header + segment, "", {"--srf", "r.srf", "--hypocentre", "1:0"}, "--hypocentre \"1:0\": must be SEG:S:D"},
      {header + segment, "", {}, "nothing to write: give --srf FILE, --points FILE or both"},
      {header + "-118.5,34.2,300,45,30,5e-324,1,6,1,90,0.5,1.5,1.2\n",
       "",
       {"--srf", "r.srf", "--hypocentre", "1:0:0"},
       "segments.csv:2: in the SRF PLANE block: wid = 5e-324 km: shows as 0 in its SRF 1.0 field (%10.4f)"},
      {header + segment,
       "",
       {"--srf", "r.srf", "--srf-blocks", "two"},
       "--srf-blocks: \"two\" is not a POINTS block layout"},
      {header + segment,
       "",
       {"--srf", "r.srf", "--srf-no-plane=3"},
       "srf-no-plane was given a disallowed flag override"},
      {header + segment, "", {"--srf", "r.srf", "--vr", "0"}, "--vr = 0: must be greater than 0 km/s"},
      {header + segment,
       "",
       {"--srf", "r.srf", "--dt", "0", "--nt", "100"},
       "--dt = 0: must be finite and greater than 0\nslipvel-rupture: --nt = 100: must be a power of two"},
      {header + segment, "", {"--srf", "-", "--points", "/dev/stdout"}, "--srf and --points name the same file"},
      {header + segment, "", {"--srf", "segments.csv"}, "--srf segments.csv would overwrite the input --segments"},
      {header + segment, "", {"--srf", "x", "--points", "./x"}, "--srf and --points name the same file ./x"},
      {header + segment, "", {"--srf", "x", "--points", "nowhere/p.csv"}, "--points nowhere/p.csv: no folder "},
      {header + segment,
       "",
       {"--srf", "x", "--patches", "-", "--segments", "-"},
       "--segments - (standard input) and --patches - (standard input) read the same file"},
      {header + segment, "", srf, "medium.csv:2: depth = 1 km: the first layer's top must be at depth 0 km",
       "depth,vs,den\n1,2000,2300\n"},
      {header + segment, "", srf,
       "medium.csv:3: depth = 0 km: must be deeper than the top of the layer above (0 km, line 2)",
       "depth,vs,den\n0,2000,2300\n0,3000,2300\n"},
      {header + segment, "", srf, "medium.csv:2: vs = 0: must be greater than 0 m/s", "depth,vs,den\n0,0,2300\n"},
      {header + segment, "", srf,
       "medium.csv:4: depth = 4 km: must be deeper than the top of the layer above (5 km, line 3)",
       "depth,vs,den\n0,3000,2700\n5,-3000,2700\n4,3000,2700\n"},
      {header + segment,
       "",
       {"--srf", "r.srf", "--segments", "-", "--medium", "/dev/stdin"},
       "--segments - (standard input) and --medium /dev/stdin read the same file"},
      {header + segment, "", {"--srf", "r.srf", "--hypocentre-at", ""}, "--hypocentre-at \"\": must be LON:LAT:DEP"},
      {"elon,elat,stk,dip,len,wid,dtop,nstk,ndip,rake,slip,vm,tr,vs,den\n-118.5,34.2,300,45,30,15,1,6,3,90,0.5,1.5,"
       "1.2,3300,2700\n",
       "", srf,
       "segments.csv: vs and den columns, and the medium medium.csv gives every subfault vs and den by its depth: "
       "give them in one of the two",
       medium},
      {header + segment,
       "",
       {"--srf", "r.srf", "--vr-fraction", "0.8"},
       "segments.csv:2: no vs: the rupture velocity is a fraction of vs"},
      {header + segment,
       "",
       {"--srf", "r.srf", "--vr-fraction", "2.5"},
       "--vr-fraction = 2.5: must be greater than 0 "
       "and at most 2",
       medium},
      {header + segment, "", {"--srf", "r.srf", "--vr", "3", "--vr-fraction", "0.8"}, "--vr excludes --vr-fraction"},
      {header + segment,
       "",
       {"--srf", "r.srf", "--vr-fraction", "1e-300"},
       "segments.csv: vr = 1e-300 * vs = 0 km/s in the medium's layer of line 2 (vs = 1e-160 m/s): too slow",
       "depth,vs,den\n0,1e-160,1e300\n"},
      {header + segment,
       "",
       {"--srf", "r.srf", "--hypocentre-at", "-118.5:34.2:30"},
       "--hypocentre-at -118.5:34.2:30: 21.232453941259447 km from the fault (nearest on segment 1 at s = 0 km, d = 15 "
       "km): at most the diagonal of one of its subfaults, 7.0710678118654755 km"},
      {header + segment,
       "",
       {"--srf", "r.srf", "--hypocentre-at", "-118.5:34.2"},
       "--hypocentre-at \"-118.5:34.2\": must be LON:LAT:DEP"},
      {"lon1,lat1,lon2,lat2,elon,dip,wid,dtop,nstk,ndip,rake,slip,vm,tr\n", "", srf,
       "segments.csv: columns of both forms: give the top edge by its centre (elon, elat, stk, len) or by its trace "
       "(lon1, lat1, lon2, lat2), not both"},
      {"lon1,lat1,lon2,dip,wid,dtop,nstk,ndip,rake,slip,vm,tr\n", "", srf, "segments.csv: no lat2 column"},
      {trace + "-118,34,-118,34,45,15,1,6,3,90,0.5,1.5,1.2\n", "", srf,
       "segments.csv:2: lon1, lat1 and lon2, lat2 are one point: a segment's trace must have a length"},
      {header + segment,
       "",
       {"--srf", "r.srf", "--mw", "9"},
       "segments.csv:2: scaled by 4875.896170800246 for Mw 9: slip = 2437.948085400123: must be from 0.1061"},
      {header + "-118.5,34.2,300,45,30,15,1,6,3,90,0,1.5,1.2\n",
       "",
       {"--srf", "r.srf", "--mw", "6"},
       "--mw 6: no subfault slips, so no scaling of the slips reaches a magnitude"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    TempDir dir;
    write_file(dir / "segments.csv", c.segments);
    std::vector<std::string> arguments;
    for (const auto& [option, value] :
         {std::pair{"--segments", "segments.csv"}, {"--vr", "3"}, {"--hypocentre", "1:0:5"}}) {
      // --vr stands back for --vr-fraction, --hypocentre for --hypocentre-at.
      const auto replaced = [&](const std::string& given) { return given.starts_with(option); };
      if (std::none_of(c.options.begin(), c.options.end(), replaced))
        arguments.insert(arguments.end(), {option, value});
    }
    for (const auto& [option, name, content] :
         {std::tuple{"--patches", "patches.csv", c.patches}, {"--medium", "medium.csv", c.medium}}) {
      if (content.empty()) continue;
      write_file(dir / name, content);
      arguments.insert(arguments.end(), {option, name});
    }
    arguments.insert(arguments.end(), c.options.begin(), c.options.end());
    const Finished f = run_process(kRupture, arguments, in(dir));
    EXPECT_EQ(f.exit_code(), 2);
    EXPECT_NE(f.err.find(c.message), std::string::npos) << f.err;
    EXPECT_EQ(file_names(dir.path()).size(), 1u + !c.patches.empty() + !c.medium.empty());
    EXPECT_EQ(read_file(dir / "segments.csv"), c.segments);
  }
}

// What the codes that read SRF files radiate, read as they read: sample k as
// the slip rate at tinit + k·dt, the first sample held for every time before
// tinit, the integral by the sum or the trapezoid rule, the first POINTS block
// alone or every block. The README's ruptures and a one-point table, at a
// fine and a coarse dt.
TEST(Rupture, ReadersOfTheFileSeeTheWholeRupture) {
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

// Values that keep every rule but look like a unit mixed up are said once per
// kind, with the first place and a count; the run goes on.
TEST(Rupture, ImplausibleValuesAreWarnedAboutOncePerKind) {
  const std::string header = "elon,elat,stk,dip,len,wid,dtop,nstk,ndip,rake,slip,vm,tr,vs,den\n";
  struct Case {
    std::string segments, vr;
    std::vector<std::string> warnings;
  };
  const Case cases[] = {
      {header + "-118.5,34.2,300,45,30,15,1,6,3,90,0.5,1.5,1.2,3300,2700\n", "2.8", {}},
      {header + "-118.5,34.2,300,45,30,15,1,6,3,90,0.5,1.5,1.2,3.3,2.7\n",
       "2700",
       {"segments.csv:2: subfault 1-0-0: vs = 3.3 m/s: outside 100 to 10000 m/s, the shear-wave speeds of rock (a "
        "speed in km/s?) (and 17 more subfaults)",
        "segments.csv:2: subfault 1-0-0: den = 2.7 kg/m^3: outside 1000 to 5000 kg/m^3",
        "segments.csv:2: subfault 1-0-0: vr = 2700 km/s: faster than the shear-wave speed vs = 3.3 m/s"}},
      {header + "-118.5,34.2,300,45,30,15,3896,6,3,90,0.5,1.5,1.2,2500,2700\n",
       "2.8",
       {"segments.csv:2: subfault 1-0-0: dep = 3897.767766952966 km: deeper than 700 km",
        "segments.csv:2: subfault 1-0-0: vr = 2.8 km/s: faster than the shear-wave speed vs = 2500 m/s where the front "
        "runs (a rupture velocity in m/s?) (and 17 more subfaults)"}},
      {header + "-118.5,34.2,0,10,3000,1500,1,6,3,90,90,150,12,3300,2700\n", "2.8", {"Mw = 10."}},
  };
  for (const Case& c : cases) {
    TempDir dir;
    write_file(dir / "segments.csv", c.segments);
    const Finished f = run_process(
        kRupture, {"--segments", "segments.csv", "--hypocentre", "1:0:5", "--vr", c.vr, "--srf", "r.srf"}, in(dir));
    EXPECT_EQ(f.exit_code(), 0) << f.err;
    const std::vector<std::string> lines = f.err.empty() ? std::vector<std::string>{} : split_lines(f.err);
    ASSERT_EQ(lines.size(), c.warnings.size()) << f.err;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      EXPECT_TRUE(lines[i].starts_with("slipvel-rupture: warning: " + c.warnings[i])) << lines[i];
    }
  }
}

// What a newcomer writes means what it says: a patch's empty vm and tr are
// its segment's (its ts 1.5 times that tr), --hypocenter is --hypocentre, and
// a hypocentre at -0 is written 0.
TEST(Rupture, EmptyPatchValuesAndAmericanSpellingAreTaken) {
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
  EXPECT_EQ(text(first, "slip") + " " + text(first, "vm") + " " + text(first, "tr") + " " + text(first, "ts"),
            "1.6 1.5 1.2 1.7999999999999998");
  EXPECT_TRUE(read_file(dir / "planes.csv").ends_with(",0,0\n")) << read_file(dir / "planes.csv");
}

// A moment-rate function of more than 1e8 rows is refused before anything is
// written, by both programs; below that it has its rows and ends at 0.
TEST(Rupture, MomentRateExtremes) {
  const std::string segments =
      "elon,elat,stk,dip,len,wid,dtop,nstk,ndip,rake,slip,vm,tr,vs,den\n"
      "-118.5,34.2,300,45,3,2,1,3,2,90,0.5,1.5,1.2,3300,2700\n";
  struct Case {
    bool rupture;
    std::string value;  // --vr, or the point's tinit
    std::size_t rows;   // 0: refused
  };
  const Case cases[] = {{true, "1e-300", 0}, {true, "1e-15", 0}, {true, "1e-13", 0},
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

// How segments meet: apart (taken as joined, said), laid over each other
// (refused), crossing (said); continuing one another or bending, silent.
TEST(Rupture, HowSegmentsMeet) {
  const std::string header = "elon,elat,stk,dip,len,wid,dtop,nstk,ndip,rake,slip,vm,tr\n";
  const std::string first = "0,0,0,45,30,15,1,6,3,90,0.5,1.5,1.2\n";  // its top edge ends 15 km north
  struct Case {
    const char* name;
    std::string segments;
    int status;
    const char* said;  // "": nothing
  };
  const std::string examples = std::string(SLIPVEL_SOURCE_DIR) + "/examples/";
  const Case cases[] = {
      {"continuing", header + first + "0,0.27131,0,45,30,15,1,6,3,90,0.5,1.5,1.2\n", 0, ""},
      {"apart", header + first + "0,0.40697,0,45,30,15,1,6,3,90,0.5,1.5,1.2\n", 0,
       "warning: segments.csv:3: segment 2 starts 15.0 km from where segment 1 ends"},
      {"the same row twice", header + first + first, 2,
       "segments.csv:3: lies over segment 1 (line 2) across an area: the subfaults there would slip twice"},
      {"half laid over the other", header + first + "0,0.0678275,0,45,30,15,1,6,3,90,0.5,1.5,1.2\n", 2,
       "segments.csv:3: lies over segment 1 (line 2)"},
      {"crossing", header + "0,0,0,90,20,10,0,20,10,0,1,1.5,1.2\n0,0,90,90,20,10,0,20,10,0,1,1.5,1.2\n", 0,
       "warning: segments.csv:3: subfault 2-9-0 of segment 2 (line 3) lies 0.5 km from the surface of segment 1 "
       "(line 2), within half a subfault: the segments cross or overlap"},
      {"the bend", read_file(examples + "bend-segments.csv"), 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    write_file(dir / "segments.csv", c.segments);
    const Finished f = run_process(
        kRupture, {"--segments", "segments.csv", "--hypocentre", "1:0:5", "--vr", "3", "--points", "p.csv"}, in(dir));
    EXPECT_EQ(f.exit_code(), c.status);
    if (*c.said == 0) {
      EXPECT_EQ(f.err, "");
    } else {
      EXPECT_NE(f.err.find(std::string("slipvel-rupture: ") + c.said), std::string::npos) << f.err;
    }
  }
}

// A file that cannot be written (a full disk, here a file-size limit of 256 KiB
// that the moment-rate file of a slow rupture passes): status 1, and the files
// written before it in the run are not left behind either.
TEST(Rupture, AFailedWriteLeavesNoOtherFile) {
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

}  // namespace
}  // namespace slipvel::testing
