#include "batch/atomic_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace slipvel::batch {
namespace {

[[noreturn]] void fail(const std::filesystem::path& path, int error) {
  throw WriteError(path.string() + ": " + std::strerror(error));
}

int write_all(int fd, std::string_view bytes) {
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

// A temporary file removed on destruction unless it was renamed into place.
class TemporaryFile {
 public:
  explicit TemporaryFile(const std::filesystem::path& final_path) {
    // The leading '.' keeps it apart from every result name (no id starts with one).
    std::string temporary_name = ".";
    temporary_name += final_path.filename().string();
    temporary_name += ".XXXXXX";
    name_ = (final_path.parent_path() / temporary_name).string();
    fd_ = ::mkostemp(name_.data(), O_CLOEXEC);
    if (fd_ < 0) fail(final_path, errno);
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!committed_) ::unlink(name_.c_str());
  }

  int fd() const { return fd_; }
  const std::string& name() const { return name_; }
  int close() {
    const int result = ::close(fd_);
    fd_ = -1;
    return result == 0 || errno == EINTR ? 0 : errno;
  }
  void committed() { committed_ = true; }

 private:
  std::string name_;
  int fd_ = -1;
  bool committed_ = false;
};

}  // namespace

mode_t read_umask() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}

namespace {

// Where the system allows it, the file is made without a name (O_TMPFILE),
// written, and given its final name by one link: no other directory operation,
// and the making of the file does not hold the folder's lock, which many jobs
// writing into one folder would otherwise wait for. False when that cannot be
// done (no O_TMPFILE here, or a file of that name exists, which must then be
// replaced by a rename); nothing is left behind then.
bool write_by_linking(const std::filesystem::path& path, std::string_view content) {
  const std::filesystem::path folder = path.parent_path().empty() ? "." : path.parent_path();
  const int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);  // 0666 less the umask
  if (fd < 0) return false;
  if (const int error = write_all(fd, content); error != 0) {
    ::close(fd);
    fail(path, error);
  }
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  const bool linked = ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0;
  const int link_error = errno;
  if (::close(fd) != 0 && errno != EINTR) {
    if (linked) ::unlink(path.c_str());
    fail(path, errno);
  }
  if (!linked && link_error != EEXIST && link_error != ENOENT && link_error != EPERM && link_error != EXDEV) {
    fail(path, link_error);
  }
  return linked;
}

}  // namespace

// No fsync: the files are results that can be made again, the link or rename
// already keeps readers from seeing a part, and a sync per file would cost
// more than computing it.
void write_atomically(const std::filesystem::path& path, std::string_view content, mode_t umask) {
  if (write_by_linking(path, content)) return;
  TemporaryFile temporary(path);
  if (::fchmod(temporary.fd(), 0666 & ~umask) != 0) fail(path, errno);
  if (const int error = write_all(temporary.fd(), content); error != 0) fail(path, error);
  if (const int error = temporary.close(); error != 0) fail(path, error);
  if (::rename(temporary.name().c_str(), path.c_str()) != 0) fail(path, errno);
  temporary.committed();
}

}  // namespace slipvel::batch
