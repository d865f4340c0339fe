#include "random.hpp"

#include <cmath>
#include <stdexcept>
#include <string>

namespace slipvel::rupture::detail {
namespace {

constexpr std::uint64_t kGolden = 0x9e3779b97f4a7c15;
constexpr double kTwoToMinus53 = 1.0 / 9007199254740992.0;

constexpr std::uint64_t rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }

Xoshiro256StarStar keyed(std::uint64_t seed, std::uint64_t realisation, Purpose purpose) {
  if (seed > kMostSeed) throw std::invalid_argument("random stream: the seed must lie from 0 to 2^63-1");
  if (realisation > kMostRealisation) {
    throw std::invalid_argument("random stream: the realisation must lie from 0 to 2^31-1, not " +
                                std::to_string(realisation));
  }
  const std::uint64_t k0 = SplitMix64::mix(seed + kGolden);
  const std::uint64_t k1 = SplitMix64::mix((realisation << 8) + static_cast<std::uint64_t>(purpose) + 2 * kGolden);
  SplitMix64 both(k0 ^ k1);
  const std::uint64_t m1 = both.next();
  return {k0, m1, k1, both.next()};
}

}  // namespace

std::uint64_t SplitMix64::mix(std::uint64_t z) {
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9;
  z = (z ^ (z >> 27)) * 0x94d049bb133111eb;
  return z ^ (z >> 31);
}

std::uint64_t SplitMix64::next() {
  state_ += kGolden;
  return mix(state_);
}

std::uint64_t Xoshiro256StarStar::next() {
  const std::uint64_t result = rotl(s_[1] * 5, 7) * 9;
  const std::uint64_t t = s_[1] << 17;
  s_[2] ^= s_[0];
  s_[3] ^= s_[1];
  s_[1] ^= s_[2];
  s_[0] ^= s_[3];
  s_[2] ^= t;
  s_[3] = rotl(s_[3], 45);
  return result;
}

Stream::Stream(std::uint64_t seed, std::uint64_t realisation, Purpose purpose)
    : generator_(keyed(seed, realisation, purpose)) {}

double Stream::uniform() { return static_cast<double>(bits() >> 11) * kTwoToMinus53; }

double Stream::normal() {
  if (has_spare_) {
    has_spare_ = false;
    return spare_;
  }
  double x, y, s;
  do {
    x = 2 * uniform() - 1;
    y = 2 * uniform() - 1;
    s = x * x + y * y;
  } while (s >= 1 || s == 0);
  const double f = std::sqrt(-2 * std::log(s) / s);
  spare_ = y * f;
  has_spare_ = true;
  return x * f;
}

}  // namespace slipvel::rupture::detail
