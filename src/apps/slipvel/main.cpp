// slipvel: builds a slip-velocity time function with fixed parameters, writes
// its time histories to Vek_Slip.csv and its amplitude spectra to Vek_Amp.csv,
// then waits for one line on standard input.
#include <csignal>
#include <cstdio>
#include <string>
#include <string_view>

#include <slipvel/slipvel.hpp>
#include <slipvel/text.hpp>

#include "final_read.hpp"
#include "result_file.hpp"
#include "run.hpp"
#include "run_output.hpp"

namespace {

using slipvel::text::shortest;

std::string usage() {
  const slipvel::Parameters p;
  return std::string("Usage: slipvel\n\n") +
         "Builds the slip-velocity time function of one built-in source\n"
         "  dt = " +
         shortest(p.dt) + " s, nt = " + std::to_string(p.nt) + ", fmax = " + shortest(p.fmax) +
         " Hz, vm = " + shortest(p.vm) + " m/s, slip = " + shortest(p.slip) + " m, tr = " + shortest(p.tr) +
         " s, ts = 1.5*tr\n"
         "prints a report and writes two files in the current folder:\n"
         "  " +
         std::string(slipvel::program::kTimeHistoryFile.name) +
         "  time (s), slip velocity (m/s), slip (m), slip acceleration (m/s^2)\n"
         "  " +
         std::string(slipvel::program::kSpectrumFile.name) +
         "   frequency (Hz), amplitude spectra of slip velocity (m) and acceleration (m/s)\n"
         "then waits for one line on standard input before it ends. Every run is the same.\n"
         "It takes no other arguments; slipvel-batch and the library take any source.\n\n"
         "Options:\n"
         "  --help     print this text and exit\n"
         "  --version  print the version and exit\n";
}

// The program takes nothing, --help or --version. Anything else would be a
// source of the user's own that this fixed run would silently not take.
std::string refusal(int argc, char** argv) {
  const std::string given = argv[1];
  return "slipvel: " + std::string(argc > 2 ? "unexpected arguments starting with \"" : "unexpected argument \"") +
         given +
         "\": slipvel runs its built-in source and takes no arguments but --help or --version; "
         "slipvel-batch computes a source of your own (slipvel-batch --vm 3 --slip 0.8; see slipvel-batch --help)\n";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) {
    const std::string_view option = argv[1];
    if (argc > 2 || (option != "--help" && option != "--version")) {
      std::fputs(refusal(argc, argv).c_str(), stderr);
      return 2;
    }
    const std::string text = option == "--help" ? usage() : std::string("slipvel ") + slipvel::version() + "\n";
    return std::fputs(text.c_str(), stdout) >= 0 && std::fflush(stdout) == 0 ? 0 : 1;
  }
  // Under a file-size limit a write past it fails with EFBIG, reported like a
  // full disk, instead of killing the run silently.
  std::signal(SIGXFSZ, SIG_IGN);
  slipvel::program::ProcessSink sink;
  slipvel::program::run(sink);
  slipvel::program::final_read();
  slipvel::program::stop();
}
