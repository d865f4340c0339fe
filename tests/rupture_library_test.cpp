// The rupture library against computations of the test's own: positions by
// an inverse geodesic, depths, areas, rupture times and sources by the rules,
// the medium, the magnitude, traces and hypocentres by position, what it
// warns about, and the faults it refuses (the table every interface reads).
#include <gtest/gtest.h>

#include <GeographicLib/Geodesic.hpp>
#include <GeographicLib/GeodesicLine.hpp>
#include <cmath>
#include <functional>
#include <map>
#include <numbers>
#include <thread>

#include <slipvel/rupture.hpp>
#include <slipvel/text.hpp>

#include "bad_faults.hpp"
#include "temp_dir.hpp"

namespace slipvel::testing {
namespace {

constexpr double kDegree = std::numbers::pi / 180;

rupture::Built built(const std::string& segments, const rupture::Options& options, const std::string& patches = "",
                     const std::string& medium = "") {
  rupture::Inputs inputs(Table::text("segments.csv", segments));
  if (!patches.empty()) inputs.patches = Table::text("patches.csv", patches);
  if (!medium.empty()) inputs.medium = Table::text("medium.csv", medium);
  return rupture::build(inputs, options);
}

rupture::Options on(int segment, double s, double d, double vr) {
  return rupture::Options(rupture::OnSegment{segment, s, d}, rupture::UniformSpeed{vr});
}

std::vector<std::string> rendered_all(const std::vector<Diagnostic>& diagnostics) {
  std::vector<std::string> lines;
  for (const Diagnostic& d : diagnostics) lines.push_back(rendered(d));
  return lines;
}

// The diagnostics but the warning of subfaults too coarse for fmax, which
// every fault of a few subfaults gives (tested on its own below).
std::vector<Diagnostic> without_coarse_subfaults(std::vector<Diagnostic> diagnostics) {
  std::erase_if(diagnostics, [](const Diagnostic& d) {
    return d.severity == Severity::kWarning && d.text.find("the front crosses a subfault in") != std::string::npos;
  });
  return diagnostics;
}

TEST(RuptureLibrary, RefusesEveryBadFaultOfTheTable) {
  for (const BadFault& c : read_bad_faults(SLIPVEL_SOURCE_DIR "/tests/data/bad_faults.txt")) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(mismatch(c, library_diagnostics(c)), "");
  }
}

// The numbers of a segment and of a patch, and the tables they make.
struct SegmentRow {
  double elon, elat, stk, dip, len, wid, dtop;
  int nstk, ndip;
  double rake, slip, vm, tr;
  std::optional<double> ts, vs, den;
};
struct PatchRow {
  int segment;
  double s0, s1, d0, d1, slip, vm, tr;
  std::optional<double> ts, rake;
};

std::string field(const std::optional<double>& v) { return v ? text::shortest(*v) : ""; }

std::string segments_table(const std::vector<SegmentRow>& rows) {
  std::string text = "elon,elat,stk,dip,len,wid,dtop,nstk,ndip,rake,slip,vm,tr,ts,vs,den\n";
  for (const SegmentRow& g : rows) {
    for (const double v : {g.elon, g.elat, g.stk, g.dip, g.len, g.wid, g.dtop}) text += text::shortest(v) + ",";
    text += std::to_string(g.nstk) + "," + std::to_string(g.ndip);
    for (const double v : {g.rake, g.slip, g.vm, g.tr}) text.append(",").append(text::shortest(v));
    text.append(",").append(field(g.ts)).append(",").append(field(g.vs)).append(",").append(field(g.den)).append("\n");
  }
  return text;
}

std::string patches_table(const std::vector<PatchRow>& rows) {
  std::string text = "segment,s0,s1,d0,d1,slip,vm,tr,ts,rake\n";
  for (const PatchRow& p : rows) {
    text += std::to_string(p.segment);
    for (const double v : {p.s0, p.s1, p.d0, p.d1, p.slip, p.vm, p.tr}) text.append(",").append(text::shortest(v));
    text.append(",").append(field(p.ts)).append(",").append(field(p.rake)).append("\n");
  }
  return text;
}

double centre_u(const std::vector<SegmentRow>& segments, std::size_t k) {
  double u = 0;
  for (std::size_t m = 0; m < k; ++m) u += segments[m].len;
  return u + segments[k].len / 2;
}

// Two segments, the second bending away and steeper, a patch on each; the
// first without ts.
const std::vector<SegmentRow> kTwoSegments = {
    {142.5, 38.1, 20, 30, 24, 12, 2, 8, 4, 90, 0.6, 1.5, 1.2, std::nullopt, 3400, 2700},
    {142.6197, 38.2589, 45, 60, 18, 16, 2, 6, 8, 80, 0.4, 1.2, 1, 2, 3500, 2800},
};
const std::vector<PatchRow> kTwoPatches = {
    {1, -6, 3, 3, 9, 1.8, 3.5, 1.8, std::nullopt, 100},
    {2, -9, 0, 0, 6, 1.2, 3, 1.6, 2.5, std::nullopt},
};

// Every subfault by the rules, in file order: id, depth, area, position,
// rupture time over the unfolded fault, and the source of the region its
// centre lies in.
TEST(RuptureLibrary, SubfaultsFollowTheRules) {
  struct Case {
    const char* name;
    std::vector<SegmentRow> segments;
    std::vector<PatchRow> patches;
    int hyp_segment;
    double hyp_s, hyp_d;
  };
  const Case cases[] = {
      {"the example",
       {{-118.5, 34.2, 300, 45, 30, 15, 1, 30, 15, 90, 0.5, 1.5, 1.2, std::nullopt, 3300, 2700}},
       {{1, -12, -4, 4, 11, 1.6, 3.5, 1.8, std::nullopt, std::nullopt},
        {1, 3, 9, 2, 8, 1.2, 3, 1.6, std::nullopt, std::nullopt}},
       1,
       -8,
       9},
      {"two segments, hypocentre on the second", kTwoSegments, kTwoPatches, 2, -3.5, 7},
      {"two segments, hypocentre at the top", kTwoSegments, kTwoPatches, 1, 12, 0},
  };
  constexpr double kVr = 2.7;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const rupture::Built b =
        built(segments_table(c.segments), on(c.hyp_segment, c.hyp_s, c.hyp_d, kVr), patches_table(c.patches));
    ASSERT_TRUE(b.rupture) << ::testing::PrintToString(rendered_all(b.diagnostics));
    const rupture::Rupture& r = *b.rupture;
    std::size_t n = 0;
    double m0 = 0;
    for (std::size_t k = 0; k < c.segments.size(); ++k) {
      const SegmentRow& g = c.segments[k];
      for (int j = 0; j < g.ndip; ++j) {
        for (int i = 0; i < g.nstk; ++i, ++n) {
          ASSERT_LT(n, r.size());
          SCOPED_TRACE(r.id(n));
          EXPECT_EQ(r.id(n), std::to_string(k + 1) + "-" + std::to_string(i) + "-" + std::to_string(j));
          const srf::PointSource p = r.point_source(n);
          const double s = -g.len / 2 + (i + 0.5) * g.len / g.nstk, d = (j + 0.5) * g.wid / g.ndip;
          EXPECT_NEAR(p.where.dep, g.dtop + d * std::sin(g.dip * kDegree), 1e-12);
          EXPECT_NEAR(p.where.area, 1e6 * (g.len / g.nstk) * (g.wid / g.ndip), 1e-9);
          // The position, by the inverse problem from the top edge's centre.
          const double h = d * std::cos(g.dip * kDegree);
          const double east = s * std::sin(g.stk * kDegree) + h * std::sin((g.stk + 90) * kDegree);
          const double north = s * std::cos(g.stk * kDegree) + h * std::cos((g.stk + 90) * kDegree);
          double distance = 0, azimuth = 0, unused = 0;
          GeographicLib::Geodesic::WGS84().Inverse(g.elat, g.elon, p.where.lat, p.where.lon, distance, azimuth, unused);
          EXPECT_NEAR(distance, std::hypot(east, north) * 1000, 1e-3);
          const double turn = std::remainder(azimuth - std::atan2(east, north) / kDegree, 360.0);
          EXPECT_LT(std::hypot(east, north) * 1000 * std::abs(turn) * kDegree, 1e-3);
          // The rupture time over the unfolded fault.
          const double du = centre_u(c.segments, k) + s - (centre_u(c.segments, c.hyp_segment - 1) + c.hyp_s);
          EXPECT_NEAR(p.where.tinit, std::hypot(du, d - c.hyp_d) / kVr, 1e-12);
          // The source: the patch the centre lies in, else the segment's.
          double slip = g.slip, vm = g.vm, tr = g.tr, rake = g.rake;
          std::optional<double> ts = g.ts;
          for (const PatchRow& q : c.patches) {
            if (q.segment == static_cast<int>(k + 1) && q.s0 <= s && s < q.s1 && q.d0 <= d && d < q.d1) {
              slip = q.slip, vm = q.vm, tr = q.tr, ts = q.ts, rake = q.rake.value_or(g.rake);
            }
          }
          EXPECT_EQ(p.parameters.slip, slip);
          EXPECT_EQ(p.parameters.vm, vm);
          EXPECT_EQ(p.parameters.tr, tr);
          EXPECT_EQ(p.where.rake, rake);
          EXPECT_EQ(*p.parameters.ts, ts.value_or(1.5 * tr));
          EXPECT_EQ(p.where.vs, *g.vs);
          EXPECT_EQ(p.where.den, *g.den);
          m0 += *g.den * *g.vs * *g.vs * p.where.area *
                slip_until(find_shape(p.parameters), p.parameters, *p.parameters.ts);
        }
      }
    }
    EXPECT_EQ(n, r.size());
    // Each plane's hypocentre is the same place, against its own centre.
    for (std::size_t k = 0; k < r.planes().size(); ++k) {
      EXPECT_NEAR(r.planes()[k].shyp, centre_u(c.segments, c.hyp_segment - 1) + c.hyp_s - centre_u(c.segments, k),
                  1e-12);
      EXPECT_EQ(r.planes()[k].dhyp, c.hyp_d);
    }
    EXPECT_NEAR(r.moment().moment(), m0, 1e-12 * m0);
    EXPECT_EQ(r.hypocentre().segment + 1, static_cast<std::size_t>(c.hyp_segment));
  }
}

