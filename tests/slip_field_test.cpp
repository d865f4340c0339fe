// Random streams: the generators' reference outputs, one stream pinned,
// streams of different keys apart, normal deviates with the right moments.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <set>
#include <stdexcept>

#include "random.hpp"

namespace slipvel::rupture::detail {
namespace {

// Outputs of the authors' reference code.
TEST(RandomStream, GeneratorsGiveTheReferenceOutputs) {
  SplitMix64 split(0);
  for (const std::uint64_t expected : {0xe220a8397b1dcdafull, 0x6e789e6aa1b965f4ull, 0x06c45d188009454full}) {
    EXPECT_EQ(split.next(), expected);
  }
  Xoshiro256StarStar xoshiro(1, 2, 3, 4);
  for (const std::uint64_t expected : {11520ull, 0ull, 1509978240ull, 1215971899390074240ull}) {
    EXPECT_EQ(xoshiro.next(), expected);
  }
}

// A change to the stream key, the uniform's bits or the polar method shows here.
TEST(RandomStream, OneStreamKeepsItsFirstOutputs) {
  Stream bits(2024, 7, Purpose::slip);
  for (const std::uint64_t expected :
       {0x2f6c5aa7d609edf1ull, 0x290ff020b376bb1aull, 0x7c6280f0bb2bc738ull, 0x67cb5c9868aa8b9cull}) {
    EXPECT_EQ(bits.bits(), expected);
  }
  EXPECT_EQ(Stream(2024, 7, Purpose::slip).uniform(), 0.18524710271416434);
  Stream normals(2024, 7, Purpose::slip);
  for (const double expected :
       {-0.37679789403196939, -0.40654359404985646, -0.37999695132409128, -2.5442604084106901}) {
    EXPECT_DOUBLE_EQ(normals.normal(), expected);  // 4 ulps: a C library's log may differ in its last bit
  }
}

// Neighbouring keys, and the largest, each start a stream of their own.
TEST(RandomStream, KeysDifferingInOneNumberGiveDifferentStreams) {
  std::set<std::uint64_t> first, second;
  int streams = 0;
  for (const std::uint64_t seed : {std::uint64_t{0}, std::uint64_t{1}, std::uint64_t{2}, kMostSeed}) {
    for (const std::uint64_t realisation : {std::uint64_t{0}, std::uint64_t{1}, kMostRealisation}) {
      for (const Purpose purpose : {Purpose::slip, Purpose::rake, Purpose::hypocentre}) {
        Stream s(seed, realisation, purpose);
        first.insert(s.bits());
        second.insert(s.bits());
        ++streams;
      }
    }
  }
  EXPECT_EQ(first.size(), static_cast<std::size_t>(streams));
  EXPECT_EQ(second.size(), static_cast<std::size_t>(streams));
  EXPECT_THROW(Stream(kMostSeed + 1, 0, Purpose::slip), std::invalid_argument);
  EXPECT_THROW(Stream(0, kMostRealisation + 1, Purpose::slip), std::invalid_argument);
}

// n deviates: the mean within 4/√n, the variance within 4·√(2/n) and the
// share beyond 2σ (0.0455) within 4·√(p(1−p)/n), four standard errors each.
TEST(RandomStream, NormalDeviatesHaveTheNormalMoments) {
  constexpr int kDraws = 200'000;
  Stream s(5, 0, Purpose::rake);
  double sum = 0, squares = 0, beyond = 0;
  for (int k = 0; k < kDraws; ++k) {
    const double x = s.normal();
    sum += x;
    squares += x * x;
    beyond += std::abs(x) > 2;
  }
  const double n = kDraws, tail = 0.0455;
  EXPECT_NEAR(sum / n, 0, 4 / std::sqrt(n));
  EXPECT_NEAR(squares / n, 1, 4 * std::sqrt(2 / n));
  EXPECT_NEAR(beyond / n, tail, 4 * std::sqrt(tail * (1 - tail) / n));
}

}  // namespace
}  // namespace slipvel::rupture::detail
