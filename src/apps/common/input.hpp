// Reading a program's input files.
#pragma once

#include <string>

#include "common/outputs.hpp"

namespace slipvel::apps {

// Returns the whole of the input ("-": standard input). Throws Refusal
// ("OPTION PATH: the system's reason") when it cannot be read.
std::string read_input(const NamedPath& input);

}  // namespace slipvel::apps
