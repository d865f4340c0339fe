// Vek_Amp.csv: amplitude spectra of slip velocity and slip acceleration.
#pragma once

#include <complex>
#include <span>
#include <string>

#include "textio/sink.hpp"

namespace slipvel::output {

// The frequency grid of a transform over the whole record.
struct SpectrumGrid {
  double dur;  // record length nt·dt (s)
  double dom;  // angular-frequency spacing 2·pai/dur (rad/s)
  int nom;     // nt/2: frequency index of the last row plus one
  double eom;  // nom·dom (rad/s)
};

SpectrumGrid spectrum_grid(double dt, int nt, double pai);

// Console lines of the stage: an empty line, the grid, the highest frequency,
// and a warning when the transform length reaches the capacity `mom`.
std::string spectrum_report(const SpectrumGrid& grid, int nfast, int mom);

// The rows io = 2..nom of the transformed `svamp`: each value is conjugated
// and scaled by dt in place, then its frequency (Hz), its modulus (the velocity
// amplitude) and the modulus times the angular frequency (the acceleration
// amplitude) go to element io − 2 of the three outputs, which must hold
// nom − 1 values (std::length_error otherwise).
void spectrum_rows(double dt, double pai, const SpectrumGrid& grid, std::span<std::complex<double>> svamp,
                   std::span<double> frequency, std::span<double> velocity, std::span<double> acceleration);

// Header and one row "ffff.ffff,  0.vvvvE+XX,  0.aaaaE+XX" (34 characters)
// per element of the three equally long columns.
std::string spectrum_rows_text(std::span<const double> frequency, std::span<const double> velocity,
                               std::span<const double> acceleration);

// The rows of the transformed `svamp` as text (svamp is scaled in place).
std::string spectrum_text(double dt, double pai, const SpectrumGrid& grid,
                          std::span<std::complex<double>> svamp);

// |z| as max·√(1 + (min/max)²), which neither overflows nor underflows early.
double modulus(std::complex<double> z);

// The whole stage: report, pack svwave into svamp, forward transform, file.
void spectrum_stage(double dt, int nt, double pai, std::span<const double> svwave,
                    std::span<std::complex<double>> svamp, textio::Sink& out);

}  // namespace slipvel::output
