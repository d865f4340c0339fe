// The spectrum file: amplitude spectra of slip velocity and slip acceleration.
#pragma once

#include <complex>
#include <span>
#include <string>

#include <slipvel/slipvel.hpp>

namespace slipvel::detail {

// The frequency grid of a transform over the whole record, for a circle constant `pai`.
SpectrumGrid spectrum_grid(double dt, int nt, double pai);

// The rows io = 2..nom of the transformed `svamp`: each value is conjugated
// and scaled by dt in place, then its frequency (Hz), its modulus (the velocity
// amplitude) and the modulus times the angular frequency (the acceleration
// amplitude) go to element io − 2 of the three outputs, which must hold
// nom − 1 values (std::length_error otherwise).
void amplitude_rows(double dt, double pai, const SpectrumGrid& grid, std::span<std::complex<double>> svamp,
                    std::span<double> frequency, std::span<double> velocity, std::span<double> acceleration);

// Header and one row "ffff.ffff,  0.vvvvE+XX,  0.aaaaE+XX" (34 characters)
// per element of the three equally long columns.
std::string spectrum_file_text(std::span<const double> frequency, std::span<const double> velocity,
                               std::span<const double> acceleration);

// |z| as max·√(1 + (min/max)²), which neither overflows nor underflows early.
double modulus(std::complex<double> z);

}  // namespace slipvel::detail
