// SRF slip-rate samples as printf("%13.5e") writes them, six to a line, from
// the six correctly rounded significant digits (ties to even, as printf
// rounds) for the magnitudes double arithmetic settles, printf itself for the
// rest (zero, tiny, huge and non-finite values, and values whose rounding the
// double arithmetic cannot settle).
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <slipvel/text.hpp>

#include "decimal.hpp"
#include "number_text.hpp"

namespace slipvel::detail {

// 10^-16 to 10^16, the nearest doubles: where the decimal exponent steps.
inline constexpr std::array<double, 33> kDecades = [] {
  std::array<double, 33> d{};
  for (int n = -16; n <= 16; ++n) {
    const std::size_t at = static_cast<std::size_t>(n + 16);
    d[at] =
        n >= 0 ? kExactPowersOfTen[static_cast<std::size_t>(n)] : 1 / kExactPowersOfTen[static_cast<std::size_t>(-n)];
  }
  return d;
}();

// The six significant digits of a magnitude from 1e-16 up to 1e15 as
// digits·10^(exponent − 5), 100000 <= digits <= 999999, by one multiplication
// or division in double arithmetic; false where that could round otherwise
// than the exact value (near a tie, or a carry into the next power of ten).
[[gnu::always_inline]] inline bool six_digits(double magnitude, std::uint32_t& digits, int& exponent) {
  // floor(log10(magnitude)): the estimate from the binary exponent, or one
  // more. A magnitude within an ulp of a power of ten may take the wrong one:
  // its scaled value then falls outside [99999.5, 999999.5) or rounds to the
  // same digits either way.
  const int binary = static_cast<int>(std::bit_cast<std::uint64_t>(magnitude) >> 52) - 1023;
  int e10 = (binary * 78913) >> 18;
  if (magnitude >= kDecades[static_cast<std::size_t>(e10 + 17)]) ++e10;
  const int k = 5 - e10;  // from -9 to 21 here
  const double scaled = k >= 0 ? magnitude * kExactPowersOfTen[static_cast<std::size_t>(k)]
                               : magnitude / kExactPowersOfTen[static_cast<std::size_t>(-k)];
  if (!(scaled >= 99999.5 && scaled < 999999.5)) return false;
  // As round_near_exact, with a bound for these magnitudes: the real product
  // lies within half an ulp (below 2^-33 here) of `scaled`, so unless a
  // half-integer lies within 2^-32 both round alike.
  const auto truncated = static_cast<std::int64_t>(scaled);
  const double fraction = scaled - static_cast<double>(truncated);  // exact
  if (!(std::fabs(fraction - 0.5) > 0x1p-32)) return false;
  digits = static_cast<std::uint32_t>(truncated) + (fraction > 0.5 ? 1 : 0);
  exponent = e10;
  return true;
}

// The "%13.5e" text of six digits (100000 to 999999) and a decimal exponent
// from -99 to 99: "  d.ddddde±XX", or " -d.ddddde±XX". The digits in pairs,
// d d | dd | dd, the point after the first.
[[gnu::always_inline]] inline void put_sample_digits(char* out, bool negative, std::uint32_t digits, int exponent) {
  std::memcpy(out, negative ? " -" : "  ", 2);
  const std::uint32_t high = digits / 10000, low = digits - high * 10000;
  const char* const first = &kDigitPairs[high * 2];
  out[2] = first[0];
  out[3] = '.';
  out[4] = first[1];
  std::memcpy(out + 5, &kDigitPairs[low / 100 * 2], 2);
  std::memcpy(out + 7, &kDigitPairs[low % 100 * 2], 2);
  out[9] = 'e';
  out[10] = exponent < 0 ? '-' : '+';
  std::memcpy(out + 11, &kDigitPairs[static_cast<std::size_t>((exponent < 0 ? -exponent : exponent) * 2)], 2);
}

// The six digits 100000 to 999999 as "d.ddddd" at `out`: three pairs of
// digits by multiplications alone, d·(2^32/10^4) rounded up, then the
// fraction times 100 twice (exact for every six-digit number).
[[gnu::always_inline]] inline void put_six_digits(char* out, std::uint32_t digits) {
  std::uint64_t y = std::uint64_t{digits} * 429497;
  const char* const first = &kDigitPairs[(y >> 32) * 2];
  y = (y & 0xFFFFFFFF) * 100;
  const char* const second = &kDigitPairs[(y >> 32) * 2];
  y = (y & 0xFFFFFFFF) * 100;
  const char* const third = &kDigitPairs[(y >> 32) * 2];
  out[0] = first[0];
  out[1] = '.';
  out[2] = first[1];
  std::memcpy(out + 3, second, 2);
  std::memcpy(out + 5, third, 2);
}

// "00" to "99" as the two low bytes of a word, in memory order.
inline constexpr std::array<std::uint16_t, 100> kDigitPairWords = [] {
  std::array<std::uint16_t, 100> words{};
  for (std::size_t i = 0; i < words.size(); ++i) {
    const auto low = static_cast<std::uint16_t>(static_cast<unsigned char>(kDigitPairs[2 * i]));
    const auto high = static_cast<std::uint16_t>(static_cast<unsigned char>(kDigitPairs[2 * i + 1]));
    words[i] = std::endian::native == std::endian::little ? static_cast<std::uint16_t>(low | high << 8)
                                                          : static_cast<std::uint16_t>(low << 8 | high);
  }
  return words;
}();

// The first five bytes of a positive sample whose first digit pair is i,
// "  d.d", as the low bytes of a word in little-endian memory order.
inline constexpr std::array<std::uint64_t, 100> kSampleHeads = [] {
  std::array<std::uint64_t, 100> heads{};
  for (std::size_t i = 0; i < heads.size(); ++i) {
    const auto digit = [&](std::size_t k) { return std::uint64_t{static_cast<unsigned char>(kDigitPairs[2 * i + k])}; };
    heads[i] = 0x2020 | digit(0) << 16 | std::uint64_t{'.'} << 24 | digit(1) << 32;
  }
  return heads;
}();

// What a minus sign adds to a head: '-' in place of its second blank.
inline constexpr std::uint64_t kMinusInHead = std::uint64_t{'-' - ' '} << 8;

// The 13 characters of a sample of six digits (100000 to 999999) whose
// exponent text "e±XX" is the high half of `exponent_word`, as two stores of
// eight bytes (the second over the last three of the first): the pairs of
// digits by multiplications as put_six_digits has them, set into words
// rather than stored a byte at a time. Little-endian memory order only.
[[gnu::always_inline]] inline void put_sample_words(char* out, bool negative, std::uint32_t digits,
                                                    std::uint64_t exponent_word) {
  std::uint64_t y = std::uint64_t{digits} * 429497;
  const std::uint64_t head = kSampleHeads[y >> 32] + (negative ? kMinusInHead : 0);
  y = (y & 0xFFFFFFFF) * 100;
  const std::uint64_t second = kDigitPairWords[y >> 32];
  y = (y & 0xFFFFFFFF) * 100;
  const std::uint64_t third = kDigitPairWords[y >> 32];
  const std::uint64_t tail = second | third << 16 | exponent_word;
  std::memcpy(out, &head, 8);
  std::memcpy(out + 5, &tail, 8);
}

// The sample of any value the slow way: zero, values the fast digits decline.
char* put_srf_sample_slowly(char* out, double value);

// Writes samples one after the other. Neighbouring samples mostly share
// their decade: it keeps the last one's [low, high), the scale 10^k that
// brings it to six digits and its exponent text, and tries them before
// working a value out. Kept as a local, its state stays in registers.
class SampleWriter {
 public:
  // Writes the 13 characters of the sample of `value`.
  [[gnu::always_inline]] char* put(char* out, double value) { return put_signed<true>(out, value); }
  // The same for a value that is not below 0 (+0 included, -0 not): no sign to test.
  [[gnu::always_inline]] char* put_not_negative(char* out, double value) { return put_signed<false>(out, value); }

