// slipvel.build_rupture and slipvel.Rupture: a rupture from a fault's tables,
// by the rupture library slipvel-rupture runs on, with the same SRF bytes.
#include <pybind11/stl.h>

#include <cmath>
#include <string>

#include "module.hpp"

#ifdef SLIPVEL_WITH_RUPTURE
#include <slipvel/moment.hpp>
#include <slipvel/rupture.hpp>
#include <slipvel/text.hpp>
#endif

namespace slipvel::python {

#ifdef SLIPVEL_WITH_RUPTURE
namespace {

// Problems of a table as the module raises them: the table's name and line
// before each text, as the program prints them.
void add_table_problems(std::vector<Problem>& to, const std::string& name,
                        const std::vector<table::TableProblem>& problems) {
  for (const table::TableProblem& p : problems) {
    to.push_back({p.field, (p.line > 0 ? name + ":" + std::to_string(p.line) : name) + ": " + p.text});
  }
}

void refuse_if_any(std::vector<Problem> problems) {
  if (!problems.empty()) throw ParameterError(std::move(problems));
}

// The whole file at `path`, a str or an os.PathLike; OSError when it cannot be read.
std::string name_of(const py::object& path) { return py::str(py::module_::import("os").attr("fspath")(path)); }

// The whole file at `path` (`what` names the argument), a str or an
// os.PathLike; OSError when it cannot be read, and an empty path names none.
std::string read_file(const char* what, const py::object& path) {
  if (name_of(path).empty()) throw ParameterError(Problem{what, std::string(what) + ": an empty path names no table"});
  return py::bytes(py::module_::import("pathlib").attr("Path")(path).attr("read_bytes")());
}

// "1.0", "1", 1, 1.0 and the same for 2.0, as the program's --srf-version.
srf::Version version_of(const py::object& version) {
  const std::string text = py::str(version);
  if (text == "1" || text == "1.0") return srf::Version::k1;
  if (text == "2" || text == "2.0") return srf::Version::k2;
  throw ParameterError(Problem{"version", "version = " + text + ": must be 1.0 or 2.0, the SRF versions"});
}

srf::Blocks blocks_of(const std::string& blocks) {
  if (blocks == "per-plane") return srf::Blocks::kPerPlane;
  if (blocks == "one") return srf::Blocks::kOne;
  throw ParameterError(
      Problem{"blocks", "blocks = " + blocks + ": must be per-plane (one block per plane in a 2.0 file) or one"});
}

// A rupture with its moment, and its points' columns made when first asked for.
struct Rupture {
  std::shared_ptr<const rupture::Rupture> layout;
  double rigidity;
  RuptureMoment moment;
  std::string segments_name, patches_name;
  py::dict points;
  double slip_factor;  // every region's slip scaled by it for a target magnitude; 1 without

  std::vector<srf::PointSource> point_sources() const {
    std::vector<srf::PointSource> all(layout->size());
    for (std::size_t n = 0; n < all.size(); ++n) all[n] = layout->point_source(n);
    return all;
  }

