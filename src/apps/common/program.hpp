// The front end the table programs share: the command line, every message,
// the exit statuses and the catch blocks, in one place.
//
//   Program program("slipvel-batch", "Writes ...");
//   add_options(program.app(), request);
//   return program.run(argc, argv, [&] { return run(request); });
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <slipvel/diagnostic.hpp>
#include <slipvel/srf.hpp>

namespace slipvel::apps {

// The exit statuses, stated in each program's --help.
constexpr int kDone = 0;
constexpr int kWriteFailed = 1;   // an output could not be written, another run holds the folder, or memory ran out
constexpr int kUsageOrInput = 2;  // bad options, or an input that cannot be read or is refused

// Options or inputs that cannot be used: each line is said, status 2.
class Refusal : public std::runtime_error {
 public:
  explicit Refusal(const std::string& lines) : std::runtime_error(lines) {}
  explicit Refusal(const std::vector<std::string>& lines) : std::runtime_error(joined(lines)) {}

 private:
  static std::string joined(const std::vector<std::string>& lines);
};

// Refusals already said (a table's problems): status 2, nothing more printed.
class AlreadySaid : public std::exception {};

// The program's name, set once by Program: every message starts with it.
const std::string& program_name();

// Prints "<program>: " and each line of `text` on standard error.
void say(std::string_view text);
// Prints "<program>: warning: " and each line of `text` on standard error.
void warn(std::string_view text);
// Prints every diagnostic, each rendered on a line: errors after
// "<program>: " (the first 20, then how many more), warnings after
// "<program>: warning: ", notes after "<program>: ".
void present(const std::vector<Diagnostic>& diagnostics);

// Presents the diagnostics and, when any is an error, stops: status 2.
void stop_on_errors(const std::vector<Diagnostic>& diagnostics);

// How messages name an input path: standard input as <stdin>.
std::string shown_path(const std::string& path);

class Program {
 public:
  // A program of this name; its --help opens with `description` and ends
  // with the exit statuses. Sets up what every run needs: a file-size limit
  // reported as a failed write, temporaries removed on SIGINT, SIGTERM, SIGHUP.
  Program(std::string name, std::string description);

  CLI::App& app() { return app_; }

  // Parses the command line, then runs `body`, whose result is the status.
  // Every failure is caught and said: bad options and refusals (status 2),
  // failed writes, a busy folder and exhausted memory (status 1).
  int run(int argc, char** argv, const std::function<int()>& body);

 private:
  CLI::App app_;
};

// The number rules of the tables for options: one decimal grammar everywhere.
extern const CLI::Validator kDecimal;
// A whole number, handed on without leading zeros (which CLI11 reads as octal).
extern const CLI::Validator kWhole;
// "1", "1.0", "2", "2.0", handed on as "1.0" or "2.0".
extern const CLI::Validator kSrfVersion;
// "per-plane" or "one": how an SRF file groups its points into POINTS blocks.
extern const CLI::Validator kSrfBlocks;

// --srf-for CODE: the layout a code reads whole (sw4, seissol or generic),
// which the options of a layout chosen by hand (`by_hand`) exclude; `more`
// ends its help with what the program adds.
CLI::Option* add_srf_for(CLI::App& app, std::string& code, const std::vector<CLI::Option*>& by_hand,
                         const std::string& more = "");

// The reader a --srf-for CODE names.
srf::Reader reader_of(const std::string& code);

}  // namespace slipvel::apps
