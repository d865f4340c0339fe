#include "common/write_all.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "common/atomic_file.hpp"

namespace slipvel::apps {

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

void print_checked(std::FILE* stream, std::string_view text) {
  errno = 0;
  const bool written = std::fwrite(text.data(), 1, text.size(), stream) == text.size() && std::fflush(stream) == 0;
  if (!written) {
    const std::string name = stream == stdout ? "standard output" : "standard error";
    throw WriteError(name + ": " + (errno != 0 ? std::strerror(errno) : "could not be written"));
  }
}

}  // namespace slipvel::apps
