// slipvel: builds a slip-velocity time function with fixed parameters, writes
// its time histories to Vek_Slip.csv and its amplitude spectra to Vek_Amp.csv,
// then waits for one line on standard input.
#include "app/run.hpp"
#include "textio/final_read.hpp"
#include "textio/sink.hpp"

int main() {
  slipvel::textio::ProcessSink sink;
  slipvel::app::run(sink);
  slipvel::textio::final_read();
  slipvel::textio::stop();
}
