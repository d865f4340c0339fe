#include "run_output.hpp"

#include "common/write_all.hpp"
#include "console.hpp"

namespace slipvel::program {

void ProcessSink::print(std::string_view lines) { standard_output().print(lines); }

void ProcessSink::store(const ResultFileName& file, std::string content) {
  ResultFile result(file);
  result.write(content);
  result.close();
}

}  // namespace slipvel::program
