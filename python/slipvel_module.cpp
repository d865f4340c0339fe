// The Python module: the library's public interface, with numpy arrays.
#include <pybind11/eval.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <algorithm>

#include <memory>
#include <optional>
#include <slipvel/moment.hpp>
#include <slipvel/slipvel.hpp>
#include <slipvel/text.hpp>
#include <span>
#include <string>
#include <vector>

#include "module.hpp"

namespace slipvel::python {

void warn(py::handle category, const std::string& message) {
  if (PyErr_WarnEx(category.ptr(), message.c_str(), 1) != 0) throw py::error_already_set();
}

py::handle define_warning(py::module_& m, const char* name, const char* doc) {
  const std::string qualified = std::string("slipvel.") + name;
  PyObject* type = PyErr_NewExceptionWithDoc(qualified.c_str(), doc, PyExc_UserWarning, nullptr);
  if (type == nullptr) throw py::error_already_set();
  m.attr(name) = py::handle(type);  // this reference is never given back
  return type;
}

py::array_t<double> read_only_view(const std::shared_ptr<const void>& owner, const std::vector<double>& values) {
  py::capsule keeper(new std::shared_ptr<const void>(owner),
                     [](void* p) { delete static_cast<std::shared_ptr<const void>*>(p); });
  py::array_t<double> array(static_cast<py::ssize_t>(values.size()), values.data(), keeper);
  array.attr("setflags")(py::arg("write") = false);
  return array;
}

namespace {

// What a refused value is, for messages: "str '1.0'", "None" (long reprs cut short).
std::string refused(const py::handle& value) {
  if (value.is_none()) return "None";
  std::string text = py::repr(value);
  if (text.size() > 40) text = text.substr(0, 37) + "...";
  return std::string(py::str(value.get_type().attr("__name__"))) + " " + text;
}

// The types the arguments' checks look for, found once, when the module is
// imported; their references are kept for the interpreter's life.
struct ArgumentTypes {
  py::handle real, floating, integer, timedelta;
};
ArgumentTypes argument_types;

// The common kinds first, without numbers.Real's slower check: int and
// float, numpy's floats and integers, arrays.
bool is_real(const py::handle& value) {
  if (PyFloat_Check(value.ptr())) return true;
  if (PyLong_Check(value.ptr())) return !PyBool_Check(value.ptr());
  if (py::isinstance(value, argument_types.floating)) return true;
  if (py::isinstance<py::array>(value) || py::isinstance(value, argument_types.timedelta)) return false;
  return py::isinstance(value, argument_types.integer) || py::isinstance(value, argument_types.real);
}

}  // namespace

// numpy counts timedelta64 among its integers, and so among numbers.Real.
bool is_integer(const py::handle& value) {
  return py::isinstance(value, argument_types.integer) && !py::isinstance(value, argument_types.timedelta);
}

// nt must be an int (or a numpy integer), never a float, a bool or a string;
// one too large for any C integer is a ParameterError, not a failed cast.
int sample_count(const py::object& nt) {
  const bool integer = (PyLong_Check(nt.ptr()) && !PyBool_Check(nt.ptr())) || is_integer(nt);
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

double real_number(const char* name, const py::handle& value) {
  if (!is_real(value)) throw py::type_error(std::string(name) + " must be a real number, not " + refused(value));
  const double number = PyFloat_AsDouble(value.ptr());
  if (number == -1.0 && PyErr_Occurred()) {
    if (!PyErr_ExceptionMatches(PyExc_OverflowError)) throw py::error_already_set();
    PyErr_Clear();
    // Too large to print as an int: Python refuses str() beyond 4300 digits.
    const std::string what = PyLong_Check(value.ptr())
                                 ? "an int of " + std::string(py::str(value.attr("bit_length")())) + " bits"
                                 : "a " + std::string(py::str(value.get_type().attr("__name__")));
    PyErr_SetString(
        PyExc_OverflowError,
        (std::string(name) + " is " + what + ": too large for a float, whose values lie within ±1.8e308").c_str());
    throw py::error_already_set();
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

}  // namespace

StopRequest python_signals() {
  auto signalled = std::make_shared<bool>(false);  // asked on one thread: the caller's
  return [signalled] {
    if (!*signalled) {
      const py::gil_scoped_acquire taken;
      *signalled = PyErr_CheckSignals() != 0;
    }
    return *signalled;
  };
}

}  // namespace slipvel::python

namespace slipvel::python {
namespace {

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

// slipvel.SamplingWarning, made when the module is imported; kept for the
// interpreter's life.
py::handle sampling_warning;

// The library's sampling rules, in the order and with the figures
// slipvel-batch gives.
void warn_about_sampling(const slipvel::SlipFunction& f) {
  using slipvel::text::shortest;
  const slipvel::Parameters& p = f.parameters;
  if (slipvel::above_nyquist(p)) {
    warn(sampling_warning, "fmax = " + shortest(p.fmax) + " Hz is above the Nyquist frequency 1/(2*dt) = " +
                               shortest(slipvel::nyquist_frequency(p.dt)) + " Hz of dt = " + shortest(p.dt) +
                               " s: " + slipvel::kAboveNyquistCost);
  }
  if (slipvel::coarsely_sampled(f)) {
    warn(sampling_warning, "the sampled slip ends more than 1 % off the slip asked (" +
                               shortest(f.displacement.back()) + " m sampled, " + shortest(p.slip) +
                               " m asked): at dt = " + shortest(p.dt) +
                               " s the samples miss part of the sharp rise; a smaller dt fixes it");
  }
}

// The parameters as given, each of its kind; their values are not checked yet.
slipvel::Parameters parameters_of(const py::object& dt, const py::object& nt, const py::object& fmax,
                                  const py::object& vm, const py::object& slip, const py::object& tr,
                                  const py::object& ts) {
  return {real_number("dt", dt),
          sample_count(nt),
          real_number("fmax", fmax),
          real_number("vm", vm),
          real_number("slip", slip),
          real_number("tr", tr),
          ts.is_none() ? std::nullopt : std::optional<double>(real_number("ts", ts))};
}

Function slip_function(const py::object& dt, const py::object& nt, const py::object& fmax, const py::object& vm,
                       const py::object& slip, const py::object& tr, const py::object& ts) {
  return compute_function(parameters_of(dt, nt, fmax, vm, slip, tr, ts));
}

// slipvel.slip_function: the function, and a SamplingWarning for each way its
// samples fall short. (Unpickling makes a function again without warning: it
// was said when the function was first made.)
Function warned_slip_function(const RealArgument& dt, const CountArgument& nt, const RealArgument& fmax,
                              const RealArgument& vm, const RealArgument& slip, const RealArgument& tr,
                              const std::optional<RealArgument>& ts) {
  Function f = slip_function(dt, nt, fmax, vm, slip, tr, ts ? ts->object : py::none());
  warn_about_sampling(*f.f);
  return f;
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

// How a SlipFunction, Spectrum or Parameters pickles: as slipvel._unpickle(kind,
// parameters), so that unpickling checks and computes as slip_function does,
// whatever the stream holds, for every protocol.
py::tuple pickled(const char* kind, const slipvel::Parameters& p) {
  return py::make_tuple(py::module_::import("slipvel").attr("_unpickle"), py::make_tuple(kind, parameter_tuple(p)));
}

// The kind and the state's shape are checked first, then each parameter by its
// own rule.
py::object from_state(const py::object& kind, const py::object& state) {
  const std::string name = py::isinstance<py::str>(kind) ? kind.cast<std::string>() : "";
  if (name != "SlipFunction" && name != "Spectrum" && name != "Parameters") {
    throw py::value_error("a pickled slipvel object must be a SlipFunction, Spectrum or Parameters, not " +
                          refused(kind));
  }
  if (!PyTuple_Check(state.ptr()) || PyTuple_GET_SIZE(state.ptr()) != 7) {
    throw py::type_error("a pickled " + name +
                         " state must be the 7 parameters (dt, nt, fmax, vm, slip, tr, ts), not " + refused(state));
  }
  const py::tuple values = py::reinterpret_borrow<py::tuple>(state);
  if (name == "Parameters") {
    slipvel::Parameters p = parameters_of(values[0], values[1], values[2], values[3], values[4], values[5], values[6]);
    {
      py::gil_scoped_release computing;
      slipvel::check_parameters(p);
    }
    p.ts = slipvel::stopping_time(p);  // a Parameters object shows the ts used
    return py::cast(p);
  }
  Function f = slip_function(values[0], values[1], values[2], values[3], values[4], values[5], values[6]);
  return name == "Spectrum" ? py::cast(spectrum_of(f)) : py::cast(std::move(f));
}

std::string parameters_repr(const slipvel::Parameters& p) {
  return py::str("dt={!r}, nt={!r}, fmax={!r}, vm={!r}, slip={!r}, tr={!r}, ts={!r}")
      .format(p.dt, p.nt, p.fmax, p.vm, p.slip, p.tr, p.ts ? py::object(py::float_(*p.ts)) : py::none());
}

// S(t) at a real number (a float back) or at an array of real numbers (an
// array of the same shape; a 0-d array gives a float). Anything else is a
// TypeError, even what numpy would cast: "1.0", True, a datetime64.
FloatOrArray slip_until(const Function& function, const FloatOrArray& given_t) {
  const py::object& t = given_t.object;
  const slipvel::Shape& shape = function.f->shape;
  const slipvel::Parameters& p = function.f->parameters;
  if (is_real(t)) return {py::float_(slipvel::slip_until(shape, p, real_number("t", t)))};
  const py::array given = py::array::ensure(t);
  const char kind = given ? given.dtype().kind() : 'O';
  if (kind != 'i' && kind != 'u' && kind != 'f') {
    const bool array = given && (given.ndim() > 0 || py::isinstance<py::array>(t));
    throw py::type_error(
        "t must be a real number or an array of real numbers, not " +
        (array ? std::string(py::str(t.get_type().attr("__name__"))) + " of " + std::string(py::str(given.dtype()))
               : refused(t)));
  }
  const py::array_t<double, py::array::c_style | py::array::forcecast> times(given);
  py::array_t<double> slips(std::vector<py::ssize_t>(times.shape(), times.shape() + times.ndim()));
  const auto n = static_cast<std::size_t>(times.size());
  double* out = slips.mutable_data();
  {
    py::gil_scoped_release computing;
    slipvel::slip_until(shape, p, std::span<const double>(times.data(), n), std::span<double>(out, n));
  }
  if (times.ndim() == 0) return {py::float_(out[0])};
  return {std::move(slips)};
}

void define_parameters(py::module_& m) {
  py::class_<slipvel::Parameters> parameters(m, "Parameters", "The parameters a result was made from.");
  refusing_bare_new(parameters, "the .parameters of a result")
      .def_readonly("dt", &slipvel::Parameters::dt, "time step (s)")
      .def_readonly("nt", &slipvel::Parameters::nt, "number of samples")
      .def_readonly("fmax", &slipvel::Parameters::fmax, "highest frequency (Hz)")
      .def_readonly("vm", &slipvel::Parameters::vm, "peak slip velocity of the parabolic stage (m/s)")
      .def_readonly("slip", &slipvel::Parameters::slip, "target final slip (m)")
      .def_readonly("tr", &slipvel::Parameters::tr, "rise time (s)")
      .def_property_readonly(
          "ts", [](const slipvel::Parameters& p) { return *p.ts; }, "stopping time used (s): as given, or tr * 1.5")
      .def(
          "__eq__",
          [](const slipvel::Parameters& a, const slipvel::Parameters& b) {
            return parameter_tuple(a).equal(parameter_tuple(b));
          },
          py::is_operator())
      .def("__repr__", [](const slipvel::Parameters& p) { return "Parameters(" + parameters_repr(p) + ")"; })
      .def("__reduce__", [](const slipvel::Parameters& p) { return pickled("Parameters", p); });
}

void define_shape(py::module_& m) {
  py::class_<slipvel::Shape> shape(m, "Shape", "The shape of the function, found by the onset search.");
  refusing_bare_new(shape, "the .stages of a SlipFunction")
      .def_readonly("td", &slipvel::Shape::td, "time of the peak slip velocity, 1/(3.141592654*fmax) (s)")
      .def_readonly("am", &slipvel::Shape::am, "slip acceleration at t = 0, 2*vm/td (m/s^2)")
      .def_readonly("tb", &slipvel::Shape::tb, "onset of the inverse-square-root stage (s)")
      .def_readonly("b", &slipvel::Shape::b, "amplitude of the inverse-square-root stage (m*s^-1/2)")
      .def_readonly("c", &slipvel::Shape::c, "slip velocity at tr, where the linear stage starts (m/s)")
      .def_readonly("ar", &slipvel::Shape::ar, "fall rate of the linear stage, c/(ts - tr) (m/s^2)")
      .def_readonly("eps", &slipvel::Shape::eps, "time origin of the inverse-square-root stage (s)")
      .def("__repr__",
           [](const slipvel::Shape& s) {
             return py::str("Shape(td={!r}, am={!r}, tb={!r}, b={!r}, c={!r}, ar={!r}, eps={!r})")
                 .format(s.td, s.am, s.tb, s.b, s.c, s.ar, s.eps);
           })
      // Refused at every protocol: protocols 0 and 1 would otherwise make a
      // Shape by object.__new__, which pybind11 cannot take (it aborts).
      .def("__reduce__", [](const slipvel::Shape&) -> py::tuple {
        throw py::type_error("a Shape does not pickle: pickle the SlipFunction whose stages it holds");
      });
}

void define_spectrum(py::module_& m) {
  py::class_<Spectrum> spectrum(m, "Spectrum",
                                "Amplitude spectra at the frequencies 1/(nt*dt) to (nt/2 - 1)/(nt*dt): the rows of "
                                "Vek_Amp.csv. Frequency 0 is not included.");
  refusing_bare_new(spectrum, "SlipFunction.spectrum()")
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
      .def("__reduce__", [](const Spectrum& s) { return pickled("Spectrum", s.function.f->parameters); })
      .def("text", &spectrum_text,
           "Returns exactly what slipvel writes to Vek_Amp.csv. Raises ParameterError when a frequency "
           "would not fit the file's column (1000 Hz or more).");
}

void define_function(py::module_& m) {
  py::class_<Function> function(m, "SlipFunction", "The slip-velocity function sampled at nt times.");
  refusing_bare_new(function, "slipvel.slip_function")
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
          "stages", [](const Function& f) { return f.f->shape; },
          "the Shape of its stages found by the onset search (td, am, tb, b, c, ar, eps)")
      .def_property_readonly(
          "shape",
          [](const Function& f) {
            warn(PyExc_DeprecationWarning,
                 "SlipFunction.shape is deprecated and will be removed: use SlipFunction.stages (the same Shape; "
                 ".shape reads as a numpy array's shape)");
            return f.f->shape;
          },
          "deprecated: use .stages, the same Shape")
      .def_property_readonly(
          "parameters", [](const Function& f) { return f.f->parameters; },
          "the Parameters it was made from (dt, nt, fmax, vm, slip, tr, ts)")
      .def_property_readonly(
          "dt", [](const Function& f) { return f.f->parameters.dt; }, "time step (s)")
      .def_property_readonly(
          "nt", [](const Function& f) { return f.f->parameters.nt; }, "number of samples")
      .def_property_readonly(
          "fmax", [](const Function& f) { return f.f->parameters.fmax; }, "highest frequency (Hz)")
      .def_property_readonly(
          "vm", [](const Function& f) { return f.f->parameters.vm; }, "peak slip velocity of the parabolic stage (m/s)")
      .def_property_readonly(
          "slip", [](const Function& f) { return f.f->parameters.slip; },
          "target final slip (m); the sampled one is displacement[-1]")
      .def_property_readonly(
          "tr", [](const Function& f) { return f.f->parameters.tr; }, "rise time (s)")
      .def_property_readonly(
          "ts", [](const Function& f) { return *f.f->parameters.ts; },
          "the stopping time used (s): as given, or tr * 1.5")
      .def_property_readonly(
          "sampling_rate", [](const Function& f) { return 1.0 / f.f->parameters.dt; }, "1/dt (Hz)")
      .def("__repr__", [](const Function& f) { return "SlipFunction(" + parameters_repr(f.f->parameters) + ")"; })
      .def("__reduce__", [](const Function& f) { return pickled("SlipFunction", f.f->parameters); })
      .def("slip_until", &slip_until, py::arg("t"),
           "S(t): the exact slip (m) from time 0 to t (s) of the continuous function (not the sampled sum). "
           "t is a real number (a float back) or an array of real numbers (an array of the same shape; a 0-d "
           "array gives a float); NaN gives NaN. Raises TypeError for anything else (None, str, bool, complex, "
           "datetime64, timedelta64, object arrays) and OverflowError for an int beyond a float. An array is worked "
           "through in C++ with the stages set up once, so a million times cost about what a C++ loop does.")
      .def("spectrum", &spectrum_of, "Returns the amplitude Spectrum of the velocity history.")
      .def("time_history_text", &time_history_text,
           "Returns exactly what slipvel writes to Vek_Slip.csv. Raises ParameterError when a row would not "
           "fit the file's columns (times of 1000 s or more, dt below 0.0001 s).");
}

// A message of many lines as the programs show it: the first 20, then how
// many more there are (every one is in .problems and .diagnostics).
std::string shown_message(const std::string& message) {
  constexpr std::size_t kShown = 20;
  std::size_t end = 0;  // the line end after line kShown
  for (std::size_t line = 0; line < kShown; ++line) {
    end = message.find('\n', line == 0 ? 0 : end + 1);
    if (end == std::string::npos) return message;
  }
  const std::size_t more =
      static_cast<std::size_t>(std::count(message.begin() + static_cast<std::ptrdiff_t>(end), message.end(), '\n'));
  return message.substr(0, end) + "\n... and " + std::to_string(more) +
         (more == 1 ? " more problem" : " more problems") + " (every one in .problems and .diagnostics)";
}

// ParameterError: a ValueError with the library's message, its problems as
// (field, text) tuples and the same as Diagnostic objects. The type lives as
// long as the interpreter.
void define_parameter_error(py::module_& m) {
  static py::handle type = py::exception<ParameterError>(m, "ParameterError", PyExc_ValueError).release();
  py::register_exception_translator([](std::exception_ptr raised) {
    try {
      if (raised) std::rethrow_exception(raised);
    } catch (const ParameterError& e) {
      py::list problems, diagnostics;
      for (const Problem& p : e.problems()) problems.append(py::make_tuple(p.field, p.text));
      for (const Diagnostic& d : e.diagnostics()) diagnostics.append(py::cast(d));
      py::object error = type(shown_message(e.what()));
      error.attr("problems") = problems;
      error.attr("diagnostics") = diagnostics;
      PyErr_SetObject(type.ptr(), error.ptr());
    } catch (const Stopped&) {
      // Stopped for a signal: its exception (KeyboardInterrupt) is set already.
      if (!PyErr_Occurred()) PyErr_SetNone(PyExc_KeyboardInterrupt);
    }
  });
}

const char* severity_name(Severity severity) {
  switch (severity) {
    case Severity::kError:
      return "error";
    case Severity::kWarning:
      return "warning";
    case Severity::kNote:
      return "note";
  }
  return "";
}

// slipvel.Diagnostic: one finding, read-only.
void define_diagnostic(py::module_& m) {
  py::class_<Diagnostic> diagnostic(m, "Diagnostic",
                                    "What the library found about its input: where (a table and its line or row, or "
                                    "an option), the value's name, how grave and the text.");
  refusing_bare_new(diagnostic, "slipvel.ParameterError.diagnostics and slipvel.RuptureWarning")
      .def_property_readonly(
          "table",
          [](const Diagnostic& d) -> py::object {
            if (d.where.kind != Where::Kind::kTable) return py::none();
            return py::str(d.where.name);
          },
          "The table it is about (its path, or the keyword of columns), or None")
      .def_property_readonly(
          "line",
          [](const Diagnostic& d) -> py::object {
            if (d.where.kind != Where::Kind::kTable || d.where.line <= 0) return py::none();
            return py::int_(d.where.line);
          },
          "Its line in the table's file, or its row (from 1) of columns; None for the table as a whole")
      .def_property_readonly(
          "row", [](const Diagnostic& d) { return d.where.row; }, "Whether line counts rows of columns")
      .def_property_readonly(
          "option",
          [](const Diagnostic& d) -> py::object {
            if (d.where.kind != Where::Kind::kOption) return py::none();
            return py::str(d.where.name);
          },
          "The keyword it is about, or None")
      .def_readonly("field", &Diagnostic::field, "The value's name, or ''")
      .def_property_readonly(
          "severity", [](const Diagnostic& d) { return severity_name(d.severity); }, "'error', 'warning' or 'note'")
      .def_readonly("text", &Diagnostic::text, "What is wrong or worth saying")
      .def("__str__", [](const Diagnostic& d) { return rendered(d); })
      .def("__repr__", [](const Diagnostic& d) {
        return "Diagnostic(" + std::string(severity_name(d.severity)) + ", " +
               std::string(py::repr(py::str(rendered(d)))) + ")";
      });
}

void define_sampling_warning(py::module_& m) {
  sampling_warning = define_warning(
      m, "SamplingWarning",
      "Samples that fall short of the function they sample: fmax above the Nyquist frequency 1/(2*dt), or a "
      "sampled slip more than 1 % off the slip asked. The function is made all the same.");
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
    f.stages.tb                                          # onset found by the search (s)
    s = f.spectrum()                                     # s.frequency, s.velocity, s.acceleration
    f.time_history_text(), s.text()                      # the two files' contents

Parameters that cannot work raise slipvel.ParameterError (a ValueError).
Samples that fall short of the function (fmax above the Nyquist frequency
1/(2*dt), or a sampled slip more than 1 % off the slip asked) give a
slipvel.SamplingWarning (a UserWarning).)";
  // pybind11 sets up its numpy access once, on first use; done here, at import,
  // under the interpreter lock, so two threads making their first result at the
  // same time cannot deadlock in numpy's import.
  const py::module_ numpy = py::module_::import("numpy");
  py::array_t<double> warm_up(1);  // numpy's C interface and the dtype lookup
  const auto kept = [](const py::object& type) { return type.inc_ref(); };
  argument_types = {kept(py::module_::import("numbers").attr("Real")), kept(numpy.attr("floating")),
                    kept(numpy.attr("integer")), kept(numpy.attr("timedelta64"))};
  m.attr("__version__") = slipvel::version();
  define_diagnostic(m);
  define_parameter_error(m);
  define_sampling_warning(m);

  define_parameters(m);
  define_shape(m);
  define_spectrum(m);
  define_function(m);
  const slipvel::Parameters defaults{};  // the slipvel program's built-in source
  m.def("slip_function", &warned_slip_function, py::arg("dt") = py::float_(defaults.dt),
        py::arg("nt") = py::int_(defaults.nt), py::arg("fmax") = py::float_(defaults.fmax),
        py::arg("vm") = py::float_(defaults.vm), py::arg("slip") = py::float_(defaults.slip),
        py::arg("tr") = py::float_(defaults.tr), py::arg("ts") = py::none(),
        R"(Checks the parameters, runs the onset search and samples the function.

dt    time step (s), finite and > 0
nt    number of samples, an int: a power of two from 2 to 4194304, with (nt - 1)*dt >= ts
fmax  highest frequency (Hz), finite and > 0; sets td = 1/(3.141592654*fmax)
vm    peak slip velocity of the parabolic stage (m/s), finite and > 0
slip  target final slip (m), within the range the function carries
tr    rise time (s), finite and > 1.01*td
ts    stopping time (s), finite and > tr; None means tr * 1.5

Defaults are the slipvel program's built-in source. Raises ParameterError,
listing every problem one per line as "name = value: rule"; TypeError for an
nt that is not an int or another parameter that is not a real number (a bool,
a str); OverflowError for an int too large for a float.

Warns with SamplingWarning, the function made all the same, when fmax lies
above the Nyquist frequency 1/(2*dt) (a dt of at most 1/(2*fmax) avoids it)
and when displacement[-1], the sampled slip, ends more than 1 % off slip (a
smaller dt avoids it).)");
  m.def("moment_magnitude", &slipvel::moment_magnitude, py::arg("moment"),
        "Returns the moment magnitude Mw = (2/3)*(log10(moment) - 9.1) of a seismic moment (N*m): -inf for 0.");
  m.def("_from_state", &from_state, py::arg("kind"), py::arg("state"),
        "Makes a pickled SlipFunction, Spectrum or Parameters again from its 7 parameters, checked.");
  // pickle stores a reduce's callable by module and name, and cannot store a
  // pybind11 function so (its __self__ is a capsule, not the module): the
  // callable is therefore a Python function of the module.
  py::exec("def _unpickle(kind, state):\n    return _from_state(kind, state)\n", m.attr("__dict__"));
  define_rupture(m);
}
