// What the module's parts share: numpy views and the reading of arguments.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <memory>
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

// A real parameter: any number Python turns into a float, but not a bool (True
// as a time step is a mistake, as it is for nt).
double real_number(const char* name, const py::object& value);

// slipvel.build_rupture and slipvel.Rupture, where the module was built with
// the rupture library; else a build_rupture that says it is missing.
void define_rupture(py::module_& m);

}  // namespace slipvel::python
