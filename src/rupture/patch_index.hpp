// Patches of one segment found by place: the segment's plane cut into
// buckets, about one per patch, each listing the patches that reach it, so a
// subfault's patch and a patch's overlaps are found among a few rather than
// among every patch of the segment.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include <slipvel/fault.hpp>

namespace slipvel::rupture::detail {

class PatchIndex {
 public:
  PatchIndex() = default;
  // An index over the plane s from s_start to s_start + len, d from 0 to wid
  // (km), for about `expected` patches.
  PatchIndex(double s_start, double len, double wid, std::size_t expected) : s_start_(s_start), len_(len), wid_(wid) {
    const double count = static_cast<double>(std::max<std::size_t>(expected, 1));
    const double along = std::clamp(std::ceil(std::sqrt(count * len / wid)), 1.0, count);
    columns_ = static_cast<std::size_t>(along);
    rows_ = static_cast<std::size_t>(std::max(1.0, std::ceil(count / along)));
    buckets_.resize(columns_ * rows_);
  }

  // Lists patch `id` (ids added in increasing order) in every bucket its
  // closed rectangle reaches: two patches that overlap share a bucket, and a
  // place inside a patch lies in a bucket that lists it.
  void add(std::size_t id, const Patch& p) {
    for (std::size_t j = row(p.d0); j <= row(p.d1); ++j) {
      for (std::size_t i = column(p.s0); i <= column(p.s1); ++i) buckets_[j * columns_ + i].push_back(id);
    }
  }

  // The patches listed in the bucket of (s, d), in increasing order.
  const std::vector<std::size_t>& near(double s, double d) const { return buckets_[row(d) * columns_ + column(s)]; }

  // The patches listed in any bucket the rectangle of `p` reaches, each once,
  // in increasing order.
  std::vector<std::size_t> near(const Patch& p) const {
    std::vector<std::size_t> found;
    for (std::size_t j = row(p.d0); j <= row(p.d1); ++j) {
      for (std::size_t i = column(p.s0); i <= column(p.s1); ++i) {
        const std::vector<std::size_t>& bucket = buckets_[j * columns_ + i];
        found.insert(found.end(), bucket.begin(), bucket.end());
      }
    }
    std::sort(found.begin(), found.end());
    found.erase(std::unique(found.begin(), found.end()), found.end());
    return found;
  }

 private:
  // The bucket of a place along each axis, places beyond the plane in its
  // edge buckets: never decreasing with the place, so a place within [a, b]
  // has its bucket within those of a and b.
  static std::size_t bucket(double x, double start, double size, std::size_t count) {
    const double at = std::floor((x - start) / size * static_cast<double>(count));
    return static_cast<std::size_t>(std::clamp(at, 0.0, static_cast<double>(count - 1)));
  }
  std::size_t column(double s) const { return bucket(s, s_start_, len_, columns_); }
  std::size_t row(double d) const { return bucket(d, 0, wid_, rows_); }

  double s_start_ = 0, len_ = 1, wid_ = 1;
  std::size_t columns_ = 1, rows_ = 1;
  std::vector<std::vector<std::size_t>> buckets_ = std::vector<std::vector<std::size_t>>(1);
};

}  // namespace slipvel::rupture::detail