// A layered medium gives each subfault the layer of its centre's depth (the
// deeper one on a boundary); a magnitude scales every region's slip by the
// one factor the note says.
TEST(RuptureLibrary, LayeredMediumAndTargetMagnitude) {
  rupture::Options options = on(1, 0, 5, 2.5);
  options.mw = 6.1;
  const rupture::Built b =
      built("elon,elat,stk,dip,len,wid,dtop,nstk,ndip,rake,slip,vm,tr\n0,0,0,90,10,10,0,5,10,0,0.5,1.5,1.2\n", options,
            "segment,s0,s1,d0,d1,slip\n1,-5,0,0,5,1\n", "depth,vs,den\n0,2000,2300\n1.5,3000,2500\n5,3500,2700\n");
  ASSERT_TRUE(b.rupture);
  const rupture::Rupture& r = *b.rupture;
  ASSERT_FALSE(b.diagnostics.empty());  // and the warning that 2.5 km/s is faster than vs above 1.5 km
  EXPECT_EQ(b.diagnostics[0].severity, Severity::kNote);
  EXPECT_EQ(rendered(b.diagnostics[0]),
            "--mw 6.1: every region's slip and vm scaled by " + text::shortest(r.slip_factor()));
  EXPECT_NEAR(moment_magnitude(r.moment().moment()), 6.1, 0.001);
  for (std::size_t n = 0; n < r.size(); ++n) {
    const srf::PointSource p = r.point_source(n);
    const double dep = p.where.dep;
    SCOPED_TRACE(r.id(n));
    EXPECT_EQ(p.where.vs, dep < 1.5 ? 2000 : dep < 5 ? 3000 : 3500);
    EXPECT_EQ(p.where.den, dep < 1.5 ? 2300 : dep < 5 ? 2500 : 2700);
    const bool in_patch = p.where.lat < 0 && dep < 5;  // striking north: s < 0 is south
    EXPECT_EQ(p.parameters.slip, (in_patch ? 1 : 0.5) * r.slip_factor());
    EXPECT_EQ(p.parameters.vm, 1.5 * r.slip_factor());  // vm·tr/slip kept: the patch takes the segment's vm
  }
}

