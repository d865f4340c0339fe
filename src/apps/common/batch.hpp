// Many sources at once: check them all, then write their files and a summary.
#pragma once

#include <sys/types.h>
#include <filesystem>
#include <string>
#include <vector>

#include <slipvel/slipvel.hpp>

#include <slipvel/sources.hpp>

namespace slipvel::apps {

struct Settings {
  std::filesystem::path folder;  // where the files go; created if missing
  int jobs = 1;                  // sources computed at a time
  bool progress = false;         // show progress on standard error
  mode_t umask = 022;            // the process's file-creation mask
};

// Each source of table `table` the library refuses (it cannot carry the slip,
// or the result files could not show its rows), with the library's message,
// one problem per line.
std::vector<Diagnostic> check_sources(const SourcesTable& table, const std::string& name, int jobs);

// The summary's header and one row per source, in table order.
struct SummaryRow {
  Shape shape;
  double final_displacement, peak_velocity, peak_time;
};
SummaryRow summarize(const SlipFunction& f);
std::string summary_text(const std::vector<SourceRow>& sources, const std::vector<SummaryRow>& rows);

// Writes <id>_slip.csv and <id>_amp.csv for every source, then summary.csv
// (an older one is removed first, so its presence means the batch completed).
// Throws WriteError at the first failure; files finished before it stay.
// Returns the sampling warnings: the Nyquist one (nyquist_warning), then the
// coarse-sampling one (coarse_sampling_warning), each when there is one.
std::vector<std::string> write_batch(const std::vector<SourceRow>& sources, const Settings& settings);

// Writes Vek_Slip.csv and Vek_Amp.csv for one source. Throws ParameterError or
// WriteError. Returns the sampling warnings, as write_batch does.
std::vector<std::string> write_single(const Parameters& parameters, const Settings& settings);

// The sources whose time histories are coarsely sampled (the library's
// coarsely_sampled): how many, and the first in table order with its sampled
// and asked slip.
struct CoarseSampling {
  std::size_t sources = 0;
  std::string first_id;
  double sampled = 0, asked = 0;
};
// One line saying so (no line end), or "" when there are none.
std::string coarse_sampling_warning(const CoarseSampling& coarse);

// The sources whose fmax lies above the Nyquist frequency of their dt (the
// library's above_nyquist): how many, and the first in table order with its
// fmax and dt.
struct AboveNyquist {
  std::size_t sources = 0;
  std::string first_id;
  double fmax = 0, dt = 0;
};
AboveNyquist sources_above_nyquist(const std::vector<SourceRow>& sources);
// One line saying so, with the first's Nyquist frequency (no line end), or ""
// when there are none.
std::string nyquist_warning(const AboveNyquist& above);

// The library's problems with `parameters`, the refusal of slip 0 with a note
// that SRF output takes points that do not slip.
std::vector<slipvel::Problem> with_zero_slip_note(const Parameters& parameters, std::vector<slipvel::Problem> problems);

}  // namespace slipvel::apps
