#include "run.hpp"

#include <slipvel/slipvel.hpp>
#include "fixed_forms.hpp"

namespace slipvel::program {
namespace {

using text::append_free_line;

// The report divides by this literal, not by 2·kPai.
constexpr double kTwoPiReported = 6.283185307;

// The length of the arrays the run has always had room for: a record longer
// than this draws a warning in the report.
constexpr int kMom = 16400;

std::string parameter_report(const SlipFunction& f) {
  const Parameters& p = f.parameters;
  std::string report;
  append_free_line(report, {});
  append_free_line(report, {"dt,nt = ", p.dt, p.nt});
  append_free_line(report, {"fmax,vm,slip = ", p.fmax, p.vm, p.slip});
  append_free_line(report, {"td,tr,ts=", f.shape.td, p.tr, *p.ts});
  return report;
}

std::string shape_report(const Shape& s) {
  std::string report;
  append_free_line(report, {"Am,tb,b,c,ar,eps =", s.am, s.tb, s.b, s.c, s.ar, s.eps});
  append_free_line(report, {});
  append_free_line(report, {" Slip functions are stored in Vek_Slip.csv"});
  append_free_line(report, {" Fourier spectrum is stored in Vek_Amp.csv"});
  return report;
}

std::string prompt() {
  std::string report;
  append_free_line(report, {});
  append_free_line(report, {"Hit any key to stop"});
  return report;
}

}  // namespace

std::string spectrum_report(const SpectrumGrid& grid, int nfast) {
  std::string report;
  append_free_line(report, {});
  append_free_line(report, {" DUR,DOM,NOM,EOM=", grid.record_length, grid.angular_step, grid.nyquist_index,
                            grid.nyquist_angular_frequency});
  append_free_line(report, {" Highest Frequency (hz)=", grid.nyquist_angular_frequency / kTwoPiReported});
  if (nfast > kMom - 1) append_free_line(report, {"from Ramp: nfast > MOM !", nfast, kMom});
  return report;
}

void run(Sink& out) {
  const SlipFunction f = slip_function(Parameters{});
  out.print(parameter_report(f));
  out.print(shape_report(f.shape));
  out.store(kTimeHistoryFile, time_history_text(f));
  out.print(spectrum_report(spectrum_grid(f.parameters.dt, f.parameters.nt), f.parameters.nt));
  out.store(kSpectrumFile, spectrum_text(spectrum(f)));
  out.print(prompt());
}

}  // namespace slipvel::program
