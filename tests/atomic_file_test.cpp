// Atomic result files, made without a name (O_TMPFILE) or, where the file
// system refuses that, under a temporary name: either way complete or absent.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <thread>

#include "common/atomic_file.hpp"
#include "temp_dir.hpp"

namespace slipvel::apps {
namespace {

using testing::read_file;
using testing::TempDir;
using testing::write_file;

std::vector<std::string> names_in(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

class AtomicFileTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { umask_ = ::umask(027); }
  void TearDown() override { ::umask(umask_); }
  // Unnamed where the system allows, or named, as on a file system without O_TMPFILE.
  Temporary temporary() const { return GetParam() ? Temporary::kNamed : Temporary::kUnnamedWherePossible; }
  mode_t umask_ = 0;
  TempDir dir_;
};

TEST_P(AtomicFileTest, ReplacesInOneStepAndLeavesNoTemporary) {
  write_file(dir_ / "a.csv", "old and longer\n");
  {
    AtomicFile file(dir_ / "a.csv", 027, temporary());
    file.write("new\n");
    EXPECT_EQ(read_file(dir_ / "a.csv"), "old and longer\n");  // readers see the old file until commit
    file.commit();
  }
  write_atomically(dir_ / "b.csv", "b\n", 027, temporary());
  EXPECT_EQ(read_file(dir_ / "a.csv"), "new\n");
  EXPECT_EQ(names_in(dir_.path()), (std::vector<std::string>{"a.csv", "b.csv"}));
  EXPECT_EQ(std::filesystem::status(dir_ / "b.csv").permissions(), std::filesystem::perms(0640));
}

TEST_P(AtomicFileTest, AFileNotCommittedLeavesNothing) {
  { AtomicFile(dir_ / "a.csv", 022, temporary()).write("part"); }
  EXPECT_TRUE(names_in(dir_.path()).empty());
  EXPECT_THROW(write_atomically(dir_ / "missing" / "a.csv", "x", 022, temporary()), WriteError);
}

// A link to a regular file stays and the file it leads to is replaced; a FIFO
// is written into, never replaced by a regular file.
TEST_P(AtomicFileTest, LinksAreFollowedAndFifosWrittenDirectly) {
  TempDir dir;
  write_file(dir / "target.csv", "old\n");
  std::filesystem::create_symlink("target.csv", dir / "link.csv");
  write_atomically(dir / "link.csv", "new\n", 022, temporary());
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.csv"));
  EXPECT_EQ(read_file(dir / "target.csv"), "new\n");
  // A link to a file not made yet makes it; one into a missing folder fails.
  std::filesystem::create_symlink("later.csv", dir / "ahead.csv");
  write_atomically(dir / "ahead.csv", "made\n", 022, temporary());
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "ahead.csv"));
  EXPECT_EQ(read_file(dir / "later.csv"), "made\n");
  std::filesystem::create_symlink("nowhere/x.csv", dir / "astray.csv");
  EXPECT_THROW(write_atomically(dir / "astray.csv", "lost\n", 022, temporary()), WriteError);
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "astray.csv"));

  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
  std::string got;
  std::thread reader([&] { got = read_file(dir / "pipe"); });
  write_atomically(dir / "pipe", "through\n", 022, temporary());
  reader.join();
  EXPECT_EQ(got, "through\n");
  EXPECT_TRUE(std::filesystem::is_fifo(dir / "pipe"));
  EXPECT_EQ(names_in(dir.path()),
            (std::vector<std::string>{"ahead.csv", "astray.csv", "later.csv", "link.csv", "pipe", "target.csv"}));
}

