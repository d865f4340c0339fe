// Progress of a long batch on one updating line of standard error.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <mutex>

namespace slipvel::apps {

class Progress {
 public:
  // Shows nothing unless `enabled`.
  Progress(std::size_t total, bool enabled);
  // One more source done; redraws the line at most ten times a second.
  void advance();
  // `done` in all so far.
  void reach(std::size_t done);
  // The final count, then a line end.
  void finish();
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

 private:
  void show(std::size_t done);  // draws at most ten times a second
  void draw(std::size_t done);

  using Clock = std::chrono::steady_clock;
  const std::size_t total_;
  const bool enabled_;
  const Clock::time_point start_ = Clock::now();
  std::atomic<std::size_t> done_{0};
  std::mutex draw_mutex_;
  Clock::time_point last_draw_ = start_;
  bool drawn_ = false, finished_ = false;  // drawn and finished under draw_mutex_
};

}  // namespace slipvel::apps
