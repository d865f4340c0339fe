// The public interface over the program's own stages: the same onset search,
// sampling, transform and row forms, with arrays sized to the source.
#include <slipvel/slipvel.hpp>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <span>

#include "fixed_forms.hpp"

#include "checks.hpp"
#include "dwvfast.hpp"
#include "number_text.hpp"
#include "slip_range.hpp"
#include "slip_velocity.hpp"
#include "spectrum_file.hpp"
#include "time_history.hpp"

namespace slipvel {
namespace {

using text::fits;
using text::shortest;

// Refuses a column whose smallest or largest value would show asterisks.
void check_column(const char* name, const char* unit, const std::vector<double>& column) {
  if (column.empty()) return;
  const auto [low, high] = std::minmax_element(column.begin(), column.end());
  for (const double value : {*low, *high}) {
    if (!fits(value, text::kValueColumn)) {
      detail::refuse(detail::problem(name, shortest(value) + " " + unit,
                                     "too wide for the time-history file's column, which holds -999999.9999999 to "
                                     "9999999.9999999"));
    }
  }
}

void check_time_column(double dt, double last_time) {
  if (!(dt >= 0.0001)) {
    detail::refuse(
        detail::problem("dt", dt, "the time-history file shows times to 4 decimals, so dt must be at least 0.0001 s"));
  }
  if (!fits(last_time, text::kTimeColumn)) {
    detail::refuse(detail::problem("(nt - 1)*dt", last_time, "the time-history file holds times below 1000 s"));
  }
}

void check_value_columns(const SlipFunction& f) {
  check_column("velocity", "m/s", f.velocity);
  check_column("displacement", "m", f.displacement);
  check_column("acceleration", "m/s^2", f.acceleration);
}

void check_time_history_fits(const SlipFunction& f) {
  if (!f.time.empty()) check_time_column(f.parameters.dt, f.time.back());
  check_value_columns(f);
}

void check_highest_frequency(double frequency) {
  if (!fits(frequency, text::kFrequencyColumn)) {
    detail::refuse(detail::problem("frequency", shortest(frequency) + " Hz",
                                   "the spectrum file holds frequencies below 1000 Hz (dt of about 0.0005 s or more)"));
  }
}

void refuse_repeated_frequency(double frequency) {
  detail::refuse(detail::problem("frequency", shortest(frequency) + " Hz",
                                 "two rows of the spectrum file would show it; it shows frequencies to 4 decimals, "
                                 "so the record nt*dt must be at most 10000 s"));
}

// The highest frequency must fit its column, and no two rows may read the same.
void check_spectrum_fits(const std::string& file, std::size_t header, const Spectrum& s) {
  constexpr auto kField = static_cast<std::size_t>(text::kFrequencyColumn.width);
  constexpr std::size_t kRow = kField + 2 * (1 + text::kAmplitudeColumn.width) + 1;
  if (!s.frequency.empty()) check_highest_frequency(s.frequency.back());
  for (std::size_t row = 1; row < s.frequency.size(); ++row) {
    const char* line = file.data() + header + row * kRow;
    if (std::memcmp(line, line - kRow, kField) == 0) refuse_repeated_frequency(s.frequency[row]);
  }
}

// The spectrum's frequencies follow from the grid alone. A record of at most
// 10000 s keeps them 0.0001 Hz or more apart, so no two rows read the same.
void check_frequency_column(double dt, int nt) {
  const SpectrumGrid grid = spectrum_grid(dt, nt);
  if (grid.nyquist_index < 2) return;
  check_highest_frequency(static_cast<double>(grid.nyquist_index - 1) * grid.angular_step / (kPai + kPai));
  if (!(grid.record_length <= 10000)) refuse_repeated_frequency(grid.angular_step / (kPai + kPai));
}

}  // namespace

Shape find_shape(const Parameters& parameters) {
  if (auto problems = detail::parameter_problems(parameters); !problems.empty()) detail::refuse(problems);
  Parameters p = parameters;
  p.ts = stopping_time(parameters);
  return detail::carrying_shape(p);
}

void check_parameters(const Parameters& parameters) { find_shape(parameters); }

SlipFunction slip_function(const Parameters& parameters) {
  if (auto problems = detail::parameter_problems(parameters); !problems.empty()) detail::refuse(problems);

  SlipFunction f;
  f.parameters = parameters;
  f.parameters.ts = stopping_time(parameters);
  const Parameters& p = f.parameters;
  f.shape = detail::carrying_shape(p);

  const auto n = static_cast<std::size_t>(p.nt);
  f.time.resize(n);
  f.velocity.resize(n);
  f.displacement.resize(n);
  f.acceleration.resize(n);
  for (std::size_t i = 0; i < n; ++i) f.time[i] = static_cast<double>(i) * p.dt;
  detail::sample_velocity(f.shape, p, f.time, f.velocity);

  detail::time_history_columns(p.dt, p.nt, f.velocity, f.time, f.displacement, f.acceleration);
  return f;
}

SpectrumGrid spectrum_grid(double dt, int nt) { return detail::spectrum_grid(dt, nt, kPai); }

Spectrum spectrum(const SlipFunction& function) {
  const Parameters& p = function.parameters;
  const std::size_t samples = function.velocity.size();
  if (samples == 0 || (samples & (samples - 1)) != 0 || samples > static_cast<std::size_t>(kLargestNt)) {
    detail::refuse(detail::problem("nt", std::to_string(samples),
                                   "the spectrum's transform takes a power of two from 1 to " +
                                       std::to_string(kLargestNt) + " samples of velocity"));
  }
  const int nt = static_cast<int>(samples);
  const SpectrumGrid grid = spectrum_grid(p.dt, nt);

  std::vector<std::complex<double>> svamp(function.velocity.begin(), function.velocity.end());
  detail::dwvfast(nt, svamp, nt, -1);

  Spectrum s;
  const std::size_t rows = grid.nyquist_index > 1 ? static_cast<std::size_t>(grid.nyquist_index - 1) : 0;
  s.frequency.resize(rows);
  s.velocity.resize(rows);
  s.acceleration.resize(rows);
  detail::amplitude_rows(p.dt, kPai, grid, svamp, s.frequency, s.velocity, s.acceleration);
  return s;
}

std::string time_history_text(const SlipFunction& function) {
  check_time_history_fits(function);
  return detail::time_history_rows_text(function.time, function.velocity, function.displacement, function.acceleration);
}

std::string spectrum_text(const Spectrum& spectrum) {
  std::string file = detail::spectrum_file_text(spectrum.frequency, spectrum.velocity, spectrum.acceleration);
  check_spectrum_fits(file, file.find(detail::kLineEnd) + 1, spectrum);
  return file;
}

void check_texts(const SlipFunction& function) {
  check_time_history_fits(function);
  check_frequency_column(function.parameters.dt, static_cast<int>(function.velocity.size()));
}

void check_texts(const Parameters& parameters) {
  if (auto problems = detail::parameter_problems(parameters); !problems.empty()) detail::refuse(problems);
  // The value columns' extremes lie within the samples up to the first one at
  // rest after ts (later rows repeat 0, the final slip and 0), so the shortened
  // record shows them all.
  const SlipFunction f = slip_function(shortened_record(parameters));
  check_time_column(parameters.dt, static_cast<double>(parameters.nt - 1) * parameters.dt);
  check_value_columns(f);
  check_frequency_column(parameters.dt, parameters.nt);
}

const char* version() { return SLIPVEL_VERSION; }

}  // namespace slipvel
