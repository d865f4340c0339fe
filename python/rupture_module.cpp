// slipvel.build_rupture, slipvel.Rupture and the files of ruptures: the
// rupture library's one entry point and its writers and readers, with the
// programs' output checks and atomic files, so that Python refuses what the
// programs refuse and writes the same bytes.
#include <pybind11/eval.h>
#include <pybind11/stl.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <thread>

#include "module.hpp"

#include <slipvel/moment.hpp>
#include <slipvel/moment_rate.hpp>
#include <slipvel/planes.hpp>
#include <slipvel/points.hpp>
#include <slipvel/srf.hpp>
#include <slipvel/table.hpp>

#ifdef SLIPVEL_WITH_RUPTURE
#include <slipvel/rupture.hpp>
#endif

#include "common/atomic_file.hpp"
#include "common/outputs.hpp"

namespace slipvel::python {
namespace {

using apps::NamedPath;

// What a refused argument is, for messages: "int 1", "list [1, 0, 1]".
std::string shown_value(const py::handle& value) {
  std::string text = py::repr(value);
  if (text.size() > 40) text = text.substr(0, 37) + "...";
  return std::string(py::str(value.get_type().attr("__name__"))) + " " + text;
}

[[noreturn]] void refuse_type(const std::string& keyword, const std::string& forms, const py::handle& value) {
  throw py::type_error(keyword + " must be " + forms + ", not " + shown_value(value));
}

[[noreturn]] void refuse(const std::string& field, std::string text) {
  throw ParameterError(Problem{field, std::move(text)});
}

// A keyword's str, or nothing for None: TypeError for another kind.
std::optional<std::string> text_of(const std::string& keyword, const py::object& value, const std::string& forms) {
  if (value.is_none()) return std::nullopt;
  if (!py::isinstance<py::str>(value)) refuse_type(keyword, forms, value);
  return value.cast<std::string>();
}

// A keyword's bool, or nothing for None: TypeError for another kind.
std::optional<bool> flag_of(const std::string& keyword, const py::object& value) {
  if (value.is_none()) return std::nullopt;
  if (!PyBool_Check(value.ptr())) refuse_type(keyword, "a bool", value);
  return value.cast<bool>();
}

// An int, or a numpy integer, as `keyword` takes it (TypeError for another kind).
py::int_ integer_argument(const std::string& keyword, const py::object& value, const std::string& forms) {
  const bool integer = (PyLong_Check(value.ptr()) && !PyBool_Check(value.ptr())) || is_integer(value);
  if (!integer) refuse_type(keyword, forms, value);
  return py::int_(value);
}

int jobs_of(const py::object& jobs) {
  if (jobs.is_none()) return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  const py::int_ n = integer_argument("jobs", jobs, "an int or None");
  if (n < py::int_(1) || n > py::int_(4096)) {
    refuse("jobs", "jobs = " + std::string(py::str(py::object(n))) + ": must be from 1 to 4096");
  }
  return n.cast<int>();
}

// A path argument (str or os.PathLike) as the file system names it.
std::optional<std::string> path_of(const py::handle& value) {
  if (!py::isinstance<py::str>(value) && !py::hasattr(value, "__fspath__")) return std::nullopt;
  const py::object os = py::module_::import("os");
  return std::string(py::str(os.attr("fsdecode")(os.attr("fspath")(value))));
}

std::string path_argument(const std::string& keyword, const py::handle& value) {
  const std::optional<std::string> path = path_of(value);
  if (!path) refuse_type(keyword, "a path (str or os.PathLike)", value);
  if (path->empty()) refuse(keyword, keyword + ": an empty path names no file");
  return *path;
}

// Whether `value` is a path that a file would be written to directly (a
// FIFO, a device); false for anything else, which write_file then judges.
bool written_directly(const py::handle& value) {
  try {
    const std::optional<std::string> path = path_of(value);
    return path && !path->empty() && apps::written_directly(*path);
  } catch (const py::error_already_set&) {
    return false;  // the same error comes back where the path is read for writing
  }
}

std::string read_bytes(const std::string& path) {
  return py::bytes(py::module_::import("pathlib").attr("Path")(path).attr("read_bytes")());
}

// A column's values: a 1-D numpy array of numbers (a masked array's masked
// values empty fields), or a sequence of real numbers and None (an empty
// field).
std::vector<std::optional<double>> column_values(const std::string& keyword, const std::string& name,
                                                 const py::handle& values) {
  const std::string what = keyword + "[" + std::string(py::repr(py::str(name))) + "]";
  std::vector<std::optional<double>> column;
  static const py::object masked = py::module_::import("numpy").attr("ma").attr("MaskedArray");
  if (py::isinstance(values, masked)) {
    const py::array data = values.attr("data");
    if (data.ndim() != 1) refuse_type(what, "a 1-D numpy array of numbers or a list of numbers and None", values);
    return column_values(keyword, name, values.attr("tolist")());  // masked values become None
  }
  if (py::isinstance<py::array>(values)) {
    const py::array array = py::reinterpret_borrow<py::array>(values);
    const char kind = array.dtype().kind();
    if (array.ndim() != 1 || (kind != 'f' && kind != 'i' && kind != 'u')) {
      refuse_type(what, "a 1-D numpy array of numbers or a list of numbers and None", values);
    }
    const auto numbers = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(values);
    for (py::ssize_t i = 0; i < numbers.size(); ++i) column.emplace_back(numbers.at(i));
    return column;
  }
  if (!py::isinstance<py::sequence>(values) || py::isinstance<py::str>(values) || py::isinstance<py::bytes>(values)) {
    refuse_type(what, "a 1-D numpy array of numbers or a list of numbers and None", values);
  }
  for (const py::handle value : values) {
    if (value.is_none()) {
      column.emplace_back();
    } else {
      column.emplace_back(real_number(what.c_str(), value));
    }
  }
  return column;
}

// A table argument: a path, read here, or columns, a dict of column name to
// values. `path` is set for a file, for the output checks.
Table table_argument(const std::string& keyword, const py::handle& value, std::vector<NamedPath>& files) {
  if (py::isinstance<py::dict>(value)) {
    Columns columns;
    for (const auto& [name, values] : py::reinterpret_borrow<py::dict>(value)) {
      if (!py::isinstance<py::str>(name)) refuse_type(keyword + "'s keys", "column names (str)", name);
      columns.names.push_back(name.cast<std::string>());
      columns.values.push_back(column_values(keyword, columns.names.back(), values));
    }
    return Table::columns(keyword, std::move(columns));
  }
  if (!path_of(value)) refuse_type(keyword, "a path (str or os.PathLike) or a dict of columns", value);
  const std::string path = path_argument(keyword, value);
  files.push_back({keyword, path});
  return Table::text(path, read_bytes(path));
}

void refuse_lines(const std::vector<std::string>& problems, const std::string& field) {
  std::vector<Problem> found;
  for (const std::string& p : problems) found.emplace_back(field, p);
  if (!found.empty()) throw ParameterError(std::move(found));
}

// OSError for a write that failed: errno and the message (path and reason),
// as OSError(errno, text) makes them, so that callers can test e.errno.
[[noreturn]] void raise_os_error(const apps::WriteError& e) {
  if (e.error() != 0) {
    PyErr_SetObject(PyExc_OSError, py::make_tuple(e.error(), e.what()).ptr());
  } else {
    PyErr_SetString(PyExc_OSError, e.what());
  }
  throw py::error_already_set();
}

// Writes one file through the programs' checks and atomic file: refused where
// it is an input or cannot be written there (ParameterError), OSError where
// the writing fails; the file takes its name only once it is whole.
template <class Write>
void write_file(const std::string& method, const py::handle& path, const std::vector<NamedPath>& inputs,
                Write&& write) {
  const std::string target = path_argument("path", path);
  refuse_lines(apps::output_problems({{method, target}}, inputs), "path");
  try {
    py::gil_scoped_release writing;
    apps::AtomicFile file(target, apps::read_umask());
    write(file);
    file.commit();
  } catch (const apps::WriteError& e) {
    raise_os_error(e);
  }
}

// The points table back as columns: id a list of str, the rest numpy arrays.
py::dict read_points_file(const py::object& path) {
  const std::string name = path_argument("path", path);
  const std::string text = read_bytes(name);
  PointsTable table;
  {
    py::gil_scoped_release reading;
    table = read_points(Table::text(name, text), Parameters{}, srf::Version::k1);
  }
  if (!table.problems.empty()) throw ParameterError(table.problems);
  static const char* const kColumns[] = {"lon", "lat",  "dep", "stk",  "dip", "rake", "area", "tinit", "dt",
                                         "nt",  "fmax", "vm",  "slip", "tr",  "ts",   "vs",   "den"};
  auto columns = std::make_shared<std::vector<std::vector<double>>>(std::size(kColumns));
  py::list ids, lines;
  for (const PointRow& row : table.points) {
    const srf::Point& x = row.where;
    const Parameters& p = row.parameters;
    const double values[] = {x.lon,
                             x.lat,
                             x.dep,
                             x.stk,
                             x.dip,
                             x.rake,
                             x.area,
                             x.tinit,
                             p.dt,
                             static_cast<double>(p.nt),
                             p.fmax,
                             p.vm,
                             p.slip,
                             p.tr,
                             stopping_time(p),
                             x.vs > 0 ? x.vs : NAN,
                             x.den > 0 ? x.den : NAN};
    for (std::size_t c = 0; c < std::size(kColumns); ++c) (*columns)[c].push_back(values[c]);
    ids.append(row.id);
    lines.append(row.line);
  }
  py::dict result;
  result["id"] = ids;
  result["line"] = lines;
  for (std::size_t c = 0; c < std::size(kColumns); ++c) result[kColumns[c]] = read_only_view(columns, (*columns)[c]);
  return result;
}

// slipvel.Srf: an SRF file read back.
struct Srf {
  std::shared_ptr<const srf::File> file;
  py::dict points, planes;
  py::tuple samples;
  std::optional<double> moment;
};

Srf read_srf_file(const py::object& path, const py::object& rigidity) {
  const std::string name = path_argument("path", path);
  const bool given = !rigidity.is_none();
  const double mu = given ? real_number("rigidity", rigidity) : 0;
  if (given && !(std::isfinite(mu) && mu > 0)) {
    refuse("rigidity", "rigidity = " + std::string(py::repr(rigidity)) + ": must be finite and greater than 0 Pa");
  }
  const std::string text = read_bytes(name);
  std::shared_ptr<srf::File> file;
  {
    py::gil_scoped_release reading;
    file = std::make_shared<srf::File>(srf::read_srf(text, name));
  }
  Srf result;
  result.file = file;
  const bool v2 = file->version == srf::Version::k2;
  static const char* const kPoint[] = {"lon",   "lat", "dep", "stk", "dip",   "rake",  "area",
                                       "tinit", "dt",  "vs",  "den", "slip1", "slip2", "slip3"};
  auto columns = std::make_shared<std::vector<std::vector<double>>>(std::size(kPoint));
  double moment = 0;
  for (const srf::FilePoint& p : file->points) {
    const srf::Point& x = p.where;
    const double values[] = {
        x.lon,     x.lat,     x.dep,    x.stk, x.dip, x.rake, x.area, x.tinit, p.dt, v2 ? x.vs : NAN, v2 ? x.den : NAN,
        p.slip[0], p.slip[1], p.slip[2]};
    for (std::size_t c = 0; c < std::size(kPoint); ++c) (*columns)[c].push_back(values[c]);
    const double slip = std::sqrt(p.slip[0] * p.slip[0] + p.slip[1] * p.slip[1] + p.slip[2] * p.slip[2]);
    moment += (v2 ? x.den * (x.vs * x.vs) : mu) * x.area * slip;
  }
  for (std::size_t c = 0; c < std::size(kPoint); ++c) result.points[kPoint[c]] = read_only_view(columns, (*columns)[c]);
  py::list rates[3];
  for (const srf::FilePoint& p : file->points) {
    for (int k = 0; k < 3; ++k) rates[k].append(read_only_view(file, p.rates[k]));
  }
  result.samples = py::make_tuple(rates[0], rates[1], rates[2]);
  static const char* const kPlane[] = {"elon", "elat", "nstk", "ndip", "len", "wid",
                                       "stk",  "dip",  "dtop", "shyp", "dhyp"};
  auto planes = std::make_shared<std::vector<std::vector<double>>>(std::size(kPlane));
  for (const srf::Plane& q : file->planes) {
    const double values[] = {
        q.elon, q.elat, static_cast<double>(q.nstk), static_cast<double>(q.ndip), q.len, q.wid, q.stk, q.dip, q.dtop,
        q.shyp, q.dhyp};
    for (std::size_t c = 0; c < std::size(kPlane); ++c) (*planes)[c].push_back(values[c]);
  }
  if (!file->planes.empty()) {
    for (std::size_t c = 0; c < std::size(kPlane); ++c) result.planes[kPlane[c]] = read_only_view(planes, (*planes)[c]);
  }
  if (v2 || given) result.moment = moment;
  return result;
}

// The moment-rate file back as (times, rates) arrays.
py::tuple read_moment_rate_file(const py::object& path) {
  const std::string name = path_argument("path", path);
  const std::string text = read_bytes(name);
  std::shared_ptr<MomentRateFile> file;
  {
    py::gil_scoped_release reading;
    file = std::make_shared<MomentRateFile>(read_moment_rate(text, name));
  }
  return py::make_tuple(read_only_view(file, file->times), read_only_view(file, file->rates));
}

// The planes table back as columns, read-only float64 arrays.
py::dict read_planes_file(const py::object& path) {
  const std::string name = path_argument("path", path);
  const std::string text = read_bytes(name);
  PlanesTable table;
  {
    py::gil_scoped_release reading;
    table = read_planes(Table::text(name, text), srf::Version::k1);
  }
  if (!table.problems.empty()) throw ParameterError(table.problems);
  static const char* const kPlane[] = {"elon", "elat", "nstk", "ndip", "len", "wid",
                                       "stk",  "dip",  "dtop", "shyp", "dhyp"};
  auto columns = std::make_shared<std::vector<std::vector<double>>>(std::size(kPlane));
  for (const srf::Plane& q : table.planes) {
    const double values[] = {
        q.elon, q.elat, static_cast<double>(q.nstk), static_cast<double>(q.ndip), q.len, q.wid, q.stk, q.dip, q.dtop,
        q.shyp, q.dhyp};
    for (std::size_t c = 0; c < std::size(kPlane); ++c) (*columns)[c].push_back(values[c]);
  }
  py::dict result;
  for (std::size_t c = 0; c < std::size(kPlane); ++c) result[kPlane[c]] = read_only_view(columns, (*columns)[c]);
  return result;
}

// The checks of a file about to be written as the programs write theirs:
// an output that is an input, a missing folder, a folder, a loop of links;
// with `regular_only`, anything but a regular file or a new one (a FIFO, a
// device). Refuses with ParameterError; touches nothing.
std::string checked_output(const py::object& path, const py::object& inputs, bool regular_only) {
  const std::string target = path_argument("path", path);
  std::vector<NamedPath> read;
  for (const py::handle input : inputs) read.push_back({"", path_argument("inputs", input)});
  refuse_lines(apps::output_problems({{"path", target}}, read), "path");
  if (regular_only && apps::written_directly(target)) {
    refuse("path", "path " + target + ": not a regular file (a FIFO, a device or a socket): give a file to replace");
  }
  return target;
}

// A whole file written so: checked first, then made under a temporary name
// and renamed.
void write_file_atomically(const py::object& path, const py::bytes& data, const py::object& inputs, bool regular_only) {
  const std::string target = checked_output(path, inputs, regular_only);
  const std::string bytes = data;
  try {
    py::gil_scoped_release writing;
    apps::write_atomically(target, bytes, apps::read_umask());
  } catch (const apps::WriteError& e) {
    raise_os_error(e);
  }
}

void define_srf(py::module_& m) {
  m.def("read_moment_rate", &read_moment_rate_file, py::arg("path"),
        "Reads a moment-rate file (what --moment-rate and Rupture.write_moment_rate write) back as (times s, "
        "rates N*m/s), two read-only float64 arrays. Raises ParameterError naming the line, the value and the rule.");
  m.def("write_atomically", &write_file_atomically, py::arg("path"), py::arg("data"), py::kw_only(),
        py::arg("inputs") = py::tuple(), py::arg("regular_only") = false,
        R"(Writes `data` (bytes) to `path` as the programs write their files: refused (ParameterError) where the
path is one of `inputs`, its folder is missing, it is a folder or a loop of links, or with regular_only=True
anything but a regular file (a FIFO, a device); else written under a temporary name in the same folder and renamed
over it, so a reader sees the old file or the whole new one. A link is followed. OSError when writing fails.)");
  m.def(
      "check_output",
      [](const py::object& path, const py::object& inputs, bool regular_only) {
        checked_output(path, inputs, regular_only);
      },
      py::arg("path"), py::kw_only(), py::arg("inputs") = py::tuple(), py::arg("regular_only") = false,
      R"(Makes the checks write_atomically makes before it writes, alone: raises the same ParameterError, and
touches nothing, so that a tool can refuse an output before it computes what goes there.)");
  py::class_<Srf> srf(m, "Srf", "An SRF file read back by slipvel.read_srf, in SI units.");
  refusing_bare_new(srf, "slipvel.read_srf")
      .def_property_readonly(
          "version", [](const Srf& s) { return s.file->version == srf::Version::k2 ? "2.0" : "1.0"; },
          "The file's version, '1.0' or '2.0'")
      .def_readonly("points", &Srf::points,
                    "The points by column, a dict of read-only float64 arrays in file order: lon, lat (degrees), dep "
                    "(km), stk, dip, rake (degrees), area (m^2), tinit (s), dt (s), vs (m/s) and den (kg/m^3; NaN in "
                    "1.0), slip1, slip2, slip3 (m)")
      .def_readonly("samples", &Srf::samples,
                    "(sr1, sr2, sr3): for each slip direction a list with one read-only array of slip-rate samples "
                    "(m/s) per point")
      .def_readonly("planes", &Srf::planes,
                    "The PLANE block by column (elon, elat, nstk, ndip, len, wid, stk, dip, dtop, shyp, dhyp), "
                    "empty without one")
      .def_property_readonly(
          "blocks", [](const Srf& s) { return s.file->blocks; }, "The number of points of each POINTS block")
      .def_readonly("moment", &Srf::moment,
                    "M0 = sum of rigidity * area * slip (N*m): rigidity den*vs^2 in 2.0, or the rigidity given; "
                    "None for 1.0 without one")
      .def_property_readonly(
          "magnitude",
          [](const Srf& s) -> py::object {
            if (!s.moment) return py::none();
            return py::float_(moment_magnitude(*s.moment));
          },
          "Mw = (2/3)*(log10(M0) - 9.1), or None without a moment")
      .def("__len__", [](const Srf& s) { return s.file->points.size(); });
  m.def("read_srf", &read_srf_file, py::arg("path"), py::arg("rigidity") = py::none(),
        R"(Reads an SRF 1.0 or 2.0 file from any writer (several planes, one or none; free spacing; wrapped sample
lines; slip2 and slip3) and returns an Srf.

rigidity  mu (Pa) for the moment of a 1.0 file, which carries none; None: no moment

Raises ParameterError naming the line, the value and the rule for a file that breaks the format, OSError when it
cannot be read.)");
  m.def("read_points", &read_points_file, py::arg("path"),
        R"(Reads a points table (what slipvel-rupture --points and Rupture.write_points write) back into columns: a
dict of id (a list of str) and read-only float64 arrays lon, lat, dep, stk, dip, rake, area, tinit, dt, nt, fmax,
vm, slip, tr, ts, vs, den (NaN where not given), and line (a list of int: each row's line in the table). Raises
ParameterError naming the line, the value and the rule.)");
  m.def("read_planes", &read_planes_file, py::arg("path"),
        R"(Reads a planes table (what slipvel-rupture --planes and Rupture.write_planes write) back into columns: a
dict of read-only float64 arrays elon, elat, nstk, ndip, len, wid, stk, dip, dtop, shyp, dhyp, one value a segment.
Raises ParameterError naming the line, the value and the rule.)");
}

#ifdef SLIPVEL_WITH_RUPTURE

// A rupture with what the build said and where its tables came from.
struct Rupture {
  std::shared_ptr<const rupture::Rupture> built;
  std::vector<std::string> notes;
  std::vector<NamedPath> inputs;  // the tables read from files: no output may replace one
  py::dict points;
};

// slipvel.RuptureWarning, made when the module is imported.
py::handle rupture_warning;

rupture::HypocentreGiven hypocentre_of(const py::object& hypocentre, const py::object& hypocentre_at) {
  const bool on_segment = !hypocentre.is_none(), by_position = !hypocentre_at.is_none();
  if (on_segment == by_position) {
    refuse("hypocentre", "give hypocentre (\"SEG:S:D\") or hypocentre_at ((lon, lat, dep)), one of them");
  }
  if (on_segment) {
    if (!py::isinstance<py::str>(hypocentre)) {
      refuse_type("hypocentre", "a str \"SEG:S:D\" (segment number from 1, s and d in km)", hypocentre);
    }
    auto parsed = rupture::parse_on_segment(hypocentre.cast<std::string>(), "hypocentre", OptionSpelling::kKeyword);
    if (const auto* d = std::get_if<Diagnostic>(&parsed)) throw ParameterError(std::vector<Diagnostic>{*d});
    return std::get<rupture::OnSegment>(parsed);
  }
  const bool sequence = py::isinstance<py::sequence>(hypocentre_at) && !py::isinstance<py::str>(hypocentre_at) &&
                        !py::isinstance<py::bytes>(hypocentre_at);
  if (!sequence || py::len(hypocentre_at) != 3) {
    refuse_type("hypocentre_at", "(lon, lat, dep), three real numbers (degrees, degrees, km)", hypocentre_at);
  }
  double values[3];
  int i = 0;
  for (const py::handle value : hypocentre_at) values[i++] = real_number("hypocentre_at", value);
  return rupture::NearestTo{values[0], values[1], values[2]};
}

rupture::RuptureVelocity velocity_of(const py::object& vr, const py::object& vr_fraction) {
  if (vr.is_none() == vr_fraction.is_none()) {
    refuse("vr", "give vr (km/s) or vr_fraction (of the local vs), one of them");
  }
  if (!vr.is_none()) return rupture::UniformSpeed{real_number("vr", vr)};
  return rupture::FractionOfVs{real_number("vr_fraction", vr_fraction)};
}

// A whole number of a range, as `keyword` takes it: TypeError for another
// kind, ParameterError beyond the range.
std::uint64_t whole_number(const std::string& keyword, const py::object& value, std::uint64_t most,
                           const std::string& range) {
  const py::int_ number = integer_argument(keyword, value, "an int");
  if (number < py::int_(0) || number > py::int_(most)) {
    refuse(keyword, keyword + " = " + std::string(py::str(value)) + ": must be a whole number from 0 to " + range);
  }
  return number.cast<std::uint64_t>();
}

// Two or three real numbers, as `keyword` takes them.
std::vector<double> real_numbers(const std::string& keyword, const py::object& value, std::size_t count,
                                 const char* form) {
  const bool sequence =
      py::isinstance<py::sequence>(value) && !py::isinstance<py::str>(value) && !py::isinstance<py::bytes>(value);
  if (!sequence || py::len(value) != count) refuse_type(keyword, form, value);
  std::vector<double> numbers;
  for (const py::handle item : value) numbers.push_back(real_number(keyword.c_str(), item));
  return numbers;
}

// The keywords of a stochastic rupture, which need stochastic=True.
struct StochasticKeywords {
  py::object stochastic, seed, realisation, correlation, hurst, slip_cv, taper, shallow, rise_time, vr_slip, slip_floor,
      rake_sigma, random_hypocentre;
};

std::optional<rupture::Stochastic> stochastic_of(const StochasticKeywords& k) {
  const std::pair<const char*, const py::object*> given[] = {{"seed", &k.seed},
                                                             {"realisation", &k.realisation},
                                                             {"correlation", &k.correlation},
                                                             {"hurst", &k.hurst},
                                                             {"slip_cv", &k.slip_cv},
                                                             {"taper", &k.taper},
                                                             {"shallow", &k.shallow},
                                                             {"rise_time", &k.rise_time},
                                                             {"vr_slip", &k.vr_slip},
                                                             {"slip_floor", &k.slip_floor},
                                                             {"rake_sigma", &k.rake_sigma},
                                                             {"random_hypocentre", &k.random_hypocentre}};
  if (!PyBool_Check(k.stochastic.ptr())) refuse_type("stochastic", "a bool", k.stochastic);
  if (!k.stochastic.cast<bool>()) {
    for (const auto& [name, value] : given) {
      if (!value->is_none()) refuse(name, std::string(name) + ": needs stochastic=True (a heterogeneous rupture)");
    }
    return std::nullopt;
  }
  rupture::Stochastic s;
  if (!k.seed.is_none()) s.seed = whole_number("seed", k.seed, (std::uint64_t{1} << 63) - 1, "2^63-1");
  if (!k.realisation.is_none()) {
    s.realisation = whole_number("realisation", k.realisation, (std::uint64_t{1} << 31) - 1, "2^31-1");
  }
  if (!k.correlation.is_none()) {
    const std::vector<double> v = real_numbers("correlation", k.correlation, 2, "(ax, az), two lengths (km)");
    s.correlation = std::pair{v[0], v[1]};
  }
  if (!k.taper.is_none()) {
    const std::vector<double> v = real_numbers("taper", k.taper, 2, "(along, down), two fractions");
    s.taper_along = v[0], s.taper_down = v[1];
  }
  if (!k.shallow.is_none()) {
    const std::vector<double> v =
        real_numbers("shallow", k.shallow, 3, "(depth, vr, tr), a depth (km) and two factors");
    s.shallow_depth = v[0], s.shallow_vr = v[1], s.shallow_tr = v[2];
  }
  const std::pair<const char*, double*> numbers[] = {{"hurst", &s.hurst},
                                                     {"slip_cv", &s.slip_cv},
                                                     {"vr_slip", &s.vr_slip},
                                                     {"slip_floor", &s.slip_floor},
                                                     {"rake_sigma", &s.rake_sigma}};
  for (const auto& [name, field] : numbers) {
    for (const auto& [keyword, value] : given) {
      if (std::string(keyword) == name && !value->is_none()) *field = real_number(name, *value);
    }
  }
  if (!k.rise_time.is_none()) s.rise_time = real_number("rise_time", k.rise_time);
  return s;
}

// build_rupture's arguments as help() shows them.
using TableArgumentType = Given<"Union[str, os.PathLike, Dict[str, Sequence[Optional[float]]]]">;
using OptionalTable = Given<"Optional[Union[str, os.PathLike, Dict[str, Sequence[Optional[float]]]]]">;
using OptionalFloat = Given<"Optional[float]">;

// The tables of a fault: segments, or a trace with its faults; patches and a medium.
struct FaultTables {
  const OptionalTable &segments, &trace, &faults, &patches, &medium;
};

rupture::Inputs inputs_of(const FaultTables& t, std::vector<NamedPath>& read) {
  const bool by_segments = !t.segments.object.is_none(), by_trace = !t.trace.object.is_none();
  if (by_segments == by_trace) {
    refuse("segments", "give segments, or trace with faults: one of them");
  }
  if (by_trace != !t.faults.object.is_none()) {
    refuse(by_trace ? "faults" : "trace", "give trace and faults together: the faults' vertices and their rows");
  }
  rupture::Inputs inputs = by_segments ? rupture::Inputs(table_argument("segments", t.segments, read))
                                       : rupture::Inputs(rupture::Traces{table_argument("trace", t.trace, read),
                                                                         table_argument("faults", t.faults, read)});
  if (!t.patches.object.is_none()) inputs.patches = table_argument("patches", t.patches, read);
  if (!t.medium.object.is_none()) inputs.medium = table_argument("medium", t.medium, read);
  return inputs;
}

Rupture build_rupture(const FaultTables& tables, const Given<"Optional[str]">& hypocentre, const OptionalFloat& vr,
                      const RealArgument& dt, const CountArgument& nt, const RealArgument& fmax,
                      const RealArgument& rigidity, const OptionalFloat& vr_fraction, const OptionalFloat& mw,
                      const Given<"Optional[Tuple[float, float, float]]">& hypocentre_at,
                      const Given<"Optional[int]">& jobs, const StochasticKeywords& heterogeneity,
                      const Given<"Optional[str]">& mw_scales_given, const OptionalFloat& hypocentre_tolerance,
                      const RealArgument& max_strike_drift) {
  const std::optional<rupture::Stochastic> stochastic = stochastic_of(heterogeneity);
  const bool random = !heterogeneity.random_hypocentre.is_none();
  if (random && !PyBool_Check(heterogeneity.random_hypocentre.ptr())) {
    refuse_type("random_hypocentre", "a bool", heterogeneity.random_hypocentre);
  }
  const bool drawn = random && heterogeneity.random_hypocentre.cast<bool>();
  if (drawn && (!hypocentre.object.is_none() || !hypocentre_at.object.is_none())) {
    refuse("random_hypocentre", "random_hypocentre=True excludes hypocentre and hypocentre_at");
  }
  rupture::Options options(
      drawn ? rupture::HypocentreGiven(rupture::RandomPlace{}) : hypocentre_of(hypocentre, hypocentre_at),
      velocity_of(vr, vr_fraction));
  options.stochastic = stochastic;
  options.sampling.dt = real_number("dt", dt);
  options.sampling.nt = sample_count(nt);
  options.sampling.fmax = real_number("fmax", fmax);
  options.rigidity = real_number("rigidity", rigidity);
  if (!mw.object.is_none()) options.mw = real_number("mw", mw);
  options.spelling = OptionSpelling::kKeyword;
  options.jobs = jobs_of(jobs);
  const std::optional<std::string> mw_scales_text =
      text_of("mw_scales", mw_scales_given, "a str, \"slip-and-vm\" or \"slip\", or None");
  if (mw_scales_text && mw.object.is_none()) refuse("mw_scales", "mw_scales: needs mw (what it scales to)");
  const std::string mw_scales = mw_scales_text.value_or("slip-and-vm");
  options.stop = python_signals();
  if (mw_scales != "slip-and-vm" && mw_scales != "slip") {
    refuse("mw_scales", "mw_scales = " + mw_scales + ": must be slip-and-vm (keeping vm*tr/slip) or slip");
  }
  options.mw_scales = mw_scales == "slip" ? rupture::MagnitudeScales::kSlip : rupture::MagnitudeScales::kSlipAndVm;
  if (!hypocentre_tolerance.object.is_none()) {
    options.hypocentre_tolerance = real_number("hypocentre_tolerance", hypocentre_tolerance);
    if (hypocentre_at.object.is_none()) {
      refuse("hypocentre_tolerance", "hypocentre_tolerance: needs hypocentre_at (how far it may lie from the fault)");
    }
  }
  options.max_strike_drift = real_number("max_strike_drift", max_strike_drift);
  Rupture made;
  const rupture::Inputs inputs = inputs_of(tables, made.inputs);
  refuse_lines(apps::input_problems(made.inputs), "");
  rupture::Built built;
  {
    py::gil_scoped_release computing;
    built = rupture::build(inputs, options);
  }
  if (has_errors(built.diagnostics)) {
    std::vector<Diagnostic> errors;
    for (const Diagnostic& d : built.diagnostics) {
      if (d.severity == Severity::kError) errors.push_back(d);
    }
    throw ParameterError(std::move(errors));
  }
  for (const Diagnostic& d : built.diagnostics) {
    if (d.severity == Severity::kWarning) warn(rupture_warning, rendered(d));
    if (d.severity == Severity::kNote) made.notes.push_back(rendered(d));
  }
  made.built = built.rupture;
  return made;
}

// The points by column: position, orientation, area, rupture time, medium
// and source, each a read-only float64 array in file order.
py::dict points_of(Rupture& r) {
  if (!r.points.empty()) return r.points;
  static const char* const kColumns[] = {"lon", "lat",  "dep", "stk", "dip", "rake",    "area", "tinit", "vs",
                                         "den", "slip", "vm",  "tr",  "ts",  "segment", "i",    "j"};
  constexpr std::size_t kCount = std::size(kColumns);
  const rupture::Rupture& built = *r.built;
  auto columns = std::make_shared<std::vector<std::vector<double>>>(kCount, std::vector<double>(built.size()));
  {
    py::gil_scoped_release computing;
    for (std::size_t n = 0; n < built.size(); ++n) {
      const srf::PointSource p = built.point_source(n);
      const rupture::Subfault f = built.subfault(n);
      const srf::Point& x = p.where;
      const double values[kCount] = {x.lon,
                                     x.lat,
                                     x.dep,
                                     x.stk,
                                     x.dip,
                                     x.rake,
                                     x.area,
                                     x.tinit,
                                     x.vs,
                                     x.den,
                                     srf::whole_slip(p),
                                     p.parameters.vm,
                                     p.parameters.tr,
                                     *p.parameters.ts,
                                     static_cast<double>(f.segment + 1),
                                     static_cast<double>(f.i),
                                     static_cast<double>(f.j)};
      for (std::size_t c = 0; c < kCount; ++c) (*columns)[c][n] = values[c];
    }
  }
  for (std::size_t c = 0; c < kCount; ++c) r.points[kColumns[c]] = read_only_view(columns, (*columns)[c]);
  return r.points;
}

// "1.0", "1", 1, 1.0 and the same for 2.0, as the program's --srf-version.
srf::Version version_of(const py::object& version) {
  const bool number = (PyLong_Check(version.ptr()) || PyFloat_Check(version.ptr())) && !PyBool_Check(version.ptr());
  if (!py::isinstance<py::str>(version) && !number)
    refuse_type("version", "\"1.0\" or \"2.0\" (a str or a number)", version);
  const std::string text = py::str(version);
  if (text == "1" || text == "1.0") return srf::Version::k1;
  if (text == "2" || text == "2.0") return srf::Version::k2;
  refuse("version", "version = " + text + ": must be 1.0 or 2.0, the SRF versions");
}

srf::Blocks blocks_of(const std::string& blocks) {
  if (blocks == "per-plane") return srf::Blocks::kPerPlane;
  if (blocks != "one") {
    refuse("blocks", "blocks = " + blocks + ": must be per-plane (one block per plane in a 2.0 file) or one");
  }
  return srf::Blocks::kOne;
}

// The layout write_srf's keywords ask for: a code's own (for_code), or
// blocks and plane by hand, never both, as the programs' --srf-for.
srf::Layout layout_of(const py::object& version, const py::object& for_code_given, const py::object& blocks_given,
                      const py::object& plane_given) {
  const srf::Version v = version_of(version);
  const std::optional<std::string> for_code =
      text_of("for_code", for_code_given, "a str, \"sw4\", \"seissol\" or \"generic\", or None");
  const std::optional<std::string> blocks = text_of("blocks", blocks_given, "a str, \"per-plane\" or \"one\", or None");
  const std::optional<bool> plane = flag_of("plane", plane_given);
  if (!for_code) return {v, blocks_of(blocks.value_or("per-plane")), plane.value_or(true)};
  if (blocks || plane) {
    refuse(blocks ? "blocks" : "plane", std::string(blocks ? "blocks" : "plane") + " and for_code = " + *for_code +
                                            ": for_code sets the blocks and the PLANE block; give one or the other");
  }
  if (*for_code == "sw4") return srf::layout_for(srf::Reader::kSw4, v);
  if (*for_code == "seissol") return srf::layout_for(srf::Reader::kSeisSol, v);
  if (*for_code == "generic") return srf::layout_for(srf::Reader::kGeneric, v);
  refuse("for_code", "for_code = " + *for_code +
                         ": must be sw4 (the PLANE block and one POINTS block), seissol (no PLANE block, one POINTS "
                         "block) or generic (a block per plane in 2.0)");
}

void write_srf(const Rupture& r, const Given<"Union[str, os.PathLike]">& path,
               const Given<"Union[str, float]">& version, const Given<"Optional[str]">& for_code,
               const Given<"Optional[str]">& blocks, const Given<"Optional[bool]">& plane,
               const Given<"Optional[int]">& jobs) {
  const srf::Layout layout = layout_of(version, for_code, blocks, plane);
  const int threads = jobs_of(jobs);
  // Each subfault's fields are checked while the staged file is written;
  // where the fault alone has a problem or a warning (issued only once
  // nothing is refused), or the file is written directly (a FIFO keeps what
  // it is sent), every one is found first.
  const bool direct = written_directly(path);
  std::vector<Diagnostic> problems;
  {
    py::gil_scoped_release checking;
    problems = rupture::srf_fault_problems(*r.built, layout);
    if (!problems.empty() || direct) problems = rupture::srf_problems(*r.built, layout, threads);
  }
  if (has_errors(problems)) throw ParameterError(rupture::errors_of(std::move(problems)));
  for (const Diagnostic& d : problems) warn(rupture_warning, rendered(d));
  write_file("write_srf", path, r.inputs, [&](Sink& sink) {
    rupture::write_srf(*r.built, layout, sink, {threads, {}, python_signals()});
  });
}

void write_points(const Rupture& r, const Given<"Union[str, os.PathLike]">& path, const Given<"Optional[int]">& jobs) {
  const int threads = jobs_of(jobs);
  write_file("write_points", path, r.inputs, [&](Sink& sink) { rupture::write_points(*r.built, sink, threads); });
}

void write_planes(const Rupture& r, const Given<"Union[str, os.PathLike]">& path) {
  write_file("write_planes", path, r.inputs, [&](Sink& sink) { rupture::write_planes(*r.built, sink); });
}

void write_moment_rate(const Rupture& r, const Given<"Union[str, os.PathLike]">& path,
                       const Given<"Optional[int]">& jobs) {
  const int threads = jobs_of(jobs);
  std::vector<Diagnostic> problems = rupture::moment_rate_problems(*r.built);
  if (!problems.empty()) throw ParameterError(std::move(problems));
  write_file("write_moment_rate", path, r.inputs,
             [&](Sink& sink) { rupture::write_moment_rate(*r.built, sink, threads); });
}

py::object start_of(const Rupture& r) {
  static const py::object kind =
      py::module_::import("collections").attr("namedtuple")("Hypocentre", "segment s d lon lat dep");
  const rupture::Start& h = r.built->hypocentre();
  return kind(h.segment + 1, h.s, h.d, h.lon, h.lat, h.dep);
}

void define_rupture_warning(py::module_& m) {
  rupture_warning = define_warning(
      m, "RuptureWarning",
      "A rupture's value that keeps every rule but is likely a mistake (a unit mixed up, segments that cross or "
      "leave a gap, a patch that changes nothing): the rupture is made all the same.");
}

void define_rupture_class(py::module_& m) {
  py::class_<Rupture> rupture(m, "Rupture",
                              "A kinematic rupture laid out from a fault's tables (see build_rupture): its subfaults "
                              "as the points of an SRF file.");
  refusing_bare_new(rupture, "slipvel.build_rupture")
      .def("__reduce__",
           [](const Rupture&) -> py::tuple {
             throw py::type_error("a Rupture does not pickle: build it again from its tables with build_rupture");
           })
      .def_property_readonly("points", &points_of,
                             "The points by column, a dict of read-only float64 arrays in file order: lon, lat "
                             "(degrees), dep (km), stk, dip, rake (degrees), area (m^2), tinit (s), vs (m/s), den "
                             "(kg/m^3; 0 where not given), slip (the whole slip S(ts), m), vm (m/s), tr, ts (s), "
                             "segment (from 1), i, j.")
      .def_property_readonly(
          "moment", [](const Rupture& r) { return r.built->moment().moment(); },
          "The seismic moment M0 = sum of rigidity * area * slip (N*m)")
      .def_property_readonly(
          "magnitude", [](const Rupture& r) { return moment_magnitude(r.built->moment().moment()); },
          "The moment magnitude Mw = (2/3)*(log10(M0) - 9.1)")
      .def_property_readonly(
          "slip_factor", [](const Rupture& r) { return r.built->slip_factor(); },
          "The factor every region's slip was scaled by to reach mw (1.0 without mw)")
      .def_property_readonly("hypocentre", &start_of,
                             "Where the rupture starts: (segment from 1, s, d in km on it; lon, lat in degrees, dep "
                             "in km)")
      .def_readonly("notes", &Rupture::notes,
                    "What the build did with the input: where a hypocentre by position landed, the factor of mw")
      .def("__len__", [](const Rupture& r) { return r.built->size(); })
      .def("write_srf", &write_srf, py::arg("path"), py::arg("version") = "1.0", py::kw_only(),
           py::arg("for_code") = py::none(), py::arg("blocks") = py::none(), py::arg("plane") = py::none(),
           py::arg("jobs") = py::none(),
           R"(Writes the rupture as an SRF file at `path`, the very bytes slipvel-rupture writes, atomically.

version   "1.0" or "2.0" (2.0 needs vs and den: from the medium or every segment)
for_code  the layout a code reads whole: "sw4" (the PLANE block, one POINTS block), "seissol" (no PLANE
          block, one POINTS block) or "generic"; instead of blocks and plane
blocks    "per-plane" (the default: one POINTS block per segment in a 2.0 file) or "one"
plane     False: no PLANE block (the default True writes it)
jobs     threads that make the points' texts (None: the processors)

Raises ParameterError when a value does not fit its field in that version or the path is an input table, OSError
when the file cannot be written (the old file, if any, stays as it was). What a reader would miss or misread
(SW4 reading only the first block, 1.0 carrying no rigidity) warns with RuptureWarning.)")
      .def("write_points", &write_points, py::arg("path"), py::kw_only(), py::arg("jobs") = py::none(),
           "Writes the points table slipvel-batch --table reads, the bytes of slipvel-rupture --points, atomically. "
           "Raises ParameterError for a path that is an input table, OSError when it cannot be written.")
      .def("write_planes", &write_planes, py::arg("path"),
           "Writes the planes table slipvel-batch --planes reads, the bytes of slipvel-rupture --planes, atomically.")
      .def("write_moment_rate", &write_moment_rate, py::arg("path"), py::kw_only(), py::arg("jobs") = py::none(),
           "Writes the moment-rate function, the bytes of slipvel-rupture --moment-rate, atomically. Raises "
           "ParameterError when it would have more than 1e8 rows.");
}

py::array_t<double> slip_field_of(const RealArgument& length, const RealArgument& width,
                                  const Given<"Tuple[float, float]">& spacing,
                                  const Given<"Tuple[float, float]">& correlation, const RealArgument& hurst,
                                  const Given<"int">& seed, const Given<"int">& realisation) {
  const std::vector<double> step = real_numbers("spacing", spacing, 2, "(du, dd), two lengths (km)");
  const std::vector<double> lengths = real_numbers("correlation", correlation, 2, "(ax, az), two lengths (km)");
  const double l = real_number("length", length), w = real_number("width", width), h = real_number("hurst", hurst);
  const std::uint64_t s = whole_number("seed", seed, (std::uint64_t{1} << 63) - 1, "2^63-1");
  const std::uint64_t k = whole_number("realisation", realisation, (std::uint64_t{1} << 31) - 1, "2^31-1");
  rupture::SlipField field;
  {
    py::gil_scoped_release computing;
    field = rupture::slip_field(l, w, step[0], step[1], lengths[0], lengths[1], h, s, k);
  }
  py::array_t<double> values({static_cast<py::ssize_t>(field.nd), static_cast<py::ssize_t>(field.nu)});
  std::copy(field.values.begin(), field.values.end(), values.mutable_data());
  return values;
}

void define_build_rupture(py::module_& m) {
  m.def("slip_field", &slip_field_of, py::arg("length"), py::arg("width"), py::arg("spacing"), py::kw_only(),
        py::arg("correlation"), py::arg("hurst") = 0.75, py::arg("seed") = 1, py::arg("realisation") = 0,
        R"(Returns the random field a stochastic rupture of this seed draws its slip from, one realisation, as a
2-D array of shape (nd, nu): the zero-mean Gaussian field of unit theoretical variance with a von Karman spectrum,
at the nodes (du/2 + i*du, dd/2 + j*dd) km over a fault length by width km (the centres of its subfaults).

length, width  the fault's unfolded length along strike and width down dip (km)
spacing        (du, dd): the subfaults' length and width (km)
correlation    (ax, az): correlation lengths along strike and down dip (km)
hurst          Hurst exponent H, 0 < H <= 1
seed           0 to 2^63-1; realisation 0 to 2^31-1

Raises ParameterError naming the value and the rule.)");
  m.def(
      "build_rupture",
      [](const OptionalTable& segments, const OptionalTable& patches, const Given<"Optional[str]">& hypocentre,
         const OptionalFloat& vr, const RealArgument& dt, const CountArgument& nt, const RealArgument& fmax,
         const RealArgument& rigidity, const OptionalTable& medium, const OptionalFloat& vr_fraction,
         const OptionalFloat& mw, const Given<"Optional[Tuple[float, float, float]]">& hypocentre_at,
         const Given<"Optional[int]">& jobs, const Given<"bool">& stochastic, const Given<"Optional[int]">& seed,
         const Given<"Optional[int]">& realisation, const Given<"Optional[Tuple[float, float]]">& correlation,
         const OptionalFloat& hurst, const OptionalFloat& slip_cv, const Given<"Optional[Tuple[float, float]]">& taper,
         const Given<"Optional[Tuple[float, float, float]]">& shallow, const OptionalFloat& rise_time,
         const OptionalFloat& vr_slip, const OptionalFloat& slip_floor, const OptionalFloat& rake_sigma,
         const Given<"Optional[bool]">& random_hypocentre, const Given<"Optional[str]">& mw_scales,
         const OptionalFloat& hypocentre_tolerance, const OptionalTable& trace, const OptionalTable& faults,
         const RealArgument& max_strike_drift) {
        return build_rupture({segments, trace, faults, patches, medium}, hypocentre, vr, dt, nt, fmax, rigidity,
                             vr_fraction, mw, hypocentre_at, jobs,
                             {stochastic, seed, realisation, correlation, hurst, slip_cv, taper, shallow, rise_time,
                              vr_slip, slip_floor, rake_sigma, random_hypocentre},
                             mw_scales, hypocentre_tolerance, max_strike_drift);
      },
      py::arg("segments") = py::none(), py::arg("patches") = py::none(), py::kw_only(),
      py::arg("hypocentre") = py::none(), py::arg("vr") = py::none(), py::arg("dt") = 0.005, py::arg("nt") = 4096,
      py::arg("fmax") = 6.0, py::arg("rigidity") = kDefaultRigidity, py::arg("medium") = py::none(),
      py::arg("vr_fraction") = py::none(), py::arg("mw") = py::none(), py::arg("hypocentre_at") = py::none(),
      py::arg("jobs") = py::none(), py::arg("stochastic") = false, py::arg("seed") = py::none(),
      py::arg("realisation") = py::none(), py::arg("correlation") = py::none(), py::arg("hurst") = py::none(),
      py::arg("slip_cv") = py::none(), py::arg("taper") = py::none(), py::arg("shallow") = py::none(),
      py::arg("rise_time") = py::none(), py::arg("vr_slip") = py::none(), py::arg("slip_floor") = py::none(),
      py::arg("rake_sigma") = py::none(), py::arg("random_hypocentre") = py::none(), py::arg("mw_scales") = py::none(),
      py::arg("hypocentre_tolerance") = py::none(), py::arg("trace") = py::none(), py::arg("faults") = py::none(),
      py::arg("max_strike_drift") = 0.5,
      R"(Builds and checks a rupture from a fault's tables, as slipvel-rupture does.

segments      the segments table: a path (CSV), or columns, a dict of column name to a list (None: an empty
              field) or a numpy array; each top edge by elon, elat, stk, len or by its trace lon1, lat1, lon2, lat2
trace, faults instead of segments, faults by polyline traces: trace (fault, lon, lat: each fault's vertices in
              order, the fault dipping to the right along them) and faults (one row per fault: fault, dip, wid,
              dtop, sublen, ndip, rake, slip, vm, tr and optional ts, vs, den; sublen the subfault length along
              strike, km), each the same way; cut into segments at every vertex and wherever the geodesic's
              direction drifts more than max_strike_drift degrees [0.5] from a segment's strike
patches       the patches table, the same way, or None (on traced faults: fault instead of segment, s along
              the fault's whole trace from its first vertex)
hypocentre    "SEG:S:D": segment number from 1, s along strike from its centre, d down dip (km); with trace,
              "FAULT:S:D", s along the fault's trace from its first vertex
hypocentre_at (lon, lat, dep) in degrees and km, instead of hypocentre: the fault's nearest point
vr            rupture velocity (km/s), the same everywhere
vr_fraction   rupture velocity as a fraction of the local vs (0 < F <= sqrt(3), the P wave), instead of vr
medium        a layered medium table (depth km, vs m/s, den kg/m^3), the same way, or None
mw            scale every region's slip by one factor to reach this moment magnitude (-2 to 10), or None;
              mw_scales="slip-and-vm" (the default, None) scales vm with it, keeping each region's vm*tr/slip,
              "slip" the slips alone
hypocentre_tolerance  how far (km) hypocentre_at may lie from the fault (default: the larger of one
              subfault's diagonal and 5 km)
dt, nt, fmax  every subfault's time step (s), samples and highest frequency (Hz)
rigidity      rigidity (Pa) for the moment of segments without vs and den
jobs          threads (None: the processors)

stochastic=True makes the slip a von Karman random field, as --stochastic does; its keywords mirror the options
(defaults in brackets): seed [1], realisation [0], correlation=(ax, az) in km [from Mw], hurst [0.75],
slip_cv [0.85], taper=(along, down) [(0.2, 0.2)], shallow=(depth km, vr, tr) [(5, 0.7, 2)], rise_time s
[2.03e-9 * M0^(1/3), M0 in dyne-cm], vr_slip [0.2], slip_floor [0.05], rake_sigma degrees [0],
random_hypocentre [False]. The same arguments give the bytes slipvel-rupture writes.

Raises ParameterError with every problem (its .diagnostics name the table and line, "segments.csv:3" for a file,
"segments row 2" for columns, or the keyword), TypeError for an argument of the wrong kind, OSError when a table
cannot be read. Values likely a mistake warn with slipvel.RuptureWarning; Rupture.notes says what was done.)");
  // The realisations of one scenario, one by one: a Python generator over build_rupture.
  py::exec(R"py(
def realisations(*arguments, n, **keywords):
    """Yields realisations 0, 1, ..., n - 1 of the stochastic rupture build_rupture(*arguments, **keywords)
    makes (stochastic=True is implied), each the very rupture of realisation=k."""
    if not isinstance(n, int) or isinstance(n, bool):
        raise TypeError(f"n must be an int, not {type(n).__name__} {n!r}")
    if n < 1:
        raise ParameterError(f"n = {n}: must be at least 1")
    for own in ("realisation", "stochastic"):
        if own in keywords:
            raise TypeError(f"realisations() sets {own} itself (realisation=k for k in 0 to n - 1, stochastic=True); "
                            f"for one realisation, call build_rupture(..., stochastic=True, realisation=k)")
    keywords["stochastic"] = True
    import warnings
    for k in range(n):
        # Each warning said again at the caller's line, under the caller's filters.
        with warnings.catch_warnings(record=True) as said:
            warnings.simplefilter("always")
            rupture = build_rupture(*arguments, realisation=k, **keywords)
        for warning in said:
            warnings.warn(warning.message, warning.category, stacklevel=2)
        yield rupture
)py",
           m.attr("__dict__"));
}

#endif

}  // namespace

void define_rupture(py::module_& m) {
  define_srf(m);
#ifdef SLIPVEL_WITH_RUPTURE
  define_rupture_warning(m);
  define_rupture_class(m);
  define_build_rupture(m);
#else
  m.def(
      "build_rupture",
      [](const py::args&, const py::kwargs&) {
        throw std::runtime_error(
            "this slipvel module was built without GeographicLib (Debian: libgeographiclib-dev): build_rupture is "
            "not available");
      },
      "Not available: this module was built without GeographicLib.");
#endif
}

}  // namespace slipvel::python
