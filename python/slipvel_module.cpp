// The Python module: the library's public interface, with numpy arrays.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <memory>
#include <optional>
#include <slipvel/slipvel.hpp>
#include <string>
#include <vector>

namespace py = pybind11;

namespace {

// A fresh read-only numpy array holding a copy of `values`: whatever a caller
// does to it, the function's own values stay as they are.
py::array_t<double> read_only_copy(const std::vector<double>& values) {
  py::array_t<double> array(static_cast<py::ssize_t>(values.size()));
  std::copy(values.begin(), values.end(), array.mutable_data());
  py::detail::array_proxy(array.ptr())->flags &= ~py::detail::npy_api::NPY_ARRAY_WRITEABLE_;
  return array;
}

// nt must be an int (or a numpy integer), never a float, a bool or a string.
int sample_count(const py::object& nt) {
  const bool integer = (PyLong_Check(nt.ptr()) && !PyBool_Check(nt.ptr())) ||
                       py::isinstance(nt, py::module_::import("numpy").attr("integer"));
  if (!integer) {
    throw py::type_error("nt must be an int, not " + std::string(py::str(nt.get_type().attr("__name__"))));
  }
  const long long value = py::int_(nt).cast<long long>();
  if (value < INT32_MIN || value > INT32_MAX) {
    throw slipvel::ParameterError("nt = " + std::to_string(value) + ": must be a power of two from 2 to 4194304");
  }
  return static_cast<int>(value);
}

// The function and its spectrum, shared by the Python objects that show them.
struct Function {
  std::shared_ptr<const slipvel::SlipFunction> f;
};
struct Spectrum {
  std::shared_ptr<const slipvel::Spectrum> s;
};

Function slip_function(double dt, const py::object& nt, double fmax, double vm, double slip, double tr,
                       std::optional<double> ts) {
  slipvel::Parameters p{dt, sample_count(nt), fmax, vm, slip, tr, ts};
  py::gil_scoped_release computing;  // other Python threads run meanwhile
  return {std::make_shared<const slipvel::SlipFunction>(slipvel::slip_function(p))};
}

Spectrum spectrum_of(const Function& function) {
  py::gil_scoped_release computing;
  return {std::make_shared<const slipvel::Spectrum>(slipvel::spectrum(*function.f))};
}

std::string time_history_text(const Function& function) {
  py::gil_scoped_release computing;
  return slipvel::time_history_text(*function.f);
}

std::string spectrum_text(const Spectrum& spectrum) {
  py::gil_scoped_release computing;
  return slipvel::spectrum_text(*spectrum.s);
}

void define_shape(py::module_& m) {
  py::class_<slipvel::Shape>(m, "Shape", "The shape of the function, found by the onset search.")
      .def_readonly("td", &slipvel::Shape::td, "time of the peak slip velocity, 1/(3.141592654*fmax) (s)")
      .def_readonly("am", &slipvel::Shape::am, "slip acceleration at t = 0, 2*vm/td (m/s^2)")
      .def_readonly("tb", &slipvel::Shape::tb, "onset of the inverse-square-root stage (s)")
      .def_readonly("b", &slipvel::Shape::b, "amplitude of the inverse-square-root stage (m*s^-1/2)")
      .def_readonly("c", &slipvel::Shape::c, "slip velocity at tr, where the linear stage starts (m/s)")
      .def_readonly("ar", &slipvel::Shape::ar, "fall rate of the linear stage, c/(ts - tr) (m/s^2)")
      .def_readonly("eps", &slipvel::Shape::eps, "time origin of the inverse-square-root stage (s)")
      .def("__repr__", [](const slipvel::Shape& s) {
        return py::str("Shape(td={!r}, am={!r}, tb={!r}, b={!r}, c={!r}, ar={!r}, eps={!r})")
            .format(s.td, s.am, s.tb, s.b, s.c, s.ar, s.eps);
      });
}

void define_spectrum(py::module_& m) {
  py::class_<Spectrum>(m, "Spectrum",
                       "Amplitude spectra at the frequencies 1/(nt*dt) to (nt/2 - 1)/(nt*dt): the rows of "
                       "Vek_Amp.csv. Frequency 0 is not included.")
      .def_property_readonly("frequency", [](const Spectrum& s) { return read_only_copy(s.s->frequency); },
                             "frequency (Hz), a read-only float64 array")
      .def_property_readonly("velocity", [](const Spectrum& s) { return read_only_copy(s.s->velocity); },
                             "velocity amplitude dt*|X(f)|, X the forward transform of the velocity (m)")
      .def_property_readonly("acceleration", [](const Spectrum& s) { return read_only_copy(s.s->acceleration); },
                             "acceleration amplitude, velocity amplitude * 2*pi*f (m/s)")
      .def("text", &spectrum_text,
           "Returns exactly what slipvel writes to Vek_Amp.csv. Raises ParameterError when a frequency "
           "would not fit the file's column (1000 Hz or more).");
}

void define_function(py::module_& m) {
  py::class_<Function>(m, "SlipFunction", "The slip-velocity function sampled at nt times.")
      .def_property_readonly("time", [](const Function& f) { return read_only_copy(f.f->time); },
                             "sample times k*dt (s), a read-only float64 array")
      .def_property_readonly("velocity", [](const Function& f) { return read_only_copy(f.f->velocity); },
                             "slip velocity (m/s)")
      .def_property_readonly("displacement", [](const Function& f) { return read_only_copy(f.f->displacement); },
                             "slip, a running trapezoid sum of velocity*dt (m)")
      .def_property_readonly("acceleration", [](const Function& f) { return read_only_copy(f.f->acceleration); },
                             "slip acceleration, the backward difference (m/s^2); 0 at the first sample")
      .def_property_readonly("shape", [](const Function& f) { return f.f->shape; }, "the Shape (td, am, tb, b, c, ar, eps)")
      .def_property_readonly("ts", [](const Function& f) { return *f.f->parameters.ts; },
                             "the stopping time used (s): as given, or tr * 1.5")
      .def("spectrum", &spectrum_of, "Returns the amplitude Spectrum of the velocity history.")
      .def("time_history_text", &time_history_text,
           "Returns exactly what slipvel writes to Vek_Slip.csv. Raises ParameterError when a row would not "
           "fit the file's columns (times of 1000 s or more, dt below 0.0001 s).");
}

}  // namespace