  // Every problem of the rupture as an SRF file of this version.
  void refuse_unusable(srf::Version version) const {
    rupture::FaultProblems problems = layout->region_problems(version);
    const rupture::FaultProblems by_point = layout->by_region(layout->point_problems(0, layout->size(), version));
    problems.segments.insert(problems.segments.end(), by_point.segments.begin(), by_point.segments.end());
    problems.patches.insert(problems.patches.end(), by_point.patches.begin(), by_point.patches.end());
    table::sort_by_line(problems.segments);
    table::sort_by_line(problems.patches);
    std::vector<Problem> found;
    add_table_problems(found, segments_name, problems.segments);
    add_table_problems(found, patches_name, problems.patches);
    refuse_if_any(std::move(found));
  }
};

// The fault's options as the program checks them: one hypocentre, one way
// of giving the rupture velocity, each in its range.
std::vector<Problem> option_problems(const py::object& hypocentre, const py::object& hypocentre_at,
                                     const std::optional<double>& vr, const std::optional<double>& vr_fraction,
                                     double rigidity) {
  std::vector<Problem> problems;
  if (hypocentre.is_none() == hypocentre_at.is_none()) {
    problems.push_back({"hypocentre", "give hypocentre (\"SEG:S:D\") or hypocentre_at ((lon, lat, dep)), one of them"});
  }
  if (vr.has_value() == vr_fraction.has_value()) {
    problems.push_back({"vr", "give vr (km/s) or vr_fraction (of the local vs), one of them"});
  } else if (vr && !(std::isfinite(*vr) && *vr > 0)) {
    problems.push_back({"vr", "vr = " + text::shortest(*vr) + ": must be greater than 0 km/s"});
  } else if (vr_fraction && !(*vr_fraction > 0 && *vr_fraction <= 2)) {
    problems.push_back({"vr_fraction", "vr_fraction = " + text::shortest(*vr_fraction) +
                                           ": must be greater than 0 and at most 2 (a fraction of the shear-wave "
                                           "speed)"});
  }
  if (!(std::isfinite(rigidity) && rigidity > 0)) {
    problems.push_back(
        {"rigidity", "rigidity = " + text::shortest(rigidity) + ": must be finite and greater than 0 Pa"});
  }
  return problems;
}

std::optional<double> optional_number(const char* name, const py::object& value) {
  if (value.is_none()) return std::nullopt;
  return real_number(name, value);
}

// (lon, lat, dep) as the program's LON:LAT:DEP, each number in its exact shortest text.
std::string position_text(const py::object& position) {
  const bool sequence = py::isinstance<py::sequence>(position) && !py::isinstance<py::str>(position) &&
                        !py::isinstance<py::bytes>(position);
  if (!sequence || py::len(position) != 3) {
    throw ParameterError(
        Problem{"hypocentre_at", "hypocentre_at: must be (lon, lat, dep), three numbers (degrees, degrees, km)"});
  }
  std::string text;
  for (const py::handle value : position) {
    const double number = real_number("hypocentre_at", value);  // in order: the first bad one is named
    if (!std::isfinite(number)) {
      throw ParameterError(Problem{"hypocentre_at", "hypocentre_at: " + text::shortest(number) +
                                                        ": must be three finite numbers (lon, lat, dep)"});
    }
    if (!text.empty()) text += ':';
    text += text::shortest(number);
  }
  return text;
}

// build_rupture's other arguments as help() shows them.
using PathArgument = Given<"Union[str, os.PathLike]">;
using OptionalPath = Given<"Optional[Union[str, os.PathLike]]">;
using OptionalFloat = Given<"Optional[float]">;

Rupture build_rupture(const PathArgument& segments, const OptionalPath& patches,
                      const Given<"Optional[str]">& hypocentre, const OptionalFloat& vr, const RealArgument& dt,
                      const CountArgument& nt, const RealArgument& fmax, const RealArgument& rigidity,
                      const OptionalPath& medium, const OptionalFloat& vr_fraction, const OptionalFloat& mw,
                      const Given<"Optional[Tuple[float, float, float]]">& hypocentre_at) {
  Parameters sampling;
  sampling.dt = real_number("dt", dt);
  sampling.nt = sample_count(nt);
  sampling.fmax = real_number("fmax", fmax);
  const std::optional<double> speed = optional_number("vr", vr), fraction = optional_number("vr_fraction", vr_fraction),
                              magnitude = optional_number("mw", mw);
  Rupture made{nullptr, real_number("rigidity", rigidity), {}, name_of(segments), "", {}, 1};
  std::vector<Problem> problems = rupture::sampling_problems(sampling);
  for (Problem& p : option_problems(hypocentre, hypocentre_at, speed, fraction, made.rigidity)) {
    problems.push_back(std::move(p));
  }
  refuse_if_any(std::move(problems));
  const std::string hypocentre_text =
      hypocentre.object.is_none() ? position_text(hypocentre_at) : hypocentre.object.cast<std::string>();

  const std::string segments_text = read_file("segments", segments);
  const std::string patches_text = patches.object.is_none() ? "" : read_file("patches", patches);
  const std::string medium_text = medium.object.is_none() ? "" : read_file("medium", medium);
  const std::string medium_name = medium.object.is_none() ? "" : name_of(medium);
  if (!patches.object.is_none()) made.patches_name = name_of(patches);
  py::gil_scoped_release computing;
  rupture::Fault fault;
  if (!medium_name.empty()) {
    rupture::MediumTable layers = rupture::read_medium(medium_text);
    add_table_problems(problems, medium_name, layers.problems);
    refuse_if_any(std::move(problems));
    fault.medium = std::move(layers.medium);
  }
  rupture::SegmentsTable table = rupture::read_segments(segments_text, srf::Version::k1, medium_name);
  add_table_problems(problems, made.segments_name, table.problems);
  refuse_if_any(std::move(problems));
  fault.segments = std::move(table.segments);
  if (!made.patches_name.empty()) {
    rupture::PatchesTable patch_table = rupture::read_patches(patches_text, fault.segments, made.patches_name);
    add_table_problems(problems, made.patches_name, patch_table.problems);
    refuse_if_any(std::move(problems));
    fault.patches = std::move(patch_table.patches);
  }
  fault.hypocentre = hypocentre.object.is_none()
                         ? rupture::read_hypocentre_at(hypocentre_text, fault.segments).hypocentre
                         : rupture::read_hypocentre(hypocentre_text, fault.segments);
  fault.vr = speed.value_or(0);
  fault.vr_fraction = fraction.value_or(0);
  add_table_problems(problems, made.segments_name, rupture::rupture_time_problems(fault));
  refuse_if_any(std::move(problems));
  if (magnitude) {
    const rupture::MagnitudeScaling scaling = rupture::scale_to_magnitude(fault, *magnitude, sampling, made.rigidity);
    add_table_problems(problems, made.segments_name, scaling.problems.segments);
    add_table_problems(problems, made.patches_name, scaling.problems.patches);
    refuse_if_any(std::move(problems));
    made.slip_factor = scaling.factor;
  }
  made.layout = std::make_shared<const rupture::Rupture>(std::move(fault), sampling);
  made.refuse_unusable(srf::Version::k1);
  for (std::size_t n = 0; n < made.layout->size(); ++n) {
    const srf::PointSource point = made.layout->point_source(n);
    made.moment.add(point, point_rigidity(point.where, made.rigidity));
  }
  check_moment(made.moment);
  return made;
}

// The points by column: position, orientation, area, rupture time, medium
// and source, each a read-only float64 array in file order.
py::dict points_of(Rupture& r) {
  if (!r.points.empty()) return r.points;
  static const char* const kColumns[] = {"lon", "lat",  "dep", "stk", "dip", "rake",    "area", "tinit", "vs",
                                         "den", "slip", "vm",  "tr",  "ts",  "segment", "i",    "j"};
  constexpr std::size_t kCount = std::size(kColumns);
  auto columns = std::make_shared<std::vector<std::vector<double>>>(kCount, std::vector<double>(r.layout->size()));
  {
    py::gil_scoped_release computing;
    for (std::size_t n = 0; n < r.layout->size(); ++n) {
      const srf::PointSource p = r.layout->point_source(n);
      const rupture::Subfault f = r.layout->subfault(n);
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
                                     whole_slip(p),
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

void write_srf(const Rupture& r, const PathArgument& path, const Given<"Union[str, float]">& version,
               const std::string& blocks, bool plane) {
  const srf::Layout layout{version_of(version), blocks_of(blocks), plane};
  std::string text;
  {
    py::gil_scoped_release computing;
    r.refuse_unusable(layout.version);
    text = srf::file_text(r.point_sources(), r.layout->planes(), layout);
  }
  py::module_::import("pathlib").attr("Path")(path).attr("write_bytes")(py::bytes(text));
}

}  // namespace

void define_rupture(py::module_& m) {
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
          "moment", [](const Rupture& r) { return r.moment.moment(); },
          "The seismic moment M0 = sum of rigidity * area * slip (N*m)")
      .def_property_readonly(
          "magnitude", [](const Rupture& r) { return moment_magnitude(r.moment.moment()); },
          "The moment magnitude Mw = (2/3)*(log10(M0) - 9.1)")
      .def_readonly("slip_factor", &Rupture::slip_factor,
                    "The factor every region's slip was scaled by to reach mw (1.0 without mw)")
      .def("__len__", [](const Rupture& r) { return r.layout->size(); })
      .def("write_srf", &write_srf, py::arg("path"), py::arg("version") = "1.0", py::kw_only(),
           py::arg("blocks") = "per-plane", py::arg("plane") = true,
           R"(Writes the rupture as an SRF file at `path`, the very bytes slipvel-rupture writes.

version  "1.0" or "2.0" (2.0 needs vs and den on every segment)
blocks   "per-plane" (one POINTS block per segment in a 2.0 file) or "one"
plane    False: no PLANE block

Raises ParameterError when a value does not fit its field in that version.)");
  m.def("build_rupture", &build_rupture, py::arg("segments"), py::arg("patches") = py::none(), py::kw_only(),
        py::arg("hypocentre") = py::none(), py::arg("vr") = py::none(), py::arg("dt") = 0.005, py::arg("nt") = 4096,
        py::arg("fmax") = 6.0, py::arg("rigidity") = kDefaultRigidity, py::arg("medium") = py::none(),
        py::arg("vr_fraction") = py::none(), py::arg("mw") = py::none(), py::arg("hypocentre_at") = py::none(),
        R"(Lays out a rupture from a fault's tables, as slipvel-rupture does.

segments      path of the segments table (CSV): each top edge by elon, elat, stk, len or by its trace lon1, lat1, lon2, lat2
patches       path of the patches table, or None
hypocentre    "SEG:S:D": segment number from 1, s along strike from its centre, d down dip (km)
hypocentre_at (lon, lat, dep) in degrees and km, instead of hypocentre: the fault's nearest point
vr            rupture velocity (km/s), the same everywhere
vr_fraction   rupture velocity as a fraction of the local vs (0 < F <= 2), instead of vr
medium        path of a layered medium table (depth km, vs m/s, den kg/m^3), or None
mw            scale every region's slip by one factor to reach this moment magnitude, or None
dt, nt, fmax  every subfault's time step (s), samples and highest frequency (Hz)
rigidity      rigidity (Pa) for the moment of segments without vs and den

Raises ParameterError with every problem of the tables, named by table and
line, and OSError when a table cannot be read.)");
}

#else

void define_rupture(py::module_& m) {
  m.def(
      "build_rupture",
      [](const py::args&, const py::kwargs&) {
        throw std::runtime_error(
            "this slipvel module was built without GeographicLib (Debian: libgeographiclib-dev): build_rupture is "
            "not available");
      },
      "Not available: this module was built without GeographicLib.");
}

#endif

}  // namespace slipvel::python
