#include "app/run.hpp"

#include <array>
#include <complex>

#include "output/fourier_amplitudes.hpp"
#include "output/time_history.hpp"
#include "source/slip_velocity.hpp"
#include "textio/free_line.hpp"

namespace slipvel::app {
namespace {

using textio::append_free_line;

// Built-in parameters.
constexpr double dt = 0.005;    // time step (s)
constexpr int nt = 4096;        // number of samples
constexpr double fmax = 6.0;    // highest frequency (Hz); sets the time of the peak
constexpr double vm = 4.092;    // peak slip velocity (m/s)
constexpr double slip = 1.0;    // target final slip (m)
constexpr double tr = 2.114;    // rise time (s)
constexpr double pai = 3.141592654;  // the program's circle constant
static_assert(nt <= kMom, "the sample count must fit the arrays");

// The three arrays live for the whole run.
std::array<double, kMom> tm;
std::array<double, kMom> svwave;
std::array<std::complex<double>, kMom> svamp;

// The shape parameters that vslip hands back.
struct Shape {
  double am, tb, b, c, ar, eps;
};

std::string parameter_report(double ts, double td) {
  std::string text;
  append_free_line(text, {});
  append_free_line(text, {"dt,nt = ", dt, nt});
  append_free_line(text, {"fmax,vm,slip = ", fmax, vm, slip});
  append_free_line(text, {"td,tr,ts=", td, tr, ts});
  return text;
}

std::string shape_report(const Shape& s) {
  std::string text;
  append_free_line(text, {"Am,tb,b,c,ar,eps =", s.am, s.tb, s.b, s.c, s.ar, s.eps});
  append_free_line(text, {});
  append_free_line(text, {" Slip functions are stored in Vek_Slip.csv"});
  append_free_line(text, {" Fourier spectrum is stored in Vek_Amp.csv"});
  return text;
}

std::string prompt() {
  std::string text;
  append_free_line(text, {});
  append_free_line(text, {"Hit any key to stop"});
  return text;
}

}  // namespace

void run(textio::Sink& out) {
  const double ts = tr * 1.5;
  const double td = 1 / (pai * fmax);
  out.print(parameter_report(ts, td));

  for (int i = 1; i <= nt; ++i) tm[static_cast<std::size_t>(i - 1)] = static_cast<double>(i - 1) * dt;

  Shape s{};
  source::vslip(tm, svwave, kMom, nt, slip, td, vm, s.am, tr, ts, s.tb, s.b, s.c, s.ar, s.eps);
  out.print(shape_report(s));

  output::time_history_stage(dt, nt, svwave, out);
  output::spectrum_stage(dt, nt, pai, svwave, svamp, out);
  out.print(prompt());
}

}  // namespace slipvel::app