PYBIND11_MODULE(slipvel, m) {
  m.doc() = R"(The slip-velocity time function of one point of an earthquake fault.

Computed by the same C++ code as the slipvel program, to the last bit:

    import slipvel
    f = slipvel.slip_function(vm=3.0, slip=0.8)
    f.time, f.velocity, f.displacement, f.acceleration   # numpy arrays
    f.shape.tb                                           # onset found by the search (s)
    s = f.spectrum()                                     # s.frequency, s.velocity, s.acceleration
    f.time_history_text(), s.text()                      # the two files' contents

Parameters that cannot work raise slipvel.ParameterError (a ValueError).)";
  m.attr("__version__") = slipvel::version();
  py::register_exception<slipvel::ParameterError>(m, "ParameterError", PyExc_ValueError);

  define_shape(m);
  define_spectrum(m);
  define_function(m);
  m.def("slip_function", &slip_function, py::arg("dt") = 0.005, py::arg("nt") = 4096, py::arg("fmax") = 6.0,
        py::arg("vm") = 4.092, py::arg("slip") = 1.0, py::arg("tr") = 2.114, py::arg("ts") = py::none(),
        R"(Checks the parameters, runs the onset search and samples the function.

dt    time step (s), finite and > 0
nt    number of samples, an int: a power of two from 2 to 4194304, with (nt - 1)*dt >= ts
fmax  highest frequency (Hz), finite and > 0; sets td = 1/(3.141592654*fmax)
vm    peak slip velocity of the parabolic stage (m/s), finite and > 0
slip  target final slip (m), within the range the function carries
tr    rise time (s), finite and > 1.01*td
ts    stopping time (s), finite and > tr; None means tr * 1.5

Defaults are the slipvel program's built-in source. Raises ParameterError,
listing every problem one per line as "name = value: rule", and TypeError for
an nt that is not an int.)");
}
