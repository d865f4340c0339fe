// slipvel-batch --srf, read back by a small reader of its own that knows only
// the format: tokens, counts, units, and the slip the samples carry.
#include <gtest/gtest.h>

#include <cmath>
#include <slipvel/slipvel.hpp>
#include <sstream>

#include <bit>
#include <cstdio>
#include <limits>
#include <random>

#include <slipvel/text.hpp>
#include "expected_run.hpp"
#include "run_process.hpp"

namespace slipvel::testing {
namespace {

const std::string kBatch = SLIPVEL_BATCH_PROGRAM;

// Two points of the built-in source and two others, on two segments of two points.
const char* const kPoints =
    "id,lon,lat,dep,stk,dip,rake,area,tinit,vs,den,vm,slip,dt\n"
    "a,-118.5,34.2,5,90,45,180,1e6,0,3500,2700,,,\n"
    "b,-118.49,34.2,5,90,45,180,2.5e6,0.5,3500,2700,3,0.8,\n"
    "c,-118.5,34.21,6.25,90,45,170,1e6,1,3400,2650,,1.1,0.01\n"
    "d,-118.49,34.21,6.25,90,45,170,1e6,1.5,3400,2650,,,\n";
const char* const kPlanes =
    "elon,elat,nstk,ndip,len,wid,stk,dip,dtop,shyp,dhyp\n"
    "-118.495,34.2,2,1,2,1,90,45,5,0,0.5\n"
    "-118.495,34.21,2,1,2,1,90,45,6.25,0,0.5\n";

Launch in(const TempDir& dir) {
  Launch launch;
  launch.folder = dir.path();
  return launch;
}

std::vector<double> numbers(const std::string& line) {
  std::istringstream in(line);
  std::vector<double> values;
  for (double v; in >> v;) values.push_back(v);
  return values;
}

struct Point {
  std::vector<double> head, second, samples;
};

// Reads the file: version, optional PLANE block, POINTS blocks. Fails the test
// on any line that does not have the format's token count.
std::vector<Point> read_srf(const std::string& text, const std::string& version, std::size_t planes,
                            std::size_t blocks) {
  std::vector<std::string> lines = split_lines(text);
  EXPECT_EQ(text.back(), '\n');
  std::size_t at = 0;
  EXPECT_EQ(lines[at++], version);
  if (planes > 0) {
    EXPECT_EQ(lines[at++], "PLANE " + std::to_string(planes));
    for (std::size_t p = 0; p < planes; ++p) {
      EXPECT_EQ(numbers(lines[at++]).size(), 6u);
      EXPECT_EQ(numbers(lines[at++]).size(), 5u);
    }
  }
  std::vector<Point> points;
  for (std::size_t b = 0; b < blocks; ++b) {
    std::istringstream header(lines[at++]);
    std::string word;
    std::size_t count = 0;
    header >> word >> count;
    EXPECT_EQ(word, "POINTS");
    for (std::size_t i = 0; i < count; ++i) {
      Point p{numbers(lines[at]), numbers(lines[at + 1]), {}};
      at += 2;
      EXPECT_EQ(p.head.size(), version == "1.0" ? 8u : 10u);
      EXPECT_EQ(p.second.size(), 7u);
      const auto nt1 = static_cast<std::size_t>(p.second[2]);
      while (p.samples.size() < nt1) {
        const std::vector<double> row = numbers(lines[at++]);
        EXPECT_EQ(row.size(), std::min<std::size_t>(6, nt1 - p.samples.size()));
        p.samples.insert(p.samples.end(), row.begin(), row.end());
      }
      points.push_back(std::move(p));
    }
  }
  EXPECT_EQ(at, lines.size());
  return points;
}

TEST(Srf, FilesReadBackToTheTableAndTheFunction) {
  struct Case {
    const char* version;
    bool planes;
    std::size_t blocks;
  };
  Parameters b, c;
  b.vm = 3;
  b.slip = 0.8;
  c.slip = 1.1;
  c.dt = 0.01;
  const Parameters sources[] = {{}, b, c, {}};
  const double areas[] = {1e6, 2.5e6, 1e6, 1e6};
  for (const Case& k : {Case{"1.0", false, 1}, Case{"1.0", true, 1}, Case{"2.0", false, 1}, Case{"2.0", true, 2}}) {
    SCOPED_TRACE(std::string(k.version) + (k.planes ? " with planes" : ""));
    TempDir dir;
    write_file(dir / "points.csv", kPoints);
    write_file(dir / "planes.csv", kPlanes);
    std::vector<std::string> arguments = {"--table", "points.csv", "--srf", "rupture.srf", "--srf-version", k.version};
    if (k.planes) arguments.insert(arguments.end(), {"--planes", "planes.csv"});
    const Finished f = run_process(kBatch, arguments, in(dir));
    ASSERT_EQ(f.exit_code(), 0) << f.err;
    EXPECT_EQ(file_names(dir.path()), (std::vector<std::string>{"planes.csv", "points.csv", "rupture.srf"}));

    const std::vector<Point> points = read_srf(read_file(dir / "rupture.srf"), k.version, k.planes ? 2 : 0, k.blocks);
    ASSERT_EQ(points.size(), 4u);
    const double slip_precision = k.version == std::string("1.0") ? 0.005 : 0.00005;
    for (std::size_t i = 0; i < points.size(); ++i) {
      const Point& p = points[i];
      const SlipFunction fn = slip_function(sources[i]);
      EXPECT_EQ(p.head[5] / 1e4, areas[i]);                      // cm² back to m²
      EXPECT_EQ(p.head[7], sources[i].dt);                       // dt
      if (p.head.size() == 10) {
        EXPECT_NEAR(p.head[9] * 1000, i < 2 ? 2700 : 2650, 1e-9);  // g/cm³ back to kg/m³
      }
      // The samples: the mean slip velocity over each interval, in cm/s, up
      // to the end of the slip and one zero after it.
      const double dt = sources[i].dt, ts = stopping_time(sources[i]);
      EXPECT_EQ(p.samples.back(), 0);
      EXPECT_NE(p.samples[p.samples.size() - 2], 0);
      EXPECT_LT(static_cast<double>(p.samples.size() - 2) * dt - dt / 2, ts);
      EXPECT_GE(static_cast<double>(p.samples.size() - 1) * dt - dt / 2, ts);
      double sum = 0, rounding = 0;
      for (std::size_t s = 0; s < p.samples.size(); ++s) {
        const double t = static_cast<double>(s) * dt;
        const double mean =
            (slip_until(fn.shape, sources[i], t + dt / 2) - slip_until(fn.shape, sources[i], std::max(0.0, t - dt / 2))) /
            dt;
        EXPECT_NEAR(p.samples[s] / 100, mean, 5e-6 * mean + 1e-12);
        sum += p.samples[s];
        rounding += 5e-6 * std::fabs(p.samples[s]);
      }
      EXPECT_NEAR(p.second[1], sources[i].dt * sum, slip_precision + sources[i].dt * rounding);  // slip1 in cm
      EXPECT_NEAR(p.second[1] / 100, slip_until(fn.shape, sources[i], ts), slip_precision / 100);  // the whole slip
      EXPECT_EQ(p.second[3], 0);
      EXPECT_EQ(p.second[4], 0);
    }
    EXPECT_EQ(points[0].samples.size(), 636u);  // the built-in source: intervals up to 3.1725 s, and one zero
  }
}

TEST(Srf, BadTablesAndDisagreeingCountsWriteNothing) {
  struct Case {
    const char* points;
    const char* planes;
    const char* version;
    std::string err;
  };
  const Case cases[] = {
      {"id,lon,lat,dep,stk,dip,rake,area,tinit\na,400,34,5,90,45,180,1e6,0\nb,-118,34,-1,90,95,180,0,-1\n", nullptr,
       "1.0",
       "p.csv:2: lon = 400: must be from -180 to 360 degrees\n"
       "p.csv:3: dep = -1: must be at least 0 km\n"
       "p.csv:3: dip = 95: must be from 0 to 90 degrees\n"
       "p.csv:3: area = 0: must be greater than 0 m^2\n"
       "p.csv:3: tinit = -1: must be at least 0 s\n"},
      {"id,lon,lat,dep,stk,dip,rake,area,tinit\na,-118,34,5,90,45,180,1e6,0\n", nullptr, "2.0",
       "p.csv:1: no vs column\np.csv:1: no den column\n"},
      {"id,lon,lat,dep,stk,dip,rake,area,tinit\na,-118,34,5,90,45,180,1e6,0\n", kPlanes, "1.0",
       "planes.csv: 1 points in p.csv, the planes hold 4 (the sum of nstk*ndip)\n"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    write_file(dir / "p.csv", c.points);
    std::vector<std::string> arguments = {"--table", "p.csv", "--srf", "r.srf", "--srf-version", c.version};
    if (c.planes) {
      write_file(dir / "planes.csv", c.planes);
      arguments.insert(arguments.end(), {"--planes", "planes.csv"});
    }
    const Finished f = run_process(kBatch, arguments, in(dir));
    EXPECT_EQ(f.exit_code(), 2);
    EXPECT_EQ(f.err, c.err);
    EXPECT_FALSE(std::filesystem::exists(dir / "r.srf"));
  }
}

// The samples' own %13.5e against printf: random magnitudes over the range
// the fast digits take and beyond, both signs, and the values at its edges.
TEST(Srf, SamplesAreWrittenAsPrintfWritesThem) {
  std::mt19937_64 engine(7);
  std::vector<double> values = {0.0, -0.0, 1e-16, 9.99999e-17, 1e15, 999999.5, 9.999995, 0.1234565, 1.0,
                                std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN(),
                                std::numeric_limits<double>::denorm_min(), std::numeric_limits<double>::max()};
  for (int i = 0; i < 1'000'000; ++i) {
    const std::uint64_t bits = engine();
    const double magnitude = std::pow(10.0, -20 + 40 * static_cast<double>(bits >> 11) * 0x1p-53);
    values.push_back((bits & 1) != 0 ? -magnitude : magnitude);
    if (i % 8 == 0) values.push_back(std::bit_cast<double>(engine()));  // any bit pattern
  }
  int differences = 0;
  for (const double v : values) {
    char expected[32], got[14] = {};
    std::snprintf(expected, sizeof expected, "%13.5e", v);
    text::put_srf_sample(got, v);
    if (std::string(got, 13) != expected && ++differences <= 5) {
      ADD_FAILURE() << std::hexfloat << v << ": \"" << std::string(got, 13) << "\" against \"" << expected << "\"";
    }
  }
  EXPECT_EQ(differences, 0);
}

}  // namespace
}  // namespace slipvel::testing
