// The paths a run reads and writes, checked before anything is computed, so
// that a run never overwrites what it reads or writes one output over another.
#pragma once

#include <string>
#include <vector>

namespace slipvel::apps {

// A path given to an option: "--srf x.srf". "-" is standard input for an
// input, standard output for an output.
struct NamedPath {
  std::string option;
  std::string path;
};

// The problems with the outputs, one line each: two outputs that name one
// file (through links, "./x" and "x", "-" and /dev/stdout), an output that is
// an input (also standard output onto the file standard input reads), an
// output that is a folder, an output whose folder is missing or cannot be
// written. Devices, pipes and standard output are written in place and may
// not be replaced; only two of them naming one are refused. Outputs and
// inputs with an empty path are left out.
std::vector<std::string> output_problems(const std::vector<NamedPath>& outputs, const std::vector<NamedPath>& inputs);

// The problems with the inputs, one line each: two inputs that read one file
// (standard input by two names, or one table given twice).
std::vector<std::string> input_problems(const std::vector<NamedPath>& inputs);

// The same for the files a run writes into `folder` (created if missing) by
// their names: the folder must be a folder or missing, and none of the files
// may be an input.
std::vector<std::string> folder_problems(const NamedPath& folder, const std::vector<std::string>& names,
                                         const std::vector<NamedPath>& inputs);

// Whether `path` is standard output by any name ("-", /dev/stdout,
// /proc/self/fd/1, a link to what standard output writes to).
bool is_standard_output(const std::string& path);

}  // namespace slipvel::apps
