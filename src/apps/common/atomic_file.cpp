#include "common/atomic_file.hpp"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/write_all.hpp"

namespace slipvel::apps {
namespace {

std::filesystem::path folder_of(const std::filesystem::path& path) {
  return path.parent_path().empty() ? std::filesystem::path(".") : path.parent_path();
}

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

// Sets of files being committed (renamed into place) and the signal that
// came meanwhile: it waits until the last of them is whole.
std::atomic<int> commits_running{0};
std::atomic<int> deferred_signal{0};
static_assert(std::atomic<int>::is_always_lock_free, "read and written in a signal handler");

extern "C" void remove_temporaries_and_stop(int signal) {
  if (commits_running.load() > 0) {
    deferred_signal.store(signal);
    return;
  }
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

// Why `target` could not be replaced by a rename, or 0: a loop of links, a
// folder in its place, a folder that cannot be written, or a sticky folder
// and another user's file.
int unreplaceable(const std::filesystem::path& target) {
  struct stat file {
  }, folder{};
  const bool exists = ::lstat(target.c_str(), &file) == 0;
  if (!exists && errno != ENOENT) return errno;
  if (exists && S_ISDIR(file.st_mode)) return EISDIR;
  const std::filesystem::path parent = folder_of(target);
  if (::access(parent.c_str(), W_OK | X_OK) != 0) return errno;
  if (::stat(parent.c_str(), &folder) != 0) return errno;
  const uid_t me = ::geteuid();
  if (exists && (folder.st_mode & S_ISVTX) != 0 && me != 0 && file.st_uid != me && folder.st_uid != me) return EPERM;
  return 0;
}

}  // namespace

// As a shell's redirection writes through a link, never replacing the link itself.
std::filesystem::path followed(const std::filesystem::path& given) {
  std::error_code ignored;
  constexpr int kMostLinks = 40;  // as the system's own limit (ELOOP)
  std::filesystem::path path = given;
  int hops = 0;
  for (; hops < kMostLinks && std::filesystem::is_symlink(path, ignored); ++hops) {
    const std::filesystem::path target = std::filesystem::read_symlink(path, ignored);
    path = target.is_absolute() ? target : path.parent_path() / target;
  }
  if (hops == kMostLinks) return given;  // a loop: the path as given names it in messages
  const std::filesystem::path resolved = std::filesystem::weakly_canonical(path, ignored);
  return resolved.empty() ? given : resolved;
}

// Linux says the mask in /proc/self/status without changing it; elsewhere it
// is set and put back, which a thread making a file meanwhile would see.
mode_t read_umask() {
  if (FILE* status = std::fopen("/proc/self/status", "re")) {
    char line[256];
    unsigned mask = 0;
    bool found = false;
    while (!found && std::fgets(line, sizeof line, status) != nullptr) {
      found = std::sscanf(line, "Umask: %o", &mask) == 1;
    }
    std::fclose(status);
    if (found) return static_cast<mode_t>(mask);
  }
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}

// Without a name, the file is made without holding the folder's lock, which
// many jobs writing into one folder would otherwise wait for, and it needs one
// directory operation (the link) instead of two.
AtomicFile::AtomicFile(std::filesystem::path path, mode_t umask, Temporary temporary) : path_(std::move(path)) {
  if (written_directly(path_)) {
    direct_ = true;
    fd_ = path_ == "-" ? ::dup(STDOUT_FILENO) : ::open(path_.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (fd_ < 0) fail(errno);
    return;
  }
  std::error_code ignored;
  if (std::filesystem::is_symlink(path_, ignored)) path_ = followed(path_);
  if (temporary == Temporary::kUnnamedWherePossible) {
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

void AtomicFile::fail(int error) { throw WriteError(path_.string() + ": " + std::strerror(error), error); }

void AtomicFile::write(std::span<const std::string_view> pieces) {
  if (const int error = write_all(fd_, pieces); error != 0) fail(error);
}

// A file without a name is linked to its final name; where a file of that name
// exists, to a temporary name first, which is then renamed over it.
void AtomicFile::link_into_place() {
  const std::string self = "/proc/self/fd/" + std::to_string(fd_);
  if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path_.c_str(), AT_SYMLINK_FOLLOW) == 0) return;
  if (errno != EEXIST) fail(errno);
  name_beside();
  if (::rename(temporary_.c_str(), path_.c_str()) != 0) fail(errno);
  forget_temporary(slot_);
  slot_ = -1;
  temporary_.clear();
}

void AtomicFile::name_beside() {
  const std::string self = "/proc/self/fd/" + std::to_string(fd_);
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
  slot_ = remember_temporary(temporary_);
}

void AtomicFile::stage() {
  const int fd = fd_;
  fd_ = -1;
  if (!direct_ && temporary_.empty()) {
    fd_ = fd;  // the link needs the descriptor
    name_beside();
    fd_ = -1;
  }
  if (::close(fd) != 0 && errno != EINTR) fail(errno);
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
  if (fd_ < 0) throw WriteError(folder.string() + ": " + std::strerror(errno), errno);
  if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    ::close(fd_);
    if (error == EWOULDBLOCK) throw FolderBusy(folder.string() + ": another run is writing into this folder");
    throw WriteError(folder.string() + ": " + std::strerror(error), error);
  }
}

FolderLock::~FolderLock() { ::close(fd_); }

void remove_temporaries_on_signals() {
  struct sigaction action {};
  action.sa_handler = remove_temporaries_and_stop;
  sigemptyset(&action.sa_mask);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal, &action, nullptr);
}

AtomicFile& StagedFiles::add(const std::filesystem::path& path) {
  return *files_.emplace_back(std::make_unique<AtomicFile>(path, umask_, temporary_));
}

namespace {

// The old file of a target, kept under a hidden name until every new one has
// taken its name; empty where there was none.
struct Backup {
  std::string name;
  int slot = -1;
};

Backup back_up(const std::filesystem::path& target) {
  Backup backup;
  if (::access(target.c_str(), F_OK) != 0) return backup;
  static std::atomic<unsigned> counter{0};
  for (;;) {
    backup.name = hidden_name(target, ".old." + std::to_string(::getpid()) + "." + std::to_string(counter++));
    if (::link(target.c_str(), backup.name.c_str()) == 0) break;
    if (errno != EEXIST) {
      throw WriteError(target.string() + ": cannot keep the old file: " + std::strerror(errno), errno);
    }
  }
  backup.slot = remember_temporary(backup.name);
  return backup;
}

void drop(Backup& backup) {
  if (!backup.name.empty()) ::unlink(backup.name.c_str());
  forget_temporary(backup.slot);
  backup = {};
}

}  // namespace

CommitInProgress::CommitInProgress() { ++commits_running; }

CommitInProgress::~CommitInProgress() {
  if (--commits_running > 0) return;
  if (const int signal = deferred_signal.exchange(0); signal != 0) remove_temporaries_and_stop(signal);
}

void StagedFiles::commit_all() {
  const CommitInProgress whole;  // a signal meanwhile stops the run once every file has its name, or none
  std::vector<AtomicFile*> renamed;
  for (const auto& file : files_) {
    file->stage();
    if (!file->direct_) renamed.push_back(file.get());
  }
  // Nothing is replaced unless every target can be.
  for (const AtomicFile* file : renamed) {
    if (const int error = unreplaceable(file->path_); error != 0) {
      throw WriteError(file->path_.string() + ": " + std::strerror(error), error);
    }
  }
  std::vector<Backup> backups;
  try {
    for (const AtomicFile* file : renamed) backups.push_back(back_up(file->path_));
  } catch (const WriteError&) {
    for (Backup& b : backups) drop(b);
    throw;
  }
  for (std::size_t i = 0; i < renamed.size(); ++i) {
    AtomicFile& file = *renamed[i];
    const bool refused = !refused_target_.empty() && refused_target_ == file.path_;
    const int error = refused ? EPERM : ::rename(file.temporary_.c_str(), file.path_.c_str()) != 0 ? errno : 0;
    if (error == 0) continue;
    // Put back what the earlier renames replaced, newest first.
    for (std::size_t j = i; j-- > 0;) {
      const std::filesystem::path& target = renamed[j]->path_;
      if (backups[j].name.empty()) {
        ::unlink(target.c_str());
      } else if (::rename(backups[j].name.c_str(), target.c_str()) == 0) {
        forget_temporary(backups[j].slot);
        backups[j] = {};
      }
    }
    for (Backup& b : backups) drop(b);
    throw WriteError(file.path_.string() + ": " + std::strerror(error) + " (the files written before it are put back)",
                     error);
  }
  for (Backup& b : backups) drop(b);
  for (AtomicFile* file : renamed) {
    forget_temporary(file->slot_);
    file->slot_ = -1;
    file->temporary_.clear();
  }
  for (const auto& file : files_) file->committed_ = true;
}

FolderLocks lock_folders_of(const std::vector<std::filesystem::path>& paths) {
  std::vector<std::filesystem::path> folders;
  for (const std::filesystem::path& path : paths) {
    if (path.empty() || written_directly(path)) continue;
    std::error_code ignored;
    folders.push_back(followed(std::filesystem::absolute(path, ignored)).parent_path());
  }
  std::sort(folders.begin(), folders.end());
  folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
  FolderLocks locks;
  for (const std::filesystem::path& folder : folders) locks.push_back(std::make_unique<FolderLock>(folder));
  return locks;
}

void write_atomically(const std::filesystem::path& path, std::string_view content, mode_t umask, Temporary temporary) {
  AtomicFile file(path, umask, temporary);
  file.write(content);
  file.commit();
}

}  // namespace slipvel::apps
