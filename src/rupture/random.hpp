// Random numbers that are the same on every machine and standard library:
// xoshiro256** seeded through SplitMix64, uniform doubles from 53 bits and
// normal deviates by Marsaglia's polar method, all written out here.
//
// Each (seed, realisation, purpose) has a stream of its own, a function of
// those three numbers alone: realisation K of a rupture draws the same
// numbers whatever was drawn before it, in whatever order or thread.
#pragma once

#include <cstdint>

namespace slipvel::rupture::detail {

// What a stream's numbers are for; each purpose draws from its own stream.
// The values enter the stream key and must never change.
enum class Purpose : std::uint8_t { slip = 1, rake = 2, hypocentre = 3 };

// Seeds run from 0 to 2⁶³−1, realisations from 0 to 2³¹−1.
inline constexpr std::uint64_t kMostSeed = (std::uint64_t{1} << 63) - 1;
inline constexpr std::uint64_t kMostRealisation = (std::uint64_t{1} << 31) - 1;

// SplitMix64 (Steele, Lea & Flood 2014): a 64-bit counter stepped by the
// golden-ratio constant and scrambled. From state 0 it gives
// 0xe220a8397b1dcdaf first.
class SplitMix64 {
 public:
  explicit SplitMix64(std::uint64_t state) : state_(state) {}
  std::uint64_t next();
  // The scrambling alone: a bijection of the 64-bit words, 0 only at 0.
  static std::uint64_t mix(std::uint64_t z);

 private:
  std::uint64_t state_;
};

// xoshiro256** 1.0 (Blackman & Vigna 2018): period 2²⁵⁶−1. The state must
// not be all zero.
class Xoshiro256StarStar {
 public:
  Xoshiro256StarStar(std::uint64_t s0, std::uint64_t s1, std::uint64_t s2, std::uint64_t s3) : s_{s0, s1, s2, s3} {}
  std::uint64_t next();

 private:
  std::uint64_t s_[4];
};

// The stream of one (seed, realisation, purpose). With γ = 0x9e3779b97f4a7c15
// and mix SplitMix64's scrambling, the key words
//   k0 = mix(seed + γ),  k1 = mix(realisation·2⁸ + purpose + 2γ)
// and m1, m2, the first two outputs of SplitMix64 from state k0 xor k1, make
// the xoshiro256** state (k0, m1, k1, m2). mix is a bijection, so different
// keys give different states (k0 and k1 tell the key back), and k1 is never
// 0, so the state never is. xoshiro256**'s first output is a function of its
// second state word alone, so that word (m1) takes the whole key.
class Stream {
 public:
  // Throws std::invalid_argument for a seed above kMostSeed or a realisation
  // above kMostRealisation.
  Stream(std::uint64_t seed, std::uint64_t realisation, Purpose purpose);

  // The next 64 random bits.
  std::uint64_t bits() { return generator_.next(); }
  // A uniform double in [0, 1): the top 53 bits of the next word times 2⁻⁵³.
  double uniform();
  // A standard normal deviate. Marsaglia's polar method makes them in pairs
  // from pairs of uniform(): x = 2u₁−1, y = 2u₂−1 (pairs with s = x²+y² not in
  // (0, 1) are drawn again), then x·f first and y·f next, f = √(−2 ln s / s).
  // Exactly reproducible given the C library's log (sqrt is exact everywhere).
  double normal();

 private:
  Xoshiro256StarStar generator_;
  double spare_ = 0;
  bool has_spare_ = false;
};

}  // namespace slipvel::rupture::detail
