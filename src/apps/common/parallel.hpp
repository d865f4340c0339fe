// Work spread over threads.
#pragma once

#include <cstddef>
#include <functional>

namespace slipvel::apps {

// Runs `work(i)` for i = 0..count) on `jobs` threads. After the first
// exception no new i is started; that exception is rethrown once all threads
// have stopped. Where the system refuses to start a thread, the threads that
// did start (at least the caller's) do all the work.
void for_each_index(std::size_t count, int jobs, const std::function<void(std::size_t)>& work);

// Makes every later thread start fail, as when the system runs out of
// threads: for tests of that path.
void refuse_new_threads(bool refuse);

}  // namespace slipvel::apps
