#include "textio/console.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace slipvel::textio {

int write_all(int fd, std::string_view bytes) noexcept {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return 0;
}

Console::Console(int fd) : fd_(fd), immediate_(::isatty(fd) == 1) {}

void Console::print(std::string_view lines) {
  pending_ += lines;
  if (immediate_) flush();
}

void Console::flush() {
  const int error = write_all(fd_, pending_);
  pending_.clear();
  if (error == 0) return;
  std::string message = "write: ";
  message += std::strerror(error);
  message += "\napparent state: standard output\n";
  write_all(STDERR_FILENO, message);
  std::_Exit(EXIT_FAILURE);
}

void Console::flush_quietly() noexcept {
  write_all(fd_, pending_);
  pending_.clear();
}

Console& standard_output() {
  static Console console(STDOUT_FILENO);
  return console;
}

}  // namespace slipvel::textio
