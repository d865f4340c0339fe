#include "textio/sink.hpp"

#include "textio/console.hpp"

namespace slipvel::textio {

void ProcessSink::print(std::string_view lines) { standard_output().print(lines); }

void ProcessSink::store(const ResultFileName& file, std::string content) {
  ResultFile result(file);
  result.write(content);
  result.close();
}

}  // namespace slipvel::textio
