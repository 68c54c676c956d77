#include "python/errors.h"

namespace harnix {

namespace py = pybind11;

namespace {

PyObject* error_type = nullptr;  // owned by the module, which lives as long as the interpreter

}  // namespace

void define_error(py::module_& module) {
  error_type = PyErr_NewExceptionWithDoc(
      "harnix.HarnixError",
      "A failure of Harnix: `code` names the error code (\"ERR_CANT_OPEN_FILE\"), `file` the\n"
      "file concerned (\"\" when none) and `message` the text the command line prints.",
      PyExc_RuntimeError, nullptr);
  module.add_object("HarnixError", py::handle(error_type));
}

void raise_error(ErrorCode code, const std::string& file, const std::string& message) {
  py::object type = py::reinterpret_borrow<py::object>(error_type);
  py::object error = type(py::str(message));
  error.attr("code") = py::str(error_name(code));
  error.attr("file") = py::str(file);
  error.attr("message") = py::str(message);
  PyErr_SetObject(error_type, error.ptr());
  throw py::error_already_set();
}

std::string run_failure_message(const RunResult& result) {
  const std::string file = result.file != nullptr ? result.file : "";
  switch (result.step) {
    case RunStep::DONE:
    case RunStep::STOPPED:
      return "";
    case RunStep::CREATE_OUTPUT:
      return "Cannot create output file \"" + file + "\"";
    case RunStep::READ_INPUT:
      return "Error reading input file \"" + file + "\"";
    case RunStep::CHECK_ATTRIBUTES:
      return "Invalid attribute information in input file \"" + file + "\"\n" + result.detail;
    case RunStep::NO_HEIGHT_DATA:
      return "Input file \"" + file + "\" contains no height data";
    case RunStep::NO_VALID_DATA:
      return "Input file \"" + file + "\" contains no valid data points";
    case RunStep::MISMATCHED_INPUT:
      return "Input file \"" + file + "\" has mismatched " + result.detail;
    case RunStep::INPUT_CHANGED:
      return "Input file \"" + file + "\" changed during the run";
    case RunStep::EMPTY_AVERAGE:
      return "Height average map contains no valid data points";
    case RunStep::EMPTY_RESULT:
      return "Output file \"" + file + "\" would contain no valid data points";
    case RunStep::MEDIAN_BUDGET:
      return std::string("MemoryLimit holds less than one row of every input (") + result.detail +
             " MiB)";
    case RunStep::ACCUMULATE:
    case RunStep::WRITE_OUTPUT:
      break;
  }
  return error_name(result.code);
}

void raise_for_run(const RunResult& result) {
  if (result.ok()) return;
  raise_error(result.code, result.file != nullptr ? result.file : "", run_failure_message(result));
}

void raise_read_error(ErrorCode code, const std::string& path) {
  raise_error(code, path, "Error reading input file \"" + path + "\"");
}

}  // namespace harnix
