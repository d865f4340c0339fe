// The floor of a run: the same I/O as slipvel and nothing else. It writes a
// console report and two files of exactly the sizes slipvel writes, each with a
// single write, reads one line and exits. bench/compare times slipvel against it.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>

namespace {

// Sizes of slipvel's output in bytes (bench/compare checks them).
constexpr std::size_t kConsoleBytes = 393;
constexpr std::size_t kTimeHistoryBytes = 233516;
constexpr std::size_t kSpectrumBytes = 71673;

char buffer[kTimeHistoryBytes];

void write_file(const char* name, std::size_t size) {
  const int fd = ::open(name, O_WRONLY | O_CREAT | O_TRUNC, 0666);
  if (fd < 0 || ::write(fd, buffer, size) != static_cast<ssize_t>(size)) ::_exit(1);
  ::close(fd);
}

}  // namespace

int main() {
  std::memset(buffer, '0', sizeof buffer);
  if (::write(1, buffer, kConsoleBytes) != static_cast<ssize_t>(kConsoleBytes)) return 1;
  write_file("Vek_Slip.csv", kTimeHistoryBytes);
  write_file("Vek_Amp.csv", kSpectrumBytes);
  char c = 0;
  while (::read(0, &c, 1) == 1 && c != '\n') {
  }
  return 0;
}
