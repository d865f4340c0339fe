#include "common/input.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace slipvel::apps {

bool read_whole(const std::string& name, std::string& text, std::string& reason) {
  const int fd = name == "-" ? STDIN_FILENO : ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
  int error = fd < 0 ? errno : 0;
  char buffer[65536];
  while (error == 0) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got == 0) break;
    if (got < 0 && errno != EINTR) error = errno;
    if (got > 0) text.append(buffer, static_cast<std::size_t>(got));
  }
  if (fd > STDIN_FILENO) ::close(fd);
  if (error != 0) reason = std::strerror(error);
  return error == 0;
}

void print_problems(const std::string& name, const std::vector<TableProblem>& problems) {
  constexpr std::size_t kShown = 20;  // the rest are usually the same mistake again
  for (std::size_t i = 0; i < problems.size() && i < kShown; ++i) {
    const std::string where = problems[i].line > 0 ? name + ":" + std::to_string(problems[i].line) : name;
    std::fprintf(stderr, "%s: %s\n", where.c_str(), problems[i].what.c_str());
  }
  if (problems.size() > kShown) std::fprintf(stderr, "... and %zu more problems\n", problems.size() - kShown);
}

}  // namespace slipvel::apps
