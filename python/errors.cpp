#include "python/errors.h"

#include "averaging/run_failure.h"

namespace harnix {

namespace py = pybind11;

namespace {

PyObject* error_type = nullptr;  // owned by the module, which lives as long as the interpreter

}  // namespace

void define_error(py::module_& module) {
  error_type = PyErr_NewExceptionWithDoc(
      "harnix.HarnixError",
      "A failure of Harnix: `code` names the error code (\"ERR_CANT_OPEN_FILE\"), `file` the\n"
      "file concerned (\"\" when none), `message` the text the command line prints and\n"
      "`record` the record of the run that failed, as Result.record holds one (None when the\n"
      "failure was not a run's).",
      PyExc_RuntimeError, nullptr);
  module.add_object("HarnixError", py::handle(error_type));
}

void raise_error(ErrorCode code, const std::string& file, const std::string& message,
                 const py::object& record) {
  py::object type = py::reinterpret_borrow<py::object>(error_type);
  py::object error = type(py::str(message));
  error.attr("code") = py::str(error_name(code));
  error.attr("file") = py::str(file);
  error.attr("message") = py::str(message);
  error.attr("record") = record;
  PyErr_SetObject(error_type, error.ptr());
  throw py::error_already_set();
}

std::string run_failure_message(const RunResult& result) {
  const RunFailureText failure = run_failure_text(result);
  return failure.text.empty() && failure.names_code ? error_name(result.code) : failure.text;
}

void raise_for_run(const RunResult& result, const py::object& record) {
  if (result.ok()) return;
  raise_error(result.code, result.file != nullptr ? result.file : "", run_failure_message(result),
              record);
}

void raise_read_error(ErrorCode code, const std::string& path) {
  raise_error(code, path, "Error reading input file \"" + path + "\"");
}

}  // namespace harnix
