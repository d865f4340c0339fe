// Atomic result files, made without a name (O_TMPFILE) or, where the file
// system refuses that, under a temporary name: either way complete or absent.
#include <gtest/gtest.h>

#include <sys/stat.h>

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
  void SetUp() override {
    use_named_temporaries(GetParam());
    umask_ = ::umask(027);
  }
  void TearDown() override {
    use_named_temporaries(false);
    ::umask(umask_);
  }
  mode_t umask_ = 0;
  TempDir dir_;
};

TEST_P(AtomicFileTest, ReplacesInOneStepAndLeavesNoTemporary) {
  write_file(dir_ / "a.csv", "old and longer\n");
  {
    AtomicFile file(dir_ / "a.csv", 027);
    file.write("new\n");
    EXPECT_EQ(read_file(dir_ / "a.csv"), "old and longer\n");  // readers see the old file until commit
    file.commit();
  }
  write_atomically(dir_ / "b.csv", "b\n", 027);
  EXPECT_EQ(read_file(dir_ / "a.csv"), "new\n");
  EXPECT_EQ(names_in(dir_.path()), (std::vector<std::string>{"a.csv", "b.csv"}));
  EXPECT_EQ(std::filesystem::status(dir_ / "b.csv").permissions(), std::filesystem::perms(0640));
}

TEST_P(AtomicFileTest, AFileNotCommittedLeavesNothing) {
  { AtomicFile(dir_ / "a.csv", 022).write("part"); }
  EXPECT_TRUE(names_in(dir_.path()).empty());
  EXPECT_THROW(write_atomically(dir_ / "missing" / "a.csv", "x", 022), WriteError);
}

INSTANTIATE_TEST_SUITE_P(WithAndWithoutName, AtomicFileTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "NamedTemporary" : "Unnamed"; });

}  // namespace
}  // namespace slipvel::apps
