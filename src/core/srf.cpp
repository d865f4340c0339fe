#include <slipvel/srf.hpp>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <memory>
#include <span>

#include <slipvel/text.hpp>

#include "checks.hpp"
#include "decimal.hpp"
#include "slip_velocity.hpp"

namespace slipvel::srf {
namespace {

using text::shortest;

constexpr std::size_t kSamplesPerLine = 6;

// How printf lays out a field of the format: %W.Df (fixed), %W.0f (whole),
// %W.Pe (exponent) or %Wd (count). The texts are printf's, except that a value
// that rounds to zero is written without a sign ("0.0000", not "-0.0000").
enum class Form { kFixed, kWhole, kExponent, kCount };
struct Field {
  const char* name;  // the table's name of the value, for messages
  const char* unit;  // the table's unit, for messages
  Form form;
  int width;
  int digits;  // decimals (fixed) or digits after the point (exponent)
};

// The exponent form d.ddd…e±XX of a finite value, unpadded; returns its length.
std::size_t exponent_text(char* out, double value, int digits) {
  char* p = out;
  const double magnitude = std::fabs(value);
  text::Significant s{0, 1};
  if (magnitude != 0 && !text::significant_digits(magnitude, digits + 1, s)) {
    s = text::significant_digits_reference(magnitude, digits + 1);
  }
  if (value < 0 && s.digits != 0) *p++ = '-';
  char mantissa[24] = {};
  const auto end = std::to_chars(mantissa, mantissa + sizeof mantissa, s.digits).ptr;
  const auto length = static_cast<std::size_t>(end - mantissa);
  *p++ = mantissa[0];
  *p++ = '.';
  for (int i = 1; i <= digits; ++i) *p++ = static_cast<std::size_t>(i) < length ? mantissa[i] : '0';
  const int exponent = magnitude == 0 ? 0 : s.exponent - 1;
  *p++ = 'e';
  *p++ = exponent < 0 ? '-' : '+';
  const int e = exponent < 0 ? -exponent : exponent;
  if (e < 10) *p++ = '0';
  p = std::to_chars(p, p + 4, e).ptr;
  return static_cast<std::size_t>(p - out);
}

// The text of a field that is not fixed-point, unpadded, into `out` (room for
// 32 characters); its length, or more than 32 for a value too large for any.
std::size_t field_text(char* out, const Field& f, double value) {
  if (f.form == Form::kExponent) return exponent_text(out, value, f.digits);
  const double whole = f.form == Form::kWhole ? std::nearbyint(value) + 0.0 : value;  // + 0.0: no "-0"
  if (!(std::fabs(whole) < 1e18)) return 33;
  return static_cast<std::size_t>(std::to_chars(out, out + 24, static_cast<long long>(whole)).ptr - out);
}

// Whether the value's text is at most the field's width. The fixed-point text
// is the library's, printf's own for every width used here (each is at least
// the decimals and 4, so a leading "0." is never shortened).
bool fits(const Field& f, double value) {
  if (!std::isfinite(value)) return false;
  if (f.form == Form::kFixed) {
    char field[40];
    text::put_fixed_field(field, value, {f.width, f.digits});  // asterisks when too wide
    return field[0] != '*';
  }
  char text[40];
  return field_text(text, f, value) <= static_cast<std::size_t>(f.width);
}

// Writes the field right-aligned in its width, then `after`; nullptr when the
// value does not fit (then the message comes from check_point and the like).
char* put_field(char* out, const Field& f, double value, char after) {
  if (!std::isfinite(value)) return nullptr;
  const auto width = static_cast<std::size_t>(f.width);
  if (f.form == Form::kFixed) {
    text::put_fixed_field(out, value, {f.width, f.digits});
    if (*out == '*') return nullptr;  // asterisks: too wide
    out += width;
  } else {
    char text[40];
    const std::size_t length = field_text(text, f, value);
    if (length > width) return nullptr;
    std::memset(out, ' ', width - length);
    std::memcpy(out + (width - length), text, length);
    out += width;
  }
  *out++ = after;
  return out;
}

// What a field holds on the side of `value`, for the message of a value that
// does not fit.
std::string field_limit(const Field& f, double value) {
  if (f.form != Form::kFixed) return "values up to " + std::string(static_cast<std::size_t>(f.width), '9');
  const auto whole = static_cast<std::size_t>(f.width - f.digits - 1);
  const std::string decimals(static_cast<std::size_t>(f.digits), '9');
  std::string limit = "values ";
  if (value < 0) return limit.append("down to -").append(whole - 1, '9').append(".").append(decimals);
  return limit.append("up to ").append(whole, '9').append(".").append(decimals);
}

std::string printf_form(const Field& f) {
  const std::string w = std::to_string(f.width);
  switch (f.form) {
    case Form::kFixed:
      return "%" + w + "." + std::to_string(f.digits) + "f";
    case Form::kWhole:
      return "%" + w + ".0f";
    case Form::kExponent:
      return "%" + w + "." + std::to_string(f.digits) + "e";
    case Form::kCount:
      return "%" + w + "d";
  }
  return {};
}

const char* version_text(Version v) { return v == Version::k2 ? "2.0" : "1.0"; }

// `table_value` is the value as the table gives it, `file_value` in the file's unit.
void check_field(std::vector<std::string>& problems, const Field& f, double table_value, double file_value, Version v) {
  if (fits(f, file_value)) return;
  std::string problem = std::string(f.name) + " = " + shortest(table_value) + (*f.unit ? " " : "") + f.unit + ": ";
  if (f.form == Form::kExponent) {
    problem += "becomes " + shortest(file_value) + " in the SRF file's unit, not a finite number";
  } else {
    problem += "too wide for its SRF " + std::string(version_text(v)) + " field (" + printf_form(f) +
               "), which holds " + field_limit(f, file_value);
  }
  problems.push_back(std::move(problem));
}

// The two header lines of a point, version by version.
constexpr Field kLine1V1[] = {
    {"lon", "degrees", Form::kFixed, 10, 4}, {"lat", "degrees", Form::kFixed, 9, 4},
    {"dep", "km", Form::kFixed, 9, 4},       {"stk", "degrees", Form::kWhole, 4, 0},
    {"dip", "degrees", Form::kWhole, 4, 0},  {"area", "m^2", Form::kExponent, 12, 5},
    {"tinit", "s", Form::kFixed, 10, 4},     {"dt", "s", Form::kExponent, 12, 5},
};
constexpr Field kLine1V2[] = {
    {"lon", "degrees", Form::kFixed, 12, 6}, {"lat", "degrees", Form::kFixed, 11, 6},
    {"dep", "km", Form::kExponent, 12, 5},   {"stk", "degrees", Form::kWhole, 4, 0},
    {"dip", "degrees", Form::kWhole, 4, 0},  {"area", "m^2", Form::kExponent, 12, 5},
    {"tinit", "s", Form::kExponent, 13, 6},  {"dt", "s", Form::kExponent, 12, 5},
    {"vs", "m/s", Form::kExponent, 13, 5},   {"den", "kg/m^3", Form::kExponent, 13, 5},
};
constexpr Field kLine2V1[] = {
    {"rake", "degrees", Form::kWhole, 4, 0}, {"slip1", "cm", Form::kFixed, 8, 2}, {"nt1", "", Form::kCount, 6, 0},
    {"slip2", "cm", Form::kFixed, 8, 2},     {"nt2", "", Form::kCount, 6, 0},     {"slip3", "cm", Form::kFixed, 8, 2},
    {"nt3", "", Form::kCount, 6, 0},
};
constexpr Field kLine2V2[] = {
    {"rake", "degrees", Form::kWhole, 4, 0}, {"slip1", "cm", Form::kFixed, 10, 4}, {"nt1", "", Form::kCount, 6, 0},
    {"slip2", "cm", Form::kFixed, 10, 4},    {"nt2", "", Form::kCount, 6, 0},      {"slip3", "cm", Form::kFixed, 10, 4},
    {"nt3", "", Form::kCount, 6, 0},
};
constexpr Field kPlane1V1[] = {
    {"elon", "degrees", Form::kFixed, 10, 4}, {"elat", "degrees", Form::kFixed, 9, 4},
    {"nstk", "", Form::kCount, 5, 0},         {"ndip", "", Form::kCount, 5, 0},
    {"len", "km", Form::kFixed, 8, 2},        {"wid", "km", Form::kFixed, 8, 2},
};
constexpr Field kPlane1V2[] = {
    {"elon", "degrees", Form::kFixed, 12, 6}, {"elat", "degrees", Form::kFixed, 11, 6},
    {"nstk", "", Form::kCount, 5, 0},         {"ndip", "", Form::kCount, 5, 0},
    {"len", "km", Form::kFixed, 10, 4},       {"wid", "km", Form::kFixed, 10, 4},
};
constexpr Field kPlane2V1[] = {
    {"stk", "degrees", Form::kWhole, 4, 0}, {"dip", "degrees", Form::kWhole, 4, 0}, {"dtop", "km", Form::kFixed, 8, 2},
    {"shyp", "km", Form::kFixed, 8, 2},     {"dhyp", "km", Form::kFixed, 8, 2},
};
constexpr Field kPlane2V2[] = {
    {"stk", "degrees", Form::kWhole, 4, 0}, {"dip", "degrees", Form::kWhole, 4, 0}, {"dtop", "km", Form::kFixed, 10, 4},
    {"shyp", "km", Form::kFixed, 10, 4},    {"dhyp", "km", Form::kFixed, 10, 4},
};

// A line's fields with the values the table gives and the values the file holds.
struct Line {
  std::span<const Field> fields;
  std::array<double, 10> table, file;
};

template <std::size_t N>
Line line_of(const Field (&fields)[N], std::initializer_list<double> table, std::initializer_list<double> file) {
  Line line{std::span<const Field>(fields, N), {}, {}};
  std::copy(table.begin(), table.end(), line.table.begin());
  std::copy(file.begin(), file.end(), line.file.begin());
  return line;
}

Line point_line1(const Point& x, double dt, Version v) {
  if (v == Version::k2) {
    return line_of(kLine1V2, {x.lon, x.lat, x.dep, x.stk, x.dip, x.area, x.tinit, dt, x.vs, x.den},
                   {x.lon, x.lat, x.dep, x.stk, x.dip, x.area * 1e4, x.tinit, dt, x.vs * 100, x.den / 1000});
  }
  return line_of(kLine1V1, {x.lon, x.lat, x.dep, x.stk, x.dip, x.area, x.tinit, dt},
                 {x.lon, x.lat, x.dep, x.stk, x.dip, x.area * 1e4, x.tinit, dt});
}

Line point_line2(double rake, double slip_cm, double samples, Version v) {
  const std::initializer_list<double> values = {rake, slip_cm, samples, 0.0, 0.0, 0.0, 0.0};
  return v == Version::k2 ? line_of(kLine2V2, values, values) : line_of(kLine2V1, values, values);
}

Line plane_line1(const Plane& p, Version v) {
  const std::initializer_list<double> values = {
      p.elon, p.elat, static_cast<double>(p.nstk), static_cast<double>(p.ndip), p.len, p.wid};
  return v == Version::k2 ? line_of(kPlane1V2, values, values) : line_of(kPlane1V1, values, values);
}

Line plane_line2(const Plane& p, Version v) {
  const std::initializer_list<double> values = {p.stk, p.dip, p.dtop, p.shyp, p.dhyp};
  return v == Version::k2 ? line_of(kPlane2V2, values, values) : line_of(kPlane2V1, values, values);
}

void check_line(std::vector<std::string>& problems, const Line& line, Version v) {
  for (std::size_t i = 0; i < line.fields.size(); ++i)
    check_field(problems, line.fields[i], line.table[i], line.file[i], v);
}

void refuse_if_any(const std::vector<std::string>& problems) {
  if (problems.empty()) return;
  std::string message;
  for (const std::string& p : problems) message += (message.empty() ? "" : "\n") + p;
  throw ParameterError(message);
}

// The fields of a line, blank-separated, and its line end; nullptr when a
// value does not fit its field.
char* put_line(char* out, const Line& line) {
  for (std::size_t i = 0; out != nullptr && i < line.fields.size(); ++i) {
    out = put_field(out, line.fields[i], line.file[i], i + 1 < line.fields.size() ? ' ' : '\n');
  }
  return out;
}

// Longest text of a checked header line: ten fields of at most 13 and their separators.
constexpr std::size_t kLineCapacity = 10 * 14;

}  // namespace

namespace {

// The means of the intervals k·dt ± dt/2 (from 0) in cm/s, through the one
// that holds ts; `slip` is S(t) for one shape. Each interval ends where the
// next begins, so the sum telescopes.
template <class Slip>
double interval_means(double* samples, std::size_t room, std::size_t& count, double dt, double ts, const Slip& slip) {
  double slip_before = 0, sum = 0;
  for (std::int64_t k = 0;; ++k) {
    const double end = static_cast<double>(k) * dt + dt / 2;
    const double slip_after = slip(end);
    // The function does not slip backwards; a difference below 0 is rounding.
    const double mean = std::max(0.0, (slip_after - slip_before) / dt * 100);
    samples[k] = mean;
    sum += mean;
    slip_before = slip_after;
    if (!(end < ts) || static_cast<std::size_t>(k) + 2 >= room) {  // room: never reached, a guard
      count = static_cast<std::size_t>(k) + 1;
      return sum;
    }
  }
}

}  // namespace

SlipRate slip_rate(const Shape& shape, const Parameters& parameters) {
  SlipRate rate;
  const double dt = parameters.dt;
  const double ts = stopping_time(parameters);
  rate.dt = dt;
  // The interval k holds ts for some k <= ts/dt + 1: room for it and the zero after it.
  const std::size_t room = static_cast<std::size_t>(std::max(0.0, ts / dt)) + 3;
  const auto means = std::make_unique_for_overwrite<double[]>(room);
  // S(t) exactly as slip_until gives it, with its constants worked out once.
  const source::SlipCurve curve(shape, parameters);
  std::size_t count = 0;
  const double sum = curve.ordered()
                         ? interval_means(means.get(), room, count, dt, ts, [&](double t) { return curve.in_order(t); })
                         : interval_means(means.get(), room, count, dt, ts, curve);
  rate.samples.reserve(count + 1);
  rate.samples.assign(means.get(), means.get() + count);
  while (!rate.samples.empty() && rate.samples.back() == 0) rate.samples.pop_back();
  rate.samples.push_back(0);  // the one zero after the last non-zero sample
  rate.slip = dt * sum;
  return rate;
}

SlipRate no_slip(double dt) { return {dt, {}, 0}; }

void check_point(const Point& point, Version version) {
  std::vector<std::string> problems;
  check_line(problems, point_line1(point, 1, version), version);
  check_line(problems, point_line2(point.rake, 0, 0, version), version);
  refuse_if_any(problems);
}

void check_slip_rate(double slip_cm, std::size_t samples, Version version) {
  std::vector<std::string> problems;
  const Line line = point_line2(0, slip_cm, static_cast<double>(samples), version);
  for (std::size_t i = 1; i <= 2; ++i) {
    if (!fits(line.fields[i], line.file[i])) {
      problems.push_back(std::string(line.fields[i].name) + " = " + shortest(line.file[i]) +
                         (i == 1 ? " cm" : " samples") + ": too wide for its SRF " + version_text(version) +
                         " field (" + printf_form(line.fields[i]) + "), which holds " +
                         field_limit(line.fields[i], line.file[i]));
    }
  }
  refuse_if_any(problems);
}

void check_plane(const Plane& plane, Version version) {
  std::vector<std::string> problems;
  check_line(problems, plane_line1(plane, version), version);
  check_line(problems, plane_line2(plane, version), version);
  refuse_if_any(problems);
}

std::string head_text(const std::vector<Plane>& planes, Version version) {
  std::string text = version == Version::k2 ? "2.0\n" : "1.0\n";
  if (planes.empty()) return text;
  text += "PLANE " + std::to_string(planes.size()) + "\n";
  for (const Plane& p : planes) {
    char line[2 * kLineCapacity];
    char* end = put_line(line, plane_line1(p, version));
    if (end != nullptr) end = put_line(end, plane_line2(p, version));
    if (end == nullptr) check_plane(p, version);  // throws, naming the value
    text.append(line, end);
  }
  return text;
}

std::string points_line(std::size_t count) { return "POINTS " + std::to_string(count) + "\n"; }

std::size_t point_text_capacity(const SlipRate& rate) {
  const std::size_t count = rate.samples.size();
  return 2 * kLineCapacity + count * text::kSrfSampleWidth + count / kSamplesPerLine + 1;
}

char* put_point_text(char* out, const Point& point, const SlipRate& rate, Version version) {
  const std::size_t count = rate.samples.size();
  char* end = put_line(out, point_line1(point, rate.dt, version));
  if (end != nullptr) end = put_line(end, point_line2(point.rake, rate.slip, static_cast<double>(count), version));
  if (end == nullptr) {  // a value too wide for its field: say which
    check_point(point, version);
    check_slip_rate(rate.slip, count, version);
    throw ParameterError("dt = " + shortest(rate.dt) + " s: not a finite number");
  }
  return text::put_srf_samples(end, rate.samples.data(), count, kSamplesPerLine);
}

void append_point_text(std::string& out, const Point& point, const SlipRate& rate, Version version) {
  const auto text = std::make_unique_for_overwrite<char[]>(point_text_capacity(rate));
  out.append(text.get(), put_point_text(text.get(), point, rate, version));
}

std::string point_text(const Point& point, const SlipRate& rate, Version version) {
  std::string text;
  append_point_text(text, point, rate, version);
  return text;
}

std::string point_text(const Point& point, const SlipFunction& function, Version version) {
  return point_text(point, slip_rate(function.shape, function.parameters), version);
}

}  // namespace slipvel::srf
