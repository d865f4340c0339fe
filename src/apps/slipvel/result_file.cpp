#include "result_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "common/write_all.hpp"
#include "console.hpp"

namespace slipvel::program {
namespace {

// Keeps a result file off descriptors 0 to 2: with a standard stream closed,
// the console or the final read would otherwise reach the file.
int above_standard_streams(int fd) {
  if (fd < 0 || fd > STDERR_FILENO) return fd;
  const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  const int error = errno;
  ::close(fd);
  errno = error;
  return moved;
}

int open_in(const char* name, int flags) { return above_standard_streams(::open(name, flags | O_CLOEXEC, 0666)); }

}  // namespace

ResultFile::ResultFile(const ResultFileName& file) : name_(file.name), unit_(file.unit) {
  // Open or create in one step: a separate existence test would race with
  // another run creating the file in between. Read-only is the fallback only
  // when the file is there but cannot be written (a folder in the way, say);
  // otherwise the reason reported is that of the attempt to create.
  fd_ = open_in(name_.c_str(), O_RDWR | O_CREAT);
  if (fd_ < 0) {
    const int create_error = errno;
    if (create_error != ENOENT) {
      fd_ = open_in(name_.c_str(), O_RDONLY);
      read_only_ = fd_ >= 0;
    }
    if (fd_ < 0) fail_with_errno("open", create_error);
  }
}

ResultFile::~ResultFile() {
  if (fd_ >= 0) close();
}

void ResultFile::write(std::string_view lines) {
  if (read_only_) fail("list output start", "can't write file");
  if (const int error = apps::write_all(fd_, lines); error != 0) fail_with_errno("write", error);
  written_ = true;
  position_ += static_cast<off_t>(lines.size());
}

void ResultFile::close() {
  // Cut only what lies beyond this run's bytes: a device such as /dev/null
  // has no length to cut and is left alone.
  struct stat status {};
  if (written_ && ::fstat(fd_, &status) == 0 && status.st_size > position_ && ::ftruncate(fd_, position_) != 0) {
    fail("endfile", "truncation failed in endfile");
  }
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0 && errno != EINTR) fail_with_errno("close", errno);
}

void ResultFile::fail_with_errno(std::string_view step, int error) { fail(step, std::strerror(error)); }

void ResultFile::fail(std::string_view step, std::string_view reason) {
  standard_output().flush_quietly();
  std::string message;
  message.append(step).append(": ").append(reason).append("\n");
  message.append("apparent state: unit ").append(std::to_string(unit_));
  message.append(" named ").append(name_).append("\n");
  message.append("last transfer: sequential formatted output\n");
  apps::write_all(STDERR_FILENO, message);
  if (fd_ >= 0) ::close(fd_);
  std::abort();
}

}  // namespace slipvel::program
