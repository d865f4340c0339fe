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

// Header and one row "ffff.ffff,  0.vvvvE+XX,  0.aaaaE+XX" (34 characters)
// for each index io = 2..nom of the transformed `svamp`, each value conjugated
// and scaled by dt in place first.
std::string spectrum_text(double dt, double pai, const SpectrumGrid& grid,
                          std::span<std::complex<double>> svamp);

// |z| as max·√(1 + (min/max)²), which neither overflows nor underflows early.
double modulus(std::complex<double> z);

// The whole stage: report, pack svwave into svamp, forward transform, file.
void spectrum_stage(double dt, int nt, double pai, std::span<const double> svwave,
                    std::span<std::complex<double>> svamp, textio::Sink& out);

}  // namespace slipvel::output
