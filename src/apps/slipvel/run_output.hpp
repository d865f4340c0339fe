// Where a run's text goes: the console report and the two result files.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <utility>

#include "result_file.hpp"

namespace slipvel::program {

class Sink {
 public:
  virtual ~Sink() = default;
  // Complete lines of the console report.
  virtual void print(std::string_view lines) = 0;
  // The whole content of a result file, which replaces what the file held.
  virtual void store(const ResultFileName& file, std::string content) = 0;
};

// The real run: standard output, and the result files in the current directory
// through update open, one write and cut at close.
class ProcessSink final : public Sink {
 public:
  void print(std::string_view lines) override;
  void store(const ResultFileName& file, std::string content) override;
};

// Keeps everything in memory, for tests and benchmarks.
class MemorySink final : public Sink {
 public:
  void print(std::string_view lines) override { console += lines; }
  void store(const ResultFileName& file, std::string content) override {
    files[std::string(file.name)] = std::move(content);
  }

  std::string console;
  std::map<std::string, std::string, std::less<>> files;
};

}  // namespace slipvel::program
