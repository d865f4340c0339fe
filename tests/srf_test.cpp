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
#include "number_text.hpp"
#include "run_process.hpp"
#include "srf_fields.hpp"
#include "srf_reader.hpp"
#include "srf_sample.hpp"

namespace slipvel::testing {
namespace {

constexpr double kPowersOfTen[] = {1, 10, 100, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8};

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
    for (std::size_t i = 0; i < points.size(); ++i) {
      const Point& p = points[i];
      const SlipFunction fn = slip_function(sources[i]);
      EXPECT_EQ(p.head[5] / 1e4, areas[i]);  // cm² back to m²
      EXPECT_EQ(p.head[7], sources[i].dt);   // dt
      if (p.head.size() == 10) {
        EXPECT_NEAR(p.head[9] * 1000, i < 2 ? 2700 : 2650, 1e-9);  // g/cm³ back to kg/m³
      }
      // The samples: the mean slip velocity over each step that ends at
      // s·dt, in cm/s, through the step that holds ts and one zero after it.
      const double dt = sources[i].dt, ts = stopping_time(sources[i]);
      const auto slip = [&](double t) { return slip_until(fn.shape, sources[i], t); };
      const std::size_t last = p.samples.size() - 2;
      EXPECT_EQ(p.samples.back(), 0);
      EXPECT_NE(p.samples[last], 0);
      EXPECT_LT(static_cast<double>(last - 1) * dt, ts);
      EXPECT_GE(static_cast<double>(last) * dt, ts);
      double sum = 0, rounding = 0;
      for (std::size_t s = 0; s < p.samples.size(); ++s) {
        const double t = static_cast<double>(s) * dt;
        const double mean = (slip(t) - slip(t - dt)) / dt;
        EXPECT_NEAR(p.samples[s] / 100, mean, 5e-6 * mean + 1e-12);
        sum += p.samples[s];
        rounding += 5e-6 * std::fabs(p.samples[s]);
      }
      EXPECT_NEAR(p.second[1], dt * sum, 0.00005 + dt * rounding);  // slip1 in cm
      EXPECT_NEAR(p.second[1] / 100, slip(ts), 0.0000005);          // the whole slip
      EXPECT_EQ(p.second[3], 0);
      EXPECT_EQ(p.second[4], 0);
    }
    EXPECT_EQ(points[0].samples.size(), 637u);  // the built-in source: steps up to 3.175 s, and one zero
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
       "slipvel-batch: p.csv:2: lon = 400: must be from -180 to 360 degrees\n"
       "slipvel-batch: p.csv:3: dep = -1: must be at least 0 km\n"
       "slipvel-batch: p.csv:3: dip = 95: must be from 0 to 90 degrees\n"
       "slipvel-batch: p.csv:3: area = 0: must be greater than 0 m^2\n"
       "slipvel-batch: p.csv:3: tinit = -1: must be at least 0 s\n"},
      {"id,lon,lat,dep,stk,dip,rake,area,tinit\na,-118,34,5,90,45,180,1e6,0\n", nullptr, "2.0",
       "slipvel-batch: p.csv:1: no vs column\nslipvel-batch: p.csv:1: no den column\n"},
      {"id,lon,lat,dep,stk,dip,rake,area,tinit\na,-118,34,5,90,45,180,1e6,0\n", kPlanes, "1.0",
       "slipvel-batch: planes.csv: 1 points in p.csv, the planes hold 4 (the sum of nstk*ndip)\n"},
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

// For random sources at dt from 0.001 to 0.1 s every sample is the mean slip
// velocity over its step and slip1 the function's whole slip; the slip at a
// coarse dt is the slip asked, not what point samples would carry.
TEST(Srf, SamplesAreStepMeansAtAnyTimeStep) {
  std::mt19937_64 engine(16);
  std::uniform_real_distribution<double> unit(0, 1);
  std::string table =
      "id,lon,lat,dep,stk,dip,rake,area,tinit,vm,slip,tr,dt\n"
      "example,-118,34,5,90,45,180,1e6,0,3,0.8,,0.1\n";
  std::vector<Parameters> sources(1);
  sources[0].vm = 3;
  sources[0].slip = 0.8;
  sources[0].dt = 0.1;
  while (sources.size() < 40) {
    Parameters p;
    p.vm = 1 + 4 * unit(engine);
    p.tr = 0.5 + 2 * unit(engine);
    p.dt = std::pow(10.0, -3 + 2 * unit(engine));
    p.slip = 0.3 + 1.5 * unit(engine);
    try {
      check_parameters(p);
    } catch (const ParameterError&) {
      continue;  // a slip this function cannot carry
    }
    table += 'r';
    table += std::to_string(sources.size());
    table += ",-118,34,5,90,45,180,1e6,0";
    for (const double v : {p.vm, p.slip, p.tr, p.dt}) {
      table += ',';
      table += text::shortest(v);
    }
    table += '\n';
    sources.push_back(p);
  }
  TempDir dir;
  write_file(dir / "points.csv", table);
  const Finished f = run_process(kBatch, {"--table", "points.csv", "--srf", "r.srf"}, in(dir));
  ASSERT_EQ(f.exit_code(), 0) << f.err;
  const std::vector<Point> points = read_srf(read_file(dir / "r.srf"), "1.0", 0, 1);
  ASSERT_EQ(points.size(), sources.size());
  EXPECT_EQ(points[0].second[1], 79.983);  // point values at this dt would carry 66.41 cm
  for (std::size_t i = 0; i < points.size(); ++i) {
    const Parameters& p = sources[i];
    const Shape shape = find_shape(p);
    double before = 0;
    for (std::size_t k = 0; k < points[i].samples.size(); ++k) {
      const double after = slip_until(shape, p, static_cast<double>(k) * p.dt);
      const double mean = (after - before) / p.dt * 100;
      ASSERT_NEAR(points[i].samples[k], mean, 5e-6 * mean + 1e-9) << "point " << i << ", sample " << k;
      before = after;
    }
    EXPECT_NEAR(points[i].second[1], 100 * slip_until(shape, p, stopping_time(p)), 0.00005) << "point " << i;
  }
}

// Points of slip 0: their two header lines with slip1 0 and nt1 0, no samples,
// and the file reads as any other; the table's other checks still apply.
TEST(Srf, PointsThatDoNotSlipHaveNoSamples) {
  TempDir dir;
  write_file(dir / "points.csv",
             "id,lon,lat,dep,stk,dip,rake,area,tinit,vs,den,slip\n"
             "a,-118.5,34.2,5,90,45,180,1e6,0,3500,2700,0\n"
             "b,-118.49,34.2,5,90,45,180,1e6,0.5,3500,2700,\n"
             "c,-118.48,34.2,5,90,45,180,1e6,1,3500,2700,0\n");
  for (const char* version : {"1.0", "2.0"}) {
    const Finished f =
        run_process(kBatch, {"--table", "points.csv", "--srf", "r.srf", "--srf-version", version}, in(dir));
    ASSERT_EQ(f.exit_code(), 0) << f.err;
    const std::vector<Point> points = read_srf(read_file(dir / "r.srf"), version, 0, 1);
    ASSERT_EQ(points.size(), 3u);
    for (const std::size_t i : {0u, 2u}) {
      EXPECT_EQ(points[i].second[1], 0);
      EXPECT_EQ(points[i].second[2], 0);
      EXPECT_TRUE(points[i].samples.empty());
    }
    EXPECT_EQ(points[1].samples.size(), 637u);
  }
  write_file(dir / "bad.csv", "id,lon,lat,dep,stk,dip,rake,area,tinit,slip,vm\na,-118.5,34.2,5,90,45,180,1e6,0,0,-1\n");
  const Finished bad = run_process(kBatch, {"--table", "bad.csv", "--srf", "bad.srf"}, in(dir));
  EXPECT_EQ(bad.exit_code(), 2);
  EXPECT_EQ(bad.err, "slipvel-batch: bad.csv:2: vm = -1: must be finite and greater than 0\n");
  EXPECT_FALSE(std::filesystem::exists(dir / "bad.srf"));
  // Without --srf slip 0 stays refused, and the message says where it is taken.
  write_file(dir / "sources.csv", "id,slip\na,0\n");
  const Finished csv = run_process(kBatch, {"--table", "sources.csv", "-o", "out"}, in(dir));
  EXPECT_EQ(csv.exit_code(), 2);
  EXPECT_EQ(csv.err,
            "slipvel-batch: sources.csv:2: slip = 0: must be finite and greater than 0 (SRF output, --srf, takes "
            "points of slip 0)\n");
  EXPECT_FALSE(std::filesystem::exists(dir / "out"));
}

// "key=value" of the moment line.
double moment_field(const std::string& line, const std::string& key) {
  const std::size_t at = line.find(" " + key + "=");
  return at == std::string::npos ? std::nan("") : std::stod(line.substr(at + key.size() + 2));
}

// M0 and Mw against a sum of their own; the moment rate sums to M0 and starts
// at 0; the line goes to standard output, or to standard error with --srf -.
TEST(Srf, MomentLineAndMomentRateAgreeWithAnIndependentSum) {
  struct Case {
    const char* version;
    std::vector<std::string> options;
    double rigidity;  // the table leaves vs and den empty, so every point has this; 0: each point's den·vs²
  };
  const Case cases[] = {{"1.0", {}, 3.6288e10}, {"1.0", {"--rigidity", "3e10"}, 3e10}, {"1.0", {}, 0}, {"2.0", {}, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.version) + " " + (c.options.empty() ? "" : c.options[1]) + " " +
                 std::to_string(c.rigidity));
    TempDir dir;
    std::string table = kPoints;
    table += "e,-118.48,34.21,6.25,90,45,170,4e6,2,3400,2650,,0,\n";  // a point that does not slip
    if (c.rigidity > 0) {
      for (const std::string given : {",3500,2700,", ",3400,2650,"}) {
        for (std::size_t at; (at = table.find(given)) != std::string::npos;) table.replace(at, given.size(), ",,,");
      }
    }
    write_file(dir / "points.csv", table);
    std::vector<std::string> arguments = {"--table",       "points.csv", "--srf",         "r.srf",
                                          "--srf-version", c.version,    "--moment-rate", "rate.csv"};
    arguments.insert(arguments.end(), c.options.begin(), c.options.end());
    // The table's point c has dt 0.01: one dt is needed for the moment rate.
    Finished f = run_process(kBatch, arguments, in(dir));
    EXPECT_EQ(f.exit_code(), 2);
    EXPECT_EQ(f.err,
              "slipvel-batch: --moment-rate needs one dt for the whole table: points.csv:2 has dt = 0.005, "
              "points.csv:4 has dt = 0.01\n");
    EXPECT_EQ(file_names(dir.path()), std::vector<std::string>{"points.csv"});
    std::string one_dt = table;
    one_dt.replace(one_dt.find(",1.1,0.01"), 9, ",1.1,");
    write_file(dir / "points.csv", one_dt);
    f = run_process(kBatch, arguments, in(dir));
    ASSERT_EQ(f.exit_code(), 0) << f.err;

    const double areas[] = {1e6, 2.5e6, 1e6, 1e6, 4e6}, tinit[] = {0, 0.5, 1, 1.5, 2};
    const double vs[] = {3500, 3500, 3400, 3400}, den[] = {2700, 2700, 2650, 2650};
    Parameters sources[4];
    sources[1].vm = 3;
    sources[1].slip = 0.8;
    sources[2].slip = 1.1;
    double m0 = 0, duration = 0;
    for (std::size_t i = 0; i < 4; ++i) {
      const double mu = c.rigidity > 0 ? c.rigidity : den[i] * vs[i] * vs[i];
      m0 += mu * areas[i] * slip_until(find_shape(sources[i]), sources[i], stopping_time(sources[i]));
      duration = std::max(duration, tinit[i] + stopping_time(sources[i]));
    }
    const std::string& line = f.out;
    EXPECT_TRUE(line.starts_with("points=5 area_m2=9500000 M0_Nm=")) << line;
    EXPECT_EQ(line.back(), '\n');
    EXPECT_NEAR(moment_field(line, "M0_Nm"), m0, 1e-12 * m0);
    EXPECT_NEAR(moment_field(line, "Mw"), 2.0 / 3.0 * (std::log10(m0) - 9.1), 1e-12);
    EXPECT_EQ(moment_field(line, "duration_s"), duration);

    const std::vector<std::string> rows = split_lines(read_file(dir / "rate.csv"));
    ASSERT_GT(rows.size(), 2u);
    EXPECT_EQ(rows[0], "time(s),moment_rate(N*m/s)");
    EXPECT_EQ(rows[1], "0,0");
    EXPECT_EQ(rows.size() - 1, static_cast<std::size_t>(std::ceil(duration / 0.005)) + 2);
    double sum = 0;
    for (std::size_t k = 1; k < rows.size(); ++k) sum += std::stod(rows[k].substr(rows[k].find(',') + 1));
    EXPECT_NEAR(0.005 * sum, m0, 1e-9 * m0);
    EXPECT_EQ(std::stod(rows.back().substr(rows.back().find(',') + 1)), 0);
  }
}

