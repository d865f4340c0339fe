// The Python module: the library's public interface, with numpy arrays.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <memory>
#include <optional>
#include <slipvel/moment.hpp>
#include <slipvel/slipvel.hpp>
#include <string>
#include <vector>

#include "module.hpp"

namespace slipvel::python {

py::array_t<double> read_only_view(const std::shared_ptr<const void>& owner, const std::vector<double>& values) {
  py::capsule keeper(new std::shared_ptr<const void>(owner),
                     [](void* p) { delete static_cast<std::shared_ptr<const void>*>(p); });
  py::array_t<double> array(static_cast<py::ssize_t>(values.size()), values.data(), keeper);
  array.attr("setflags")(py::arg("write") = false);
  return array;
}

// nt must be an int (or a numpy integer), never a float, a bool or a string;
// one too large for any C integer is a ParameterError, not a failed cast.
int sample_count(const py::object& nt) {
  const bool integer = (PyLong_Check(nt.ptr()) && !PyBool_Check(nt.ptr())) ||
                       py::isinstance(nt, py::module_::import("numpy").attr("integer"));
  if (!integer) {
    throw py::type_error("nt must be an int, not " + std::string(py::str(nt.get_type().attr("__name__"))));
  }
  const py::int_ whole(nt);
  int overflow = 0;
  const long long value = PyLong_AsLongLongAndOverflow(whole.ptr(), &overflow);
  if (overflow != 0 || value < INT32_MIN || value > INT32_MAX) {
    const std::string text = py::str(py::object(whole));
    throw slipvel::ParameterError(
        slipvel::Problem{"nt", "nt = " + text + ": must be a power of two from 2 to 4194304"});
  }
  return static_cast<int>(value);
}

double real_number(const char* name, const py::object& value) {
  if (PyBool_Check(value.ptr())) {
    throw py::type_error(std::string(name) + " must be a number, not bool");
  }
  const double number = PyFloat_AsDouble(value.ptr());
  if (number == -1.0 && PyErr_Occurred()) {
    PyErr_Clear();
    throw py::type_error(std::string(name) + " must be a number, not " +
                         std::string(py::str(value.get_type().attr("__name__"))));
  }
  return number;
}

namespace {

// The function and its spectrum, shared by the Python objects that show them.
// Each array is made once, read-only, so every access returns the same object.
struct Function {
  std::shared_ptr<const slipvel::SlipFunction> f;
  py::array_t<double> time, velocity, displacement, acceleration;
};
struct Spectrum {
  Function function;  // what it was computed from: its parameters and pickling
  std::shared_ptr<const slipvel::Spectrum> s;
  py::array_t<double> frequency, velocity, acceleration;
};

Function function_with_arrays(std::shared_ptr<const slipvel::SlipFunction> f) {
  Function result{f, read_only_view(f, f->time), read_only_view(f, f->velocity), read_only_view(f, f->displacement),
                  read_only_view(f, f->acceleration)};
  return result;
}

Function compute_function(const slipvel::Parameters& p) {
  std::shared_ptr<const slipvel::SlipFunction> f;
  {
    py::gil_scoped_release computing;  // other Python threads run meanwhile
    f = std::make_shared<const slipvel::SlipFunction>(slipvel::slip_function(p));
  }
  return function_with_arrays(std::move(f));
}

Function slip_function(const py::object& dt, const py::object& nt, const py::object& fmax, const py::object& vm,
                       const py::object& slip, const py::object& tr, const py::object& ts) {
  slipvel::Parameters p{real_number("dt", dt),
                        sample_count(nt),
                        real_number("fmax", fmax),
                        real_number("vm", vm),
                        real_number("slip", slip),
                        real_number("tr", tr),
                        ts.is_none() ? std::nullopt : std::optional<double>(real_number("ts", ts))};
  return compute_function(p);
}

Spectrum spectrum_of(const Function& function) {
  std::shared_ptr<const slipvel::Spectrum> s;
  {
    py::gil_scoped_release computing;
    s = std::make_shared<const slipvel::Spectrum>(slipvel::spectrum(*function.f));
  }
  return {function, s, read_only_view(s, s->frequency), read_only_view(s, s->velocity),
          read_only_view(s, s->acceleration)};
}

std::string time_history_text(const Function& function) {
  py::gil_scoped_release computing;
  return slipvel::time_history_text(*function.f);
}

std::string spectrum_text(const Spectrum& spectrum) {
  py::gil_scoped_release computing;
  return slipvel::spectrum_text(*spectrum.s);
}

// The parameters as a tuple (dt, nt, fmax, vm, slip, tr, ts): the pickled state.
py::tuple parameter_tuple(const slipvel::Parameters& p) {
  return py::make_tuple(p.dt, p.nt, p.fmax, p.vm, p.slip, p.tr, p.ts ? py::object(py::float_(*p.ts)) : py::none());
}

slipvel::Parameters parameters_from(const py::tuple& state) {
  if (state.size() != 7) {
    throw std::runtime_error("slipvel: a pickled state must hold 7 parameters");
  }
  return {state[0].cast<double>(),
          state[1].cast<int>(),
          state[2].cast<double>(),
          state[3].cast<double>(),
          state[4].cast<double>(),
          state[5].cast<double>(),
          state[6].is_none() ? std::nullopt : std::optional<double>(state[6].cast<double>())};
}

std::string parameters_repr(const slipvel::Parameters& p) {
  return py::str("dt={!r}, nt={!r}, fmax={!r}, vm={!r}, slip={!r}, tr={!r}, ts={!r}")
      .format(p.dt, p.nt, p.fmax, p.vm, p.slip, p.tr, p.ts ? py::object(py::float_(*p.ts)) : py::none());
}

// S(t) at a float (a float back) or at an array of times (an array of the same shape).
py::object slip_until(const Function& function, const py::object& t) {
  const slipvel::Shape& shape = function.f->shape;
  const slipvel::Parameters& p = function.f->parameters;
  if (PyFloat_Check(t.ptr()) || PyLong_Check(t.ptr())) {
    return py::float_(slipvel::slip_until(shape, p, real_number("t", t)));
  }
  auto times = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(t);
  if (!times) {
    throw py::type_error("t must be a number or an array of numbers");
  }
  py::array_t<double> slips(std::vector<py::ssize_t>(times.shape(), times.shape() + times.ndim()));
  const double* in = times.data();
  double* out = slips.mutable_data();
  const py::ssize_t n = times.size();
  {
    py::gil_scoped_release computing;
    for (py::ssize_t k = 0; k < n; ++k) out[k] = slipvel::slip_until(shape, p, in[k]);
  }
  if (times.ndim() == 0) return py::float_(out[0]);
  return slips;
}

void define_parameters(py::module_& m) {
  py::class_<slipvel::Parameters>(m, "Parameters", "The parameters a result was made from.")
      .def_readonly("dt", &slipvel::Parameters::dt, "time step (s)")
      .def_readonly("nt", &slipvel::Parameters::nt, "number of samples")
      .def_readonly("fmax", &slipvel::Parameters::fmax, "highest frequency (Hz)")
      .def_readonly("vm", &slipvel::Parameters::vm, "peak slip velocity of the parabolic stage (m/s)")
      .def_readonly("slip", &slipvel::Parameters::slip, "target final slip (m)")
      .def_readonly("tr", &slipvel::Parameters::tr, "rise time (s)")
      .def_property_readonly(
          "ts", [](const slipvel::Parameters& p) { return *p.ts; }, "stopping time used (s): as given, or tr * 1.5")
      .def("__eq__", [](const slipvel::Parameters& a,
                        const slipvel::Parameters& b) { return parameter_tuple(a).equal(parameter_tuple(b)); })
      .def("__repr__", [](const slipvel::Parameters& p) { return "Parameters(" + parameters_repr(p) + ")"; })
      .def(py::pickle([](const slipvel::Parameters& p) { return parameter_tuple(p); },
                      [](const py::tuple& state) { return parameters_from(state); }));
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
      .def_property_readonly(
          "frequency", [](const Spectrum& s) { return s.frequency; }, "frequency (Hz), a read-only float64 array")
      .def_property_readonly(
          "velocity", [](const Spectrum& s) { return s.velocity; },
          "velocity amplitude dt*|X(f)|, X the forward transform of the velocity (m)")
      .def_property_readonly(
          "acceleration", [](const Spectrum& s) { return s.acceleration; },
          "acceleration amplitude, velocity amplitude * 2*pi*f (m/s)")
      .def_property_readonly(
          "parameters", [](const Spectrum& s) { return s.function.f->parameters; },
          "the Parameters of the function it was computed from")
      .def_property_readonly(
          "dt", [](const Spectrum& s) { return s.function.f->parameters.dt; }, "time step (s)")
      .def_property_readonly(
          "nt", [](const Spectrum& s) { return s.function.f->parameters.nt; }, "number of samples")
      .def_property_readonly(
          "sampling_rate", [](const Spectrum& s) { return 1.0 / s.function.f->parameters.dt; }, "1/dt (Hz)")
      .def("__repr__", [](const Spectrum& s) { return "Spectrum(" + parameters_repr(s.function.f->parameters) + ")"; })
      .def(py::pickle([](const Spectrum& s) { return parameter_tuple(s.function.f->parameters); },
                      [](const py::tuple& state) { return spectrum_of(compute_function(parameters_from(state))); }))
      .def("text", &spectrum_text,
           "Returns exactly what slipvel writes to Vek_Amp.csv. Raises ParameterError when a frequency "
           "would not fit the file's column (1000 Hz or more).");
}

void define_function(py::module_& m) {
  py::class_<Function>(m, "SlipFunction", "The slip-velocity function sampled at nt times.")
      .def_property_readonly(
          "time", [](const Function& f) { return f.time; }, "sample times k*dt (s), a read-only float64 array")
      .def_property_readonly(
          "velocity", [](const Function& f) { return f.velocity; }, "slip velocity (m/s)")
      .def_property_readonly(
          "displacement", [](const Function& f) { return f.displacement; },
          "slip, a running trapezoid sum of velocity*dt (m)")
      .def_property_readonly(
          "acceleration", [](const Function& f) { return f.acceleration; },
          "slip acceleration, the backward difference (m/s^2); 0 at the first sample")
      .def_property_readonly(
          "shape", [](const Function& f) { return f.f->shape; }, "the Shape (td, am, tb, b, c, ar, eps)")
      .def_property_readonly(
          "ts", [](const Function& f) { return *f.f->parameters.ts; },
          "the stopping time used (s): as given, or tr * 1.5")
      .def_property_readonly(
          "parameters", [](const Function& f) { return f.f->parameters; },
          "the Parameters it was made from (dt, nt, fmax, vm, slip, tr, ts)")
      .def_property_readonly(
          "dt", [](const Function& f) { return f.f->parameters.dt; }, "time step (s)")
      .def_property_readonly(
          "nt", [](const Function& f) { return f.f->parameters.nt; }, "number of samples")
      .def_property_readonly(
          "sampling_rate", [](const Function& f) { return 1.0 / f.f->parameters.dt; }, "1/dt (Hz)")
      .def("__repr__", [](const Function& f) { return "SlipFunction(" + parameters_repr(f.f->parameters) + ")"; })
      .def(py::pickle([](const Function& f) { return parameter_tuple(f.f->parameters); },
                      [](const py::tuple& state) { return compute_function(parameters_from(state)); }))
      .def("slip_until", &slip_until, py::arg("t"),
           "S(t): the exact slip (m) from time 0 to t (s) of the continuous function (not the sampled sum). "
           "t is a float (a float back) or an array of times (an array of the same shape).")
      .def("spectrum", &spectrum_of, "Returns the amplitude Spectrum of the velocity history.")
      .def("time_history_text", &time_history_text,
           "Returns exactly what slipvel writes to Vek_Slip.csv. Raises ParameterError when a row would not "
           "fit the file's columns (times of 1000 s or more, dt below 0.0001 s).");
}

// ParameterError: a ValueError with the library's message and its problems
// as (field, text) tuples. The type lives as long as the interpreter.
void define_parameter_error(py::module_& m) {
  static py::handle type = py::exception<ParameterError>(m, "ParameterError", PyExc_ValueError).release();
  py::register_exception_translator([](std::exception_ptr raised) {
    try {
      if (raised) std::rethrow_exception(raised);
    } catch (const ParameterError& e) {
      py::list problems;
      for (const Problem& p : e.problems()) problems.append(py::make_tuple(p.field, p.text));
      py::object error = type(e.what());
      error.attr("problems") = problems;
      PyErr_SetObject(type.ptr(), error.ptr());
    }
  });
}

}  // namespace
}  // namespace slipvel::python

