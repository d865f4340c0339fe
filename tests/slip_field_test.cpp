// Random streams: the generators' reference outputs, one stream pinned,
// streams of different keys apart.
// Von Kármán fields over many realisations: mean 0 and variance 1, 1-D
// spectra of the von Kármán shape, opposite edges uncorrelated; nodes taken
// exactly, bilinear between them, the same realisation whatever came
// before; bad grids and spectra refused.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "random.hpp"
#include "slip_field.hpp"

namespace slipvel::rupture::detail {
namespace {

// SplitMix64 and xoshiro256** against their authors' reference outputs; one
// stream's first outputs pinned, so a change to its key, the uniform's bits or
// the polar method shows (normals within 4 ulps: a C library's log may differ
// in its last bit).
TEST(RandomStream, GivesTheReferenceAndPinnedOutputs) {
  SplitMix64 split(0);
  for (const std::uint64_t expected : {0xe220a8397b1dcdafull, 0x6e789e6aa1b965f4ull}) EXPECT_EQ(split.next(), expected);
  Xoshiro256StarStar xoshiro(1, 2, 3, 4);
  for (const std::uint64_t expected : {11520ull, 0ull, 1509978240ull, 1215971899390074240ull}) {
    EXPECT_EQ(xoshiro.next(), expected);
  }
  Stream bits(2024, 7, Purpose::slip), normals(2024, 7, Purpose::slip);
  for (const std::uint64_t expected : {0x2f6c5aa7d609edf1ull, 0x290ff020b376bb1aull, 0x7c6280f0bb2bc738ull}) {
    EXPECT_EQ(bits.bits(), expected);
  }
  EXPECT_EQ(Stream(2024, 7, Purpose::slip).uniform(), 0.18524710271416434);
  for (const double expected : {-0.37679789403196939, -0.40654359404985646, -0.37999695132409128}) {
    EXPECT_DOUBLE_EQ(normals.normal(), expected);
  }
}

// Neighbouring keys, and the largest, start streams whose first two words all differ.
TEST(RandomStream, KeysDifferingInOneNumberGiveDifferentStreams) {
  std::set<std::uint64_t> first, second;
  for (const std::uint64_t seed : {std::uint64_t{0}, std::uint64_t{1}, kMostSeed}) {
    for (const std::uint64_t realisation : {std::uint64_t{0}, std::uint64_t{1}, kMostRealisation}) {
      for (const Purpose purpose : {Purpose::slip, Purpose::rake, Purpose::hypocentre}) {
        Stream s(seed, realisation, purpose);
        first.insert(s.bits()), second.insert(s.bits());
      }
    }
  }
  EXPECT_EQ(first.size(), 27u);
  EXPECT_EQ(second.size(), 27u);
  EXPECT_THROW(Stream(kMostSeed + 1, 0, Purpose::slip), std::invalid_argument);
  EXPECT_THROW(Stream(0, kMostRealisation + 1, Purpose::slip), std::invalid_argument);
}

constexpr std::uint64_t kSeed = 20240607;

std::vector<RandomField> realisations(const FieldGrid& grid, const VonKarman& spectrum, int count) {
  const FieldSynthesis synthesis(grid, spectrum);
  std::vector<RandomField> fields;
  for (int r = 0; r < count; ++r) fields.push_back(synthesis.realise(kSeed, r, Purpose::slip));
  return fields;
}

// The pooled mean of g and of g² over every node of R realisations. Nodes
// correlate as C ≥ 0, and Σ C over all lags is about 1 + ∫C dA/(du·dd) =
// 1 + 4πH·ax·az/(du·dd) (the von Kármán spectrum at k = 0) or less, so a
// realisation of n nodes holds n_eff = n / that independent samples or more
// (as many for g², since Σ C² ≤ Σ C). Four standard errors: 4/√(R·n_eff) on
// the mean, 4·√(2/(R·n_eff)) on the variance. The normal deviates' own mean
// and variance are checked with them.
TEST(RandomField, MeanIsZeroAndVarianceOne) {
  const std::vector<std::pair<FieldGrid, VonKarman>> cases = {
      {{0.5, 0.5, 1, 1, 64, 64}, {1.5, 1.5, 1}},  // short correlation, H = 1
      {{0, 2, 0.5, 1, 96, 48}, {4, 2, 0.75}},     // anisotropic
      {{3, 0, 1, 0.5, 40, 80}, {2, 1, 0.25}},     // rough
  };
  for (const auto& [grid, s] : cases) {
    double sum = 0, squares = 0, count = 0;
    for (const RandomField& field : realisations(grid, s, 200)) {
      for (const double g : field.values()) sum += g, squares += g * g, count += 1;
    }
    const double independent = count / (1 + 4 * std::numbers::pi * s.hurst * s.ax * s.az / (grid.du * grid.dd));
    EXPECT_NEAR(sum / count, 0, 4 / std::sqrt(independent)) << "H = " << s.hurst;
    EXPECT_NEAR(squares / count, 1, 4 * std::sqrt(2 / independent)) << "H = " << s.hurst;
  }
}

// Spectra along an axis of kLine nodes a tenth of its correlation length
// apart (the corner at bin m = kLine/(20π) ≈ 8), fitted at bins 1 to kLine/8,
// a quarter of the Nyquist wavenumber: the grid's own cut across, at π
// radians a node, then still leaves the line's spectrum within 2 % of the
// continuous one.
constexpr int kLine = 512, kBins = kLine / 8;

// The Hann-windowed periodogram of every line along one axis, averaged over
// the lines and the realisations, at bins 1 to kBins.
std::vector<double> line_spectrum(const std::vector<RandomField>& fields, bool along_strike) {
  std::vector<double> cosine(kLine), sine(kLine), window(kLine), power(kBins + 1, 0.0);
  for (int n = 0; n < kLine; ++n) {
    const double angle = 2 * std::numbers::pi * n / kLine;
    cosine[n] = std::cos(angle), sine[n] = std::sin(angle), window[n] = 0.5 - 0.5 * std::cos(angle);
  }
  for (const RandomField& field : fields) {
    const std::size_t lines = along_strike ? field.grid().nd : field.grid().nu;
    for (std::size_t line = 0; line < lines; ++line) {
      std::vector<double> x(kLine);
      for (int n = 0; n < kLine; ++n) x[n] = window[n] * (along_strike ? field.node(n, line) : field.node(line, n));
      for (int m = 1; m <= kBins; ++m) {
        double re = 0, im = 0;
        for (int n = 0; n < kLine; ++n) re += x[n] * cosine[m * n % kLine], im -= x[n] * sine[m * n % kLine];
        power[m] += re * re + im * im;
      }
    }
  }
  return power;
}

struct Fit {
  double a, decay;
};

// The von Kármán line spectrum C·(1 + k²a²)^(−decay/2) nearest in ln P over
// bins 1 to kBins: a by search in 0.2 % steps, C and the decay by linear
// least squares at each a.
Fit fit_von_karman(const std::vector<double>& power, double bin_k, double a_guess) {
  Fit best{0, 0};
  double least = INFINITY;
  for (double a = a_guess / 4; a < 4 * a_guess; a *= 1.002) {
    double sx = 0, sy = 0, sxx = 0, sxy = 0, syy = 0;
    for (int m = 1; m <= kBins; ++m) {
      const double k = m * bin_k, x = std::log(1 + k * k * a * a), y = std::log(power[m]);
      sx += x, sy += y, sxx += x * x, sxy += x * y, syy += y * y;
    }
    const double n = kBins, slope = (n * sxy - sx * sy) / (n * sxx - sx * sx);
    const double residual = (syy - sy * sy / n) - slope * (sxy - sx * sy / n);
    if (residual < least) least = residual, best = {a, -2 * slope};
  }
  return best;
}

// Along a line, (1 + k²a²)^−(H+½): a within 15 % and the decay within 0.15 of
// 2H + 1, for k⁻² slip (H = 1) and Mai & Beroza's H = 0.75. Each bin
// averages 100 × 32 line periodograms, some 300 independent ones (lines a
// correlation length apart); over six seeds the fitted a scattered by 4 %
// (one standard deviation) about a bias of 1 %, the decay by 0.03: the
// tolerances are about four standard deviations.
TEST(RandomField, LineSpectraFollowTheVonKarmanShape) {
  for (const VonKarman& s : {VonKarman{10, 4, 1}, VonKarman{5, 8, 0.75}}) {
    for (const bool along_strike : {true, false}) {
      const std::size_t across = 32;
      const FieldGrid grid{0, 0, s.ax / 10, s.az / 10, along_strike ? kLine : across, along_strike ? across : kLine};
      const double a = along_strike ? s.ax : s.az, spacing = along_strike ? grid.du : grid.dd;
      const Fit fit = fit_von_karman(line_spectrum(realisations(grid, s, 100), along_strike),
                                     2 * std::numbers::pi / (kLine * spacing), a);
      EXPECT_NEAR(fit.a / a, 1, 0.15) << "H = " << s.hurst << (along_strike ? " along strike" : " down dip");
      EXPECT_NEAR(fit.decay, 2 * s.hurst + 1, 0.15)
          << "H = " << s.hurst << (along_strike ? " along strike" : " down dip");
    }
  }
}

// Per realisation, the mean product of two columns' nodes (g has variance 1,
// so it estimates their correlation); realisations are independent, so its
// mean is known within 4 standard errors, their spread over √R. Far apart it
// is not quite 0: the k = 0 term left out makes the padded grid's mean 0,
// which anticorrelates far nodes by about 4πH·ax·az over the padded area
// (−0.06 here). The first two columns, a tenth of a correlation length apart,
// show what the periodic wrap would do to unpadded edges.
TEST(RandomField, OppositeEdgesAreUncorrelated) {
  const FieldGrid grid{0, 0, 1, 1, 64, 48};
  const VonKarman s{10, 10, 0.75};
  const auto fields = realisations(grid, s, 200);
  const auto correlation = [&](std::size_t i0, std::size_t i1) {
    double sum = 0, squares = 0;
    for (const RandomField& f : fields) {
      double product = 0;
      for (std::size_t j = 0; j < grid.nd; ++j) product += f.node(i0, j) * f.node(i1, j) / grid.nd;
      sum += product, squares += product * product;
    }
    const double r = fields.size();
    return std::pair{sum / r, 4 * std::sqrt((squares - sum * sum / r) / (r - 1) / r)};
  };
  const FieldSynthesis synthesis(grid, s);
  const double padded_area = synthesis.padded_nu() * grid.du * synthesis.padded_nd() * grid.dd;
  const auto [edges, tolerance] = correlation(0, grid.nu - 1);
  EXPECT_NEAR(edges, -4 * std::numbers::pi * s.hurst * s.ax * s.az / padded_area, tolerance);
  EXPECT_GT(correlation(0, 1).first, 0.9);
}

// Subfault centres of a fault cut into subfaults one spacing long, as the
// rupture computes them, fall on nodes; so do the fault's corners, clamped.
// Anchored elsewhere, the grid starts a whole number of spacings away.
TEST(RandomField, TakesNodesExactlyAndInterpolatesBilinearlyBetween) {
  const FieldGrid grid = grid_covering(3, 1.2, 0.05, 0.05, 3.0 / 30, 1.2 / 12);
  ASSERT_EQ(grid.nu, 30u);
  ASSERT_EQ(grid.nd, 12u);
  const RandomField f = FieldSynthesis(grid, {0.5, 0.3, 0.75}).realise(kSeed, 0, Purpose::slip);
  for (std::size_t i = 0; i < grid.nu; ++i) {
    for (std::size_t j = 0; j < grid.nd; ++j) {
      ASSERT_EQ(f.at((i + 0.5) * (3.0 / 30), (j + 0.5) * (1.2 / 12)), f.node(i, j));
    }
  }
  EXPECT_EQ(f.at(0, 0), f.node(0, 0));
  EXPECT_EQ(f.at(3, 1.2), f.node(29, 11));
  EXPECT_NEAR(f.at(1.0, 1.2), 0.5 * (f.node(9, 11) + f.node(10, 11)), 1e-14);
  const double upper = 0.75 * f.node(4, 7) + 0.25 * f.node(5, 7), lower = 0.75 * f.node(4, 8) + 0.25 * f.node(5, 8);
  EXPECT_NEAR(f.at(grid.u0 + 4.25 * grid.du, grid.d0 + 7.6 * grid.dd), 0.4 * upper + 0.6 * lower, 1e-14);
  for (const auto& [u, d] : {std::pair{-0.06, 0.5}, {1.0, 1.26}, {NAN, 0.5}}) {
    EXPECT_THROW(f.at(u, d), std::invalid_argument) << u << ", " << d;
  }
  const FieldGrid later = grid_covering(10, 3.5, 7.25, 20.5, 0.5, 1);
  EXPECT_NEAR(later.u0, 0.25, 1e-12);
  EXPECT_NEAR(later.d0, 0.5, 1e-12);
  EXPECT_EQ(later.nu, 20u);
  EXPECT_EQ(later.nd, 4u);  // the last cell reaches half a spacing past the fault
}

// Realisation 5 made first, after others of other purposes, or by another
// synthesis of the same grid, is the same to the last bit.
TEST(RandomField, RealisationDependsOnItsKeyAlone) {
  const FieldGrid grid{0.5, 0.5, 1, 1, 40, 20};
  const VonKarman spectrum{6, 3, 0.75};
  const FieldSynthesis first(grid, spectrum);
  const std::vector<double> alone = first.realise(kSeed, 5, Purpose::slip).values();
  const FieldSynthesis second(grid, spectrum);
  for (std::uint64_t r = 0; r < 5; ++r) second.realise(kSeed, r, r % 2 ? Purpose::rake : Purpose::slip);
  EXPECT_EQ(second.realise(kSeed, 5, Purpose::slip).values(), alone);
  EXPECT_NE(first.realise(kSeed, 5, Purpose::rake).values(), alone);
  EXPECT_NE(first.realise(kSeed + 1, 5, Purpose::slip).values(), alone);
}

TEST(RandomField, RefusesBadGridsAndSpectra) {
  const FieldGrid grid{0, 0, 1, 1, 10, 10};
  const VonKarman spectrum{5, 5, 0.75};
  struct Bad {
    FieldGrid grid;
    VonKarman spectrum;
    const char* said;
  };
  for (const Bad& c : std::vector<Bad>{
           {{0, 0, 0, 1, 10, 10}, spectrum, "spacing along strike"},
           {{0, 0, 1, NAN, 10, 10}, spectrum, "spacing down dip"},
           {{0, 0, 1, 1, 0, 10}, spectrum, "a node each way"},
           {grid, {-5, 5, 0.75}, "ax"},
           {grid, {5, INFINITY, 0.75}, "az"},
           {grid, {5, 5, 0}, "Hurst"},
           {grid, {5, 5, 1.01}, "Hurst"},
           {{0, 0, 1, 1, 4096, 4096}, spectrum, "more than 16777216"},
           {grid, {5, 1e300, 0.75}, "more than 16777216"},
       }) {
    const std::vector<std::string> problems = field_problems(c.grid, c.spectrum);
    ASSERT_EQ(problems.size(), 1u) << c.said;
    EXPECT_NE(problems[0].find(c.said), std::string::npos) << problems[0];
    EXPECT_THROW(FieldSynthesis(c.grid, c.spectrum), std::invalid_argument) << c.said;
  }
  EXPECT_TRUE(field_problems(grid, spectrum).empty());
  EXPECT_THROW(FieldSynthesis(grid, spectrum).realise(kMostSeed + 1, 0, Purpose::slip), std::invalid_argument);
  EXPECT_THROW(grid_covering(10, 4, 0, 0, 0, 1), std::invalid_argument);
  EXPECT_THROW(von_karman_for_magnitude(NAN), std::invalid_argument);
}

TEST(RandomField, MagnitudeGivesMaiAndBerozasCorrelationLengths) {
  const VonKarman s = von_karman_for_magnitude(7);
  EXPECT_NEAR(s.ax, 10, 1e-12);
  EXPECT_NEAR(s.az, std::pow(10, 0.81), 1e-12);
  EXPECT_EQ(s.hurst, 0.75);
}

}  // namespace
}  // namespace slipvel::rupture::detail