// Files that take their names together: when a later one cannot (its rename
// refused, a folder in its place), every earlier file is as it was, new ones
// are gone, and no temporary or backup is left.
TEST_P(AtomicFileTest, StagedFilesTakeTheirNamesTogetherOrNotAtAll) {
  struct Case {
    const char* name;
    bool first_exists;
    bool folder_in_place;  // else the second rename is refused
  };
  for (const Case c : {Case{"refused rename, old first", true, false}, Case{"refused rename, new first", false, false},
                       Case{"a folder in place", true, true}}) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    if (c.first_exists) write_file(dir / "a.srf", "old a\n");
    write_file(dir / "b.csv", "old b\n");
    {
      StagedFiles files(027, temporary(), c.folder_in_place ? std::filesystem::path() : dir / "b.csv");
      files.add(dir / "a.srf").write("new a\n");
      files.add(dir / "b.csv").write("new b\n");
      if (c.folder_in_place) {
        std::filesystem::remove(dir / "b.csv");
        std::filesystem::create_directory(dir / "b.csv");
      }
      EXPECT_THROW(files.commit_all(), WriteError);
    }
    EXPECT_EQ(std::filesystem::exists(dir / "a.srf"), c.first_exists);
    if (c.first_exists) {
      EXPECT_EQ(read_file(dir / "a.srf"), "old a\n");
    }
    if (!c.folder_in_place) {
      EXPECT_EQ(read_file(dir / "b.csv"), "old b\n");
    }
    EXPECT_EQ(names_in(dir.path()).size(), c.first_exists ? 2u : 1u);  // no temporary, no backup
  }
  TempDir dir;
  write_file(dir / "a.srf", "old a\n");
  StagedFiles files(027, temporary());
  files.add(dir / "a.srf").write("new a\n");
  files.add(dir / "b.csv").write("new b\n");
  files.commit_all();
  EXPECT_EQ(read_file(dir / "a.srf"), "new a\n");
  EXPECT_EQ(read_file(dir / "b.csv"), "new b\n");
  EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{"a.srf", "b.csv"}));
}

INSTANTIATE_TEST_SUITE_P(WithAndWithoutName, AtomicFileTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "NamedTemporary" : "Unnamed"; });

}  // namespace
}  // namespace slipvel::apps

namespace slipvel::apps {
namespace {

// One run at a time in a folder: a second lock fails at once, naming it.
TEST(FolderLockTest, ASecondRunIntoTheFolderIsRefused) {
  TempDir dir;
  {
    const FolderLock first(dir.path());
    try {
      const FolderLock second(dir.path());
      ADD_FAILURE() << "a second lock was taken";
    } catch (const FolderBusy& e) {
      EXPECT_NE(std::string(e.what()).find(dir.path().string()), std::string::npos);
    }
  }
  const FolderLock again(dir.path());  // released with the first
  EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{});
}

// A run stopped by SIGTERM or SIGINT removes the temporary files it was
// writing under a name, and still ends by that signal.
TEST(SignalTest, TemporariesAreRemovedOnTermination) {
  for (const int signal : {SIGTERM, SIGINT}) {
    TempDir dir;
    const pid_t child = ::fork();
    if (child == 0) {
      remove_temporaries_on_signals();
      AtomicFile file(dir / "result.csv", 022, Temporary::kNamed);
      file.write("part");
      ::raise(signal);
      ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
    EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{});
  }
}

// A signal that comes while a set of files takes its names waits until every
// one has: the run then ends by it, leaving the whole new set (and no
// temporary or backup); one before the commit leaves the whole old set.
TEST(SignalTest, ASetOfFilesIsCommittedWholeOrNotAtAll) {
  struct Case {
    int signal;
    bool during_commit;
  };
  for (const Case c : {Case{SIGINT, true}, Case{SIGTERM, true}, Case{SIGHUP, false}, Case{SIGTERM, false}}) {
    SCOPED_TRACE(::testing::Message() << "signal " << c.signal << (c.during_commit ? " during" : " before"));
    TempDir dir;
    const char* names[] = {"r.srf", "p.csv", "pl.csv", "m.csv"};
    for (const char* name : names) write_file(dir / name, "old");
    const pid_t child = ::fork();
    if (child == 0) {
      remove_temporaries_on_signals();
      StagedFiles files(022, Temporary::kNamed);
      for (const char* name : names) files.add(dir / name).write("new");
      if (!c.during_commit) ::raise(c.signal);
      {
        const CommitInProgress arriving;  // as the signal comes while the files are being renamed
        ::raise(c.signal);
        files.commit_all();
      }
      ::_exit(0);  // not reached: the signal ends the process once the set is whole
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.signal) << status;
    for (const char* name : names) EXPECT_EQ(read_file(dir / name), c.during_commit ? "new" : "old") << name;
    EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{"m.csv", "p.csv", "pl.csv", "r.srf"}));
  }
}

}  // namespace
}  // namespace slipvel::apps