  // Writes the samples of values[0..count), none below 0 (+0 included, -0
  // not), `per_line` (at most 6) to a line, each line ended by '\n' (the
  // last one too), each as put_not_negative writes it. Where SSE2 is there,
  // the fast path runs on a line two values at a time with the same
  // operations, its digit pairs found by integer multiplications in the
  // two lanes; a value it does not settle takes put_not_negative.
  [[gnu::always_inline]] char* put_lines_not_negative(char* out, const double* values, std::size_t count,
                                                      std::size_t per_line) {
    for (std::size_t done = 0; done < count;) {
      const std::size_t line = std::min(count - done, per_line);
      out = put_line_not_negative(out, values + done, line);
      *out++ = '\n';
      done += line;
    }
    return out;
  }

 private:
  template <bool kMaybeNegative>
  [[gnu::always_inline]] char* put_signed(char* out, double value) {
    const double magnitude = kMaybeNegative ? std::fabs(value) : value;
    const bool negative = kMaybeNegative && value < 0;
    if (magnitude >= low_ && magnitude < high_) {
      // Here the scaled value is at least 99999.5 (it is 10^5 but for the
      // rounding of a negative power of ten, which still gives 100000).
      const double scaled = exponent_ <= 5 ? magnitude * power_ : magnitude / power_;
      if (scaled < 999999.5) {
        // Adding 2^52 rounds it to the nearest integer, which the sum's low
        // bits hold; the rounding's error (exact: both sides are multiples
        // of the scaled value's ulp, at most 1/2 apart) is the distance to
        // that integer. Within 2^-32 of 1/2 it is near a tie, as a fraction
        // within 2^-32 of 1/2 is (see six_digits): the one test, put otherwise.
        const double shifted = scaled + 0x1p52;
        const double error = (shifted - 0x1p52) - scaled;
        if (std::fabs(error) < 0.5 - 0x1p-32) {
          const auto digits = static_cast<std::uint32_t>(std::bit_cast<std::uint64_t>(shifted));
          if constexpr (std::endian::native == std::endian::little) {
            put_sample_words(out, negative, digits, exponent_word_);
          } else {
            std::memcpy(out, negative ? " -" : "  ", 2);
            put_six_digits(out + 2, digits);
            std::memcpy(out + 9, exponent_text_, 4);
          }
          return out + kSrfSampleWidth;
        }
      }
    } else if (std::uint32_t digits = 0;
               magnitude >= 1e-16 && magnitude < 1e15 && six_digits(magnitude, digits, exponent_)) {
      put_sample_digits(out, negative, digits, exponent_);
      std::memcpy(exponent_text_, out + 9, 4);
      std::uint32_t exponent_bytes = 0;
      std::memcpy(&exponent_bytes, exponent_text_, 4);
      exponent_word_ = std::uint64_t{exponent_bytes} << 32;
      low_ = kDecades[static_cast<std::size_t>(exponent_ + 16)];
      high_ = kDecades[static_cast<std::size_t>(exponent_ + 17)];
      power_ = kExactPowersOfTen[static_cast<std::size_t>(exponent_ <= 5 ? 5 - exponent_ : exponent_ - 5)];
      return out + kSrfSampleWidth;
    }
    return put_srf_sample_slowly(out, value);
  }

