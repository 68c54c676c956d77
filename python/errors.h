// The module's one exception, harnix.HarnixError, and the texts of a failed run.
#ifndef HARNIX_PYTHON_ERRORS_H_
#define HARNIX_PYTHON_ERRORS_H_

#include <pybind11/pybind11.h>

#include <string>

#include "averaging/run_result.h"
#include "base/error_codes.h"

namespace harnix {

// Creates harnix.HarnixError in `module` (once, at import).
void define_error(pybind11::module_& module);

// Throws HarnixError with the code's name (as error_name gives it), the file concerned ("" when
// none), `message`, the text the command line prints after "ERROR: ", and `record`, the record
// of the run that failed as a dict (None for a failure outside a run).
[[noreturn]] void raise_error(ErrorCode code, const std::string& file, const std::string& message,
                              const pybind11::object& record = pybind11::none());

// The message of a failed run, as the command line words it (its lines after "ERROR: ", joined
// by a newline; the code's name is carried apart).
std::string run_failure_message(const RunResult& result);

// Throws HarnixError for a failed run, with its record; returns when the run succeeded.
void raise_for_run(const RunResult& result, const pybind11::object& record = pybind11::none());

// The reader's failure on `path`, in the command line's words.
[[noreturn]] void raise_read_error(ErrorCode code, const std::string& path);

}  // namespace harnix

#endif  // HARNIX_PYTHON_ERRORS_H_
