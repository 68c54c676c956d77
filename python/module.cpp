// harnix._core: the library's functions for the harnix package.
#include <pybind11/pybind11.h>

#include "python/errors.h"
#include "python/measurement.h"

namespace harnix {
void define_surface(pybind11::module_& module);
void define_average(pybind11::module_& module);
}  // namespace harnix

PYBIND11_MODULE(_core, module) {
  module.doc() = "The compiled part of harnix; use the harnix package.";
  module.attr("__version__") = HARNIX_VERSION;
  harnix::define_error(module);
  harnix::define_measurement(module);
  harnix::define_surface(module);
  harnix::define_average(module);
}
