// Standard output of the program: the console report and the prompt.
//
// On a terminal each line shows as soon as it is complete; otherwise the text
// is collected and written in one go at the next flush. A failed write is no
// silent loss: it is reported on standard error and the run ends with status 1.
#pragma once

#include <string>
#include <string_view>

namespace slipvel::program {

class Console {
 public:
  explicit Console(int fd);
  void print(std::string_view lines);
  void flush();
  // Flush for a run that is ending abnormally anyway: errors are ignored.
  void flush_quietly() noexcept;

 private:
  int fd_;
  bool immediate_;
  std::string pending_;
};

Console& standard_output();

}  // namespace slipvel::program
