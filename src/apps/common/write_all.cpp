#include "common/write_all.hpp"

#include <limits.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

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

int write_all(int fd, std::span<const std::string_view> pieces) noexcept {
  iovec gathered[IOV_MAX];
  while (!pieces.empty()) {
    const std::size_t count = std::min<std::size_t>(pieces.size(), IOV_MAX);
    for (std::size_t i = 0; i < count; ++i) {
      gathered[i] = {const_cast<char*>(pieces[i].data()), pieces[i].size()};
    }
    ssize_t written = ::writev(fd, gathered, static_cast<int>(count));
    if (written < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    // Whole pieces written drop out; a piece written in part is finished alone.
    std::size_t done = 0;
    while (done < count && static_cast<std::size_t>(written) >= pieces[done].size()) {
      written -= static_cast<ssize_t>(pieces[done].size());
      ++done;
    }
    if (done < count && written > 0) {
      if (const int error = write_all(fd, pieces[done].substr(static_cast<std::size_t>(written))); error != 0) {
        return error;
      }
      ++done;
    }
    pieces = pieces.subspan(done);
  }
  return 0;
}

void print_checked(std::FILE* stream, std::string_view text) {
  errno = 0;
  const bool written = std::fwrite(text.data(), 1, text.size(), stream) == text.size() && std::fflush(stream) == 0;
  if (!written) {
    const std::string name = stream == stdout ? "standard output" : "standard error";
    throw WriteError(name + ": " + (errno != 0 ? std::strerror(errno) : "could not be written"), errno);
  }
}

}  // namespace slipvel::apps
