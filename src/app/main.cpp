// slipvel: builds a slip-velocity time function with fixed parameters, writes
// its time histories to Vek_Slip.csv and its amplitude spectra to Vek_Amp.csv,
// then waits for one line on standard input.
#include <csignal>

#include "app/run.hpp"
#include "textio/final_read.hpp"
#include "textio/sink.hpp"

int main() {
  // Under a file-size limit a write past it fails with EFBIG, reported like a
  // full disk, instead of killing the run silently.
  std::signal(SIGXFSZ, SIG_IGN);
  slipvel::textio::ProcessSink sink;
  slipvel::app::run(sink);
  slipvel::textio::final_read();
  slipvel::textio::stop();
}
