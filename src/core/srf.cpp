#include <slipvel/srf.hpp>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <span>

#include <slipvel/text.hpp>

#include "checks.hpp"
#include "csv.hpp"
#include "decimal.hpp"
#include "number_text.hpp"
#include "parallel.hpp"
#include "slip_range.hpp"
#include "slip_velocity.hpp"
#include "srf_fields.hpp"
#include "srf_sample.hpp"
#include "step_means.hpp"

namespace slipvel::srf {
namespace {

using text::shortest;

constexpr std::int64_t kSamplesPerLine = 6;
// nt1 is a %6d field.
constexpr double kMostSamples = 999999;

// How printf lays out a field of the format: %W.Df (fixed), %W.0f (whole),
// %W.Pe (exponent) or %Wd (count). The texts are printf's, except that a value
// that rounds to zero is written without a sign ("0.0000", not "-0.0000").
enum class Form { kFixed, kWhole, kExponent, kCount };
struct Field {
  const char* name;  // the table's name of the value, for messages
  const char* unit;  // the table's unit, for messages
  Form form;
  int width;
  int digits;            // decimals (fixed) or digits after the point (exponent)
  bool nonzero = false;  // a size that must not show as 0 (a plane's length and width)
};

// The widths of the reference writer of the format: positions to a
// millionth of a degree (about 0.1 m), depths, areas and the time step in
// exponent form, lengths, times and slips to 4 decimals. Version 2.0 writes
// tinit in exponent form and adds vs and den.
constexpr Field kLon{"lon", "degrees", Form::kFixed, 12, 6}, kLat{"lat", "degrees", Form::kFixed, 11, 6};
constexpr Field kLine1V1[] = {
    kLon,
    kLat,
    {"dep", "km", Form::kExponent, 12, 5},
    {"stk", "degrees", Form::kWhole, 4, 0},
    {"dip", "degrees", Form::kWhole, 4, 0},
    {"area", "m^2", Form::kExponent, 12, 5},
    {"tinit", "s", Form::kFixed, 10, 4},
    {"dt", "s", Form::kExponent, 12, 5},
};
constexpr Field kLine1V2[] = {
    kLon,
    kLat,
    {"dep", "km", Form::kExponent, 12, 5},
    {"stk", "degrees", Form::kWhole, 4, 0},
    {"dip", "degrees", Form::kWhole, 4, 0},
    {"area", "m^2", Form::kExponent, 12, 5},
    {"tinit", "s", Form::kExponent, 13, 6},
    {"dt", "s", Form::kExponent, 12, 5},
    {"vs", "m/s", Form::kExponent, 13, 5},
    {"den", "kg/m^3", Form::kExponent, 13, 5},
};
constexpr Field kLine2[] = {
    {"rake", "degrees", Form::kWhole, 4, 0}, {"slip1", "cm", Form::kFixed, 10, 4},
    {"nt1", "samples", Form::kCount, 6, 0},  {"slip2", "cm", Form::kFixed, 10, 4},
    {"nt2", "", Form::kCount, 6, 0},         {"slip3", "cm", Form::kFixed, 10, 4},
    {"nt3", "", Form::kCount, 6, 0},
};
constexpr Field kPlane1[] = {
    {"elon", "degrees", Form::kFixed, 12, 6}, {"elat", "degrees", Form::kFixed, 11, 6},
    {"nstk", "", Form::kCount, 5, 0},         {"ndip", "", Form::kCount, 5, 0},
    {"len", "km", Form::kFixed, 10, 4, true}, {"wid", "km", Form::kFixed, 10, 4, true},
};
constexpr Field kPlane2[] = {
    {"stk", "degrees", Form::kWhole, 4, 0}, {"dip", "degrees", Form::kWhole, 4, 0}, {"dtop", "km", Form::kFixed, 10, 4},
    {"shyp", "km", Form::kFixed, 10, 4},    {"dhyp", "km", Form::kFixed, 10, 4},
};

// The exponent form d.ddd…e±XX of a finite value, unpadded; returns its length.
std::size_t exponent_text(char* out, double value, int digits) {
  char* p = out;
  const double magnitude = std::fabs(value);
  detail::Significant s{0, 1};
  if (magnitude != 0 && !detail::significant_digits(magnitude, digits + 1, s)) {
    s = detail::significant_digits_reference(magnitude, digits + 1);
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

// Whether the value's text is at most the field's width, by formatting it.
// The fixed-point text is the library's, printf's own for every width used
// here (each is at least the decimals and 4, so a leading "0." is never
// shortened).
bool fits_as_formatted(const Field& f, double value) {
  if (!std::isfinite(value)) return false;
  if (f.form == Form::kFixed) {
    char field[40];
    detail::put_fixed_field(field, value, {f.width, f.digits});  // asterisks when too wide
    return field[0] != '*';
  }
  char text[40];
  return field_text(text, f, value) <= static_cast<std::size_t>(f.width);
}

// The magnitude from which a value's text no longer fits, for fixed-point and
// whole fields: half a last digit below the next power of ten (one digit fewer
// for the minus sign).
double fixed_limit(const Field& f, bool negative) {
  const int whole_digits = f.width - (f.form == Form::kFixed ? f.digits + 1 : 0) - (negative ? 1 : 0);
  return detail::kExactPowersOfTen[static_cast<std::size_t>(whole_digits)] -
         0.5 / detail::kExactPowersOfTen[static_cast<std::size_t>(f.digits)];
}

// Whether the value's text is at most the field's width: settled by
// comparison where the value is clearly inside or outside, by formatting it
// near the limit (so every field is formatted once, when it is written).
bool fits(const Field& f, double value) {
  if (!std::isfinite(value)) return false;
  const double magnitude = std::fabs(value);
  if (f.form == Form::kExponent) {
    // d.ddd…e±XX: two-digit exponents, and a width that holds the sign.
    if (magnitude == 0 || (magnitude > 1e-98 && magnitude < 1e98)) return f.width >= f.digits + 7;
  } else {
    const double limit = fixed_limit(f, value < 0);
    if (magnitude < limit * (1 - 0x1p-40)) return true;
    if (magnitude > limit * (1 + 0x1p-40)) return false;
  }
  return fits_as_formatted(f, value);
}

// Writes the field right-aligned in its width, then `after`; nullptr when the
// value does not fit (then the message comes from check_point and the like).
char* put_field(char* out, const Field& f, double value, char after) {
  if (!std::isfinite(value)) return nullptr;
  const auto width = static_cast<std::size_t>(f.width);
  if (f.form == Form::kFixed) {
    detail::put_fixed_field(out, value, {f.width, f.digits});
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

// Whether a fixed-point value shows as nothing but zeros in its field.
bool shows_as_zero(const Field& f, double value) {
  char field[40];
  detail::put_fixed_field(field, value, {f.width, f.digits});
  return std::none_of(field, field + f.width, [](char c) { return c >= '1' && c <= '9'; });
}

// `table_value` is the value as the table gives it, `file_value` in the file's unit.
void check_field(std::vector<Problem>& problems, const Field& f, double table_value, double file_value, Version v) {
  if (f.nonzero && fits(f, file_value) && shows_as_zero(f, file_value)) {
    problems.push_back({f.name, std::string(f.name) + " = " + shortest(table_value) + " " + f.unit +
                                    ": shows as 0 in its SRF " + version_text(v) + " field (" + printf_form(f) +
                                    "), which needs at least 0.0001"});
    return;
  }
  if (fits(f, file_value)) return;
  std::string problem = std::string(f.name) + " = " + shortest(table_value) + (*f.unit ? " " : "") + f.unit + ": ";
  if (f.form == Form::kExponent) {
    problem += "becomes " + shortest(file_value) + " in the SRF file's unit, not a finite number";
  } else {
    problem += "too wide for its SRF " + std::string(version_text(v)) + " field (" + printf_form(f) +
               "), which holds " + field_limit(f, file_value);
  }
  problems.push_back({f.name, std::move(problem)});
}

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

Line point_line2(double rake, double slip_cm, double samples) {
  const std::initializer_list<double> values = {rake, slip_cm, samples, 0.0, 0.0, 0.0, 0.0};
  return line_of(kLine2, values, values);
}

Line plane_line1(const Plane& p) {
  const std::initializer_list<double> values = {
      p.elon, p.elat, static_cast<double>(p.nstk), static_cast<double>(p.ndip), p.len, p.wid};
  return line_of(kPlane1, values, values);
}

Line plane_line2(const Plane& p) {
  const std::initializer_list<double> values = {p.stk, p.dip, p.dtop, p.shyp, p.dhyp};
  return line_of(kPlane2, values, values);
}

void check_line(std::vector<Problem>& problems, const Line& line, Version v) {
  for (std::size_t i = 0; i < line.fields.size(); ++i)
    check_field(problems, line.fields[i], line.table[i], line.file[i], v);
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

// S(t) of a slipping point, with its constants worked out once.
detail::SlipCurve curve_of(const PointSource& point) { return {*point.shape, point.parameters}; }

// Calls write(means) with the StepMeans of the samples, from k = 0, of the
// ordered or the general form of S(t).
template <class Write>
auto with_sample_means(const detail::SlipCurve& curve, double dt, Write&& write) {
  if (curve.ordered()) {
    return write(detail::StepMeans([&curve](double t) { return curve.in_order(t); }, dt, 0, 0));
  }
  return write(detail::StepMeans(curve, dt, 0, 0));
}

// The samples of a slipping point run through step `last`, the last non-zero
// one: S is constant after ts, so every step from ts/dt + 2 on is 0, and the
// last step that holds ts is non-zero unless rounding makes it 0. Counts
// beyond what nt1 holds come back as an estimate above it.
double samples_of(const PointSource& point, const detail::SlipCurve& curve, std::int64_t& last) {
  const double dt = point.parameters.dt;
  const double beyond = std::ceil(*point.parameters.ts / dt) + 2;  // a step after every non-zero one
  if (!(beyond <= kMostSamples)) {
    last = -1;
    return beyond;
  }
  last = static_cast<std::int64_t>(beyond);
  while (last > 0 && detail::step_mean(curve, dt, 0, last) == 0) --last;
  return static_cast<double>(last + 2);  // and the one zero after it
}

// rates[i] = max(0, (slips[i + 1] − slips[i])/dt)·100 for i < count, the
// step means of StepMeans in cm/s: two at a time where SSE2 is there, maxpd
// giving max's (0 < x) ? x : 0 (+0 for -0 and for not a number).
void step_means_in_cm(const double* slips, std::int64_t count, double dt, double* rates) {
  std::int64_t i = 0;
#if defined(__SSE2__)
  const __m128d step = _mm_set1_pd(dt), zero = _mm_setzero_pd(), hundred = _mm_set1_pd(100);
  for (; i + 2 <= count; i += 2) {
    const __m128d mean = _mm_div_pd(_mm_sub_pd(_mm_loadu_pd(slips + i + 1), _mm_loadu_pd(slips + i)), step);
    _mm_storeu_pd(rates + i, _mm_mul_pd(_mm_max_pd(mean, zero), hundred));
  }
#endif
  for (; i < count; ++i) rates[i] = std::max(0.0, (slips[i + 1] - slips[i]) / dt) * 100;
}

// The samples 0 through `last` of an ordered curve and the one zero after
// them, six to a line, a block at a time: S at the block's steps stage by
// stage, then their step means (as StepMeans has them, times 100 for cm/s),
// then their texts, each loop free of the others' tests.
char* put_ordered_samples(char* out, const detail::SlipCurve& curve, double dt, std::int64_t last) {
  constexpr std::int64_t kBlock = 32 * kSamplesPerLine;  // whole lines: every block starts one
  double slips[kBlock + 1], rates[kBlock];               // slips[0]: S at the step before the block
  detail::SampleWriter writer;
  const std::int64_t count = last + 2;
  slips[0] = 0;  // S(-dt)
  for (std::int64_t first = 0; first < count; first += kBlock) {
    const std::int64_t size = std::min(kBlock, count - first);
    const std::int64_t slipping = std::min(size, last + 1 - first);
    curve.in_order_at_steps(first, slipping, dt, slips + 1);
    step_means_in_cm(slips, slipping, dt, rates);
    for (std::int64_t i = slipping; i < size; ++i) rates[i] = 0.0;
    slips[0] = slips[slipping];
    // Each rate is +0 or above: max(0.0, x) gives +0 for x <= 0 and for not a number.
    out = writer.put_lines_not_negative(out, rates, static_cast<std::size_t>(size), kSamplesPerLine);
  }
  return out;
}

// The two header lines of a point; nullptr when a value does not fit.
char* put_head(char* out, const PointSource& point, double slip_cm, double samples, Version version) {
  out = put_line(out, point_line1(point.where, point.parameters.dt, version));
  return out == nullptr ? nullptr : put_line(out, point_line2(point.where.rake, slip_cm, samples));
}

// The problems of the values of a point's first line and its rake.
void add_where_problems(std::vector<Problem>& problems, const Point& where, double dt, Version version) {
  check_line(problems, point_line1(where, dt, version), version);
  check_field(problems, kLine2[0], where.rake, where.rake, version);
}

// The problems of slip1 and nt1.
void add_slip_problems(std::vector<Problem>& problems, const PointSource& point, Version version) {
  double slip_cm = 0, samples = 0;
  if (point.shape) {
    const detail::SlipCurve curve = curve_of(point);
    std::int64_t last = 0;
    samples = samples_of(point, curve, last);
    slip_cm = curve(*point.parameters.ts) * 100;
  }
  check_line(problems, point_line2(0, slip_cm, samples), version);
}

void refuse_if_any(std::vector<Problem> problems) {
  if (!problems.empty()) detail::refuse(std::move(problems));
}

// The lines before the points: the version and, unless the layout leaves it
// out or `planes` is empty, the PLANE block.
std::string head_text(const std::vector<Plane>& planes, const Layout& layout) {
  std::string text = std::string(version_text(layout.version)) + "\n";
  if (planes.empty() || !layout.plane_block) return text;
  text += "PLANE " + std::to_string(planes.size()) + "\n";
  for (const Plane& p : planes) {
    char line[2 * kLineCapacity];
    char* end = put_line(line, plane_line1(p));
    if (end != nullptr) end = put_line(end, plane_line2(p));
    if (end == nullptr) check_plane(p, layout.version);  // throws, naming the value
    text.append(line, end);
  }
  return text;
}

std::string points_line(std::size_t count) { return "POINTS " + std::to_string(count) + "\n"; }

}  // namespace

PointSource point_source(const Point& where, const Parameters& parameters) {
  PointSource point{where, parameters, std::nullopt};
  point.parameters.ts = stopping_time(parameters);
  if (parameters.slip != 0) {
    point.shape = find_shape(point.parameters);
    return point;
  }
  // A point that does not slip has no shape, but its other values must still make a source.
  Parameters probe = point.parameters;
  probe.slip = 1;
  refuse_if_any(detail::parameter_problems(probe));
  return point;
}

double whole_slip(const PointSource& point) { return point.shape ? curve_of(point)(*point.parameters.ts) : 0; }

SlipRate slip_rate(const PointSource& point) {
  SlipRate rate{point.parameters.dt, {}, 0};
  if (!point.shape) return rate;
  const detail::SlipCurve curve = curve_of(point);
  std::int64_t last = 0;
  const double count = samples_of(point, curve, last);
  if (last < 0) {
    check_point(point, Version::k1);  // throws: too many samples for nt1
    return rate;
  }
  rate.samples.reserve(static_cast<std::size_t>(count));
  with_sample_means(curve, rate.dt, [&](auto means) {
    for (std::int64_t k = 0; k <= last; ++k) rate.samples.push_back(means.next() * 100);
  });
  rate.samples.push_back(0);  // the one zero after the last non-zero sample
  rate.slip = curve(*point.parameters.ts) * 100;
  return rate;
}

void check_where(const Point& where, double dt, Version version) {
  std::vector<Problem> problems;
  add_where_problems(problems, where, dt, version);
  refuse_if_any(std::move(problems));
}

void check_slip_fields(const PointSource& point, Version version) {
  std::vector<Problem> problems;
  add_slip_problems(problems, point, version);
  refuse_if_any(std::move(problems));
}

void check_point(const PointSource& point, Version version) {
  std::vector<Problem> problems;
  add_where_problems(problems, point.where, point.parameters.dt, version);
  add_slip_problems(problems, point, version);
  refuse_if_any(std::move(problems));
}

void check_plane(const Plane& plane, Version version) {
  std::vector<Problem> problems;
  check_line(problems, plane_line1(plane), version);
  check_line(problems, plane_line2(plane), version);
  refuse_if_any(problems);
}

std::vector<std::size_t> block_sizes(const std::vector<Plane>& planes, std::size_t points, const Layout& layout) {
  const bool per_plane =
      layout.blocks == Blocks::kPerPlane && layout.version == Version::k2 && layout.plane_block && planes.size() > 1;
  if (!per_plane) return {points};
  std::vector<std::size_t> sizes;
  std::size_t held = 0;
  for (const Plane& p : planes) {
    sizes.push_back(static_cast<std::size_t>(p.nstk) * static_cast<std::size_t>(p.ndip));
    held += sizes.back();
  }
  if (held != points) {
    detail::refuse(Problem{"planes", "the planes hold " + std::to_string(held) +
                                         " points (the sum of nstk*ndip), the file has " + std::to_string(points)});
  }
  return sizes;
}

Layout layout_for(Reader reader, Version version) {
  switch (reader) {
    case Reader::kSw4:
      return {version, Blocks::kOne, true, reader};
    case Reader::kSeisSol:
      return {version, Blocks::kOne, false, reader};
    case Reader::kGeneric:
      break;
  }
  return {version, Blocks::kPerPlane, true, reader};
}

std::vector<Problem> layout_warnings(const std::vector<Plane>& planes, std::size_t points, const Layout& layout,
                                     const std::string& sw4_layout) {
  if (layout.reader) return {};
  const std::vector<std::size_t> sizes = block_sizes(planes, points, layout);
  if (sizes.size() < 2) return {};
  return {{"blocks", "SW4 reads only the first POINTS block: " + std::to_string(sizes.front()) + " of " +
                         std::to_string(points) + " points; " + sw4_layout + " writes one block"}};
}

std::optional<Problem> rigidity_warning(Version version, double moment, double moment_at_default_rigidity,
                                        const std::string& rigidity_option) {
  if (version != Version::k1 || !(moment > 0)) return std::nullopt;
  char times[32];
  std::snprintf(times, sizeof times, "%.3g", moment_at_default_rigidity / moment);
  if (std::string(times) == "1") return std::nullopt;
  return Problem{"version", "SRF 1.0 carries no rigidity: a reader using " + rigidity_option +
                                "'s default 3.6288e10 Pa gives " + times + " times the moment; write 2.0"};
}

std::size_t point_text_capacity(const PointSource& point) {
  double samples = 0;
  if (point.shape) samples = std::ceil(*point.parameters.ts / point.parameters.dt) + 3;
  const auto count = static_cast<std::size_t>(std::min(samples, kMostSamples + 1));
  return 2 * kLineCapacity + count * detail::kSrfSampleWidth + count / std::size_t{kSamplesPerLine} + 1;
}

char* put_point_text(char* out, const PointSource& point, Version version) {
  if (!point.shape) {
    char* end = put_head(out, point, 0, 0, version);
    if (end == nullptr) check_point(point, version);  // throws, naming the value
    return end;
  }
  const detail::SlipCurve curve = curve_of(point);
  std::int64_t last = 0;
  const double samples = samples_of(point, curve, last);
  char* end = last < 0 ? nullptr : put_head(out, point, curve(*point.parameters.ts) * 100, samples, version);
  if (end == nullptr) check_point(point, version);  // throws, naming the value
  if (curve.ordered()) return put_ordered_samples(end, curve, point.parameters.dt, last);
  // Each sample worked out and written in one pass, then the one zero after
  // the last non-zero one.
  return with_sample_means(curve, point.parameters.dt, [&](auto means) {
    std::int64_t k = 0;
    return detail::put_sample_lines(end, static_cast<std::size_t>(last + 2), kSamplesPerLine,
                                    [&] { return k++ <= last ? means.next() * 100 : 0.0; });
  });
}

std::string point_text(const PointSource& point, Version version) {
  const auto text = std::make_unique_for_overwrite<char[]>(point_text_capacity(point));
  return {text.get(), put_point_text(text.get(), point, version)};
}

namespace {

// The texts of a chunk's points, made by a job and written later, end to end
// in one buffer kept for the chunks after it (grown to at least twice its
// size when one needs more): a buffer a point took a page of the heap, and a
// system call, for each, and freeing and taking fresh memory for every chunk
// cost more system time than writing the file.
struct ChunkText {
  std::vector<PointSource> points;  // the chunk's, each made once
  std::unique_ptr<char[]> bytes;
  std::size_t capacity = 0;
  std::vector<std::size_t> starts;  // of each point's text, then the end of the last

  char* room(std::size_t needed) {
    if (capacity < needed) {
      capacity = std::max(needed, 2 * capacity);
      bytes = std::make_unique_for_overwrite<char[]>(capacity);
    }
    return bytes.get();
  }
};

}  // namespace

// The points' texts are made a chunk at a time on every job, end to end in
// the chunk's buffer, and handed to the sink in order, a chunk in one
// gathered write (the POINTS lines between its pieces).
void write_srf(Sink& sink, const Points& points, const std::vector<Plane>& planes, const Layout& layout,
               const WriteOptions& options) {
  std::vector<std::size_t> block_starts;  // where each POINTS block starts, in point order
  for (std::size_t start = 0; const std::size_t size : block_sizes(planes, points.count, layout)) {
    block_starts.push_back(start);
    start += size;
  }
  sink.write(head_text(planes, layout));
  std::size_t block = 0;
  std::vector<std::string> block_lines;
  std::vector<std::string_view> pieces;
  const auto make = [&](detail::ChunkRange range, ChunkText& chunk) {
    chunk.points.clear();
    std::size_t needed = 0;
    for (std::size_t n = range.first; n < range.last; ++n) {
      needed += point_text_capacity(chunk.points.emplace_back(points.at(n)));
    }
    // Written straight into the buffer: nothing cleared first, nothing copied.
    char* const text = chunk.room(needed);
    char* end = text;
    chunk.starts.assign(1, 0);
    for (const PointSource& point : chunk.points) {
      end = put_point_text(end, point, layout.version);
      chunk.starts.push_back(static_cast<std::size_t>(end - text));
    }
  };
  const auto use = [&](detail::ChunkRange range, const ChunkText& chunk) {
    block_lines.clear();
    block_lines.reserve(block_starts.size());  // the pieces point into them: never moved
    pieces.clear();
    const char* const text = chunk.bytes.get();
    std::size_t from = 0;  // the chunk's text not yet in a piece
    for (std::size_t point = range.first; point < range.last; ++point) {
      if (block < block_starts.size() && point == block_starts[block]) {
        const std::size_t at = chunk.starts[point - range.first];
        if (at > from) pieces.emplace_back(text + from, at - from);
        from = at;
        const std::size_t end = block + 1 < block_starts.size() ? block_starts[block + 1] : points.count;
        pieces.push_back(block_lines.emplace_back(points_line(end - point)));
        ++block;
      }
    }
    pieces.emplace_back(text + from, chunk.starts.back() - from);
    sink.write(std::span<const std::string_view>(pieces));
    if (options.progress) options.progress(range.last);
  };
  detail::for_each_chunk_in_order<ChunkText>(points.count, options.jobs, make, use, {}, options.stop);
  if (points.count == 0) sink.write(points_line(0));
}

namespace {

// The values of an SRF file one after the other, with the line each is on:
// blank lines, lines that start with '#' and a CR before the line end skipped.
class Tokens {
 public:
  explicit Tokens(std::string_view text) : text_(text) { next_line(); }

  bool done() const { return rest_.empty() && text_.empty(); }
  int line() const { return line_; }
  // The values left on the current line (for the version line, which stands alone).
  std::size_t on_this_line() const {
    std::size_t count = 0;
    for (std::string_view r = rest_; !skip_blanks(r).empty(); ++count) r.remove_prefix(token_length(r));
    return count;
  }
  std::string_view next() {
    while (skip_blanks(rest_).empty() && !text_.empty()) next_line();
    rest_ = skip_blanks(rest_);
    const std::string_view token = rest_.substr(0, token_length(rest_));
    rest_.remove_prefix(token.size());
    token_line_ = line_;
    return token;
  }
  int token_line() const { return token_line_; }

 private:
  static bool blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }
  static std::string_view skip_blanks(std::string_view& r) {
    while (!r.empty() && blank(r.front())) r.remove_prefix(1);
    return r;
  }
  static std::size_t token_length(std::string_view r) {
    std::size_t n = 0;
    while (n < r.size() && !blank(r[n])) ++n;
    return n;
  }
  // The next line that holds a value, as rest_.
  void next_line() {
    while (!text_.empty()) {
      const std::size_t end = text_.find('\n');
      std::string_view line = text_.substr(0, end);
      text_.remove_prefix(end == std::string_view::npos ? text_.size() : end + 1);
      ++line_;
      std::string_view content = line;
      skip_blanks(content);
      if (!content.empty() && content.front() != '#') {
        rest_ = content;
        return;
      }
    }
    rest_ = {};
  }

  std::string_view text_, rest_;
  int line_ = 0, token_line_ = 0;
};

// The reading of one file: each value checked as it is taken.
class SrfReader {
 public:
  SrfReader(std::string_view text, std::string name) : tokens_(text), name_(std::move(name)) {}

  File read() {
    read_version();
    for (;;) {
      const std::string_view word = tokens_.next();
      if (word.empty()) break;
      if (upper(word) == "PLANE" && file_.planes.empty() && file_.blocks.empty()) {
        read_planes();
      } else if (upper(word) == "POINTS") {
        read_block();
      } else {
        fail(tokens_.token_line(), "\"" + table::shown(word) + "\": expected " +
                                       (!file_.blocks.empty()  ? "POINTS or the end of the file after the POINTS block"
                                        : file_.planes.empty() ? "PLANE or POINTS"
                                                               : "POINTS"));
      }
    }
    if (file_.blocks.empty()) fail(tokens_.line(), "the file ends before its POINTS block");
    if (file_.points.empty()) fail(tokens_.line(), "no point in the file");
    return std::move(file_);
  }

 private:
  [[noreturn]] void fail(int line, std::string text) const {
    Diagnostic d;
    d.where = Where::table(name_, line);
    d.text = std::move(text);
    throw ParameterError(std::vector<Diagnostic>{d});
  }
  static std::string upper(std::string_view word) {
    std::string u(word);
    for (char& c : u) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    return u;
  }

  // The next value, a finite number; `what` names it and `where` says where it is.
  double number(const std::string& what, const std::string& where, const std::string& ends) {
    const std::string_view token = tokens_.next();
    if (token.empty()) fail(tokens_.line(), "the file ends " + ends);
    double value = 0;
    const table::Parsed parsed = table::parse_number(token, value);
    if (parsed != table::Parsed::kOk || !std::isfinite(value)) {
      fail(tokens_.token_line(),
           what + " = \"" + table::shown(token) +
               "\": " + (parsed == table::Parsed::kOutOfRange ? "beyond the range of numbers" : "not a number") + " (" +
               where + ")");
    }
    return value;
  }
  // The next value, a whole number of at least `least`.
  std::size_t count(const std::string& what, const std::string& where, const std::string& ends, std::size_t least) {
    const std::string_view token = tokens_.next();
    if (token.empty()) fail(tokens_.line(), "the file ends " + ends);
    std::string_view digits = token;
    if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
    std::size_t value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (digits.empty() || end != digits.data() + digits.size() || error != std::errc() || value < least) {
      fail(tokens_.token_line(), what + " = \"" + table::shown(token) +
                                     "\": must be a whole number >= " + std::to_string(least) + " (" + where + ")");
    }
    return value;
  }

  void read_version() {
    const std::string_view token = tokens_.next();
    if (token.empty()) fail(0, "no SRF version line (the file is empty)");
    double value = 0;
    if (tokens_.on_this_line() != 0 || table::parse_number(token, value) != table::Parsed::kOk ||
        (value != 1 && value != 2)) {
      fail(tokens_.token_line(),
           "\"" + table::shown(token) + "\": not the version line of an SRF file (1.0 or 2.0 alone on the first line)");
    }
    file_.version = value == 2 ? Version::k2 : Version::k1;
  }

  void read_planes() {
    const int at = tokens_.token_line();
    const std::string ends = "inside the PLANE block at line " + std::to_string(at);
    const std::size_t planes = count("PLANE count", "the PLANE block", ends, 1);
    for (std::size_t k = 1; k <= planes; ++k) {
      const std::string where = "plane " + std::to_string(k) + " of the PLANE block at line " + std::to_string(at);
      Plane p{};
      p.elon = number("elon", where, ends);
      p.elat = number("elat", where, ends);
      p.nstk = static_cast<int>(std::min<std::size_t>(count("nstk", where, ends, 1), INT32_MAX));
      p.ndip = static_cast<int>(std::min<std::size_t>(count("ndip", where, ends, 1), INT32_MAX));
      p.len = positive("len", number("len", where, ends), "km", where);
      p.wid = positive("wid", number("wid", where, ends), "km", where);
      p.stk = number("stk", where, ends);
      p.dip = number("dip", where, ends);
      p.dtop = number("dtop", where, ends);
      p.shyp = number("shyp", where, ends);
      p.dhyp = number("dhyp", where, ends);
      file_.planes.push_back(p);
    }
  }

  double positive(const char* what, double value, const char* unit, const std::string& where) {
    if (!(value > 0)) {
      fail(tokens_.token_line(),
           std::string(what) + " = " + text::shortest(value) + ": must be > 0 " + unit + " (" + where + ")");
    }
    return value;
  }
  double within(const char* what, double value, double least, double most, const char* unit, const std::string& where) {
    if (!(value >= least && value <= most)) {
      fail(tokens_.token_line(), std::string(what) + " = " + text::shortest(value) + ": must be within " +
                                     text::shortest(least) + " to " + text::shortest(most) + " " + unit + " (" + where +
                                     ")");
    }
    return value;
  }

  void read_block() {
    const int at = tokens_.token_line();
    const std::size_t points = count("POINTS count", "the POINTS block at line " + std::to_string(at),
                                     "inside the POINTS block at line " + std::to_string(at), 0);
    file_.blocks.push_back(points);
    for (std::size_t n = 1; n <= points; ++n) read_point(n, points, at);
  }

  void read_point(std::size_t n, std::size_t points, int block_line) {
    const std::string where = "point " + std::to_string(n) + " of the POINTS block at line " +
                              std::to_string(block_line) +
                              (n > 1 ? "; if this is no point's header, an nt1, nt2 or nt3 before it is wrong" : "");
    const std::string ends = "inside the header of point " + std::to_string(n) + " of the " + std::to_string(points) +
                             " the POINTS block at line " + std::to_string(block_line) + " counts";
    FilePoint p;
    Point& x = p.where;
    x.lon = within("lon", number("lon", where, ends), -360, 360, "degrees", where);
    x.lat = within("lat", number("lat", where, ends), -90, 90, "degrees", where);
    x.dep = number("dep", where, ends);
    x.stk = number("stk", where, ends);
    x.dip = within("dip", number("dip", where, ends), 0, 90, "degrees", where);
    x.area = positive("area", number("area", where, ends), "cm^2", where) * 1e-4;
    x.tinit = number("tinit", where, ends);
    p.dt = number("dt", where, ends);
    const int dt_line = tokens_.token_line();
    double vs = 0, den = 0;
    if (file_.version == Version::k2) {
      vs = number("vs", where, ends);
      den = number("den", where, ends);
    }
    const int vs_line = tokens_.token_line();
    x.rake = number("rake", where, ends);
    std::size_t nt[3] = {0, 0, 0};
    for (int k = 0; k < 3; ++k) {
      const std::string slip = "slip" + std::to_string(k + 1);
      p.slip[k] = number(slip, where, ends) / 100;
      nt[k] = count("nt" + std::to_string(k + 1), where, ends, 0);
    }
    const std::size_t samples = nt[0] + nt[1] + nt[2];
    if (samples > 0 && !(p.dt > 0)) {
      fail(dt_line,
           "dt = " + text::shortest(p.dt) + ": must be > 0 s for a point with slip-rate samples (" + where + ")");
    }
    const std::string of =
        " of point " + std::to_string(n) + " of the POINTS block at line " + std::to_string(block_line);
    bool slips = false;
    for (int k = 0; k < 3; ++k) {
      for (std::size_t i = 0; i < nt[k]; ++i) {
        const std::string sample = "slip-rate sample " + std::to_string(i + 1) + " of sr" + std::to_string(k + 1);
        const double rate = number("sample", sample + of, "after " + sample + of + " began") / 100;
        slips = slips || rate != 0;
        p.rates[k].push_back(rate);
      }
    }
    if (file_.version == Version::k2) {
      if (slips && !(vs > 0 && den > 0)) {
        fail(vs_line, "vs = " + text::shortest(vs) + ", den = " + text::shortest(den) +
                          ": must be > 0 (cm/s, g/cm^3) for a point that slips (" + where + ")");
      }
      x.vs = vs / 100;
      x.den = den * 1000;
    } else {
      x.vs = x.den = 0;
    }
    file_.points.push_back(std::move(p));
  }

  Tokens tokens_;
  std::string name_;
  File file_;
};

}  // namespace

File read_srf(std::string_view text, const std::string& name) { return SrfReader(text, name).read(); }

}  // namespace slipvel::srf

namespace slipvel::srf {

std::vector<Problem> implausible_values(const Point& where) {
  std::vector<Problem> found;
  if (where.vs > 0 && !(where.vs >= 100 && where.vs <= 10000)) {
    found.push_back({"vs", "vs = " + text::shortest(where.vs) +
                               " m/s: outside 100 to 10000 m/s, the shear-wave speeds of rock (a speed in km/s?)"});
  }
  if (where.den > 0 && !(where.den >= 1000 && where.den <= 5000)) {
    found.push_back({"den", "den = " + text::shortest(where.den) +
                                " kg/m^3: outside 1000 to 5000 kg/m^3, the densities of rock (a density in g/cm^3?)"});
  }
  if (where.dep > 700) {
    found.push_back({"dep", "dep = " + text::shortest(where.dep) +
                                " km: deeper than 700 km, below every earthquake (a depth in m?)"});
  }
  return found;
}

std::optional<Problem> implausible_rupture_velocity(double vr, double vs) {
  if (!(vs > 0) || !(vr * 1000 > vs)) return std::nullopt;
  // sqrt(3) vs: the P-wave speed of a Poisson solid.
  if (vr * 1000 > 1.7320508075688772 * vs) {
    return Problem{"vr", "vr = " + text::shortest(vr) + " km/s: faster than the P wave (about sqrt(3) * vs = " +
                             text::shortest(1.7320508075688772 * vs) +
                             " m/s) where the front runs (a rupture "
                             "velocity in m/s?)"};
  }
  return Problem{"vr", "vr = " + text::shortest(vr) + " km/s: faster than the shear-wave speed vs = " +
                           text::shortest(vs) + " m/s where the front runs (a rupture velocity in m/s?)"};
}

}  // namespace slipvel::srf