// A fraction of vs: the front runs at F·vs of the medium, so it bends with the
// layers. Checked against exact first arrivals within 1 % plus a quarter of a
// subfault's crossing at the least speed: a uniform medium gives the straight
// line over the unfolded fault (what a uniform speed gives), and with a fast
// layer below a slow one a subfault straight above the hypocentre is reached
// up the vertical, a level one along the straight line in the fast layer.
TEST(RuptureLibrary, RuptureVelocityFollowsTheMedium) {
  const std::string segments =
      "elon,elat,stk,dip,len,wid,dtop,nstk,ndip,rake,slip,vm,tr\n"
      "0,0,0,90,20,20,0,20,20,0,0.5,1.5,1.2\n0,0.1357,0,90,10,12,0,10,12,0,0.5,1.5,1.2\n";
  const auto times = [&](const std::string& medium, const rupture::RuptureVelocity& velocity) {
    const rupture::Built b = built(segments, rupture::Options(rupture::OnSegment{1, 0.5, 10}, velocity), "", medium);
    std::map<std::string, double> tinit;
    for (std::size_t n = 0; b.rupture && n < b.rupture->size(); ++n)
      tinit[b.rupture->id(n)] = b.rupture->point(n).tinit;
    return tinit;
  };
  const auto within_bound = [](double got, double exact, double least_vr) {
    EXPECT_LE(std::abs(got - exact), 0.01 * exact + 0.25 * 1.0 / least_vr) << got << " against " << exact;
  };
  const auto uniform = times("depth,vs,den\n0,3500,2700\n", rupture::FractionOfVs{0.8});
  const auto straight = times("depth,vs,den\n0,3500,2700\n", rupture::UniformSpeed{2.8});
  ASSERT_EQ(uniform.size(), 520u);
  for (const auto& [id, t] : straight) {
    SCOPED_TRACE(id);
    within_bound(uniform.at(id), t, 2.8);
  }
  const auto layered = times("depth,vs,den\n0,2000,2300\n6,4000,2700\n", rupture::FractionOfVs{0.8});
  within_bound(layered.at("1-10-0"), 4 / 3.2 + 5.5 / 1.6, 1.6);  // up 4 km fast, 5.5 km slow
  within_bound(layered.at("1-19-9"), 9 / 3.2, 1.6);              // 9 km level in the fast layer
}

// A fault given by its trace: each segment's centre is the midpoint of its
// trace, its strike points to the trace's second end, its length reaches both
// ends; consecutive segments sharing an end are joined without a word, and
// the same fault by centre and strike gives the same points. A hypocentre at
// a subfault's centre by position lands on it, and the note says where.
TEST(RuptureLibrary, FaultByItsTraceAndHypocentreByPosition) {
  const double trace[][4] = {{142.0, 38.0, 142.1, 38.2}, {142.1, 38.2, 142.12, 38.4}};
  std::string segments = "lon1,lat1,lon2,lat2,dip,wid,dtop,nstk,ndip,rake,slip,vm,tr\n";
  for (const auto& t : trace) {
    for (const double value : t) segments += text::shortest(value) + ",";
    segments += "60,12,1,8,4,90,0.5,1.5,1.2\n";
  }
  const rupture::Built traced = built(segments, on(2, -1, 5, 3));
  ASSERT_TRUE(traced.rupture);
  EXPECT_TRUE(without_coarse_subfaults(traced.diagnostics).empty())
      << ::testing::PrintToString(rendered_all(traced.diagnostics));
  const rupture::Rupture& r = *traced.rupture;
  std::string centred = "elon,elat,stk,len,dip,wid,dtop,nstk,ndip,rake,slip,vm,tr\n";
  for (std::size_t k = 0; k < r.planes().size(); ++k) {
    const srf::Plane& g = r.planes()[k];
    for (const auto& [lon, lat, toward] :
         {std::tuple{trace[k][0], trace[k][1], 180.0}, {trace[k][2], trace[k][3], 0.0}}) {
      double metres = 0, azimuth = 0, unused = 0;
      GeographicLib::Geodesic::WGS84().Inverse(g.elat, g.elon, lat, lon, metres, azimuth, unused);
      EXPECT_NEAR(metres / 1000, g.len / 2, 1e-9);
      EXPECT_NEAR(std::remainder(azimuth - g.stk - toward, 360.0), 0, 1e-9);
    }
    EXPECT_GE(g.stk, 0);
    EXPECT_LT(g.stk, 360);
    centred += text::shortest(g.elon) + "," + text::shortest(g.elat) + "," + text::shortest(g.stk) + "," +
               text::shortest(g.len) + ",60,12,1,8,4,90,0.5,1.5,1.2\n";
  }
  const rupture::Built by_centre = built(centred, on(2, -1, 5, 3));
  ASSERT_TRUE(by_centre.rupture);
  for (std::size_t n = 0; n < r.size(); ++n) {
    const srf::Point a = r.point(n), b = by_centre.rupture->point(n);
    EXPECT_TRUE(a.lon == b.lon && a.lat == b.lat && a.dep == b.dep && a.tinit == b.tinit) << r.id(n);
  }

  // Subfault 2-3-2 lies at s = -len/16, d = 7.5 km of segment 2.
  const std::size_t n = 8 * 4 + 2 * 8 + 3;
  ASSERT_EQ(r.id(n), "2-3-2");
  const srf::Point p = r.point(n);
  const rupture::Built at =
      built(segments, rupture::Options(rupture::NearestTo{p.lon, p.lat, p.dep}, rupture::UniformSpeed{3}));
  ASSERT_TRUE(at.rupture);
  const std::vector<Diagnostic> said = without_coarse_subfaults(at.diagnostics);
  ASSERT_EQ(said.size(), 1u);
  EXPECT_NE(rendered(said[0]).find("on segment 2 at s = -1.392 km, d = 7.500 km"), std::string::npos);
  EXPECT_NEAR(at.rupture->planes()[1].shyp, -r.planes()[1].len / 16, 1e-9);
  EXPECT_NEAR(at.rupture->planes()[1].dhyp, 7.5, 1e-9);
  EXPECT_NEAR(at.rupture->hypocentre().lon, p.lon, 1e-9);
  EXPECT_NEAR(at.rupture->hypocentre().dep, p.dep, 1e-9);
}

