#include "common/progress.hpp"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <string>

namespace slipvel::apps {

Progress::Progress(std::size_t total, bool enabled) : total_(total), enabled_(enabled) {}

void Progress::advance() { show(++done_); }

void Progress::reach(std::size_t done) {
  done_ = done;
  show(done);
}

void Progress::show(std::size_t done) {
  if (!enabled_) return;
  std::unique_lock lock(draw_mutex_, std::try_to_lock);
  if (!lock.owns_lock() || Clock::now() - last_draw_ < std::chrono::milliseconds(100)) return;
  draw(done);
}

void Progress::finish() {
  if (!enabled_) return;
  const std::lock_guard lock(draw_mutex_);
  draw(done_);
  std::fputs("\n", stderr);
  finished_ = true;
}

// A batch that stops early still ends its line, so that the message saying
// why starts on a line of its own.
Progress::~Progress() {
  if (enabled_ && drawn_ && !finished_) std::fputs("\n", stderr);
}

void Progress::draw(std::size_t done) {
  drawn_ = true;
  last_draw_ = Clock::now();
  const double seconds = std::chrono::duration<double>(last_draw_ - start_).count();
  const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
  const double left = rate > 0 ? static_cast<double>(total_ - done) / rate : 0;
  std::string line = "\r";
  line.append(std::to_string(done)).append("/").append(std::to_string(total_)).append(" sources, ");
  line.append(std::to_string(std::llround(rate))).append("/s, ");
  line.append(std::to_string(std::llround(left))).append(" s left   ");
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
}

}  // namespace slipvel::apps
