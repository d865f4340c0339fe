#include "time_history.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <stdexcept>

#include "fixed_forms.hpp"

#include "number_text.hpp"

namespace slipvel::detail {
namespace {

using text::kTimeColumn;
using text::kValueColumn;

constexpr auto kRowLength = static_cast<std::size_t>(kTimeColumn.width + 3 * (1 + kValueColumn.width));
// Rows formatted at a time into a buffer under 2 KB, which stays in the
// first-level cache and which the C library copies with vector moves.
constexpr std::size_t kChunkRows = 32;

// A value column's last field. A value equal to the one above, to the bit,
// takes its text again: once the slip has stopped, the velocity, slip and
// acceleration of most rows repeat.
class RepeatingField {
 public:
  char* put(char* out, double value) {
    const auto bits = std::bit_cast<std::uint64_t>(value);
    if (!filled_ || bits != bits_) {
      detail::put_fixed_row_field<kWidth, kValueColumn.decimals>(text_, value);
      bits_ = bits;
      filled_ = true;
    }
    std::memcpy(out, text_, kWidth);
    return out + kWidth;
  }

 private:
  static constexpr int kWidth = kValueColumn.width;
  char text_[kWidth];
  std::uint64_t bits_ = 0;
  bool filled_ = false;
};

struct RowWriter {
  RepeatingField velocity, displacement, acceleration;

  char* put(char* out, double t, double v, double d, double a) {
    out = detail::put_fixed_row_field<kTimeColumn.width, kTimeColumn.decimals>(out, t);
    *out++ = detail::kSeparator;
    out = velocity.put(out, v);
    *out++ = detail::kSeparator;
    out = displacement.put(out, d);
    *out++ = detail::kSeparator;
    out = acceleration.put(out, a);
    *out++ = detail::kLineEnd;
    return out;
  }
};

void require_length(std::span<const double> column, std::size_t length) {
  if (column.size() < length) throw std::length_error("time history: more samples than the array holds");
}

}  // namespace

void time_history_columns(double dt, int nt, std::span<const double> svwave, std::span<double> time,
                          std::span<double> displacement, std::span<double> acceleration) {
  if (nt <= 0) return;
  const auto n = static_cast<std::size_t>(nt);
  for (const auto column : {svwave, std::span<const double>(time), std::span<const double>(displacement),
                            std::span<const double>(acceleration)}) {
    require_length(column, n);
  }

  double d0 = 0;
  const double a0 = 0;
  time[0] = 0;
  displacement[0] = d0;
  acceleration[0] = a0;
  for (std::size_t k = 1; k < n; ++k) {
    const double now = svwave[k];
    const double before = svwave[k - 1];
    const double d1 = ((now + before) * dt) / 2 + d0;  // one more trapezoid
    time[k] = static_cast<double>(k) * dt;
    displacement[k] = d1;
    acceleration[k] = (now - before) / dt;
    d0 = d1;
  }
}

std::string time_history_rows_text(std::span<const double> time, std::span<const double> velocity,
                                   std::span<const double> displacement, std::span<const double> acceleration) {
  const std::size_t n = time.size();
  for (const auto column : {velocity, displacement, acceleration}) require_length(column, n);

  std::string file = text::free_line({"time(s),velocity,displacement,acceleration"});
  file.reserve(file.size() + n * (kRowLength + 1));
  // The rows go through a buffer of a few dozen, appended to the file: making
  // the file's room with resize would first fill it with zeros.
  char chunk[kChunkRows * (kRowLength + 1)];
  RowWriter row;
  for (std::size_t k = 0; k < n;) {
    char* out = chunk;
    for (const std::size_t end = std::min(n, k + kChunkRows); k < end; ++k) {
      out = row.put(out, time[k], velocity[k], displacement[k], acceleration[k]);
    }
    file.append(chunk, static_cast<std::size_t>(out - chunk));
  }
  return file;
}

}  // namespace slipvel::detail