  // One line of put_lines_not_negative: `count` values, at most 6.
  [[gnu::always_inline]] char* put_line_not_negative(char* out, const double* values, std::size_t count) {
#if defined(__SSE2__)
    if constexpr (std::endian::native == std::endian::little) {
      alignas(16) std::uint64_t first[6], second[6], third[6];
      const unsigned settled = settle_pairs(values, count & ~std::size_t{1}, first, second, third);
      // The decade they were settled in: a value put_not_negative writes
      // may move the writer's, not theirs.
      const std::uint64_t exponent_word = exponent_word_;
      for (std::size_t i = 0; i < count; ++i) {
        if ((settled >> i & 1) == 0) {
          out = put_signed<false>(out, values[i]);
          continue;
        }
        const std::uint64_t head = kSampleHeads[first[i]];
        const std::uint64_t tail =
            std::uint64_t{kDigitPairWords[second[i]]} | std::uint64_t{kDigitPairWords[third[i]]} << 16 | exponent_word;
        std::memcpy(out, &head, 8);
        std::memcpy(out + 5, &tail, 8);
        out += kSrfSampleWidth;
      }
      return out;
    }
#endif
    for (std::size_t i = 0; i < count; ++i) out = put_signed<false>(out, values[i]);
    return out;
  }

#if defined(__SSE2__)
  // put_signed's fast path for values[0..count) (count even, at most 6), two
  // at a time: bit i of the result is set where value i is settled, its
  // three digit pairs then first[i], second[i] and third[i] (as
  // put_sample_words finds them).
  unsigned settle_pairs(const double* values, std::size_t count, std::uint64_t* first, std::uint64_t* second,
                        std::uint64_t* third) const {
    const __m128d low = _mm_set1_pd(low_), high = _mm_set1_pd(high_), power = _mm_set1_pd(power_);
    const __m128d most = _mm_set1_pd(999999.5), shift = _mm_set1_pd(0x1p52), near = _mm_set1_pd(0.5 - 0x1p-32);
    const __m128d sign = _mm_set1_pd(-0.0);
    const __m128i low_half = _mm_set1_epi64x(0xFFFFFFFF);
    const __m128i by_pairs = _mm_set1_epi64x(429497), hundred = _mm_set1_epi64x(100);
    const bool multiply = exponent_ <= 5;
    unsigned settled = 0;
    for (std::size_t i = 0; i < count; i += 2) {
      const __m128d magnitude = _mm_loadu_pd(values + i);
      const __m128d scaled = multiply ? _mm_mul_pd(magnitude, power) : _mm_div_pd(magnitude, power);
      const __m128d sum = _mm_add_pd(scaled, shift);
      const __m128d error = _mm_andnot_pd(sign, _mm_sub_pd(_mm_sub_pd(sum, shift), scaled));
      __m128d fast = _mm_and_pd(_mm_cmpge_pd(magnitude, low), _mm_cmplt_pd(magnitude, high));
      fast = _mm_and_pd(fast, _mm_and_pd(_mm_cmplt_pd(scaled, most), _mm_cmplt_pd(error, near)));
      settled |= static_cast<unsigned>(_mm_movemask_pd(fast)) << i;
      // The digits, the sum's low bits, by 2^32/10^4 rounded up, then the
      // fraction by 100 twice: each lane's 64-bit products of 32-bit halves.
      __m128i y = _mm_mul_epu32(_mm_castpd_si128(sum), by_pairs);
      _mm_store_si128(reinterpret_cast<__m128i*>(first + i), _mm_srli_epi64(y, 32));
      y = _mm_mul_epu32(_mm_and_si128(y, low_half), hundred);
      _mm_store_si128(reinterpret_cast<__m128i*>(second + i), _mm_srli_epi64(y, 32));
      y = _mm_mul_epu32(_mm_and_si128(y, low_half), hundred);
      _mm_store_si128(reinterpret_cast<__m128i*>(third + i), _mm_srli_epi64(y, 32));
    }
    return settled;
  }
#endif

  double low_ = 1, high_ = 0, power_ = 1;
  int exponent_ = 0;
  char exponent_text_[4] = {'e', '+', '0', '0'};
  std::uint64_t exponent_word_ = 0;  // exponent_text_ as the high half of a word in memory order
};

// Writes `count` samples, the values next() gives in turn, `per_line` to a
// line, each line ended by '\n' (the last one too), and returns the end.
template <class Next>
[[gnu::always_inline]] inline char* put_sample_lines(char* out, std::size_t count, std::size_t per_line, Next&& next) {
  SampleWriter writer;
  for (std::size_t done = 0; done < count;) {
    const std::size_t line_end = std::min(count, done + per_line);
    for (; done < line_end; ++done) out = writer.put(out, next());
    *out++ = '\n';
  }
  return out;
}

}  // namespace slipvel::detail
