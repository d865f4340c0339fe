// slipvel: builds a slip-velocity time function with fixed parameters, writes
// its time histories to Vek_Slip.csv and its amplitude spectra to Vek_Amp.csv,
// then waits for one line on standard input.
#include <csignal>

#include "run.hpp"
#include "final_read.hpp"
#include "sink.hpp"

int main() {
  // Under a file-size limit a write past it fails with EFBIG, reported like a
  // full disk, instead of killing the run silently.
  std::signal(SIGXFSZ, SIG_IGN);
  slipvel::program::ProcessSink sink;
  slipvel::program::run(sink);
  slipvel::program::final_read();
  slipvel::program::stop();
}
