// Result files that are complete or absent.
#pragma once

#include <sys/types.h>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <slipvel/sink.hpp>

namespace slipvel::apps {

// A result file that could not be written: its path and the system's reason,
// and that reason's errno where the system gave one (0 where not).
class WriteError : public std::runtime_error {
 public:
  explicit WriteError(const std::string& what, int error = 0) : std::runtime_error(what), error_(error) {}
  int error() const noexcept { return error_; }

 private:
  int error_;
};

// The process's file-creation mask.
mode_t read_umask();

// How a file's bytes are kept until it takes its name: in a file without a
// name where the system allows (O_TMPFILE), or always under a temporary
// name, as on a file system without O_TMPFILE (tests take that path so).
enum class Temporary { kUnnamedWherePossible, kNamed };

// A file written in pieces that takes its final name only at commit(), once
// every byte is written: a reader sees the old file or the whole new one,
// never a part. It is made in the final folder (so the naming is atomic),
// without a name where the system allows (O_TMPFILE), else under a temporary
// one starting with '.'. It gets 0666 less `umask`, the mode of a new file.
// Every failure throws WriteError with the final path and the system's
// reason; a file not committed is removed.
//
// Where the bytes go: "-" is standard output, and a path that is or leads to
// something other than a regular file (a device, a FIFO, a socket) is written
// directly, never replaced. A symbolic link is followed: the file it leads to
// is replaced (or made, when it does not exist yet) and the link stays.
// The file a path leads to through its symbolic links, also when that file
// does not exist yet (a link made before its file), as AtomicFile writes it;
// the path as given for a loop of links.
std::filesystem::path followed(const std::filesystem::path& given);

class AtomicFile : public Sink {
 public:
  AtomicFile(std::filesystem::path path, mode_t umask, Temporary temporary = Temporary::kUnnamedWherePossible);
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;
  ~AtomicFile() override;

  using Sink::write;
  // Writes the pieces one after the other, as one gathered write.
  void write(std::span<const std::string_view> pieces) override;
  void commit();

 private:
  friend class StagedFiles;
  [[noreturn]] void fail(int error);
  void link_into_place();
  // Links a file without a name to a temporary name beside its target.
  void name_beside();
  // Closes the file, every byte written, and gives it a temporary name beside
  // its target (a file written directly is only closed): ready to be renamed.
  void stage();

  std::filesystem::path path_;
  std::string temporary_;  // the temporary name, or empty for a file without a name
  int fd_ = -1;
  bool committed_ = false;
  bool direct_ = false;  // written in place: standard output, a device, a FIFO, a socket
  int slot_ = -1;        // where a signal handler finds the temporary name
};

// On SIGINT, SIGTERM or SIGHUP, removes the temporary files of every
// AtomicFile not yet committed, then ends the process by that signal as it
// would have ended; a signal that comes while a set of files is being
// committed (CommitInProgress) waits until the set is whole. (SIGKILL cannot
// be caught: see the README.)
void remove_temporaries_on_signals();

// While one lives, the signals remove_temporaries_on_signals handles wait:
// the last one to end stops the process by the signal that came meanwhile.
// StagedFiles::commit_all holds one, so an interrupted run leaves every file
// of a set new or every one as it was.
class CommitInProgress {
 public:
  CommitInProgress();
  ~CommitInProgress();
  CommitInProgress(const CommitInProgress&) = delete;
  CommitInProgress& operator=(const CommitInProgress&) = delete;
};

// True for an output that AtomicFile writes directly (see there).
bool written_directly(const std::filesystem::path& path);

// Another run holds the output folder.
class FolderBusy : public WriteError {
 public:
  using WriteError::WriteError;
};

// An exclusive lock on a folder, on the folder itself (no lock file), held
// for the lock's lifetime, so that two runs never write into one folder at
// once. Throws FolderBusy when another run holds it, WriteError when the
// folder cannot be opened.
class FolderLock {
 public:
  explicit FolderLock(const std::filesystem::path& folder);
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  ~FolderLock();

 private:
  int fd_ = -1;
};

// Result files that appear together: each is written whole under a temporary
// name first, and they take their names only when every one is complete.
// Before the first rename every target is checked as replaceable and the old
// files are kept under backup names; a rename that still fails puts the
// earlier ones back. So a failure leaves every file as it was (devices and
// standard output, written in place, excepted).
class StagedFiles {
 public:
  // `refused_target`: a target whose rename fails as a sticky folder's would
  // for another user's file (tests run as root, which the sticky bit does not
  // stop), for tests of putting earlier files back; empty: none.
  explicit StagedFiles(mode_t umask, Temporary temporary = Temporary::kUnnamedWherePossible,
                       std::filesystem::path refused_target = {})
      : umask_(umask), temporary_(temporary), refused_target_(std::move(refused_target)) {}

  // A new file to write into; it takes its name at commit_all().
  AtomicFile& add(const std::filesystem::path& path);
  void commit_all();

 private:
  mode_t umask_;
  Temporary temporary_;
  std::filesystem::path refused_target_;
  std::vector<std::unique_ptr<AtomicFile>> files_;
};

// Locks on every folder the files are made in (each once; none for files
// written directly or empty paths). Throws FolderBusy as FolderLock does.
using FolderLocks = std::vector<std::unique_ptr<FolderLock>>;
FolderLocks lock_folders_of(const std::vector<std::filesystem::path>& paths);

// The whole of `content` as one AtomicFile.
void write_atomically(const std::filesystem::path& path, std::string_view content, mode_t umask,
                      Temporary temporary = Temporary::kUnnamedWherePossible);

}  // namespace slipvel::apps
