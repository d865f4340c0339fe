// The parallel runner: work spread over threads, refused threads, and a job
// whose allocation fails.
#include <gtest/gtest.h>

#include <algorithm>
#include <new>
#include <vector>

#include "common/atomic_file.hpp"
#include "common/parallel.hpp"
#include "run_process.hpp"

namespace slipvel::apps {
namespace {

using testing::file_names;
using testing::read_file;
using testing::TempDir;

// A thread the system will not start leaves its work to the caller's thread.
TEST(ParallelTest, RefusedThreadsLeaveTheWorkToTheOthers) {
  refuse_new_threads(true);
  std::vector<int> done(100, 0);
  for_each_index(done.size(), 8, [&](std::size_t i) { ++done[i]; });
  refuse_new_threads(false);
  EXPECT_EQ(std::count(done.begin(), done.end(), 1), 100);
}

// Memory that runs out in one job stops the others and reaches the caller as
// bad_alloc, which slipvel-batch reports with status 1; a file being written
// then is removed, the ones finished stay whole.
TEST(ParallelTest, AnAllocationThatFailsStopsTheRunAndKeepsFinishedFiles) {
  TempDir dir;
  use_named_temporaries(true);
  const auto run = [&] {
    for_each_index(8, 1, [&](std::size_t i) {
      AtomicFile file(dir / (std::to_string(i) + ".csv"), 022);
      file.write("whole\n");
      if (i == 3) throw std::bad_alloc();  // the seam: this job's allocation fails
      file.commit();
    });
  };
  EXPECT_THROW(run(), std::bad_alloc);
  use_named_temporaries(false);
  EXPECT_EQ(file_names(dir.path()), (std::vector<std::string>{"0.csv", "1.csv", "2.csv"}));
  EXPECT_EQ(read_file(dir / "2.csv"), "whole\n");
}

}  // namespace
}  // namespace slipvel::apps
