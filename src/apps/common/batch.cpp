#include "common/batch.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <initializer_list>

#include <slipvel/text.hpp>

#include "common/atomic_file.hpp"
#include "common/progress.hpp"
#include "csv.hpp"
#include "parallel.hpp"

namespace slipvel::apps {
namespace {

// Creates the output folder and takes its lock for the run.
FolderLock create_folder(const std::filesystem::path& folder) {
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) throw WriteError(folder.string() + ": " + error.message());
  return FolderLock(folder);
}

void append_number(std::string& out, double value) {
  out += ',';
  out += text::shortest(value);
}

// The warnings that are not empty, in order.
std::vector<std::string> non_empty(std::initializer_list<std::string> warnings) {
  std::vector<std::string> lines;
  for (const std::string& w : warnings) {
    if (!w.empty()) lines.push_back(w);
  }
  return lines;
}

}  // namespace

std::vector<Diagnostic> check_sources(const SourcesTable& table, const std::string& name, int jobs) {
  const std::vector<SourceRow>& sources = table.sources;
  std::vector<std::vector<slipvel::Problem>> refusals(sources.size());
  detail::for_each_index(sources.size(), jobs, [&](std::size_t i) {
    try {
      check_texts(sources[i].parameters);
    } catch (const ParameterError& e) {
      refusals[i] = with_zero_slip_note(sources[i].parameters, e.problems());
    }
  });
  std::vector<Diagnostic> problems;
  for (std::size_t i = 0; i < sources.size(); ++i) {
    table::add_problems(problems, Where::table(name, sources[i].line), refusals[i]);
  }
  return problems;
}

SummaryRow summarize(const SlipFunction& f) {
  SummaryRow row{f.shape, 0, 0, 0};
  if (f.velocity.empty()) return row;
  const auto peak = std::max_element(f.velocity.begin(), f.velocity.end());  // the first of equal peaks
  row.final_displacement = f.displacement.back();
  row.peak_velocity = *peak;
  row.peak_time = f.time[static_cast<std::size_t>(peak - f.velocity.begin())];
  return row;
}

std::string summary_text(const std::vector<SourceRow>& sources, const std::vector<SummaryRow>& rows) {
  std::string text = "id,dt,nt,fmax,vm,slip,tr,ts,td,am,tb,b,c,ar,eps,final_displacement,peak_velocity,peak_time\n";
  for (std::size_t i = 0; i < sources.size(); ++i) {
    const Parameters& p = sources[i].parameters;
    const SummaryRow& r = rows[i];
    text += sources[i].id;
    append_number(text, p.dt);
    text += ',';
    text += std::to_string(p.nt);
    for (const double value :
         {p.fmax, p.vm, p.slip, p.tr, stopping_time(p), r.shape.td, r.shape.am, r.shape.tb, r.shape.b, r.shape.c,
          r.shape.ar, r.shape.eps, r.final_displacement, r.peak_velocity, r.peak_time}) {
      append_number(text, value);
    }
    text += '\n';
  }
  return text;
}

std::string coarse_sampling_warning(const CoarseSampling& c) {
  if (c.sources == 0) return "";
  return std::to_string(c.sources) + (c.sources == 1 ? " source's" : " sources'") +
         " time history ends more than 1 % off the slip asked (first " + c.first_id + ": " + text::shortest(c.sampled) +
         " m sampled, " + text::shortest(c.asked) +
         " m asked): at this dt the samples miss part of the sharp rise; a smaller dt fixes it";
}

AboveNyquist sources_above_nyquist(const std::vector<SourceRow>& sources) {
  AboveNyquist found;
  for (const SourceRow& s : sources) {
    if (!above_nyquist(s.parameters)) continue;
    if (found.sources == 0) found = {0, s.id, s.parameters.fmax, s.parameters.dt};
    ++found.sources;
  }
  return found;
}

std::string nyquist_warning(const AboveNyquist& a) {
  if (a.sources == 0) return "";
  return std::to_string(a.sources) + (a.sources == 1 ? " source's" : " sources'") +
         " fmax is above the Nyquist frequency 1/(2*dt) (first " + a.first_id + ": fmax = " + text::shortest(a.fmax) +
         " Hz, dt = " + text::shortest(a.dt) + " s, Nyquist frequency " + text::shortest(nyquist_frequency(a.dt)) +
         " Hz): " + kAboveNyquistCost;
}

std::vector<slipvel::Problem> with_zero_slip_note(const Parameters& parameters,
                                                  std::vector<slipvel::Problem> problems) {
  if (parameters.slip != 0) return problems;
  for (slipvel::Problem& p : problems) {
    if (p.field == "slip") p.text += " (SRF output, --srf, takes points of slip 0)";
  }
  return problems;
}

std::vector<std::string> write_batch(const std::vector<SourceRow>& sources, const Settings& settings) {
  const FolderLock lock = create_folder(settings.folder);
  const std::filesystem::path summary = settings.folder / "summary.csv";
  if (::unlink(summary.c_str()) != 0 && errno != ENOENT)
    throw WriteError(summary.string() + ": " + std::strerror(errno));

  Progress progress(sources.size(), settings.progress);
  std::vector<SummaryRow> rows(sources.size());
  std::vector<char> coarse(sources.size(), 0);
  detail::for_each_index(sources.size(), settings.jobs, [&](std::size_t i) {
    const SlipFunction f = slip_function(sources[i].parameters);
    coarse[i] = coarsely_sampled(f) ? 1 : 0;
    const std::string& id = sources[i].id;
    write_atomically(settings.folder / (id + "_slip.csv"), time_history_text(f), settings.umask);
    write_atomically(settings.folder / (id + "_amp.csv"), spectrum_text(spectrum(f)), settings.umask);
    rows[i] = summarize(f);
    progress.advance();
  });
  progress.finish();
  write_atomically(summary, summary_text(sources, rows), settings.umask);
  CoarseSampling found;
  for (std::size_t i = 0; i < sources.size(); ++i) {
    if (coarse[i] == 0) continue;
    if (found.sources == 0) found = {0, sources[i].id, rows[i].final_displacement, sources[i].parameters.slip};
    ++found.sources;
  }
  return non_empty({nyquist_warning(sources_above_nyquist(sources)), coarse_sampling_warning(found)});
}

std::vector<std::string> write_single(const Parameters& parameters, const Settings& settings) {
  const SlipFunction f = slip_function(parameters);
  check_texts(f);
  const FolderLock lock = create_folder(settings.folder);
  write_atomically(settings.folder / "Vek_Slip.csv", time_history_text(f), settings.umask);
  write_atomically(settings.folder / "Vek_Amp.csv", spectrum_text(spectrum(f)), settings.umask);
  const std::string id = "(the options' source)";
  const AboveNyquist above =
      above_nyquist(parameters) ? AboveNyquist{1, id, parameters.fmax, parameters.dt} : AboveNyquist{};
  const CoarseSampling coarse =
      coarsely_sampled(f) ? CoarseSampling{1, id, f.displacement.back(), parameters.slip} : CoarseSampling{};
  return non_empty({nyquist_warning(above), coarse_sampling_warning(coarse)});
}

}  // namespace slipvel::apps
