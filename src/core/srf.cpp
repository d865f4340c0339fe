#include <slipvel/srf.hpp>

#include <algorithm>
#include <cstdio>

#include <slipvel/text.hpp>

namespace slipvel::srf {
namespace {

// printf into `out`: the format's own layout of every number.
template <class... Values>
void append_format(std::string& out, const char* format, Values... values) {
  char line[256];
  const int length = std::snprintf(line, sizeof line, format, values...);
  out.append(line, static_cast<std::size_t>(std::clamp(length, 0, static_cast<int>(sizeof line) - 1)));
}

// The samples that go into the file: through the last non-zero one, and one
// zero after it where the record has one.
std::size_t sample_count(const std::vector<double>& velocity) {
  std::size_t count = velocity.size();
  while (count > 0 && velocity[count - 1] == 0) --count;
  return count < velocity.size() ? count + 1 : count;
}

constexpr std::size_t kSamplesPerLine = 6;

}  // namespace

std::string head_text(const std::vector<Plane>& planes, Version version) {
  const bool v2 = version == Version::k2;
  std::string text = v2 ? "2.0\n" : "1.0\n";
  if (planes.empty()) return text;
  append_format(text, "PLANE %zu\n", planes.size());
  for (const Plane& p : planes) {
    append_format(text, v2 ? "%12.6f %11.6f %5d %5d %10.4f %10.4f\n" : "%10.4f %9.4f %5d %5d %8.2f %8.2f\n", p.elon,
                  p.elat, p.nstk, p.ndip, p.len, p.wid);
    append_format(text, v2 ? "%4.0f %4.0f %10.4f %10.4f %10.4f\n" : "%4.0f %4.0f %8.2f %8.2f %8.2f\n", p.stk, p.dip,
                  p.dtop, p.shyp, p.dhyp);
  }
  return text;
}

std::string points_line(std::size_t count) { return "POINTS " + std::to_string(count) + "\n"; }

std::string point_text(const Point& x, const SlipFunction& f, Version version) {
  const double dt = f.parameters.dt;
  const std::size_t count = sample_count(f.velocity);
  double sum = 0;
  for (std::size_t k = 0; k < count; ++k) sum += f.velocity[k] * 100;
  const double slip_cm = dt * sum;  // the slip the samples carry, so moment and shape agree
  const double area_cm2 = x.area * 1e4;
  const int nt1 = static_cast<int>(count);

  std::string text;
  text.reserve(200 + (count + kSamplesPerLine - 1) / kSamplesPerLine * (kSamplesPerLine * 13 + 1));
  if (version == Version::k2) {
    append_format(text, "%12.6f %11.6f %12.5e %4.0f %4.0f %12.5e %13.6e %12.5e %13.5e %13.5e\n", x.lon, x.lat, x.dep,
                  x.stk, x.dip, area_cm2, x.tinit, dt, x.vs * 100, x.den / 1000);
    append_format(text, "%4.0f %10.4f %6d %10.4f %6d %10.4f %6d\n", x.rake, slip_cm, nt1, 0.0, 0, 0.0, 0);
  } else {
    append_format(text, "%10.4f %9.4f %9.4f %4.0f %4.0f %12.5e %10.4f %12.5e\n", x.lon, x.lat, x.dep, x.stk, x.dip,
                  area_cm2, x.tinit, dt);
    append_format(text, "%4.0f %8.2f %6d %8.2f %6d %8.2f %6d\n", x.rake, slip_cm, nt1, 0.0, 0, 0.0, 0);
  }
  const std::size_t head = text.size();
  text.resize(head + count * text::kSrfSampleWidth + (count + kSamplesPerLine - 1) / kSamplesPerLine);
  char* out = text.data() + head;
  for (std::size_t k = 0; k < count; ++k) {
    out = text::put_srf_sample(out, f.velocity[k] * 100);
    if (k % kSamplesPerLine == kSamplesPerLine - 1 || k + 1 == count) *out++ = '\n';
  }
  return text;
}

}  // namespace slipvel::srf
