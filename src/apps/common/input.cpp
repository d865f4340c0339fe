#include "common/input.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/program.hpp"

namespace slipvel::apps {

std::string read_input(const NamedPath& input) {
  const int fd = input.path == "-" ? STDIN_FILENO : ::open(input.path.c_str(), O_RDONLY | O_CLOEXEC);
  int error = fd < 0 ? errno : 0;
  std::string text;
  char buffer[65536];
  while (error == 0) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got == 0) break;
    if (got < 0 && errno != EINTR) error = errno;
    if (got > 0) text.append(buffer, static_cast<std::size_t>(got));
  }
  if (fd > STDIN_FILENO) ::close(fd);
  if (error != 0) throw Refusal(input.option + " " + shown_path(input.path) + ": " + std::strerror(error));
  return text;
}

}  // namespace slipvel::apps
