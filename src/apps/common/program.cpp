#include "common/program.hpp"

#include <csignal>
#include <cstdio>
#include <new>

#include <slipvel/slipvel.hpp>

#include "common/atomic_file.hpp"
#include "csv.hpp"

namespace slipvel::apps {
namespace {

std::string name_of_program;

void print_lines(std::string_view prefix, std::string_view text) {
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    std::fprintf(stderr, "%s: %.*s%.*s\n", name_of_program.c_str(), static_cast<int>(prefix.size()), prefix.data(),
                 static_cast<int>(line.size()), line.data());
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  }
}

constexpr const char* kExitStatuses =
    "Exit status: 0 done; 1 an output could not be written, another run holds the folder, or memory ran out; 2 bad "
    "options, or an input that cannot be read or is refused.";

}  // namespace

std::string Refusal::joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += (text.empty() ? "" : "\n") + line;
  return text;
}

const std::string& program_name() { return name_of_program; }

void say(std::string_view text) { print_lines("", text); }

void warn(std::string_view text) { print_lines("warning: ", text); }

void present(const std::vector<Diagnostic>& diagnostics) {
  constexpr std::size_t kShown = 20;  // the rest are usually the same mistake again
  std::size_t errors = 0;
  for (const Diagnostic& d : diagnostics) {
    if (d.severity == Severity::kWarning) {
      warn(rendered(d));
    } else if (d.severity == Severity::kNote || ++errors <= kShown) {
      say(rendered(d));
    }
  }
  if (errors > kShown) say("... and " + std::to_string(errors - kShown) + " more problems");
}

void stop_on_errors(const std::vector<Diagnostic>& diagnostics) {
  present(diagnostics);
  if (has_errors(diagnostics)) throw AlreadySaid();
}

std::string shown_path(const std::string& path) { return path == "-" ? "<stdin>" : path; }

namespace {

// The text broken at blanks into lines of at most 79 characters, as --help
// shows its first paragraph on a terminal of 80 columns.
std::string wrapped(const std::string& text) {
  constexpr std::size_t kWidth = 79;
  std::string out, line;
  std::size_t from = 0;
  while (from < text.size()) {
    std::size_t blank = text.find(' ', from);
    if (blank == std::string::npos) blank = text.size();
    const std::string word = text.substr(from, blank - from);
    if (!line.empty() && line.size() + 1 + word.size() > kWidth) {
      out += line + "\n";
      line.clear();
    }
    line += (line.empty() ? "" : " ") + word;
    from = blank + 1;
  }
  return out + line + "\n";  // a blank line before the usage
}

}  // namespace

Program::Program(std::string name, std::string description) : app_(wrapped(description), name) {
  name_of_program = std::move(name);
  app_.footer(kExitStatuses);
  app_.set_version_flag("--version", name_of_program + " " + version());
  // Under a file-size limit a write fails with EFBIG and is reported.
  std::signal(SIGXFSZ, SIG_IGN);
  remove_temporaries_on_signals();
}

int Program::run(int argc, char** argv, const std::function<int()>& body) {
  try {
    app_.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app_.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app_.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app_.exit(e);
  } catch (const CLI::ParseError& e) {
    say(std::string(e.what()) + " (see --help)");
    return kUsageOrInput;
  }
  try {
    return body();
  } catch (const ParameterError& e) {
    present(e.diagnostics());
    return kUsageOrInput;
  } catch (const Refusal& e) {
    say(e.what());
    return kUsageOrInput;
  } catch (const AlreadySaid&) {
    return kUsageOrInput;
  } catch (const std::bad_alloc&) {
    // Files finished before stay whole; the unfinished ones were removed.
    say("out of memory: fewer jobs (-j), fewer points or sources, or a smaller nt take less");
    return kWriteFailed;
  } catch (const WriteError& e) {
    say(e.what());
    return kWriteFailed;
  }
}

const CLI::Validator kDecimal(
    [](std::string& text) -> std::string {
      double value = 0;
      const table::Parsed why = table::parse_number(text, value);
      if (why == table::Parsed::kNotANumber) {
        return "\"" + table::shown(text) +
               "\" is not a decimal number (sign, digits, point, exponent; no hex, inf or nan)";
      }
      if (why == table::Parsed::kOutOfRange) {
        return "\"" + table::shown(text) + "\" is out of the range of numbers (too large, or so small it rounds to 0)";
      }
      return "";
    },
    "", "decimal");

const CLI::Validator kWhole(
    [](std::string& text) -> std::string {
      int value = 0;
      const table::Parsed why = table::parse_integer(text, value);
      if (why == table::Parsed::kNotANumber) return "\"" + table::shown(text) + "\" is not a whole decimal number";
      if (why == table::Parsed::kOutOfRange) {
        return "\"" + table::shown(text) + "\" is beyond the range of whole numbers";
      }
      text = std::to_string(value);
      return "";
    },
    "", "whole");

const CLI::Validator kSrfVersion(
    [](std::string& text) -> std::string {
      if (text == "1" || text == "1.0") {
        text = "1.0";
      } else if (text == "2" || text == "2.0") {
        text = "2.0";
      } else {
        return "\"" + text + "\" is not an SRF version: 1.0 (or 1) or 2.0 (or 2)";
      }
      return "";
    },
    "", "version");

const CLI::Validator kSrfBlocks(
    [](std::string& text) -> std::string {
      if (text == "per-plane" || text == "one") return "";
      return "\"" + text + "\" is not a POINTS block layout: per-plane (one block per plane in a 2.0 file) or one";
    },
    "", "blocks");

}  // namespace slipvel::apps

namespace slipvel::apps {

CLI::Option* add_srf_for(CLI::App& app, std::string& code, const std::vector<CLI::Option*>& by_hand,
                         const std::string& more) {
  CLI::Option* option = app.add_option("--srf-for", code,
                                       "the SRF layout a code reads whole: sw4 (the PLANE block and one POINTS "
                                       "block), seissol (no PLANE block, one POINTS block) or generic (a block per "
                                       "plane in 2.0); the version stays --srf-version's" +
                                           more)
                            ->type_name("CODE")
                            ->check(CLI::IsMember({"sw4", "seissol", "generic"}))
                            ->group("Output");
  for (CLI::Option* other : by_hand) option->excludes(other);
  return option;
}

srf::Reader reader_of(const std::string& code) {
  if (code == "sw4") return srf::Reader::kSw4;
  if (code == "seissol") return srf::Reader::kSeisSol;
  return srf::Reader::kGeneric;
}

}  // namespace slipvel::apps
