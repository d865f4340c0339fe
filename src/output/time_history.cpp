#include "output/time_history.hpp"

#include <stdexcept>

#include "textio/forms.hpp"
#include "textio/free_line.hpp"

namespace slipvel::output {
namespace {

constexpr std::size_t kRowLength = 8 + 3 * (1 + 15);

char* put_row(char* out, double t, double velocity, double displacement, double acceleration) {
  out = textio::put_fixed_field(out, t, 8, 4);
  *out++ = ',';
  out = textio::put_fixed_field(out, velocity, 15, 7);
  *out++ = ',';
  out = textio::put_fixed_field(out, displacement, 15, 7);
  *out++ = ',';
  out = textio::put_fixed_field(out, acceleration, 15, 7);
  *out++ = textio::kLineEnd;
  return out;
}

}  // namespace

std::string time_history_text(double dt, int nt, std::span<const double> svwave) {
  if (nt > 0 && static_cast<std::size_t>(nt) > svwave.size()) {
    throw std::length_error("time history: more samples than the array holds");
  }
  std::string text = textio::free_line({"time(s),velocity,displacement,acceleration"});
  if (nt <= 0) return text;

  const std::size_t header = text.size();
  text.resize(header + static_cast<std::size_t>(nt) * (kRowLength + 1));
  char* out = text.data() + header;

  double d0 = 0;
  const double a0 = 0;
  out = put_row(out, 0, svwave[0], d0, a0);
  for (int k = 2; k <= nt; ++k) {
    const double now = svwave[static_cast<std::size_t>(k - 1)];
    const double before = svwave[static_cast<std::size_t>(k - 2)];
    const double t = static_cast<double>(k - 1) * dt;
    const double d1 = ((now + before) * dt) / 2 + d0;  // one more trapezoid
    const double a1 = (now - before) / dt;
    out = put_row(out, t, now, d1, a1);
    d0 = d1;
  }
  return text;
}

void time_history_stage(double dt, int nt, std::span<const double> svwave, textio::Sink& out) {
  out.store(textio::kTimeHistoryFile, time_history_text(dt, nt, svwave));
}

}  // namespace slipvel::output
