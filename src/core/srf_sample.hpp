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
  [[gnu::always_inline]] char* put(char* out, double value) {
    const double magnitude = std::fabs(value);
    if (magnitude >= low_ && magnitude < high_) {
      // Here the scaled value is at least 99999.5 (it is 10^5 but for the
      // rounding of a negative power of ten, which still gives 100000).
      const double scaled = exponent_ <= 5 ? magnitude * power_ : magnitude / power_;
      if (scaled < 999999.5) {
        const auto truncated = static_cast<std::int64_t>(scaled);
        const double fraction = scaled - static_cast<double>(truncated);  // exact
        if (std::fabs(fraction - 0.5) > 0x1p-32) {
          const auto digits = static_cast<std::uint32_t>(truncated) + (fraction > 0.5 ? 1 : 0);
          if constexpr (std::endian::native == std::endian::little) {
            put_sample_words(out, value < 0, digits, exponent_word_);
          } else {
            std::memcpy(out, value < 0 ? " -" : "  ", 2);
            put_six_digits(out + 2, digits);
            std::memcpy(out + 9, exponent_text_, 4);
          }
          return out + kSrfSampleWidth;
        }
      }
    } else if (std::uint32_t digits = 0;
               magnitude >= 1e-16 && magnitude < 1e15 && six_digits(magnitude, digits, exponent_)) {
      put_sample_digits(out, value < 0, digits, exponent_);
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

 private:
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
