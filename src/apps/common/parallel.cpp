#include "common/parallel.hpp"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace slipvel::apps {
namespace {

std::atomic<bool> refuse_thread_starts{false};

}  // namespace

void refuse_new_threads(bool refuse) { refuse_thread_starts = refuse; }

void for_each_index(std::size_t count, int jobs, const std::function<void(std::size_t)>& work) {
  std::atomic<std::size_t> next{0};
  std::atomic<bool> stop{false};
  std::exception_ptr first_error;
  std::mutex error_mutex;
  const auto worker = [&] {
    for (std::size_t i; !stop && (i = next++) < count;) {
      try {
        work(i);
      } catch (...) {
        const std::lock_guard lock(error_mutex);
        if (!first_error) first_error = std::current_exception();
        stop = true;
      }
    }
  };
  const auto threads = static_cast<std::size_t>(std::max(1, jobs));
  {
    std::vector<std::jthread> pool;
    // A thread the system refuses to start leaves its share to the others:
    // fewer threads, down to this one alone.
    for (std::size_t t = 1; t < std::min(threads, count); ++t) {
      try {
        if (refuse_thread_starts)
          throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
        pool.emplace_back(worker);
      } catch (const std::system_error&) {
        break;
      }
    }
    worker();
  }
  if (first_error) std::rethrow_exception(first_error);
}

}  // namespace slipvel::apps
