// What the module's parts share: numpy views and the reading of arguments.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

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

// An argument or result as Python gave it or gets it, shown in signatures and
// help() as the type `Shown::name` says ("float", "int", ...) rather than as
// "object". Every value is taken: the argument's own check (real_number,
// sample_count) then refuses what it must, with its own message.
template <class Shown>
struct Given {
  py::object object;
};

struct AsFloat {
  static constexpr auto name = py::detail::const_name("float");
};
struct AsInt {
  static constexpr auto name = py::detail::const_name("int");
};
struct AsFloatOrArray {
  static constexpr auto name = py::detail::const_name("Union[float, numpy.ndarray]");
};

using RealArgument = Given<AsFloat>;
using CountArgument = Given<AsInt>;
using FloatOrArray = Given<AsFloatOrArray>;

}  // namespace slipvel::python

namespace pybind11::detail {

template <class Shown>
struct type_caster<slipvel::python::Given<Shown>> {
  PYBIND11_TYPE_CASTER(slipvel::python::Given<Shown>, Shown::name);

  bool load(handle source, bool) {
    value.object = reinterpret_borrow<object>(source);
    return true;
  }
  static handle cast(const slipvel::python::Given<Shown>& given, return_value_policy, handle) {
    return given.object.inc_ref();
  }
};

}  // namespace pybind11::detail
