#include "final_read.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "common/write_all.hpp"
#include "console.hpp"

namespace slipvel::program {

void final_read(int fd) {
  standard_output().flush();
  char c = 0;
  for (;;) {
    const ssize_t got = ::read(fd, &c, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0 || c == '\n') return;
  }
}

void stop() {
  standard_output().flush();
  std::exit(EXIT_SUCCESS);
}

}  // namespace slipvel::program
