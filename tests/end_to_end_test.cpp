// Runs the built program as a user would, in a folder of its own.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "expected_run.hpp"
#include "result_file.hpp"
#include "temp_dir.hpp"

namespace slipvel::testing {
namespace {

enum class Input { kEmpty, kClosed, kFile };

struct Outcome {
  int status = 0;
  std::string out, err;
  off_t input_consumed = 0;  // bytes the program took from an input file
  bool exited_zero() const { return WIFEXITED(status) && WEXITSTATUS(status) == 0; }
  bool aborted() const { return WIFSIGNALED(status) && WTERMSIG(status) == SIGABRT; }
};

class EndToEnd : public ::testing::Test {
 protected:
  Outcome run(Input input = Input::kEmpty, const std::string& input_text = "", const char* stdout_path = nullptr,
              rlim_t file_size_limit = RLIM_INFINITY) {
    const auto out_path = dir_ / ".out", err_path = dir_ / ".err", in_path = dir_ / ".in";
    write_file(in_path, input_text);
    const int in_fd = ::open(input == Input::kFile ? in_path.c_str() : "/dev/null", O_RDONLY);
    const pid_t pid = ::fork();
    if (pid == 0) {
      if (::chdir(dir_.path().c_str()) != 0) ::_exit(127);
      ::dup2(in_fd, 0);
      if (input == Input::kClosed) ::close(0);
      const int out = ::open(stdout_path ? stdout_path : out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(out, 1);
      ::dup2(err, 2);
      ::close(in_fd);
      ::close(out);
      ::close(err);
      const rlimit limit{file_size_limit, file_size_limit};
      ::setrlimit(RLIMIT_FSIZE, &limit);
      std::vector<char*> argv{const_cast<char*>("slipvel")};
      for (std::string& a : arguments_) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(SLIPVEL_PROGRAM, argv.data());
      ::_exit(127);
    }
    Outcome outcome;
    ::waitpid(pid, &outcome.status, 0);
    outcome.input_consumed = ::lseek(in_fd, 0, SEEK_CUR);
    ::close(in_fd);
    outcome.out = read_file(out_path);
    outcome.err = read_file(err_path);
    std::filesystem::remove(out_path);
    std::filesystem::remove(err_path);
    std::filesystem::remove(in_path);
    return outcome;
  }

  std::string file(const char* name) const { return read_file(dir_ / name); }

  TempDir dir_;
  std::vector<std::string> arguments_;
};

// The file has `count` lines, each row `row_length` characters, and the tabled lines.
void expect_tabled(const std::string& text, const std::vector<std::pair<int, std::string>>& tabled, std::size_t count,
                   std::size_t row_length) {
  ASSERT_EQ(text.back(), '\n');
  const std::vector<std::string> lines = split_lines(text);
  ASSERT_EQ(lines.size(), count);
  for (std::size_t i = 1; i < lines.size(); ++i) ASSERT_EQ(lines[i].size(), row_length) << i;
  for (const auto& [number, line] : tabled) EXPECT_EQ(lines[static_cast<std::size_t>(number - 1)], line);
}

TEST_F(EndToEnd, ReportAndFilesInAnEmptyFolder) {
  const Outcome outcome = run();
  EXPECT_TRUE(outcome.exited_zero());
  EXPECT_EQ(outcome.out, kConsoleReport);
  EXPECT_EQ(outcome.err, "");
  expect_tabled(file("Vek_Slip.csv"), kTimeHistoryLines, 4097, 56);
  expect_tabled(file("Vek_Amp.csv"), kSpectrumLines, 2048, 34);
}

// --help and --version answer and exit; any other argument is refused, as a
// source the fixed run would not take. Either way no report, no file touched,
// no input read.
TEST_F(EndToEnd, HelpAndVersionAnswerAndOtherArgumentsAreRefused) {
  struct Case {
    std::vector<std::string> arguments;
    int status;
    const char* out_starts;
    const char* err_starts;
  };
  const Case cases[] = {
      {{"--help"}, 0, "Usage: slipvel\n", ""},
      {{"--version"}, 0, "slipvel " SLIPVEL_EXPECTED_VERSION "\n", ""},
      {{"--other"}, 2, "", "slipvel: unexpected argument \"--other\": slipvel runs its built-in source"},
      {{"ignored", "--help"}, 2, "", "slipvel: unexpected arguments starting with \"ignored\""},
      {{"--vm", "3"}, 2, "", "slipvel: unexpected arguments starting with \"--vm\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments.front());
    write_file(dir_ / "Vek_Slip.csv", "kept\n");
    arguments_ = c.arguments;
    const Outcome outcome = run(Input::kFile, "line\n");
    EXPECT_TRUE(WIFEXITED(outcome.status) && WEXITSTATUS(outcome.status) == c.status);
    EXPECT_EQ(outcome.out.rfind(c.out_starts, 0), 0u) << outcome.out;
    EXPECT_EQ(outcome.err.rfind(c.err_starts, 0), 0u) << outcome.err;
    if (c.status == 0) {
      EXPECT_EQ(outcome.err, "");
    }
    EXPECT_EQ(outcome.input_consumed, 0);
    EXPECT_EQ(file("Vek_Slip.csv"), "kept\n");
    EXPECT_FALSE(std::filesystem::exists(dir_ / "Vek_Amp.csv"));
  }
}

// The files hold exactly this run's bytes whatever they held before: a
// longer file is cut, a shorter or empty one extended, a missing one made.
TEST_F(EndToEnd, TwoRunsAreByteIdenticalWhateverTheFilesHeldBefore) {
  run();
  const std::string slip = file("Vek_Slip.csv"), amp = file("Vek_Amp.csv");
  struct Case {
    const char* name;
    std::optional<std::string> slip_before, amp_before;
  };
  const Case cases[] = {
      {"longer and shorter", slip + slip, "short\n"},
      {"empty and missing", "", std::nullopt},
      {"missing and longer", std::nullopt, amp + std::string(5000, 'x')},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(dir_ / "Vek_Slip.csv");
    std::filesystem::remove(dir_ / "Vek_Amp.csv");
    if (c.slip_before) write_file(dir_ / "Vek_Slip.csv", *c.slip_before);
    if (c.amp_before) write_file(dir_ / "Vek_Amp.csv", *c.amp_before);
    EXPECT_TRUE(run().exited_zero()) << c.name;
    EXPECT_EQ(file("Vek_Slip.csv"), slip) << c.name;
    EXPECT_EQ(file("Vek_Amp.csv"), amp) << c.name;
  }
}

TEST_F(EndToEnd, StandardInputEmptyClosedOrHoldingSeveralLines) {
  struct Case {
    const char* name;
    Input input;
    std::string text;
    off_t consumed;
  };
  const Case cases[] = {
      {"empty", Input::kFile, "", 0},
      {"closed", Input::kClosed, "", 0},
      {"no line end", Input::kFile, "abc", 3},
      {"several lines", Input::kFile, "first line\nsecond\nthird\n", 11},
      {"an empty line first", Input::kFile, "\nnext\n", 1},
      {"slashes and digits", Input::kFile, "/1/2/3\n\n", 7},
  };
  for (const Case& c : cases) {
    const Outcome outcome = run(c.input, c.text);
    EXPECT_TRUE(outcome.exited_zero()) << c.name;
    EXPECT_EQ(outcome.out, kConsoleReport) << c.name;
    if (c.input == Input::kFile) {
      EXPECT_EQ(outcome.input_consumed, c.consumed) << c.name;
    }
  }
}

TEST_F(EndToEnd, FolderInPlaceOfTheTimeHistoryFile) {
  std::filesystem::create_directory(dir_ / "Vek_Slip.csv");
  const Outcome outcome = run();
  EXPECT_TRUE(outcome.aborted());
  EXPECT_EQ(outcome.out, kReportBeforeFiles);  // no spectrum lines, no prompt
  EXPECT_EQ(outcome.err.rfind("list output start: can't write file\n"
                              "apparent state: unit 10 named Vek_Slip.csv\n",
                              0),
            0u)
      << outcome.err;
  EXPECT_FALSE(std::filesystem::exists(dir_ / "Vek_Amp.csv"));
}

TEST_F(EndToEnd, FolderInPlaceOfTheSpectrumFile) {
  std::filesystem::create_directory(dir_ / "Vek_Amp.csv");
  const Outcome outcome = run();
  EXPECT_TRUE(outcome.aborted());
  EXPECT_EQ(outcome.out, kConsoleReport.substr(0, kConsoleReport.find("\n\n Hit") + 1));
  EXPECT_EQ(outcome.err.rfind("list output start: can't write file\n"
                              "apparent state: unit 12 named Vek_Amp.csv\n",
                              0),
            0u)
      << outcome.err;
  expect_tabled(file("Vek_Slip.csv"), kTimeHistoryLines, 4097, 56);
}

TEST_F(EndToEnd, WriteErrorsAreReportedNeverPassedAsSuccess) {
  std::filesystem::create_symlink("/dev/full", dir_ / "Vek_Amp.csv");
  Outcome outcome = run();
  EXPECT_TRUE(outcome.aborted());
  EXPECT_EQ(outcome.err.rfind("write: No space left on device\n"
                              "apparent state: unit 12 named Vek_Amp.csv\n",
                              0),
            0u)
      << outcome.err;
  std::filesystem::remove(dir_ / "Vek_Amp.csv");

  outcome = run(Input::kEmpty, "", "/dev/full");
  EXPECT_FALSE(WIFEXITED(outcome.status) && WEXITSTATUS(outcome.status) == 0);
  EXPECT_EQ(outcome.err, "write: No space left on device\napparent state: standard output\n");
}

TEST_F(EndToEnd, FileSizeLimitIsReportedLikeAFullDisk) {
  const Outcome outcome = run(Input::kEmpty, "", nullptr, 100'000);
  EXPECT_TRUE(outcome.aborted());
  EXPECT_EQ(outcome.out, kReportBeforeFiles);
  EXPECT_EQ(outcome.err.rfind("write: File too large\n"
                              "apparent state: unit 10 named Vek_Slip.csv\n",
                              0),
            0u)
      << outcome.err;
}

}  // namespace
}  // namespace slipvel::testing

// The result file itself, in the test's own process: what a run leaves when
// it stops between opening and closing a file, and an open that fails.
namespace slipvel::program {
namespace {

using testing::read_file;
using testing::TempDir;
using testing::write_file;

// Runs the test body inside the temporary folder, as the program runs in its own.
class ResultFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    old_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_.path());
  }
  void TearDown() override { std::filesystem::current_path(old_); }

  TempDir dir_;
  std::filesystem::path old_;
};

TEST_F(ResultFileTest, FileStillOpenIsCutWhenDestroyedAndOneNotWrittenKept) {
  write_file(kSpectrumFile.name, "0123456789");
  {
    ResultFile file(kSpectrumFile);
    file.write("ab\n");
  }
  EXPECT_EQ(read_file(kSpectrumFile.name), "ab\n");
  write_file(kTimeHistoryFile.name, "kept\n");
  ResultFile(kTimeHistoryFile).close();
  EXPECT_EQ(read_file(kTimeHistoryFile.name), "kept\n");
}

using ResultFileDeathTest = ResultFileTest;

TEST_F(ResultFileDeathTest, OpenFailureGivesTheSystemsReason) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const ResultFileName nowhere{"no-such-folder/Vek_Slip.csv", 10};
  EXPECT_EXIT(ResultFile{nowhere}, ::testing::KilledBySignal(SIGABRT),
              "^open: No such file or directory\n"
              "apparent state: unit 10 named no-such-folder/Vek_Slip.csv\n");
}

}  // namespace
}  // namespace slipvel::program
