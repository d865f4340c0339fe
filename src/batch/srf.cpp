#include "batch/srf.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <exception>
#include <optional>
#include <thread>

#include "batch/atomic_file.hpp"
#include "batch/progress.hpp"
#include "library/checks.hpp"
#include "textio/decimal.hpp"

namespace slipvel::batch {
namespace {

constexpr double kOpen = std::numeric_limits<double>::infinity();

enum PointColumn { kLon, kLat, kDep, kStk, kDip, kRake, kArea, kTinit, kVs, kDen };

const std::array<ExtraColumn, 11> kPlaneColumns = {{
    {"elon", "degrees", -180, 360, false},
    {"elat", "degrees", -90, 90, false},
    {"nstk", "", 1, kOpen, false, true, true},
    {"ndip", "", 1, kOpen, false, true, true},
    {"len", "km", 0, kOpen, true},
    {"wid", "km", 0, kOpen, true},
    {"stk", "degrees", 0, 360, false},
    {"dip", "degrees", 0, 90, false},
    {"dtop", "km", 0, kOpen, false},
    {"shyp", "km", -kOpen, kOpen, false},
    {"dhyp", "km", 0, kOpen, false},
}};

// printf into `out`: the format's own layout of every number.
template <class... Values>
void append_format(std::string& out, const char* format, Values... values) {
  char line[256];
  const int length = std::snprintf(line, sizeof line, format, values...);
  out.append(line, static_cast<std::size_t>(std::clamp(length, 0, static_cast<int>(sizeof line) - 1)));
}

Plane plane_of(const std::array<double, kPlaneColumns.size()>& v) {
  return {v[0], v[1], static_cast<int>(v[2]), static_cast<int>(v[3]), v[4], v[5], v[6], v[7], v[8], v[9], v[10]};
}

// The samples that go into the file, in cm/s: through the last non-zero one,
// and one zero after it where the record has one.
std::size_t sample_count(const std::vector<double>& velocity) {
  std::size_t count = velocity.size();
  while (count > 0 && velocity[count - 1] == 0) --count;
  return count < velocity.size() ? count + 1 : count;
}

}  // namespace

// d.ddddde±XX from the six correctly rounded significant digits (ties to even,
// as printf rounds), for the magnitudes the fast rounding reaches; printf
// itself for the rest (zero, tiny, huge and non-finite values).
char* put_sample(char* out, double value) {
  textio::Significant s{0, 0};
  const double magnitude = std::fabs(value);
  if (!(magnitude >= 1e-16 && magnitude < 1e15) || !textio::significant_digits(magnitude, 6, s)) {
    char text[32];
    std::snprintf(text, sizeof text, "%13.5e", value);
    std::memcpy(out, text, 13);
    return out + 13;
  }
  const int exponent = s.exponent - 1;  // of d.ddddd
  const int magnitude_of_exponent = exponent < 0 ? -exponent : exponent;
  char* p = out + 13;
  p -= 2;
  p[0] = static_cast<char>('0' + magnitude_of_exponent / 10 % 10);
  p[1] = static_cast<char>('0' + magnitude_of_exponent % 10);
  if (magnitude_of_exponent >= 100) *--p = static_cast<char>('0' + magnitude_of_exponent / 100);
  *--p = exponent < 0 ? '-' : '+';
  *--p = 'e';
  std::uint64_t digits = s.digits;
  for (int i = 0; i < 5; ++i, digits /= 10) *--p = static_cast<char>('0' + digits % 10);
  *--p = '.';
  *--p = static_cast<char>('0' + digits);
  if (value < 0) *--p = '-';
  while (p > out) *--p = ' ';
  return out + 13;
}

std::vector<ExtraColumn> point_columns(SrfVersion version) {
  const bool v2 = version == SrfVersion::k2;
  return {
      {"lon", "degrees", -180, 360, false},
      {"lat", "degrees", -90, 90, false},
      {"dep", "km", 0, kOpen, false},
      {"stk", "degrees", 0, 360, false},
      {"dip", "degrees", 0, 90, false},
      {"rake", "degrees", -180, 360, false},
      {"area", "m^2", 0, kOpen, true},
      {"tinit", "s", 0, kOpen, false},
      {"vs", "m/s", 0, kOpen, true, v2},
      {"den", "kg/m^3", 0, kOpen, true, v2},
  };
}

PlanesTable read_planes(std::string_view text) {
  PlanesTable table;
  std::vector<std::size_t> position;  // column of the table for each planes column
  bool header_read = false, broken = false;
  for_each_content_line(text, [&](int number, std::string_view content) {
    if (broken) return;
    const std::vector<std::string_view> fields = split_fields(content);
    if (!header_read) {
      header_read = true;
      position.assign(kPlaneColumns.size(), fields.size());
      for (std::size_t i = 0; i < fields.size(); ++i) {
        const auto c = std::find_if(kPlaneColumns.begin(), kPlaneColumns.end(),
                                    [&](const ExtraColumn& column) { return column.name == fields[i]; });
        std::string quoted = "\"";
        quoted.append(fields[i]).append("\"");
        if (c == kPlaneColumns.end()) {
          table.problems.push_back({number, "unknown column " + quoted});
        } else if (position[static_cast<std::size_t>(c - kPlaneColumns.begin())] != fields.size()) {
          table.problems.push_back({number, "duplicate column " + quoted});
        } else {
          position[static_cast<std::size_t>(c - kPlaneColumns.begin())] = i;
        }
      }
      for (std::size_t c = 0; c < kPlaneColumns.size(); ++c) {
        if (position[c] == fields.size()) table.problems.push_back({number, "no " + kPlaneColumns[c].name + " column"});
      }
      broken = !table.problems.empty();
      return;
    }
    if (fields.size() != position.size()) {
      table.problems.push_back({number, std::to_string(fields.size()) + " fields, the header has " +
                                            std::to_string(position.size())});
      return;
    }
    std::array<double, kPlaneColumns.size()> values{};
    bool ok = true;
    for (std::size_t c = 0; c < kPlaneColumns.size(); ++c) {
      if (auto problem = read_field(kPlaneColumns[c], fields[position[c]], values[c])) {
        table.problems.push_back({number, std::move(*problem)});
        ok = false;
      }
    }
    if (ok) table.planes.push_back(plane_of(values));
  });
  if (!header_read) table.problems.push_back({0, "no header: the table is empty"});
  return table;
}

long long points_in(const std::vector<Plane>& planes) {
  long long count = 0;
  for (const Plane& p : planes) count += static_cast<long long>(p.nstk) * p.ndip;
  return count;
}

std::string srf_head_text(const std::vector<Plane>& planes, SrfVersion version) {
  const bool v2 = version == SrfVersion::k2;
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

std::string srf_point_text(const Source& source, const SlipFunction& f, SrfVersion version) {
  const std::vector<double>& x = source.extra;
  const double dt = f.parameters.dt;
  const std::size_t count = sample_count(f.velocity);
  double sum = 0;
  for (std::size_t k = 0; k < count; ++k) sum += f.velocity[k] * 100;
  const double slip_cm = dt * sum;  // the slip the samples carry, so moment and shape agree
  const double area_cm2 = x[kArea] * 1e4;
  const int nt1 = static_cast<int>(count);

  std::string text;
  text.reserve(200 + (count + 5) / 6 * 79);
  if (version == SrfVersion::k2) {
    append_format(text, "%12.6f %11.6f %12.5e %4.0f %4.0f %12.5e %13.6e %12.5e %13.5e %13.5e\n", x[kLon], x[kLat],
                  x[kDep], x[kStk], x[kDip], area_cm2, x[kTinit], dt, x[kVs] * 100, x[kDen] / 1000);
    append_format(text, "%4.0f %10.4f %6d %10.4f %6d %10.4f %6d\n", x[kRake], slip_cm, nt1, 0.0, 0, 0.0, 0);
  } else {
    append_format(text, "%10.4f %9.4f %9.4f %4.0f %4.0f %12.5e %10.4f %12.5e\n", x[kLon], x[kLat], x[kDep], x[kStk],
                  x[kDip], area_cm2, x[kTinit], dt);
    append_format(text, "%4.0f %8.2f %6d %8.2f %6d %8.2f %6d\n", x[kRake], slip_cm, nt1, 0.0, 0, 0.0, 0);
  }
  const std::size_t head = text.size();
  text.resize(head + count * 13 + (count + 5) / 6);
  char* out = text.data() + head;
  for (std::size_t k = 0; k < count; ++k) {
    out = put_sample(out, f.velocity[k] * 100);
    if (k % 6 == 5 || k + 1 == count) *out++ = '\n';
  }
  return text;
}

void write_srf(const std::vector<Source>& sources, const std::vector<Plane>& planes, SrfVersion version,
               const std::filesystem::path& path, const Settings& settings) {
  // Segment boundaries: version 2.0 with planes starts a POINTS block at each.
  std::vector<std::size_t> block_starts{0};
  if (version == SrfVersion::k2) {
    for (std::size_t i = 0, start = 0; i + 1 < planes.size(); ++i) {
      start += static_cast<std::size_t>(planes[i].nstk) * static_cast<std::size_t>(planes[i].ndip);
      block_starts.push_back(start);
    }
  }
  AtomicFile file(path, settings.umask);
  file.write(srf_head_text(planes, version));
  Progress progress(sources.size(), settings.progress);

  // The points are made a chunk at a time on every job; while one chunk is
  // made, the one before is written, in table order, by a thread of its own.
  constexpr std::size_t kChunk = 256;
  std::size_t block = 0;
  const auto write_chunk = [&](std::size_t first, const std::vector<std::string>& texts) {
    for (std::size_t i = 0; i < texts.size(); ++i) {
      const std::size_t point = first + i;
      if (block < block_starts.size() && point == block_starts[block]) {
        const std::size_t end = block + 1 < block_starts.size() ? block_starts[block + 1] : sources.size();
        std::string line = "POINTS ";
        line.append(std::to_string(end - point)).append("\n");
        file.write(line);
        ++block;
      }
      file.write(texts[i]);
    }
  };
  const auto make_chunk = [&](std::size_t first, std::vector<std::string>& texts) {
    texts.assign(std::min(kChunk, sources.size() - first), {});
    for_each_index(texts.size(), settings.jobs, [&](std::size_t i) {
      const Source& source = sources[first + i];
      // The shortened record holds every sample the file takes, for less work.
      texts[i] = srf_point_text(source, slip_function(library::shortened_record(source.parameters)), version);
      progress.advance();
    });
  };

  std::vector<std::string> made, writing;
  if (!sources.empty()) make_chunk(0, made);
  for (std::size_t first = 0; first < sources.size(); first += kChunk) {
    std::swap(made, writing);
    std::exception_ptr write_error;
    {
      std::jthread writer([&] {
        try {
          write_chunk(first, writing);
        } catch (...) {
          write_error = std::current_exception();
        }
      });
      if (first + kChunk < sources.size()) make_chunk(first + kChunk, made);
    }
    if (write_error) std::rethrow_exception(write_error);
  }
  if (sources.empty()) file.write("POINTS 0\n");
  progress.finish();
  file.commit();
}

}  // namespace slipvel::batch