// Subfaults the front crosses in more than 1/fmax warn once, naming the
// segment with the slowest crossing, its speed (vr, or the fraction times the
// least vs at a subfault centre) and the size that keeps the ripples above
// fmax; samples above the Nyquist frequency warn as slipvel-batch does.
TEST(RuptureLibrary, SubfaultsAndSamplesTooCoarseForFmaxWarn) {
  const std::string header = "elon,elat,stk,dip,len,wid,dtop,nstk,ndip,rake,slip,vm,tr\n";
  const std::string fine = "-118.5,34.2,300,90,3,2,0,10,5,180,0.5,1.5,1.2\n";     // 0.3 by 0.4 km
  const std::string coarse = "-118.53,34.21,300,90,3,2,0,3,2,180,0.5,1.5,1.2\n";  // 1 by 1 km
  const std::string medium = "depth,vs,den\n0,2000,2300\n1,3000,2600\n";
  struct Case {
    const char* name;
    std::string segments, medium;
    rupture::RuptureVelocity velocity;
    double dt, fmax;
    std::vector<std::string> warnings;  // each rendered line starts so
  };
  const std::string crossing =
      ": subfaults of 1 km along strike by 1 km down dip, the front at 2.8 km/s: the front crosses a subfault in "
      "0.357 s: the moment rate carries ripples near 2.8 Hz, inside the band up to fmax = ";
  const Case cases[] = {
      {"fine subfaults", header + fine, "", rupture::UniformSpeed{2.8}, 0.005, 6, {}},
      {"fmax below the ripples", header + coarse, "", rupture::UniformSpeed{2.8}, 0.005, 2.5, {}},
      {"coarse subfaults",
       header + coarse,
       "",
       rupture::UniformSpeed{2.8},
       0.005,
       6,
       {"segments.csv:2" + crossing + "6 Hz; subfaults of at most vr/fmax = 0.467 km keep them above it"}},
      {"the coarser of two segments",
       header + fine + coarse,
       "",
       rupture::UniformSpeed{2.8},
       0.005,
       3,
       {"segments.csv:3" + crossing + "3 Hz; subfaults of at most vr/fmax = 0.933 km"}},
      {"a fraction of the least vs",
       header + fine,
       medium,
       rupture::FractionOfVs{0.5},
       0.005,
       6,
       {"segments.csv:2: subfaults of 0.3 km along strike by 0.4 km down dip, the front at 1 km/s: the front crosses "
        "a subfault in 0.4 s: the moment rate carries ripples near 2.5 Hz, inside the band up to fmax = 6 Hz; "
        "subfaults of at most vr/fmax = 0.167 km keep them above it"}},
      {"samples above Nyquist",
       header + fine,
       "",
       rupture::UniformSpeed{2.8},
       0.1,
       6,
       {"fmax = 6 Hz is above the Nyquist frequency 1/(2*dt) = 5 Hz of dt = 0.1 s: " + std::string(kAboveNyquistCost)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    rupture::Options options(rupture::OnSegment{1, 0, 1}, c.velocity);
    options.sampling.dt = c.dt;
    options.sampling.fmax = c.fmax;
    const rupture::Built b = built(c.segments, options, "", c.medium);
    ASSERT_TRUE(b.rupture) << ::testing::PrintToString(rendered_all(b.diagnostics));
    const std::vector<std::string> lines = rendered_all(b.diagnostics);
    ASSERT_EQ(lines.size(), c.warnings.size()) << ::testing::PrintToString(lines);
    for (std::size_t i = 0; i < lines.size(); ++i) {
      EXPECT_EQ(b.diagnostics[i].severity, Severity::kWarning);
      EXPECT_TRUE(lines[i].starts_with(c.warnings[i])) << lines[i];
    }
  }
}

// Values that keep every rule but look like a unit mixed up are said once per
// kind, with the first place and a count; so are segments that cross or leave
// a gap and a patch that changes nothing. The rupture is built all the same.
TEST(RuptureLibrary, WarnsOncePerKindAndBuildsAllTheSame) {
  const std::string header = "elon,elat,stk,dip,len,wid,dtop,nstk,ndip,rake,slip,vm,tr,vs,den\n";
  struct Case {
    const char* name;
    std::string segments;
    double vr;
    std::string patches;
    std::vector<std::string> warnings;  // each rendered line starts so
  };
  const Case cases[] = {
      {"plausible", header + "-118.5,34.2,300,45,30,15,1,6,3,90,0.5,1.5,1.2,3300,2700\n", 2.8, "", {}},
      {"speeds and densities in km/s and g/cm^3",
       header + "-118.5,34.2,300,45,30,15,1,6,3,90,0.5,1.5,1.2,3.3,2.7\n",
       2700,
       "",
       {"segments.csv:2: subfault 1-0-0: vs = 3.3 m/s: outside 100 to 10000 m/s, the shear-wave speeds of rock (a "
        "speed in km/s?) (and 17 more subfaults)",
        "segments.csv:2: subfault 1-0-0: den = 2.7 kg/m^3: outside 1000 to 5000 kg/m^3",
        "segments.csv:2: subfault 1-0-0: vr = 2700 km/s: faster than the P wave (about sqrt(3) * vs = "
        "5.715767664977294 m/s) where the front runs"}},
      {"a front faster than the P wave",
       header + "-118.5,34.2,300,45,30,15,1,6,3,90,0.5,1.5,1.2,2500,2700\n",
       4.5,
       "",
       {"segments.csv:2: subfault 1-0-0: vr = 4.5 km/s: faster than the P wave (about sqrt(3) * vs = "
        "4330.127018922193 m/s) where the front runs (a rupture velocity in m/s?) (and 17 more subfaults)"}},
      {"a depth in m",
       header + "-118.5,34.2,300,45,30,15,3896,6,3,90,0.5,1.5,1.2,2500,2700\n",
       2.8,
       "",
       {"segments.csv:2: subfault 1-0-0: dep = 3897.767766952966 km: deeper than 700 km",
        "segments.csv:2: subfault 1-0-0: vr = 2.8 km/s: faster than the shear-wave speed vs = 2500 m/s where the front "
        "runs (a rupture velocity in m/s?) (and 17 more subfaults)"}},
      {"a magnitude beyond any recorded",
       header + "-118.5,34.2,0,10,3000,1500,1,6,3,90,90,150,12,3300,2700\n",
       2.8,
       "",
       {"Mw = 10."}},
      {"segments apart",
       header + "0,0,0,45,30,15,1,6,3,90,0.5,1.5,1.2,3300,2700\n0,0.40697,0,45,30,15,1,6,3,90,0.5,1.5,1.2,3300,2700\n",
       2.8,
       "",
       {"segments.csv:3: segment 2 starts 15.0 km from where segment 1 ends"}},
      {"segments that cross",
       header + "0,0,0,90,20,10,0,20,10,0,1,1.5,1.2,3300,2700\n0,0,90,90,20,10,0,20,10,0,1,1.5,1.2,3300,2700\n",
       2.8,
       "",
       {"segments.csv:3: subfault 2-9-0 of segment 2 (line 3) lies 0.5 km from the surface of segment 1 (line 2), "
        "within half a subfault: the segments cross or overlap",
        "segments.csv:3: segment 2 starts 14.1 km from where segment 1 ends"}},
      {"segments that continue each other",
       header + "0,0,0,45,30,15,1,6,3,90,0.5,1.5,1.2,3300,2700\n0,0.27131,0,45,30,15,1,6,3,90,0.5,1.5,1.2,3300,2700\n",
       2.8,
       "",
       {}},
      {"a patch between subfault centres",
       header + "-118.5,34.2,300,45,30,15,1,6,3,90,0.5,1.5,1.2,3300,2700\n",
       2.8,
       "segment,s0,s1,d0,d1,slip\n1,0.1,0.2,0.1,0.2,1\n",
       {"patches.csv:2: no subfault's centre lies in this patch, so it changes nothing"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const rupture::Built b = built(c.segments, on(1, 0, 5, c.vr), c.patches);
    EXPECT_TRUE(b.rupture);
    const std::vector<Diagnostic> said = without_coarse_subfaults(b.diagnostics);
    const std::vector<std::string> lines = rendered_all(said);
    ASSERT_EQ(lines.size(), c.warnings.size()) << ::testing::PrintToString(lines);
    for (std::size_t i = 0; i < lines.size(); ++i) {
      EXPECT_EQ(said[i].severity, Severity::kWarning);
      EXPECT_TRUE(lines[i].starts_with(c.warnings[i])) << lines[i];
    }
  }
}

// Columns in memory read as the text does, their rows counted from 1; what a
// table of text refuses they refuse too, and what only columns can hold.
TEST(RuptureLibrary, ColumnsInMemoryAreTheTable) {
  Columns segments{{"elon", "elat", "stk", "dip", "len", "wid", "dtop", "nstk", "ndip", "rake", "slip", "vm", "tr"},
                   {{-118.5}, {34.2}, {300}, {45}, {30}, {15}, {1}, {6}, {3}, {90}, {0.5}, {1.5}, {1.2}}};
  const auto build_from = [](const Columns& columns) {
    return rupture::build(rupture::Inputs(Table::columns("segments", columns)), on(1, 0, 5, 3));
  };
  const rupture::Built from_columns = build_from(segments);
  const rupture::Built from_text = built(kOneSegment, on(1, 0, 5, 3));
  ASSERT_TRUE(from_columns.rupture && from_text.rupture);
  EXPECT_EQ(from_columns.rupture->moment().moment(), from_text.rupture->moment().moment());
  struct Case {
    const char* name;
    std::function<void(Columns&)> change;
    std::string says;
  };
  const Case cases[] = {
      {"a value out of range", [](Columns& c) { c.values[3] = {95}; },
       "segments row 1: dip = 95: must be from 0 to 90"},
      {"a value not a number", [](Columns& c) { c.values[10] = {std::nan("")}; },
       "segments row 1: slip = nan: must be a finite number"},
      {"an empty field", [](Columns& c) { c.values[10] = {std::nullopt}; }, "segments row 1: slip = : must be"},
      {"columns of unequal lengths",
       [](Columns& c) {
         c.values[4] = {30, 40};
       },
       "segments: columns of unequal lengths: elon has 1 values, len has 2"},
      {"a name the table does not know", [](Columns& c) { c.names[0] = "longitude"; },
       "segments: unknown column \"longitude\""},
      {"a name that cannot head a column", [](Columns& c) { c.names[0] = "elon,elat"; },
       "segments: column name \"elon,elat\": not a name a table's column has"},
      {"a column left out", [](Columns& c) { c.names.pop_back(), c.values.pop_back(); }, "segments: no tr column"},
      {"a segment twice",
       [](Columns& c) {
         for (auto& v : c.values) v.push_back(v.front());
       },
       "segments row 2: lies over segment 1 (row 1)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Columns changed = segments;
    c.change(changed);
    const rupture::Built b = build_from(changed);
    EXPECT_FALSE(b.rupture);
    ASSERT_FALSE(b.diagnostics.empty());
    EXPECT_TRUE(rendered(b.diagnostics[0]).starts_with(c.says)) << rendered(b.diagnostics[0]);
  }
}

}  // namespace
}  // namespace slipvel::testing

namespace slipvel::testing {
namespace {

// A centre on a layer boundary takes the deeper layer at any dip, though
// sin(dip) rounds its depth to either side of the boundary (at 30 degrees
// to 0.7499999999999999 for 0.75, at 45 just below the nearest double of
// the boundary √2/2), for the subfaults and the front march alike.
TEST(RuptureLibrary, ACentreOnALayerBoundaryTakesTheDeeperLayer) {
  struct Case {
    double dip;
    const char *wid, *boundary;  // one row: its centre at wid/2 down dip, on the boundary
  };
  for (const Case& c : {Case{30, "3", "0.75"}, Case{45, "2", "0.7071067811865476"}, Case{60, "2", "0.8660254037844386"},
                        Case{90, "1.5", "0.75"}}) {
    SCOPED_TRACE(c.dip);
    const std::string segments = "elon,elat,stk,dip,len,wid,dtop,nstk,ndip,rake,slip,vm,tr\n0,0,0," +
                                 text::shortest(c.dip) + ",4," + c.wid + ",0,4,1,0,0.5,1.5,1.2\n";
    for (const bool fronts : {false, true}) {
      const rupture::Options options(rupture::OnSegment{1, 0, 0},
                                     fronts ? rupture::RuptureVelocity(rupture::FractionOfVs{0.8})
                                            : rupture::RuptureVelocity(rupture::UniformSpeed{3}));
      const rupture::Built b =
          built(segments, options, "", std::string("depth,vs,den\n0,2000,2300\n") + c.boundary + ",3000,2500\n");
      ASSERT_TRUE(b.rupture);
      for (std::size_t n = 0; n < b.rupture->size(); ++n) EXPECT_EQ(b.rupture->point(n).vs, 3000);
    }
  }
}

// Longitudes in [-180, 180), or in [0, 360) where the table gives one above
// 180, across the antimeridian too; the same fault either way.
TEST(RuptureLibrary, LongitudesKeepTheTablesRangeAcrossTheAntimeridian) {
  const std::string header = "lon1,lat1,lon2,lat2,dip,wid,dtop,nstk,ndip,rake,slip,vm,tr\n";
  const rupture::Built west = built(header + "179.5,51,-179.4,51.1,60,10,0,20,5,90,0.5,1.5,1.2\n", on(1, 0, 5, 3));
  const rupture::Built east = built(header + "179.5,51,180.6,51.1,60,10,0,20,5,90,0.5,1.5,1.2\n", on(1, 0, 5, 3));
  ASSERT_TRUE(west.rupture && east.rupture);
  ASSERT_EQ(west.rupture->size(), east.rupture->size());
  for (std::size_t n = 0; n < west.rupture->size(); ++n) {
    const double w = west.rupture->point(n).lon, e = east.rupture->point(n).lon;
    EXPECT_TRUE(w >= -180 && w < 180) << w;
    EXPECT_TRUE(e >= 0 && e < 360) << e;
    EXPECT_NEAR(w < 0 ? w + 360 : w, e, 1e-9);
  }
  EXPECT_TRUE(west.rupture->planes()[0].elon >= -180 && east.rupture->planes()[0].elon < 360);
}

}  // namespace
}  // namespace slipvel::testing

namespace slipvel::testing {
namespace {

std::string read_example(const std::string& name) {
  return read_file(std::string(SLIPVEL_SOURCE_DIR) + "/examples/" + name);
}

// A magnitude scales slip and vm together, so each region keeps its
// function's shape and a large Mw is reached (Mw 7.3 on the traced example
// was refused when vm stayed); the slips alone keep the table's vm.
TEST(RuptureLibrary, AMagnitudeScalesEachRegionsShape) {
  for (const auto scales : {rupture::MagnitudeScales::kSlipAndVm, rupture::MagnitudeScales::kSlip}) {
    rupture::Options options(rupture::NearestTo{-117.494, 34.018, 9.2}, rupture::FractionOfVs{0.8});
    options.mw = scales == rupture::MagnitudeScales::kSlip ? 6.6 : 7.3;
    options.mw_scales = scales;
    const rupture::Built b = built(read_example("trace-segments.csv"), options, read_example("trace-patches.csv"),
                                   read_example("medium.csv"));
    ASSERT_TRUE(b.rupture);
    const rupture::Rupture& r = *b.rupture;
    EXPECT_NEAR(moment_magnitude(r.moment().moment()), *options.mw, 0.001);
    for (std::size_t k = 0; k < r.fault().segments.size(); ++k) {
      const rupture::RegionSource& source = r.fault().segments[k].source;
      EXPECT_EQ(source.slip, 1 * r.slip_factor());
      EXPECT_EQ(source.vm, scales == rupture::MagnitudeScales::kSlip ? 2 : 2 * r.slip_factor());
    }
  }
  // A magnitude far too large for the fault: built, each scaled source beyond
  // what ruptures show warned about once per row of the table.
  rupture::Options options(rupture::OnSegment{1, 0, 5}, rupture::UniformSpeed{2.8});
  options.mw = 9.5;
  const rupture::Built b = built(kOneSegment, options);
  ASSERT_TRUE(b.rupture);
  std::vector<std::string> said;
  for (const Diagnostic& d : without_coarse_subfaults(b.diagnostics)) {
    if (d.severity == Severity::kWarning) said.push_back(rendered(d).substr(0, rendered(d).find(": scaled by") + 1));
  }
  ASSERT_EQ(said.size(), 2u) << ::testing::PrintToString(rendered_all(b.diagnostics));
  EXPECT_EQ(said[0], "segments.csv:2:");
  EXPECT_NE(rendered(without_coarse_subfaults(b.diagnostics)[1]).find("m/s: outside 0.1 to 10 m/s"), std::string::npos);
  EXPECT_NE(rendered(without_coarse_subfaults(b.diagnostics)[2]).find("m: above 50 m, more than any earthquake"),
            std::string::npos);
}

// A catalogue hypocentre a kilometre off the mapped fault lands on it
// whatever the subfaults' size (5 km by default); a tolerance given is kept.
TEST(RuptureLibrary, AHypocentreByPositionMayLieOffTheFaultWithinTheTolerance) {
  struct Case {
    int subfaults_per_km;
    double off;  // km above the top edge's centre
    std::optional<double> tolerance;
    bool lands;
  };
  const Case cases[] = {{1, 1.04, std::nullopt, true}, {4, 1.04, std::nullopt, true}, {4, 4.9, std::nullopt, true},
                        {4, 5.1, std::nullopt, false}, {4, 1.04, 1.0, false},         {1, 0.9, 1.0, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.subfaults_per_km) + " per km, " + text::shortest(c.off) + " km off");
    const int n = 10 * c.subfaults_per_km;
    const std::string segments = "elon,elat,stk,dip,len,wid,dtop,nstk,ndip,rake,slip,vm,tr\n0,0,0,90,10,10,6," +
                                 std::to_string(n) + "," + std::to_string(n) + ",0,0.5,1.5,1.2\n";
    rupture::Options options(rupture::NearestTo{0, 0, 6 - c.off}, rupture::UniformSpeed{3});
    options.hypocentre_tolerance = c.tolerance;
    const rupture::Built b = built(segments, options);
    EXPECT_EQ(static_cast<bool>(b.rupture), c.lands);
    if (b.rupture) {
      EXPECT_NEAR(b.rupture->hypocentre().dep, 6, 1e-9);
    }
  }
}

namespace {

rupture::Built traced(const std::string& trace, const std::string& faults, const rupture::Options& options,
                      const std::string& patches = "") {
  rupture::Inputs inputs(rupture::Traces{Table::text("trace.csv", trace), Table::text("faults.csv", faults)});
  if (!patches.empty()) inputs.patches = Table::text("patches.csv", patches);
  return rupture::build(inputs, options);
}

// Where subfault n's centre lies along its traced fault (km from the first
// vertex), the segments end to end.
double along_trace(const rupture::Rupture& r, std::size_t n) {
  const rupture::Subfault f = r.subfault(n);
  double start = 0;
  for (std::size_t k = 0; k < f.segment; ++k) start += r.planes()[k].len;
  const srf::Plane& g = r.planes()[f.segment];
  return start + (f.i + 0.5) * g.len / g.nstk;
}

}  // namespace

// A long geodesic trace is cut into the fewest segments that keep every
// subfault's strike within the drift allowed of the geodesic's own direction
// at its place (GeographicLib's line, independently), at 34 and 70 degrees
// north, 200 and 2000 km long; the segments join end to end, each with about
// sublen subfaults along strike.
TEST(RuptureLibrary, ATracedFaultKeepsItsStrikeWithinTheDrift) {
  struct Case {
    double lat, km, drift;
    std::size_t fewest_segments;  // the turn of the geodesic over twice the drift, at least
  };
  const Case cases[] = {
      {34, 200, 0.5, 1}, {34, 2000, 0.5, 6}, {70, 200, 0.5, 3}, {70, 2000, 0.5, 20}, {70, 2000, 2, 5}};
  const GeographicLib::Geodesic& earth = GeographicLib::Geodesic::WGS84();
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.lat << " N, " << c.km << " km, drift " << c.drift);
    double lat2 = 0, lon2 = 0;
    earth.Direct(c.lat, 20, 80, c.km * 1000, lat2, lon2);
    const std::string trace = "fault,lon,lat\n1,20," + text::shortest(c.lat) + "\n1," + text::shortest(lon2) + "," +
                              text::shortest(lat2) + "\n";
    const std::string faults =
        "fault,dip,wid,dtop,sublen,ndip,rake,slip,vm,tr\n1,90,10,0," + text::shortest(c.km / 400) + ",1,0,1,2,1.5\n";
    rupture::Options options(rupture::OnSegment{1, c.km / 2, 5}, rupture::UniformSpeed{3});
    options.max_strike_drift = c.drift;
    const rupture::Built b = traced(trace, faults, options);
    ASSERT_TRUE(b.rupture) << ::testing::PrintToString(rendered_all(b.diagnostics));
    const rupture::Rupture& r = *b.rupture;
    EXPECT_GE(r.planes().size(), c.fewest_segments);
    const GeographicLib::GeodesicLine line = earth.InverseLine(c.lat, 20, lat2, lon2);
    double worst = 0, length = 0;
    for (std::size_t n = 0; n < r.size(); ++n) {
      double lat = 0, lon = 0, azimuth = 0;
      line.Position(along_trace(r, n) * 1000, lat, lon, azimuth);
      worst = std::max(worst, std::abs(std::remainder(r.point(n).stk - azimuth, 360.0)));
    }
    EXPECT_LE(worst, c.drift);
    EXPECT_GT(worst, c.drift / 4);  // not cut finer than it needs
    for (std::size_t k = 0; k < r.planes().size(); ++k) {
      const srf::Plane& g = r.planes()[k];
      length += g.len;
      EXPECT_NEAR(g.len / g.nstk, c.km / 400, c.km / 400 / 2);
      if (k == 0) continue;
      // Segment k starts where segment k-1 ends: both ends on the line, the same place.
      const srf::Plane& before = r.planes()[k - 1];
      double a_lat = 0, a_lon = 0, b_lat = 0, b_lon = 0;
      earth.Direct(before.elat, before.elon, before.stk, before.len * 500, a_lat, a_lon);
      earth.Direct(g.elat, g.elon, g.stk + 180, g.len * 500, b_lat, b_lon);
      double apart = 0;
      earth.Inverse(a_lat, a_lon, b_lat, b_lon, apart);
      EXPECT_LT(apart, 1e-3);  // m
    }
    EXPECT_NEAR(length, c.km, 1e-6 * c.km);
    EXPECT_TRUE(without_coarse_subfaults(b.diagnostics).empty())
        << ::testing::PrintToString(rendered_all(b.diagnostics));
  }
}

// A trace drawn vertex by vertex every 100 m makes a segment of each piece,
// whose balls hold hundreds of its neighbours: each pair is still checked,
// so a second fault across it, or the trace folded back onto itself, warns,
// and the trace alone does not.
TEST(RuptureLibrary, AFinelyDrawnTraceIsCheckedPieceByPiece) {
  constexpr double kDegreesPerKmEast = 1 / 92.4, kDegreesPerKmNorth = 1 / 110.9;  // at 34 N
  const auto vertex = [&](int fault, double east, double north) {
    return std::to_string(fault) + "," + text::shortest(-117 + east * kDegreesPerKmEast) + "," +
           text::shortest(34 + north * kDegreesPerKmNorth) + "\n";
  };
  std::string wiggly = "fault,lon,lat\n", folded = wiggly;
  for (int i = 0; i <= 200; ++i) wiggly += vertex(1, 0.1 * i, 0.02 * std::sin(0.7 * i));
  const std::string crossed = wiggly + [&] {
    std::string across;
    for (int i = 0; i <= 100; ++i) across += vertex(2, 10.05, 0.1 * i - 5);
    return across;
  }();
  for (int i = 0; i <= 100; ++i) folded += vertex(1, 0.1 * i, 0);
  for (int i = 99; i >= 0; --i) folded += vertex(1, 0.1 * i, 0.03);
  const std::string one = "fault,dip,wid,dtop,sublen,ndip,rake,slip,vm,tr\n1,90,10,0,0.1,10,180,1,2,1.5\n";
  const std::string two = one + "2,90,10,0,0.1,10,180,1,2,1.5\n";
  struct Case {
    const char* name;
    std::string trace, faults;
    bool warns;
  };
  const Case cases[] = {{"a wiggly trace", wiggly, one, false},
                        {"another fault across it", crossed, two, true},
                        {"the trace folded back 30 m beside itself", folded, one, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const rupture::Built b = traced(c.trace, c.faults, {rupture::OnSegment{1, 0.05, 5}, rupture::UniformSpeed{3}});
    ASSERT_TRUE(b.rupture) << ::testing::PrintToString(rendered_all(b.diagnostics));
    EXPECT_GE(b.rupture->planes().size(), 200u);
    const std::vector<std::string> lines = rendered_all(b.diagnostics);
    const bool crossing = std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
      return line.find("the segments cross or overlap") != std::string::npos;
    });
    EXPECT_EQ(crossing, c.warns) << ::testing::PrintToString(lines);
  }
}

// On a traced fault, patches and the hypocentre measure s along the whole
// trace from its first vertex: a patch across a vertex covers the subfaults
// of both segments whose centres lie in it, and the hypocentre lands on the
// segment that holds its s; a point by position is said along the trace.
TEST(RuptureLibrary, PatchesAndTheHypocentreOfATracedFaultMeasureAlongItsTrace) {
  const std::string trace = "fault,lon,lat\n1,-117.60,34.00\n1,-117.35,34.10\n1,-117.10,34.25\n";
  const std::string faults = "fault,dip,wid,dtop,sublen,ndip,rake,slip,vm,tr\n1,75,18,0,1,6,180,1,2,1.5\n";
  const rupture::Built b =
      traced(trace, faults, rupture::Options(rupture::OnSegment{1, 30, 9}, rupture::UniformSpeed{3}),
             "fault,s0,s1,d0,d1,slip,vm\n1,20,30,3,12,2,3\n");
  ASSERT_TRUE(b.rupture) << ::testing::PrintToString(rendered_all(b.diagnostics));
  const rupture::Rupture& r = *b.rupture;
  ASSERT_EQ(r.planes().size(), 2u);
  const double first = r.planes()[0].len;
  ASSERT_GT(first, 20);
  ASSERT_LT(first, 30);
  std::size_t on_each[2] = {0, 0};
  for (std::size_t n = 0; n < r.size(); ++n) {
    const rupture::Subfault f = r.subfault(n);
    const double s = along_trace(r, n), d = (f.j + 0.5) * 3;
    const bool inside = s >= 20 && s < 30 && d >= 3 && d < 12;
    EXPECT_EQ(r.point_source(n).parameters.slip, inside ? 2 : 1) << r.id(n);
    if (inside) ++on_each[f.segment];
  }
  EXPECT_GT(on_each[0], 0u);
  EXPECT_GT(on_each[1], 0u);
  EXPECT_EQ(r.hypocentre().segment, 1u);
  EXPECT_NEAR(r.hypocentre().s, 30 - first - r.planes()[1].len / 2, 1e-9);
  EXPECT_NEAR(r.planes()[0].shyp, 30 - first / 2, 1e-9);

  // The hypocentre by position of subfault 2-3-2's centre is said along the trace.
  const std::size_t n = r.planes()[0].nstk * 6 + 2 * r.planes()[1].nstk + 3;
  ASSERT_EQ(r.id(n), "2-3-2");
  const srf::Point p = r.point(n);
  const rupture::Built at =
      traced(trace, faults, rupture::Options(rupture::NearestTo{p.lon, p.lat, p.dep}, rupture::UniformSpeed{3}));
  ASSERT_TRUE(at.rupture);
  const std::vector<Diagnostic> said = without_coarse_subfaults(at.diagnostics);
  ASSERT_EQ(said.size(), 1u);
  char expected[96];
  std::snprintf(expected, sizeof expected, "on fault 1 at s = %.3f km along its trace, d = 7.500 km",
                along_trace(r, n));
  EXPECT_NE(rendered(said[0]).find(expected), std::string::npos) << rendered(said[0]);
}

// Patches found by place rather than one after the other: each subfault's
// patch and each overlap against the test's own scan of every patch, for
// patches in rows and columns, sizes from a sliver to the whole segment, on
// bucket edges and sharing edges, and one overlapping many.
TEST(RuptureLibrary, PatchesFoundByPlaceAreThoseAScanFinds) {
  struct Rect {
    double s0, s1, d0, d1;
  };
  const auto grid_of = [](int n, int m, double len, double wid) {
    std::vector<Rect> rects;
    for (int j = 0; j < m; ++j) {
      for (int i = 0; i < n; ++i) {
        rects.push_back({-len / 2 + i * len / n, -len / 2 + (i + 1) * len / n, j * wid / m, (j + 1) * wid / m});
      }
    }
    return rects;
  };
  struct Case {
    const char* name;
    std::vector<Rect> patches;
  };
  std::vector<Rect> crossed = grid_of(6, 3, 12, 6);
  crossed.push_back({-6, 6, 0, 6});  // over every one
  std::vector<Rect> slivers = grid_of(12, 2, 12, 6);
  slivers.push_back({-0.25, 0.25, 0, 6});
  const Case cases[] = {
      {"one per subfault", grid_of(12, 6, 12, 6)},
      {"a few larger than the buckets", grid_of(3, 2, 12, 6)},
      {"the whole segment", {{-6, 6, 0, 6}}},
      {"one of many over the others", crossed},
      {"a sliver across a row", slivers},
      {"sharing edges, apart", {{-6, -1, 0, 2}, {-1, 4, 0, 2}, {-6, 6, 2, 2.5}, {4, 6, 0, 2}, {-3, 3, 2.5, 6}}},
      {"one inside another", {{-5, 5, 1, 5}, {-1, 1, 2, 3}, {0.5, 0.75, 2.5, 2.75}}},
  };
  const std::string segments =
      "elon,elat,stk,dip,len,wid,dtop,nstk,ndip,rake,slip,vm,tr\n"
      "-118.5,34.2,0,60,12,6,0,12,6,90,0.5,1.5,1.2\n";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string table = "segment,s0,s1,d0,d1,slip\n";
    for (std::size_t p = 0; p < c.patches.size(); ++p) {
      const Rect& r = c.patches[p];
      table += "1," + text::shortest(r.s0) + "," + text::shortest(r.s1) + "," + text::shortest(r.d0) + "," +
               text::shortest(r.d1) + "," + text::shortest(0.4 + 0.01 * static_cast<double>(p % 10)) + "\n";
    }
    std::vector<std::string> overlaps;
    for (std::size_t p = 0; p < c.patches.size(); ++p) {
      for (std::size_t e = 0; e < p; ++e) {
        const Rect &a = c.patches[e], &b = c.patches[p];
        if (a.s0 < b.s1 && b.s0 < a.s1 && a.d0 < b.d1 && b.d0 < a.d1) {
          overlaps.push_back("patches.csv:" + std::to_string(p + 2) +
                             ": overlaps the patch of patches.csv:" + std::to_string(e + 2) + " on segment 1");
        }
      }
    }
    const rupture::Built b = built(segments, on(1, 0, 3, 2.8), table);
    std::vector<std::string> said;
    for (const Diagnostic& d : b.diagnostics) {
      if (d.severity == Severity::kError) said.push_back(rendered(d));
    }
    EXPECT_EQ(said, overlaps);
    if (!overlaps.empty()) continue;
    ASSERT_TRUE(b.rupture);
    for (std::size_t n = 0; n < b.rupture->size(); ++n) {
      const rupture::Subfault f = b.rupture->subfault(n);
      const double s = -6 + (f.i + 0.5), d = 0.5 + f.j;
      std::optional<std::size_t> scanned;
      for (std::size_t p = 0; p < c.patches.size() && !scanned; ++p) {
        const Rect& r = c.patches[p];
        if (r.s0 <= s && s < r.s1 && r.d0 <= d && d < r.d1) scanned = p;
      }
      EXPECT_EQ(f.patch, scanned) << "subfault " << b.rupture->id(n);
    }
  }
}

