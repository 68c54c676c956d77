// What a run ended with: the record run_averaging returns instead of printing. The command line
// turns it into the operator's messages.
#ifndef HARNIX_AVERAGING_RUN_RESULT_H_
#define HARNIX_AVERAGING_RUN_RESULT_H_

#include "base/error_codes.h"

namespace harnix {

// Room for the detail text, the attribute check's explanation among them.
constexpr int RUN_DETAIL_BYTES = 512;

// The step at which a run stopped. `file` is the input or output concerned where there is one.
enum class RunStep {
  DONE,              // every requested output was written; code NO_ERROR
  CREATE_OUTPUT,     // an output could not be created empty (or names an input)
  READ_INPUT,        // the reader failed on an input; code from the reader
  CHECK_ATTRIBUTES,  // an input's attributes are refused; detail: the check's explanation
  NO_HEIGHT_DATA,    // an input has no phase map
  NO_VALID_DATA,     // an input has no valid value
  MISMATCHED_INPUT,  // an input's camera disagrees with the first's; detail: the attribute
  INPUT_CHANGED,     // an input vanished or changed (size, time, identity) between passes
  ACCUMULATE,        // making the sums or adding an input to them failed; code says why
  EMPTY_AVERAGE,     // the average has no valid value
  EMPTY_RESULT,      // an extreme, range, uncertainty or sample deviation has no valid value
  MEDIAN_BUDGET,     // the median's budget holds no row of every input; detail: MiB a row takes
  WRITE_OUTPUT,      // forming or writing an output failed; code says why
  ALIGN_INPUT,       // an input's shift from the first cannot be told; detail: the reason
};

struct RunResult {
  ErrorCode code = NO_ERROR;
  RunStep step = RunStep::DONE;
  const char* file = nullptr;          // points into the run's settings or inputs
  char detail[RUN_DETAIL_BYTES] = "";  // text for CHECK_ATTRIBUTES, MISMATCHED_INPUT,
                                       // MEDIAN_BUDGET and ALIGN_INPUT

  bool ok() const { return step == RunStep::DONE; }
};

}  // namespace harnix

#endif  // HARNIX_AVERAGING_RUN_RESULT_H_
