#include "console.hpp"
#include "common/write_all.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace slipvel::program {

Console::Console(int fd) : fd_(fd), immediate_(::isatty(fd) == 1) {}

void Console::print(std::string_view lines) {
  pending_ += lines;
  if (immediate_) flush();
}

void Console::flush() {
  const int error = apps::write_all(fd_, pending_);
  pending_.clear();
  if (error == 0) return;
  std::string message = "write: ";
  message += std::strerror(error);
  message += "\napparent state: standard output\n";
  apps::write_all(STDERR_FILENO, message);
  std::_Exit(EXIT_FAILURE);
}

void Console::flush_quietly() noexcept {
  apps::write_all(fd_, pending_);
  pending_.clear();
}

Console& standard_output() {
  static Console console(STDOUT_FILENO);
  return console;
}

}  // namespace slipvel::program