// Values whose text would be wider than their field, or not a finite number
// in the file's units, are refused with their line and the limit; nothing is
// written. Values just inside are written whole, and -0 shows as 0.
TEST(Srf, ValuesTooWideForTheirFieldsAreRefused) {
  struct Case {
    const char* version;
    std::string row;  // lon,lat,dep,stk,dip,rake,area,tinit,vs,den
    std::string err;
  };
  const Case cases[] = {
      {"1.0", "-118,34,5,90,45,180,1e6,1e300,,",
       "slipvel-batch: p.csv:2: tinit = 1e+300 s: too wide for its SRF 1.0 field (%10.4f), which holds values up to "
       "99999.9999\n"},
      {"1.0", "-118,34,5,90,45,180,1e6,99999.99996,,",
       "slipvel-batch: p.csv:2: tinit = 99999.99996 s: too wide for its SRF 1.0 field (%10.4f), which holds values up "
       "to "
       "99999.9999\n"},
      {"2.0", "-118,34,5,90,45,180,1e305,0,3000,2700",
       "slipvel-batch: p.csv:2: area = 1e+305 m^2: becomes inf in the SRF file's unit, not a finite number\n"},
      {"2.0", "-118,34,5,90,45,180,1e6,0,1e307,2700",
       "slipvel-batch: p.csv:2: vs = 1e+307 m/s: becomes inf in the SRF file's unit, not a finite number\n"
       "slipvel-batch: p.csv:2: vs = 1e+307 m/s, den = 2700 kg/m^3: the rigidity den*vs^2 = inf Pa must be finite and "
       "greater than "
       "0\n"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    write_file(dir / "p.csv", "id,lon,lat,dep,stk,dip,rake,area,tinit,vs,den\na," + c.row + "\n");
    const Finished f = run_process(kBatch, {"--table", "p.csv", "--srf", "r.srf", "--srf-version", c.version}, in(dir));
    EXPECT_EQ(f.exit_code(), 2) << c.row;
    EXPECT_EQ(f.err, c.err);
    EXPECT_FALSE(std::filesystem::exists(dir / "r.srf"));
  }
  TempDir dir;
  write_file(dir / "planes.csv",
             "elon,elat,nstk,ndip,len,wid,stk,dip,dtop,shyp,dhyp\n-118,34,1,1,1e300,1,90,45,0,0,0\n");
  write_file(dir / "p.csv",
             "id,lon,lat,dep,stk,dip,rake,area,tinit\na,-0.0000001,34,9999.9999,0,45,-0.2,1e6,99999.9999\n");
  Finished f = run_process(kBatch, {"--table", "p.csv", "--srf", "r.srf", "--planes", "planes.csv"}, in(dir));
  EXPECT_EQ(f.exit_code(), 2);
  EXPECT_EQ(
      f.err,
      "slipvel-batch: planes.csv:2: len = 1e+300 km: too wide for its SRF 1.0 field (%10.4f), which holds values up to "
      "99999.9999\n");
  f = run_process(kBatch, {"--table", "p.csv", "--srf", "r.srf"}, in(dir));
  ASSERT_EQ(f.exit_code(), 0) << f.err;
  const std::vector<std::string> lines = split_lines(read_file(dir / "r.srf"));
  EXPECT_EQ(lines[2], "    0.000000   34.000000  1.00000e+04    0   45  1.00000e+10 99999.9999  5.00000e-03");
  EXPECT_TRUE(lines[3].starts_with("   0   ")) << lines[3];
}

// Values that keep every rule but look like a unit mixed up: one warning a
// kind, the first row and how many more; the file is still written.
TEST(Srf, ImplausiblePointsAreWarnedAboutOncePerKind) {
  TempDir dir;
  write_file(dir / "p.csv",
             "id,lon,lat,dep,stk,dip,rake,area,tinit,vs,den\n"
             "a,-118,34,5,90,45,180,1e6,0,3.5,2700\n"
             "b,-118,34,3897,90,45,180,1e6,0,3.5,2700\n"
             "c,-118,34,5,90,45,180,1e6,0,3.5,2700\n");
  const Finished f = run_process(kBatch, {"--table", "p.csv", "--srf", "r.srf", "--srf-version", "2.0"}, in(dir));
  EXPECT_EQ(f.exit_code(), 0);
  EXPECT_EQ(f.err,
            "slipvel-batch: warning: p.csv:2: vs = 3.5 m/s: outside 100 to 10000 m/s, the shear-wave speeds of rock (a "
            "speed in km/s?) (and 2 more rows)\n"
            "slipvel-batch: warning: p.csv:3: dep = 3897 km: deeper than 700 km, below every earthquake (a depth in "
            "m?)\n");
  EXPECT_TRUE(std::filesystem::exists(dir / "r.srf"));
}

// The coarse-sampling warning of the CSV files: once, exactly when a time
// history ends more than 1 % off its target; the files are written, status 0.
// A dt of 0.1 s is also too coarse for fmax 6 Hz (Nyquist frequency 5 Hz).
TEST(Srf, CoarseTimeHistoriesAreWarnedAboutOnce) {
  struct Case {
    const char* table;
    std::string err;
  };
  const Case cases[] = {
      {"id,vm,slip,dt\na,3,0.8,0.005\nb,3,0.8,0.01\n", ""},
      {"id,vm,slip,dt\na,3,0.8,0.005\nb,3,0.8,0.1\nc,3,0.8,0.05\n",
       "slipvel-batch: warning: 1 source's fmax is above the Nyquist frequency 1/(2*dt) (first b: fmax = 6 Hz, dt = "
       "0.1 s, Nyquist frequency 5 Hz): " +
           std::string(kAboveNyquistCost) +
           "\n"
           "slipvel-batch: warning: 2 sources' time history ends more than 1 % off the slip asked (first b: "
           "0.6640544661149328 m "
           "sampled, 0.8 m asked): at this dt the samples miss part of the sharp rise; a smaller dt fixes it\n"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    write_file(dir / "t.csv", c.table);
    const Finished f = run_process(kBatch, {"--table", "t.csv", "-o", "out"}, in(dir));
    EXPECT_EQ(f.exit_code(), 0);
    EXPECT_EQ(f.err, c.err);
    EXPECT_TRUE(std::filesystem::exists(dir / "out" / "summary.csv"));
  }
}

// The samples' own %13.5e against printf: random magnitudes over the range
// the fast digits take and beyond, both signs, and the values at its edges.
TEST(Srf, SamplesAreWrittenAsPrintfWritesThem) {
  std::mt19937_64 engine(7);
  std::vector<double> values = {0.0,
                                -0.0,
                                1e-16,
                                9.99999e-17,
                                1e15,
                                999999.5,
                                9.999995,
                                0.1234565,
                                1.0,
                                std::numeric_limits<double>::infinity(),
                                std::numeric_limits<double>::quiet_NaN(),
                                std::numeric_limits<double>::denorm_min(),
                                std::numeric_limits<double>::max()};
  for (int i = 0; i < 1'000'000; ++i) {
    const std::uint64_t bits = engine();
    const double magnitude = std::pow(10.0, -20 + 40 * static_cast<double>(bits >> 11) * 0x1p-53);
    values.push_back((bits & 1) != 0 ? -magnitude : magnitude);
    if (i % 8 == 0) values.push_back(std::bit_cast<double>(engine()));  // any bit pattern
  }
  // Values on a rounding tie of the fifth decimal (seven significant digits
  // ending in 5, exactly representable), and their neighbours.
  for (int i = 0; i < 100'000; ++i) {
    const auto digits = static_cast<double>(100000 + engine() % 900000);
    const double tie = (digits * 10 + 5) * kPowersOfTen[engine() % 9] / (i % 2 == 0 ? 1 : 10);  // ... or d.ddddd5e+0X
    for (const double v : {tie, std::nextafter(tie, 0.0), std::nextafter(tie, 1e300)}) {
      values.push_back(v);
      values.push_back(-v);
    }
  }
  // Runs of neighbouring values, as a slip-rate history has them.
  for (double v = 1e-3; v < 1e4; v *= 1.0001) values.push_back(v);
  // One value at a time, and all as lines of six.
  std::string lines(values.size() * 14 + 6, ' ');
  const char* const end = detail::put_srf_samples(lines.data(), values.data(), values.size(), 6);
  EXPECT_EQ(static_cast<std::size_t>(end - lines.data()), values.size() * 13 + (values.size() + 5) / 6);
  int differences = 0;
  for (std::size_t i = 0; i < values.size(); ++i) {
    const double v = values[i];
    char expected[32], got[14] = {};
    std::snprintf(expected, sizeof expected, "%13.5e", v);
    detail::put_srf_sample(got, v);
    const std::string in_line = lines.substr(i * 13 + i / 6, 13);
    if ((std::string(got, 13) != expected || in_line != expected) && ++differences <= 5) {
      ADD_FAILURE() << std::hexfloat << v << ": \"" << std::string(got, 13) << "\" and \"" << in_line << "\" against \""
                    << expected << "\"";
    }
    if (i % 6 == 5) {
      EXPECT_EQ(lines[i * 13 + i / 6 + 13], '\n');
    }
  }
  EXPECT_EQ(differences, 0);
}

// A point's text, its samples made a block at a time, against the samples
// slip_rate makes one step mean after the other, each written by printf: the
// sources slipvel-batch's distinct-point benchmark draws and others, at
// steps from 0.1 ms to 50 ms and steps that put a sample on tb or tr.
TEST(Srf, PointTextsHoldTheStepMeansOneAfterTheOther) {
  std::mt19937_64 engine(35);
  std::uniform_real_distribution<double> unit(0, 1);
  int points = 0;
  while (points < 200) {
    Parameters p;
    p.vm = 0.5 + 4 * unit(engine);
    p.slip = p.vm * (0.15 + 0.3 * unit(engine));
    p.tr = 1 + 2 * unit(engine);
    p.dt = points % 4 == 3 ? p.tr / 300 : std::pow(10.0, -4 + 2.7 * unit(engine));
    srf::PointSource point;
    try {
      point = srf::point_source({-118, 34, 5, 90, 45, 180, 1e6, 0.5, 3300, 2700}, p);
    } catch (const ParameterError&) {
      continue;  // a slip the function does not carry
    }
    if (points % 4 == 2) point.parameters.dt = point.shape->tb / 32;
    ++points;
    const srf::SlipRate rate = srf::slip_rate(point);
    std::string expected;
    for (std::size_t k = 0; k < rate.samples.size(); ++k) {
      char field[32];
      std::snprintf(field, sizeof field, "%13.5e", rate.samples[k]);
      expected += field;
      if (k % 6 == 5 || k + 1 == rate.samples.size()) expected += '\n';
    }
    const std::string text = srf::point_text(point, srf::Version::k2);
    const std::size_t second_line = text.find('\n', text.find('\n') + 1);
    ASSERT_EQ(text.substr(second_line + 1), expected)
        << "vm " << p.vm << ", slip " << p.slip << ", tr " << p.tr << ", dt " << point.parameters.dt;
  }
}

// The writer of lines of samples not below 0 against printf, run by run:
// decades moving inside a line (up, down, back and forth across one
// boundary), ties of the fifth decimal and their neighbours, zeros, values
// beyond the fast digits, and random magnitudes, in runs of every length.
TEST(Srf, LinesOfSamplesAreWrittenAsPrintfWritesThem) {
  std::mt19937_64 engine(36);
  std::uniform_real_distribution<double> unit(0, 1);
  std::vector<std::vector<double>> runs;
  std::vector<double> up, down, across, ties, edges, random;
  for (double v = 1e-3; v < 1e5; v *= 1.7) up.push_back(v);
  for (double v = 3e4; v > 1e-4; v /= 1.9) down.push_back(v);
  for (int i = 0; i < 60; ++i) across.push_back(i % 3 == 0 ? 100.7 : i % 3 == 1 ? 99.96 : 9.9999949);
  for (int i = 0; i < 60; ++i) {
    const double tie = (static_cast<double>(100000 + engine() % 900000) * 10 + 5) / kPowersOfTen[engine() % 9];
    for (const double v : {tie, std::nextafter(tie, 0.0), std::nextafter(tie, 1e300)}) ties.push_back(v);
  }
  edges = {0.0, 1e-16, 9.99999e-17, 999999.5, 9.999995, 1e15, 1e16, 1e-300, 0.0, 4.9e-324, 1.0, 10.0, 99999.95};
  for (int i = 0; i < 3000; ++i) random.push_back(std::pow(10.0, -18 + 36 * unit(engine)));
  runs = {up, down, across, ties, edges, random};
  for (const std::vector<double>& run : runs) {
    for (std::size_t start = 0; start < std::min<std::size_t>(run.size(), 7); ++start) {
      for (std::size_t length = 1; start + length <= run.size(); length += 1 + length / 3) {
        std::string expected;
        for (std::size_t k = 0; k < length; ++k) {
          char field[32];
          std::snprintf(field, sizeof field, "%13.5e", run[start + k]);
          expected += field;
          if (k % 6 == 5 || k + 1 == length) expected += '\n';
        }
        std::string lines(length * 14 + 8, '?');
        detail::SampleWriter writer;
        const char* const end = writer.put_lines_not_negative(lines.data(), run.data() + start, length, 6);
        ASSERT_EQ(std::string(static_cast<const char*>(lines.data()), end), expected)
            << "from " << start << ", " << length << " values";
      }
    }
  }
}

// A file's POINTS blocks against its points' texts one by one with their
// POINTS lines: blocks that start inside a chunk of the writer, on a
// chunk's first point and its second, for one job and three.
TEST(Srf, BlocksStartWhereverChunksDo) {
  const auto points_of = [](std::size_t count) {
    std::vector<srf::PointSource> points;
    for (std::size_t n = 0; n < count; ++n) {
      Parameters p;
      p.vm = 1 + static_cast<double>(n % 7) * 0.3;
      p.slip = p.vm * 0.3;
      points.push_back(
          srf::point_source({-118, 34, 5, 90, 45, 180, 1e6, 0.01 * static_cast<double>(n), 3300, 2700}, p));
    }
    return points;
  };
  const std::vector<std::vector<int>> cases = {{3, 700}, {256, 256, 1}, {257, 255}, {1, 255, 256, 2}, {513}};
  for (const std::vector<int>& sizes : cases) {
    std::vector<srf::Plane> planes;
    for (const int n : sizes) planes.push_back({-118, 34, n, 1, 10, 5, 90, 45, 1, 0, 2});
    std::size_t count = 0;
    for (const int n : sizes) count += static_cast<std::size_t>(n);
    const std::vector<srf::PointSource> points = points_of(count);
    std::string expected;
    for (std::size_t k = 0, first = 0; k < sizes.size(); first += static_cast<std::size_t>(sizes[k++])) {
      expected += "POINTS " + std::to_string(sizes[k]) + "\n";
      for (int i = 0; i < sizes[k]; ++i)
        expected += srf::point_text(points[first + static_cast<std::size_t>(i)], srf::Version::k2);
    }
    for (const int jobs : {1, 3}) {
      StringSink sink;
      srf::write_srf(sink, {points.size(), [&](std::size_t n) { return points[n]; }}, planes,
                     {srf::Version::k2, srf::Blocks::kPerPlane, true}, {jobs, {}});
      const std::string& text = sink.text();
      ASSERT_EQ(text.substr(text.find("POINTS")), expected) << sizes.size() << " planes, " << jobs << " jobs";
    }
  }
}

}  // namespace
}  // namespace slipvel::testing
