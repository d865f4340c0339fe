#include "dwvfast.hpp"

#include <cmath>
#include <cstddef>
#include <cstring>
#include <stdexcept>
#include <utility>
#include <vector>

// The transform is the radix-2 decimation in time that it has always been:
// the elements in bit-reversed order, then stages of butterflies with
// half-spans 1, 2, 4, ..., n/2, each butterfly
//
//   tr = ur·wr − ui·wi,  ti = ur·wi + ui·wr,  upper = lower − t,  lower = lower + t
//
// with the last stage's factor (cos, sin) of the angle (k − 1)·ind·pai/(n/2)
// at the matching position. What changed is only the order in which the
// butterflies run and where the values wait between them, never which
// operations make a value: a butterfly reads the two values its stage
// receives and nothing else, so any order that keeps each stage after the
// one before gives every output the same operations on the same operands,
// the same bits.
//
// The order: the bit reversal and the first two stages in one pass over the
// array, then the later stages two at a time (a radix-4 pass that performs
// exactly the two radix-2 butterflies of each element), a last single stage
// when their number is odd. Between passes each pair of neighbouring
// elements is kept as its two real parts then its two imaginary parts, so that
// two butterflies run side by side in the two lanes of a vector register
// (SSE2 on x86-64, plain scalars where the compiler has no vectors), each
// lane's multiplications and additions rounded to double alone, as before.
// The last pass puts the pairs back in the order real, imaginary.

