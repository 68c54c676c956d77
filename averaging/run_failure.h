// The words of a failed run, shared by every front end: the command line prints them after its
// "ERROR: ", the Python module raises them.
#ifndef HARNIX_AVERAGING_RUN_FAILURE_H_
#define HARNIX_AVERAGING_RUN_FAILURE_H_

#include <string>

#include "averaging/run_result.h"

namespace harnix {

struct RunFailureText {
  std::string text;  // the message's lines joined by '\n', without a final one; "" when none
  bool names_code;   // the code's name (error_name) follows as a message of its own
};

// What `result` says went wrong. For a run that succeeded or was stopped: no text, no code.
RunFailureText run_failure_text(const RunResult& result);

}  // namespace harnix

#endif  // HARNIX_AVERAGING_RUN_FAILURE_H_
