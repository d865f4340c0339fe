// The whole run with its built-in parameters, from the first console line to
// the prompt.
#pragma once

#include "textio/sink.hpp"

namespace slipvel::app {

// Capacity of each of the three arrays.
inline constexpr int kMom = 16400;

// Prints the report, samples the slip velocity, writes both result files and
// prints the prompt, all through `out`. Each call does exactly the same.
void run(textio::Sink& out);

}  // namespace slipvel::app
