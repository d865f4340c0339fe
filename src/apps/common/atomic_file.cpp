#include "common/atomic_file.hpp"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "common/write_all.hpp"

namespace slipvel::apps {
namespace {

std::filesystem::path folder_of(const std::filesystem::path& path) {
  return path.parent_path().empty() ? std::filesystem::path(".") : path.parent_path();
}

std::atomic<bool> named_temporaries{false};

// The temporary names in use, where a signal handler can read them: a slot
// is claimed with its flag and its name written before it is marked ready.
struct TemporarySlot {
  std::atomic<int> state{0};  // 0 free, 1 being written, 2 holds a name
  char name[PATH_MAX];
};
std::array<TemporarySlot, 1024> temporaries;

int remember_temporary(const std::string& name) {
  if (name.size() >= PATH_MAX) return -1;
  for (std::size_t i = 0; i < temporaries.size(); ++i) {
    int free = 0;
    if (!temporaries[i].state.compare_exchange_strong(free, 1)) continue;
    std::memcpy(temporaries[i].name, name.c_str(), name.size() + 1);
    temporaries[i].state = 2;
    return static_cast<int>(i);
  }
  return -1;  // more temporaries at once than slots: that one is not removed on a signal
}

void forget_temporary(int slot) {
  if (slot >= 0) temporaries[static_cast<std::size_t>(slot)].state = 0;
}

extern "C" void remove_temporaries_and_stop(int signal) {
  for (TemporarySlot& slot : temporaries) {
    if (slot.state == 2) ::unlink(slot.name);
  }
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

// A name beside `path` that no result takes (no id starts with '.').
std::string hidden_name(const std::filesystem::path& path, std::string_view suffix) {
  std::string name = ".";
  name += path.filename().string();
  name += suffix;
  return (folder_of(path) / name).string();
}

// The file a path leads to through its symbolic links, also when that file
// does not exist yet (a link made before its file): as a shell's redirection
// writes through a link, never replacing the link itself.
std::filesystem::path followed(std::filesystem::path path) {
  std::error_code ignored;
  constexpr int kMostLinks = 40;  // as the system's own limit (ELOOP)
  for (int hops = 0; hops < kMostLinks && std::filesystem::is_symlink(path, ignored); ++hops) {
    const std::filesystem::path target = std::filesystem::read_symlink(path, ignored);
    path = target.is_absolute() ? target : path.parent_path() / target;
  }
  return std::filesystem::weakly_canonical(path, ignored);
}

}  // namespace

mode_t read_umask() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}

// Without a name, the file is made without holding the folder's lock, which
// many jobs writing into one folder would otherwise wait for, and it needs one
// directory operation (the link) instead of two.
AtomicFile::AtomicFile(std::filesystem::path path, mode_t umask) : path_(std::move(path)) {
  if (written_directly(path_)) {
    direct_ = true;
    fd_ = path_ == "-" ? ::dup(STDOUT_FILENO) : ::open(path_.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (fd_ < 0) fail(errno);
    return;
  }
  std::error_code ignored;
  if (std::filesystem::is_symlink(path_, ignored)) path_ = followed(path_);
  if (!named_temporaries) {
    fd_ = ::open(folder_of(path_).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);  // 0666 less the umask
    if (fd_ >= 0) return;
  }
  temporary_ = hidden_name(path_, ".XXXXXX");
  fd_ = ::mkostemp(temporary_.data(), O_CLOEXEC);
  if (fd_ < 0) {
    temporary_.clear();
    fail(errno);
  }
  slot_ = remember_temporary(temporary_);
  if (::fchmod(fd_, 0666 & ~umask) != 0) fail(errno);
}

AtomicFile::~AtomicFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!committed_ && !temporary_.empty()) ::unlink(temporary_.c_str());
  forget_temporary(slot_);
}

void AtomicFile::fail(int error) { throw WriteError(path_.string() + ": " + std::strerror(error)); }

void AtomicFile::write(std::string_view bytes) {
  if (const int error = write_all(fd_, bytes); error != 0) fail(error);
}

void AtomicFile::write(std::span<const std::string_view> pieces) {
  if (const int error = write_all(fd_, pieces); error != 0) fail(error);
}

// A file without a name is linked to its final name; where a file of that name
// exists, to a temporary name first, which is then renamed over it.
void AtomicFile::link_into_place() {
  const std::string self = "/proc/self/fd/" + std::to_string(fd_);
  if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path_.c_str(), AT_SYMLINK_FOLLOW) == 0) return;
  if (errno != EEXIST) fail(errno);
  static std::atomic<unsigned> counter{0};
  for (;;) {
    std::string suffix = ".";
    suffix.append(std::to_string(::getpid())).append(".").append(std::to_string(counter++));
    temporary_ = hidden_name(path_, suffix);
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temporary_.c_str(), AT_SYMLINK_FOLLOW) == 0) break;
    if (errno != EEXIST) {
      const int error = errno;
      temporary_.clear();
      fail(error);
    }
  }
  if (::rename(temporary_.c_str(), path_.c_str()) != 0) fail(errno);
  temporary_.clear();
}

// No fsync: the files are results that can be made again, the link or rename
// already keeps readers from seeing a part, and a sync per file would cost
// more than computing it.
void AtomicFile::commit() {
  if (direct_) {
    const int fd = fd_;
    fd_ = -1;
    committed_ = true;
    if (::close(fd) != 0 && errno != EINTR) fail(errno);
    return;
  }
  if (temporary_.empty()) {
    link_into_place();
    // Every byte is written; a close that still fails takes the name away again.
    committed_ = true;
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0 && errno != EINTR) {
      const int error = errno;
      ::unlink(path_.c_str());
      fail(error);
    }
    return;
  }
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0 && errno != EINTR) fail(errno);
  if (::rename(temporary_.c_str(), path_.c_str()) != 0) fail(errno);
  committed_ = true;
}

bool written_directly(const std::filesystem::path& path) {
  struct stat target {};
  return path == "-" || (::stat(path.c_str(), &target) == 0 && !S_ISREG(target.st_mode) && !S_ISDIR(target.st_mode));
}

FolderLock::FolderLock(const std::filesystem::path& folder) {
  fd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd_ < 0) throw WriteError(folder.string() + ": " + std::strerror(errno));
  if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    ::close(fd_);
    if (error == EWOULDBLOCK) throw FolderBusy(folder.string() + ": another run is writing into this folder");
    throw WriteError(folder.string() + ": " + std::strerror(error));
  }
}

FolderLock::~FolderLock() { ::close(fd_); }

void use_named_temporaries(bool named) { named_temporaries = named; }

void remove_temporaries_on_signals() {
  struct sigaction action {};
  action.sa_handler = remove_temporaries_and_stop;
  sigemptyset(&action.sa_mask);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal, &action, nullptr);
}

AtomicFile& StagedFiles::add(const std::filesystem::path& path) {
  return *files_.emplace_back(std::make_unique<AtomicFile>(path, umask_));
}

void StagedFiles::commit_all() {
  for (const auto& file : files_) file->commit();
}

std::optional<FolderLock> lock_folder_of(const std::filesystem::path& path) {
  if (written_directly(path)) return std::nullopt;
  std::error_code ignored;
  return std::optional<FolderLock>(std::in_place, followed(std::filesystem::absolute(path, ignored)).parent_path());
}

void write_atomically(const std::filesystem::path& path, std::string_view content, mode_t umask) {
  AtomicFile file(path, umask);
  file.write(content);
  file.commit();
}

}  // namespace slipvel::apps
