// level, parameters and export: what harnix-util info and export compute, for one measurement.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cmath>
#include <string>
#include <vector>

#include "datafile/output_file.h"
#include "export/export_formats.h"
#include "export/export_x3p.h"
#include "python/errors.h"
#include "python/measurement.h"
#include "surface/height_parameters.h"
#include "surface/heights.h"
#include "surface/levelling.h"

namespace harnix {

namespace py = pybind11;

namespace {

Levelling levelling_argument(const std::string& form) {
  Levelling level;
  if (!parse_levelling(form.c_str(), &level))
    throw py::value_error("level must be one of none, piston, plane, sphere, cylinder, robust, "
                          "not \"" + form + "\"");
  return level;
}

const PhaseMap& phase_of(const Measurement& m) {
  if (m.phase.matrix == nullptr) throw py::value_error("the measurement holds no phase map");
  return m.phase;
}

// The levelled values in counts (NaN where invalid), computed without the GIL.
std::vector<double> levelled_values(const Measurement& m, Levelling level) {
  const PhaseMap& map = phase_of(m);
  std::vector<double> values;
  std::string message;
  bool ok;
  {
    py::gil_scoped_release unlocked;
    ok = level_map(map, level, &values, &message);
  }
  if (!ok) raise_error(ERR_NO_UNIQUE_SOLUTION, m.path, message);
  return values;
}

py::array_t<double> level(const Measurement& m, const std::string& form) {
  std::vector<double> values = levelled_values(m, levelling_argument(form));
  const Window& w = m.phase.window;
  py::array_t<double> out({w.height, w.width});
  std::copy(values.begin(), values.end(), out.mutable_data());
  return out;
}

py::object number_or_none(bool known, double v) {
  return known ? py::object(py::float_(v)) : py::object(py::none());
}

py::dict parameters(const Measurement& m, const std::string& form) {
  const Levelling level = levelling_argument(form);
  const HeightScale scale = height_scale(m.attributes);
  if (!scale.height_known)
    raise_error(ERR_INVALID_PARAM, m.path,
                "no usable height scale (IntfScaleFactor x ObliquityFactor x WavelengthIn is not "
                "a positive number)");
  const std::vector<double> values = levelled_values(m, level);
  const HeightParameters p = height_parameters(values, scale.metres_per_count);
  py::dict d;
  d["levelling"] = levelling_name(level);
  d["points"] = p.points;
  d["Sq"] = p.sq;
  d["Sa"] = p.sa;
  d["Sp"] = p.sp;
  d["Sv"] = p.sv;
  d["Sz"] = p.sz;
  d["Ssk"] = number_or_none(p.shape_known, p.ssk);
  d["Sku"] = number_or_none(p.shape_known, p.sku);
  return d;
}

void export_file(const py::handle& path_object, const Measurement& m, const std::string& format,
                 const std::string& form, bool counts) {
  const std::string path = path_argument(path_object);
  const std::string shown = path_text(path_object);
  const bool x3p = format == "x3p";
  if (!x3p && format != "gsf") throw py::value_error("format must be x3p or gsf, not \"" + format + "\"");
  const Levelling level = levelling_argument(form);
  const PhaseMap& map = phase_of(m);
  const HeightScale scale = height_scale(m.attributes);
  if (!counts && !scale.height_known)
    raise_error(ERR_INVALID_PARAM, m.path,
                "no usable height scale (IntfScaleFactor x ObliquityFactor x WavelengthIn is not "
                "a positive number)");
  if (scale.spacing == 0)
    raise_error(ERR_INVALID_PARAM, m.path,
                "no lateral resolution (CameraRes and PixelWidth are not positive)");
  std::vector<double> levelled;
  if (level != LEVEL_NONE) levelled = levelled_values(m, level);
  std::string title = m.path.substr(m.path.find_last_of('/') + 1);
  ExportData data{&map,
                  title.empty() ? "result" : title,
                  comment_of(m.attributes),
                  counts ? 1.0 : scale.metres_per_count,
                  counts ? "" : "m",
                  scale.spacing,
                  levelled.empty() ? nullptr : levelled.data(),
                  levelling_name(level),
                  &m.attributes,
                  "harnix (Python) " HARNIX_VERSION};
  OutputFile out;
  std::string message;
  bool ok;
  {
    py::gil_scoped_release unlocked;
    ok = output_open(path.c_str(), &out, &message);
    if (ok) {
      try {
        ok = x3p ? write_x3p(data, out.stream, &message) : write_gsf(data, out.stream, &message);
      } catch (const std::bad_alloc&) {
        ok = false;
        message = "not enough memory";
      }
      if (!ok)
        output_discard(&out);
      else
        ok = output_commit(&out, &message);
    }
  }
  if (!ok) raise_error(ERR_CANT_WRITE_FILE, shown, "cannot write \"" + shown + "\": " + message);
}

}  // namespace

void define_surface(py::module_& module) {
  module.def("level", &level, py::arg("measurement"), py::arg("form") = "plane",
             "The phase map with a fitted form taken off, in counts (float64, NaN where "
             "invalid): none, piston, plane, sphere, cylinder or robust.");
  module.def("parameters", &parameters, py::arg("measurement"), py::arg("level") = "none",
             "The areal height parameters (Sq, Sa, Sp, Sv, Sz in metres; Ssk, Sku) of the "
             "levelled map; Ssk and Sku are None when undefined.");
  module.def("export", &export_file, py::arg("path"), py::arg("measurement"), py::kw_only(),
             py::arg("format") = "x3p", py::arg("level") = "none", py::arg("counts") = false,
             "Writes the map as an X3P archive or a GSF file (whole or not at all), levelled "
             "first when `level` asks, in metres or, with counts=True, in phase counts.");
}

}  // namespace harnix
