// Work spread over threads: independent items in any order, and chunks made
// on every job and used in order. Every parallel loop of the libraries and the
// programs goes through these two.
//
// The chunk rule: the items are split into chunks of kChunkItems (the last
// one shorter); each chunk is made by one job, and at most 2 chunks a job are
// made ahead of the one in use, so the memory held is that of a few chunks
// whatever the number of items.
#pragma once

#include <cstddef>
#include <functional>
#include <vector>

#include <slipvel/slipvel.hpp>

namespace slipvel::detail {

// Items a chunk.
inline constexpr std::size_t kChunkItems = 256;

// Whether a new thread may start: a test passes one that says no, as a system
// out of threads does. Empty: every thread may.
using ThreadStart = std::function<bool()>;

// Runs `work(i)` for i = 0..count) on `jobs` threads. After the first
// exception no new i is started; that exception is rethrown once all threads
// have stopped. Where the system refuses to start a thread, the threads that
// did start (at least the caller's) do all the work. `stop` is asked on the
// caller's thread before each item it takes; true ends the work with Stopped.
void for_each_index(std::size_t count, int jobs, const std::function<void(std::size_t)>& work,
                    const ThreadStart& may_start = {}, const StopRequest& stop = {});

// A chunk's range of items, [first, last).
struct ChunkRange {
  std::size_t first, last;
};

// The engine of for_each_chunk_in_order over slots 0..slots) that hold the chunks.
void run_chunks_in_order(std::size_t count, int jobs, std::size_t slots,
                         const std::function<void(std::size_t slot, ChunkRange)>& make,
                         const std::function<void(std::size_t slot, ChunkRange)>& use, const ThreadStart& may_start,
                         const StopRequest& stop);

// Makes the chunks of [0, count) on `jobs` threads, `make(range, chunk)`
// filling a Chunk, and calls `use(range, chunk)` for each chunk in order on the
// caller's thread while later ones are made. A Chunk object is reused for a
// later chunk once used, so buffers it holds are kept. The first exception
// of either stops the work and is rethrown once every thread has stopped.
// `stop` is asked on the caller's thread before each chunk is used; true
// ends the work with Stopped.
template <class Chunk, class Make, class Use>
void for_each_chunk_in_order(std::size_t count, int jobs, Make&& make, Use&& use, const ThreadStart& may_start = {},
                             const StopRequest& stop = {}) {
  std::vector<Chunk> slots(2 * static_cast<std::size_t>(jobs < 1 ? 1 : jobs));
  run_chunks_in_order(
      count, jobs, slots.size(), [&](std::size_t slot, ChunkRange range) { make(range, slots[slot]); },
      [&](std::size_t slot, ChunkRange range) { use(range, slots[slot]); }, may_start, stop);
}

}  // namespace slipvel::detail
