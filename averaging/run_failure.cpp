#include "averaging/run_failure.h"

namespace harnix {

RunFailureText run_failure_text(const RunResult& result) {
  const std::string file = result.file != nullptr ? result.file : "";
  const std::string quoted = "\"" + file + "\"";
  switch (result.step) {
    case RunStep::DONE:
    case RunStep::STOPPED:  // asked for by the caller, who knows why
      return {"", false};
    case RunStep::CREATE_OUTPUT:
      return {"Cannot create output file " + quoted, false};
    case RunStep::READ_INPUT:
      return {"Error reading input file " + quoted, true};
    case RunStep::CHECK_ATTRIBUTES:
      return {"Invalid attribute information in input file " + quoted + "\n" + result.detail,
              true};
    case RunStep::NO_HEIGHT_DATA:
      return {"Input file " + quoted + " contains no height data", false};
    case RunStep::NO_VALID_DATA:
      return {"Input file " + quoted + " contains no valid data points", false};
    case RunStep::MISMATCHED_INPUT:
      return {"Input file " + quoted + " has mismatched " + result.detail, false};
    case RunStep::INPUT_CHANGED:
      return {"Input file " + quoted + " changed during the run", false};
    case RunStep::ALIGN_INPUT:
      return {"Cannot align input file " + quoted + ": " + result.detail, false};
    case RunStep::EMPTY_AVERAGE:
      return {"Height average map contains no valid data points", false};
    case RunStep::EMPTY_RESULT:
      return {"Output file " + quoted + " would contain no valid data points", false};
    case RunStep::MEDIAN_BUDGET:
      return {std::string("MemoryLimit holds less than one row of every input (") +
                  result.detail + " MiB)",
              false};
    case RunStep::ACCUMULATE:
    case RunStep::WRITE_OUTPUT:
      break;
  }
  return {"", true};
}

}  // namespace harnix
