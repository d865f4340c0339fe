// Work spread over threads.
#pragma once

#include <cstddef>
#include <functional>

namespace slipvel::apps {

// Runs `work(i)` for i = 0..count) on `jobs` threads. After the first
// exception no new i is started; that exception is rethrown once all threads
// have stopped.
void for_each_index(std::size_t count, int jobs, const std::function<void(std::size_t)>& work);

}  // namespace slipvel::apps
