// What the module's parts share: numpy views and the reading of arguments.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <algorithm>
#include <cstddef>
#include <memory>
#include <slipvel/slipvel.hpp>
#include <string>
#include <vector>

namespace py = pybind11;

namespace slipvel::python {

// A read-only numpy view of `values`, which `owner` keeps alive. The view's
// base is not a writeable buffer, so numpy refuses to make it writeable again:
// whatever a caller does, the result's values stay as they are.
py::array_t<double> read_only_view(const std::shared_ptr<const void>& owner, const std::vector<double>& values);

// The library's StopRequest for a long call made with the GIL released:
// whether Python has a signal to act on (Ctrl-C), run by PyErr_CheckSignals
// with the GIL taken again. Its exception (KeyboardInterrupt) is then set,
// and raised when the call returns with Stopped.
StopRequest python_signals();

// Issues a Python warning of `category` at the line that called into the
// module; raises it instead where the warnings filter makes it an error.
void warn(py::handle category, const std::string& message);

// Adds a UserWarning subclass `slipvel.<name>` to the module and returns it
// (the module keeps it for the interpreter's life).
py::handle define_warning(py::module_& m, const char* name, const char* doc);

// Whether a value is a numpy integer (timedelta64 not counted).
bool is_integer(const py::handle& value);

// nt must be an int (or a numpy integer), never a float, a bool or a string;
// one too large for any C integer is a ParameterError, not a failed cast.
int sample_count(const py::object& nt);

// A real parameter: a real number (numbers.Real: int, float, numpy's integers
// and floats, Fraction) as a float; not a bool (True as a time step is a
// mistake, as it is for nt) nor a numpy timedelta64 (a duration, in no stated
// unit). TypeError for any other value, OverflowError for one beyond a float.
double real_number(const char* name, const py::handle& value);

// Refuses making an object of a bound class by its __new__ alone (as
// copy and old pickle protocols do): such an object would hold no value, and
// pybind11 would hand its methods uninitialised memory. The results come from
// the module's functions only.
template <class Class>
Class& refusing_bare_new(Class& bound, const char* made_by) {
  const std::string message = std::string(bound.attr("__name__").template cast<std::string>()) + " objects come from " +
                              made_by + ", not from __new__";
  return bound.def_static(
      "__new__", [message](const py::args&, const py::kwargs&) -> py::object { throw py::type_error(message); });
}

// slipvel.build_rupture and slipvel.Rupture, where the module was built with
// the rupture library; else a build_rupture that says it is missing.
void define_rupture(py::module_& m);

// A type's name as signatures show it, usable as a template argument.
template <std::size_t N>
struct TypeName {
  char text[N];
  constexpr TypeName(const char (&name)[N]) { std::copy_n(name, N, text); }  // implicit: Given<"float">
};

// An argument or result as Python gave it or gets it, shown in signatures and
// help() as the type `kShown` names ("float", "int", ...) rather than as
// "object". Every value is taken: the argument's own check (real_number,
// sample_count) then refuses what it must, with its own message.
template <TypeName kShown>
struct Given {
  py::object object;
  operator const py::object&() const { return object; }  // implicit: read where an object is
};

using RealArgument = Given<"float">;
using CountArgument = Given<"int">;
using FloatOrArray = Given<"Union[float, numpy.ndarray]">;

}  // namespace slipvel::python

namespace pybind11::detail {

template <slipvel::python::TypeName kShown>
struct type_caster<slipvel::python::Given<kShown>> {
  PYBIND11_TYPE_CASTER(slipvel::python::Given<kShown>, const_name(kShown.text));

  bool load(handle source, bool) {
    value.object = reinterpret_borrow<object>(source);
    return true;
  }
  static handle cast(const slipvel::python::Given<kShown>& given, return_value_policy, handle) {
    return given.object.inc_ref();
  }
};

}  // namespace pybind11::detail
