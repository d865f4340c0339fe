// In-place radix-2 decimation-in-time Fourier transform.
#pragma once

#include <complex>
#include <span>

#include <slipvel/slipvel.hpp>

namespace slipvel::detail {

// Replaces a[0..n) by  a[l] = Σ_p a[p] · exp(ind · i · 2·kPai · l·p / n),
// unscaled, in natural order. n ≤ 0 and n = 1 leave the array as it is.
// Refused: n not a power of two (std::invalid_argument), n beyond `mom` or
// beyond the span (std::length_error). `ind` is −1 forward, +1 inverse.
void dwvfast(int n, std::span<std::complex<double>> a, int mom, int ind);

}  // namespace slipvel::detail
