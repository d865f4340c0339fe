// The parallel runner: work spread over threads, refused threads, and a job
// whose allocation fails.
#include <gtest/gtest.h>

#include <algorithm>
#include <new>
#include <vector>

#include "common/atomic_file.hpp"
#include "parallel.hpp"
#include "run_process.hpp"

namespace slipvel::apps {
namespace {

using testing::file_names;
using testing::read_file;
using testing::TempDir;

using detail::ChunkRange;
using detail::for_each_index;

// A thread the system will not start leaves its work to the caller's thread.
TEST(ParallelTest, RefusedThreadsLeaveTheWorkToTheOthers) {
  std::vector<int> done(100, 0);
  for_each_index(
      done.size(), 8, [&](std::size_t i) { ++done[i]; }, [] { return false; });
  EXPECT_EQ(std::count(done.begin(), done.end(), 1), 100);
}

// Chunks are used in order, each item once, whatever the jobs, the count
// (none, less than a chunk, a chunk and one more, many) and threads refused;
// a chunk's object is reused, so what it holds stays allocated.
TEST(ParallelTest, ChunksAreUsedInOrderEveryItemOnce) {
  struct Case {
    std::size_t count;
    int jobs;
    bool refuse_threads;
  };
  const Case cases[] = {{0, 2, false},    {1, 1, false},    {255, 2, false}, {257, 1, false},
                        {5000, 2, false}, {5000, 8, false}, {5000, 3, true}, {100000, 2, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.count) + " items, -j " + std::to_string(c.jobs));
    std::vector<std::size_t> seen;
    std::size_t reused = 0;
    const auto make = [](ChunkRange range, std::vector<std::size_t>& chunk) {
      chunk.clear();
      for (std::size_t i = range.first; i < range.last; ++i) chunk.push_back(i * 3);
    };
    const auto use = [&](ChunkRange range, std::vector<std::size_t>& chunk) {
      ASSERT_EQ(chunk.size(), range.last - range.first);
      reused += chunk.capacity() >= detail::kChunkItems ? 1 : 0;
      for (const std::size_t v : chunk) seen.push_back(v / 3);
    };
    detail::for_each_chunk_in_order<std::vector<std::size_t>>(c.count, c.jobs, make, use,
                                                              [&] { return !c.refuse_threads; });
    ASSERT_EQ(seen.size(), c.count);
    for (std::size_t i = 0; i < seen.size(); ++i) ASSERT_EQ(seen[i], i);
  }
}

// The first failure, in making or in using a chunk, stops the rest and
// reaches the caller; no chunk from it on is used (chunks made before it
// may not be used either once making fails).
TEST(ParallelTest, AFailingChunkStopsTheRest) {
  for (const bool in_use : {false, true}) {
    SCOPED_TRACE(in_use ? "using" : "making");
    std::size_t used = 0;
    const auto run = [&] {
      detail::for_each_chunk_in_order<int>(
          10 * detail::kChunkItems, 2,
          [&](ChunkRange range, int&) {
            if (!in_use && range.first == 3 * detail::kChunkItems) throw std::runtime_error("made");
          },
          [&](ChunkRange range, int&) {
            if (in_use && range.first == 3 * detail::kChunkItems) throw std::runtime_error("used");
            ++used;
          });
    };
    EXPECT_THROW(run(), std::runtime_error);
    if (in_use) {
      EXPECT_EQ(used, 3u);
    } else {
      EXPECT_LE(used, 3u);
    }
  }
}

// Memory that runs out in one job stops the others and reaches the caller as
// bad_alloc, which slipvel-batch reports with status 1; a file being written
// then is removed, the ones finished stay whole.
TEST(ParallelTest, AnAllocationThatFailsStopsTheRunAndKeepsFinishedFiles) {
  TempDir dir;
  const auto run = [&] {
    for_each_index(8, 1, [&](std::size_t i) {
      AtomicFile file(dir / (std::to_string(i) + ".csv"), 022, Temporary::kNamed);
      file.write("whole\n");
      if (i == 3) throw std::bad_alloc();  // the seam: this job's allocation fails
      file.commit();
    });
  };
  EXPECT_THROW(run(), std::bad_alloc);
  EXPECT_EQ(file_names(dir.path()), (std::vector<std::string>{"0.csv", "1.csv", "2.csv"}));
  EXPECT_EQ(read_file(dir / "2.csv"), "whole\n");
}

}  // namespace
}  // namespace slipvel::apps
