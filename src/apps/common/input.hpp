// Reading a program's input files and saying what is wrong with them.
#pragma once

#include <string>
#include <vector>

#include "common/table.hpp"

namespace slipvel::apps {

// The whole of file `name` (for "-", standard input) into `text`; false, with
// the system's reason, if it cannot be read.
bool read_whole(const std::string& name, std::string& text, std::string& reason);

// Prints the first problems of table `name` on standard error, one
// "NAME:LINE: what" line each, and how many more there are.
void print_problems(const std::string& name, const std::vector<TableProblem>& problems);

}  // namespace slipvel::apps
