#include <gtest/gtest.h>

#include <unistd.h>

#include <csignal>
#include <filesystem>

#include "result_file.hpp"
#include "sink.hpp"
#include "temp_dir.hpp"

namespace slipvel::program {
namespace {

using slipvel::testing::read_file;
using slipvel::testing::TempDir;
using slipvel::testing::write_file;

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

TEST_F(ResultFileTest, UpdateOpenLeavesExactlyThisRunsBytes) {
  struct Case {
    const char* name;
    bool exists;
    std::string before;
  };
  const std::string content = " header\nrow 1\nrow 2\n";
  const Case cases[] = {
      {"missing is created", false, ""},
      {"longer is cut", true, content + std::string(5000, 'x') + "\n"},
      {"shorter is extended", true, "old\n"},
      {"empty is filled", true, ""},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(kTimeHistoryFile.name);
    if (c.exists) write_file(kTimeHistoryFile.name, c.before);
    ProcessSink().store(kTimeHistoryFile, content);
    EXPECT_EQ(read_file(kTimeHistoryFile.name), content) << c.name;
  }
}

TEST_F(ResultFileTest, FileStillOpenIsCutWhenDestroyed) {
  write_file(kSpectrumFile.name, "0123456789");
  {
    ResultFile file(kSpectrumFile);
    file.write("ab\n");
  }
  EXPECT_EQ(read_file(kSpectrumFile.name), "ab\n");
}

TEST_F(ResultFileTest, NothingWrittenLeavesTheFileAsItWas) {
  write_file(kSpectrumFile.name, "kept\n");
  ResultFile(kSpectrumFile).close();
  EXPECT_EQ(read_file(kSpectrumFile.name), "kept\n");
}

using ResultFileDeathTest = ResultFileTest;

TEST_F(ResultFileDeathTest, FolderInTheWayFailsAtTheFirstWrite) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // A folder in the way opens for reading only, so the first write fails.
  std::filesystem::create_directory(kTimeHistoryFile.name);
  EXPECT_EXIT(ProcessSink().store(kTimeHistoryFile, "x\n"), ::testing::KilledBySignal(SIGABRT),
              "^list output start: can't write file\napparent state: unit 10 named Vek_Slip.csv\n");
}

TEST_F(ResultFileDeathTest, OpenFailureGivesTheSystemsReason) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const ResultFileName nowhere{"no-such-folder/Vek_Slip.csv", 10};
  EXPECT_EXIT(ResultFile{nowhere}, ::testing::KilledBySignal(SIGABRT),
              "^open: No such file or directory\n"
              "apparent state: unit 10 named no-such-folder/Vek_Slip.csv\n");
}

}  // namespace
}  // namespace slipvel::program