// A StopRequest that says stop ends every long call with Stopped, asked on
// the caller's thread only, and a writer stopped so hands over no more.
TEST(RuptureLibrary, EveryLongCallStopsWhenAskedTo) {
  const std::string segments =
      "elon,elat,stk,dip,len,wid,dtop,nstk,ndip,rake,slip,vm,tr\n"
      "-118.5,34.2,300,45,60,20,0,300,100,90,0.5,1.5,1.2\n";
  const std::string medium = "depth,vs,den\n0,2000,2300\n4,3200,2600\n";
  struct Case {
    const char* name;
    rupture::Options options;
    bool medium;
  };
  rupture::Options stochastic = on(1, 0, 10, 2.8);
  stochastic.stochastic = rupture::Stochastic{};
  stochastic.sampling.fmax = 2;
  const Case cases[] = {
      {"a uniform speed", on(1, 0, 10, 2.8), false},
      {"a front march", {rupture::OnSegment{1, 0, 10}, rupture::FractionOfVs{0.8}}, true},
      {"a stochastic rupture", stochastic, true},
  };
  const std::thread::id caller = std::this_thread::get_id();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const int after : {0, 3}) {
      rupture::Options options = c.options;
      options.jobs = 2;
      int asked = 0;
      bool elsewhere = false;
      options.stop = [&] {
        elsewhere = elsewhere || std::this_thread::get_id() != caller;
        return ++asked > after;
      };
      EXPECT_THROW(built(segments, options, "", c.medium ? medium : ""), Stopped);
      EXPECT_FALSE(elsewhere);
      EXPECT_EQ(asked, after + 1);
    }
  }
  const rupture::Built whole = built(segments, on(1, 0, 10, 2.8));
  ASSERT_TRUE(whole.rupture);
  StringSink all, stopped;
  rupture::write_srf(*whole.rupture, {}, all);
  int asked = 0;
  EXPECT_THROW(rupture::write_srf(*whole.rupture, {}, stopped, {2, {}, [&] { return ++asked > 5; }}), Stopped);
  EXPECT_EQ(asked, 6);
  EXPECT_LT(stopped.text().size(), all.text().size() / 10);
  EXPECT_EQ(all.text().substr(0, stopped.text().size()), stopped.text());
}

}  // namespace
}  // namespace slipvel::testing
