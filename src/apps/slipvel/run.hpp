// The whole run with the built-in source, from the first console line to the
// prompt.
#pragma once

#include <string>

#include <slipvel/slipvel.hpp>

#include "run_output.hpp"

namespace slipvel::program {

// Prints the report, writes both result files and prints the prompt, all
// through `out`. Each call does exactly the same.
void run(Sink& out);

// The report's lines on the spectrum: an empty line, the grid, the Nyquist
// frequency in Hz, and a warning for a record of nfast samples or more than
// the arrays the run has always had room for.
std::string spectrum_report(const SpectrumGrid& grid, int nfast);

}  // namespace slipvel::program