PYBIND11_MODULE(slipvel, m) {
  using namespace slipvel::python;
  m.doc() = R"(The slip-velocity time function of one point of an earthquake fault.

Computed by the same C++ code as the slipvel program, to the last bit:

    import slipvel
    f = slipvel.slip_function(vm=3.0, slip=0.8)
    f.time, f.velocity, f.displacement, f.acceleration   # numpy arrays
    f.shape.tb                                           # onset found by the search (s)
    s = f.spectrum()                                     # s.frequency, s.velocity, s.acceleration
    f.time_history_text(), s.text()                      # the two files' contents

Parameters that cannot work raise slipvel.ParameterError (a ValueError).)";
  // pybind11 sets up its numpy access once, on first use; done here, at import,
  // under the interpreter lock, so two threads making their first result at the
  // same time cannot deadlock in numpy's import.
  py::module_::import("numpy");
  py::array_t<double> warm_up(1);  // numpy's C interface and the dtype lookup
  m.attr("__version__") = slipvel::version();
  define_parameter_error(m);

  define_parameters(m);
  define_shape(m);
  define_spectrum(m);
  define_function(m);
  const slipvel::Parameters defaults{};  // the slipvel program's built-in source
  m.def("slip_function", &slip_function, py::arg("dt") = py::float_(defaults.dt), py::arg("nt") = py::int_(defaults.nt),
        py::arg("fmax") = py::float_(defaults.fmax), py::arg("vm") = py::float_(defaults.vm),
        py::arg("slip") = py::float_(defaults.slip), py::arg("tr") = py::float_(defaults.tr),
        py::arg("ts") = py::none(),
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
an nt that is not an int or a bool given for a number.)");
  m.def("moment_magnitude", &slipvel::moment_magnitude, py::arg("moment"),
        "Returns the moment magnitude Mw = (2/3)*(log10(moment) - 9.1) of a seismic moment (N*m): -inf for 0.");
  define_rupture(m);
}
