// The floor of writing files: what the system takes to write their bytes and
// nothing else, by plain write() calls of 1 MiB buffers (the last one
// shorter), each to a new file in the folder of the file measured, one file
// after the other. The bytes are blanks; the page cache takes them as it
// takes any others.
// Usage: slipvel_write_floor SIZE PATH [SIZE PATH ...]
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool write_file(long long size, const char* path, const std::string& buffer) {
  const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return false;
  for (long long left = size; left > 0;) {
    const auto piece = static_cast<std::size_t>(left < static_cast<long long>(buffer.size()) ? left : buffer.size());
    const ssize_t written = ::write(fd, buffer.data(), piece);
    if (written <= 0) return false;
    left -= written;
  }
  return ::close(fd) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || argc % 2 == 0) {
    std::fprintf(stderr, "usage: slipvel_write_floor SIZE PATH [SIZE PATH ...]\n");
    return 2;
  }
  const std::string buffer(std::size_t{1} << 20, ' ');
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!write_file(std::atoll(argv[i]), argv[i + 1], buffer)) {
      std::fprintf(stderr, "slipvel_write_floor: %s: %s\n", argv[i + 1], std::strerror(errno));
      return 1;
    }
  }
  return 0;
}
