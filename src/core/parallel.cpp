#include "parallel.hpp"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>

namespace slipvel::detail {
namespace {

// Starts up to `wanted` threads running `body`; a thread the system (or the
// test's ThreadStart) refuses leaves its share to the others.
std::vector<std::jthread> start_threads(std::size_t wanted, const std::function<void()>& body,
                                        const ThreadStart& may_start) {
  std::vector<std::jthread> pool;
  for (std::size_t t = 0; t < wanted; ++t) {
    try {
      if (may_start && !may_start())
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
      pool.emplace_back(body);
    } catch (const std::system_error&) {
      break;
    }
  }
  return pool;
}

std::size_t jobs_of(int jobs) { return static_cast<std::size_t>(std::max(1, jobs)); }

}  // namespace

void for_each_index(std::size_t count, int jobs, const std::function<void(std::size_t)>& work,
                    const ThreadStart& may_start, const StopRequest& stop_request) {
  std::atomic<std::size_t> next{0};
  std::atomic<bool> stop{false};
  std::exception_ptr first_error;
  std::mutex error_mutex;
  const auto run = [&](bool asks) {
    for (std::size_t i; !stop && (i = next++) < count;) {
      try {
        if (asks && stop_request && stop_request()) throw Stopped();
        work(i);
      } catch (...) {
        const std::lock_guard lock(error_mutex);
        if (!first_error) first_error = std::current_exception();
        stop = true;
      }
    }
  };
  {
    const std::size_t helpers = count == 0 ? 0 : std::min(jobs_of(jobs), count) - 1;  // the caller works too
    const std::vector<std::jthread> pool = start_threads(
        helpers, [&] { run(false); }, may_start);
    run(true);  // the caller's thread asks whether to stop
  }
  if (first_error) std::rethrow_exception(first_error);
}

// The makers claim chunks in order, at most `slots` ahead of the one in use;
// the caller's thread uses them in order as they are made. Where no maker can
// start, the caller makes each chunk itself before using it.
void run_chunks_in_order(std::size_t count, int jobs, std::size_t slots,
                         const std::function<void(std::size_t, ChunkRange)>& make,
                         const std::function<void(std::size_t, ChunkRange)>& use, const ThreadStart& may_start,
                         const StopRequest& stop_request) {
  const std::size_t chunks = (count + kChunkItems - 1) / kChunkItems;
  const auto range_of = [&](std::size_t c) {
    return ChunkRange{c * kChunkItems, std::min(count, (c + 1) * kChunkItems)};
  };
  std::mutex mutex;
  std::condition_variable changed;
  std::size_t next_to_make = 0, next_to_use = 0;
  std::vector<char> made(slots, 0);
  bool stop = false;
  std::exception_ptr first_error;
  const auto fail = [&](std::exception_ptr error) {
    const std::lock_guard lock(mutex);
    if (!first_error) first_error = error;
    stop = true;
    changed.notify_all();
  };
  const auto maker = [&] {
    for (;;) {
      std::size_t c = 0;
      {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return stop || next_to_make >= chunks || next_to_make < next_to_use + slots; });
        if (stop || next_to_make >= chunks) return;
        c = next_to_make++;
      }
      try {
        make(c % slots, range_of(c));
      } catch (...) {
        fail(std::current_exception());
        return;
      }
      const std::lock_guard lock(mutex);
      made[c % slots] = 1;
      changed.notify_all();
    }
  };
  std::vector<std::jthread> pool = start_threads(std::min(jobs_of(jobs), chunks), maker, may_start);
  for (std::size_t c = 0; c < chunks; ++c) {
    try {
      if (stop_request && stop_request()) throw Stopped();
      if (pool.empty()) {
        make(c % slots, range_of(c));
      } else {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return stop || made[c % slots] != 0; });
        if (stop) break;
      }
      use(c % slots, range_of(c));
    } catch (...) {
      fail(std::current_exception());
      break;
    }
    const std::lock_guard lock(mutex);
    made[c % slots] = 0;
    next_to_use = c + 1;
    changed.notify_all();
  }
  pool.clear();  // joins the makers
  if (first_error) std::rethrow_exception(first_error);
}

}  // namespace slipvel::detail