namespace slipvel::detail {
namespace {

// Two doubles, every operation lane by lane, each rounded as the scalar one.
using Lanes = double __attribute__((vector_size(16)));

Lanes load(const double* p) {
  Lanes v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

void store(double* p, Lanes v) { std::memcpy(p, &v, sizeof v); }

Lanes both(double x) { return Lanes{x, x}; }

// (a[0], b[0]) and (a[1], b[1]).
Lanes first_lanes(Lanes a, Lanes b) { return Lanes{a[0], b[0]}; }
Lanes second_lanes(Lanes a, Lanes b) { return Lanes{a[1], b[1]}; }

// Two complex values, one a lane: real parts, imaginary parts.
struct Split {
  Lanes re, im;
};

// The butterfly, lane by lane, with the product written out as always.
[[gnu::always_inline]] inline void butterfly(Split& lower, Split& upper, const Split& w) {
  const Lanes tr = upper.re * w.re - upper.im * w.im;
  const Lanes ti = upper.re * w.im + upper.im * w.re;
  upper = {lower.re - tr, lower.im - ti};
  lower = {lower.re + tr, lower.im + ti};
}

// Elements p and p + 1 (p even) of an array of doubles in pairs: at 2p their
// two real parts, at 2p + 2 their two imaginary parts.
Split load_pair(const double* d, std::size_t p) { return {load(d + 2 * p), load(d + 2 * p + 2)}; }

void store_pair(double* d, std::size_t p, const Split& v) {
  store(d + 2 * p, v.re);
  store(d + 2 * p + 2, v.im);
}

// The same two elements in the order real, imaginary, real, imaginary.
Split load_complex_pair(const double* d, std::size_t p) {
  const Lanes a = load(d + 2 * p), b = load(d + 2 * p + 2);
  return {first_lanes(a, b), second_lanes(a, b)};
}

void store_complex_pair(double* d, std::size_t p, const Split& v) {
  store(d + 2 * p, first_lanes(v.re, v.im));
  store(d + 2 * p + 2, second_lanes(v.re, v.im));
}

// --- Factors ------------------------------------------------------------

// The factor of 0-based position k of the last stage (half-span kmax = n/2):
// the angle as always, exp(i·angle) as (cos, sin) since exp(0) is exactly 1.
struct Twiddle {
  double re, im;
};

Twiddle last_stage_factor(int k, int kmax, int ind) {
  const double angle = static_cast<double>(k * ind) * kPai / static_cast<double>(kmax);
  return {std::cos(angle), std::sin(angle)};
}

// Every stage takes its factors from the last stage's: stage h at position
// k uses the last stage's at k·(n/2)/h (k and h scaled by the same power of
// two give the same rounded angle), so each factor is the very one computed
// for its own stage. Stage 1 has one, `unit`; each stage h >= 2 has its h
// factors in a table of their own, in pairs as the elements are (a stage
// reads its factors in order), at offset 2·(h − 2) of `stages`. Kept per
// thread for the last length and direction, as a batch transforms many
// records of one length.
struct Factors {
  int n = 0, ind = 0;
  Twiddle unit{};
  std::vector<double> stages;

  const double* stage(std::size_t h) const { return stages.data() + 2 * (h - 2); }
};

// Where the real part of factor k of a stage table lies; the imaginary part
// lies two further.
std::size_t real_part_at(std::size_t k) { return 2 * (k & ~std::size_t{1}) + (k & 1); }

const Factors& factors_for(int n, int ind) {
  thread_local Factors f;
  if (f.n == n && f.ind == ind) return f;
  const auto half = static_cast<std::size_t>(n / 2);
  f.n = 0;  // until complete
  f.unit = last_stage_factor(0, n / 2, ind);
  f.stages.resize(half >= 2 ? 2 * (2 * half - 2) : 0);
  if (half >= 2) {
    double* const last = f.stages.data() + 2 * (half - 2);
    for (std::size_t k = 0; k < half; ++k) {
      const Twiddle w = last_stage_factor(static_cast<int>(k), n / 2, ind);
      last[real_part_at(k)] = w.re;
      last[real_part_at(k) + 2] = w.im;
    }
    for (std::size_t h = 2, stride = half / 2; h < half; h *= 2, stride /= 2) {
      double* const table = f.stages.data() + 2 * (h - 2);
      for (std::size_t k = 0; k < h; ++k) {
        table[real_part_at(k)] = last[real_part_at(k * stride)];
        table[real_part_at(k) + 2] = last[real_part_at(k * stride) + 2];
      }
    }
  }
  f.n = n;
  f.ind = ind;
  return f;
}

// --- Short records: the stages one at a time, in place --------------------

// Moves every element to its bit-reversed position. j is the 1-based partner
// of the 1-based i; the carry loop stops at a bit weight below 2, which gives
// the same exchanges as running it down to 1.
void bit_reverse(int n, std::complex<double>* a) {
  int j = 1;
  for (int i = 1; i <= n; ++i) {
    if (i < j) std::swap(a[i - 1], a[j - 1]);
    int m = n / 2;
    while (j > m) {
      j = j - m;
      m = m / 2;
      if (m < 2) break;
    }
    j = j + m;
  }
}

void butterfly(std::complex<double>& lower, std::complex<double>& upper, Twiddle w) {
  const double tr = upper.real() * w.re - upper.imag() * w.im;
  const double ti = upper.real() * w.im + upper.imag() * w.re;
  upper = {lower.real() - tr, lower.imag() - ti};
  lower = {lower.real() + tr, lower.imag() + ti};
}

void short_transform(int n, std::complex<double>* a, const Factors& f) {
  bit_reverse(n, a);
  for (int h = 1; h < n; h *= 2) {
    for (int k = 0; k < h; ++k) {
      Twiddle w = f.unit;
      if (h >= 2) {
        const double* const table = f.stage(static_cast<std::size_t>(h));
        w = {table[real_part_at(static_cast<std::size_t>(k))], table[real_part_at(static_cast<std::size_t>(k)) + 2]};
      }
      for (int i = k; i < n; i += 2 * h) butterfly(a[i], a[i + h], w);
    }
  }
}

// --- Records of 16 elements and more --------------------------------------

// Four elements of each of two chunks of four, one chunk a lane: x[j] holds
// element j of both.
struct Quad {
  Split x[4];
};

// The first two stages on both lanes: half-span 1 on (0, 1) and (2, 3), then
// half-span 2 on (0, 2) and (1, 3), with their factors.
[[gnu::always_inline]] inline void first_stages(Quad& q, const Split& unit, const Split& w20, const Split& w21) {
  butterfly(q.x[0], q.x[1], unit);
  butterfly(q.x[2], q.x[3], unit);
  butterfly(q.x[0], q.x[2], w20);
  butterfly(q.x[1], q.x[3], w21);
}

// Write the element index of n = 2^L as bits (T, M, B): T the top two, B the
// bottom two, M the L − 4 between. Bit reversal maps (T, M, B) to
// (rev B, rev M, rev T), so the 16 elements whose middle is M take the values
// of the 16 whose middle is rev M, and the reverse. After the reversal the
// first two stages work on chunks of four neighbours, the chunks (T, M, ·):
// chunk (T, M, ·) receives element rev T of each chunk (T', rev M, ·), that
// of T' as its element rev T'. So chunks T = 0 and 2 take elements 0 and 1 of
// the chunks with middle rev M, which are neighbours and fill the two lanes
// of one vector; chunks T = 1 and 3 take elements 2 and 3.

// The bit-reversed elements for the chunks with middle M, from the chunks
// with middle `from` = rev M (in the order real, imaginary).
[[gnu::always_inline]] inline void gather(const double* d, std::size_t quarter, std::size_t from, Quad& even_t,
                                          Quad& odd_t) {
  constexpr std::size_t kReversed[4] = {0, 2, 1, 3};
  for (std::size_t t = 0; t < 4; ++t) {
    const std::size_t chunk = t * quarter + 4 * from;
    even_t.x[kReversed[t]] = load_complex_pair(d, chunk);
    odd_t.x[kReversed[t]] = load_complex_pair(d, chunk + 2);
  }
}

// Writes the chunk in lane kLane of q at element `at`, in pairs.
template <int kLane>
[[gnu::always_inline]] inline void put_chunk(double* d, std::size_t at, const Quad& q) {
  const auto pick = [](Lanes a, Lanes b) { return kLane == 0 ? first_lanes(a, b) : second_lanes(a, b); };
  store_pair(d, at, {pick(q.x[0].re, q.x[1].re), pick(q.x[0].im, q.x[1].im)});
  store_pair(d, at + 2, {pick(q.x[2].re, q.x[3].re), pick(q.x[2].im, q.x[3].im)});
}

// Writes the four chunks with middle `middle`, after their first two stages.
[[gnu::always_inline]] inline void scatter(double* d, std::size_t quarter, std::size_t middle, const Quad& even_t,
                                           const Quad& odd_t) {
  put_chunk<0>(d, 4 * middle, even_t);
  put_chunk<1>(d, 2 * quarter + 4 * middle, even_t);
  put_chunk<0>(d, quarter + 4 * middle, odd_t);
  put_chunk<1>(d, 3 * quarter + 4 * middle, odd_t);
}

// The bit reversal and stages 1 and 2, for n >= 16.
void reverse_and_first_stages(std::size_t n, double* d, const Factors& f) {
  const std::size_t quarter = n / 4;
  const std::size_t middles = n / 16;
  const double* const table2 = f.stage(2);
  const Split unit{both(f.unit.re), both(f.unit.im)};
  const Split w20{both(table2[0]), both(table2[2])};
  const Split w21{both(table2[1]), both(table2[3])};
  std::size_t reversed = 0;  // rev M, counted in reverse
  for (std::size_t middle = 0; middle < middles; ++middle) {
    if (reversed >= middle) {
      Quad even_t, odd_t;
      gather(d, quarter, reversed, even_t, odd_t);
      first_stages(even_t, unit, w20, w21);
      first_stages(odd_t, unit, w20, w21);
      if (reversed == middle) {
        scatter(d, quarter, middle, even_t, odd_t);
      } else {
        Quad other_even, other_odd;  // for the chunks with middle rev M, read before anything is written
        gather(d, quarter, middle, other_even, other_odd);
        first_stages(other_even, unit, w20, w21);
        first_stages(other_odd, unit, w20, w21);
        scatter(d, quarter, middle, even_t, odd_t);
        scatter(d, quarter, reversed, other_even, other_odd);
      }
    }
    // The reversed counter's next value: add 1 at the top of its L − 4 bits.
    std::size_t bit = middles / 2;
    while (bit != 0 && (reversed & bit) != 0) {
      reversed ^= bit;
      bit /= 2;
    }
    reversed |= bit;
  }
}

// Stages h and 2h together: in each block of 4h, elements k, h + k, 2h + k and
// 3h + k take the butterflies of stage h on (k, h + k) and (2h + k, 3h + k),
// then those of stage 2h on (k, 2h + k) and (h + k, 3h + k). The last pass
// writes the elements back in the order real, imaginary.
template <bool kLast>
void two_stages(std::size_t n, double* d, std::size_t h, const Factors& f) {
  const double* const table = f.stage(h);
  const double* const next = f.stage(2 * h);
  for (std::size_t block = 0; block < n; block += 4 * h) {
    double* const b = d + 2 * block;
    for (std::size_t k = 0; k < h; k += 2) {
      Split x0 = load_pair(b, k), x1 = load_pair(b, h + k), x2 = load_pair(b, 2 * h + k), x3 = load_pair(b, 3 * h + k);
      const Split w = load_pair(table, k);
      butterfly(x0, x1, w);
      butterfly(x2, x3, w);
      butterfly(x0, x2, load_pair(next, k));
      butterfly(x1, x3, load_pair(next, h + k));
      if constexpr (kLast) {
        store_complex_pair(b, k, x0);
        store_complex_pair(b, h + k, x1);
        store_complex_pair(b, 2 * h + k, x2);
        store_complex_pair(b, 3 * h + k, x3);
      } else {
        store_pair(b, k, x0);
        store_pair(b, h + k, x1);
        store_pair(b, 2 * h + k, x2);
        store_pair(b, 3 * h + k, x3);
      }
    }
  }
}

// The last stage alone, half-span n/2, writing real, imaginary.
void last_stage(std::size_t n, double* d, const Factors& f) {
  const std::size_t h = n / 2;
  const double* const table = f.stage(h);
  for (std::size_t k = 0; k < h; k += 2) {
    Split x0 = load_pair(d, k), x1 = load_pair(d, h + k);
    butterfly(x0, x1, load_pair(table, k));
    store_complex_pair(d, k, x0);
    store_complex_pair(d, h + k, x1);
  }
}

void long_transform(int n, std::complex<double>* a, const Factors& f) {
  const auto size = static_cast<std::size_t>(n);
  int log2n = 0;
  while ((std::size_t{1} << log2n) < size) ++log2n;
  // std::complex<double> is an array of two doubles, real then imaginary.
  double* const d = reinterpret_cast<double*>(a);
  reverse_and_first_stages(size, d, f);
  int remaining = log2n - 2;
  std::size_t h = 4;
  for (; remaining > 2; remaining -= 2, h *= 4) two_stages<false>(size, d, h, f);
  if (remaining == 2) {
    two_stages<true>(size, d, h, f);
  } else {
    last_stage(size, d, f);
  }
}

}  // namespace

void dwvfast(int n, std::span<std::complex<double>> a, int mom, int ind) {
  if (n <= 0) return;
  if (n > mom || static_cast<std::size_t>(n) > a.size()) {
    throw std::length_error("dwvfast: length beyond the array");
  }
  if ((n & (n - 1)) != 0) throw std::invalid_argument("dwvfast: length not a power of two");
  if (n < 2) return;

  const Factors& f = factors_for(n, ind);
  if (n < 16) {
    short_transform(n, a.data(), f);
  } else {
    long_transform(n, a.data(), f);
  }
}

}  // namespace slipvel::detail
