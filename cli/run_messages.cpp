#include "cli/run_messages.h"

#include "averaging/averaging_run.h"
#include "base/error_codes.h"
#include "cli/console.h"
#include "cli/progress_line.h"
#include "cli/progress_report.h"
#include "cli/run_record.h"

namespace harnix {

void print_run_failure(const RunResult& result) {
  const char* file = result.file != nullptr ? result.file : "";
  bool with_code = true;
  switch (result.step) {
    case RunStep::DONE:
    case RunStep::STOPPED:  // asked for by the caller, who knows why
      return;
    case RunStep::CREATE_OUTPUT:
      print_error_line("%s\nERROR: Cannot create output file \"%s\"\n", PROGRAM_NAME, file);
      with_code = false;
      break;
    case RunStep::READ_INPUT:
      print_error_line("%s\nERROR: Error reading input file \"%s\"\n", PROGRAM_NAME, file);
      break;
    case RunStep::CHECK_ATTRIBUTES:
      print_error_line("%s\nERROR: Invalid attribute information in input file \"%s\"\n",
                       PROGRAM_NAME, file);
      print_error_line("%s\n", result.detail);
      break;
    case RunStep::NO_HEIGHT_DATA:
      print_error_line("%s\nERROR: Input file \"%s\" contains no height data\n", PROGRAM_NAME,
                       file);
      with_code = false;
      break;
    case RunStep::NO_VALID_DATA:
      print_error_line("%s\nERROR: Input file \"%s\" contains no valid data points\n", PROGRAM_NAME,
                       file);
      with_code = false;
      break;
    case RunStep::MISMATCHED_INPUT:
      print_error_line("%s\nERROR: Input file \"%s\" has mismatched %s\n", PROGRAM_NAME, file,
                       result.detail);
      with_code = false;
      break;
    case RunStep::INPUT_CHANGED:
      print_error_line("%s\nERROR: Input file \"%s\" changed during the run\n", PROGRAM_NAME, file);
      with_code = false;
      break;
    case RunStep::ALIGN_INPUT:
      print_error_line("%s\nERROR: Cannot align input file \"%s\": %s\n", PROGRAM_NAME, file,
                       result.detail);
      with_code = false;
      break;
    case RunStep::EMPTY_AVERAGE:
      print_error_line("%s\nERROR: Height average map contains no valid data points\n",
                       PROGRAM_NAME);
      with_code = false;
      break;
    case RunStep::EMPTY_RESULT:
      print_error_line("%s\nERROR: Output file \"%s\" would contain no valid data points\n",
                       PROGRAM_NAME, file);
      with_code = false;
      break;
    case RunStep::MEDIAN_BUDGET:
      print_error_line("%s\nERROR: MemoryLimit holds less than one row of every input (%s MiB)\n",
                       PROGRAM_NAME, result.detail);
      with_code = false;
      break;
    case RunStep::ACCUMULATE:
    case RunStep::WRITE_OUTPUT:
      break;
  }
  if (with_code) print_error_line("%s\nERROR: %s\n", PROGRAM_NAME, error_name(result.code));
}

bool run_on_console(const RunSettings& settings, const InputList& inputs,
                    CommandArguments command) {
  VerboseReport report;
  ProgressLine progress(stderr);
  RunObserver* observer = settings.Verbose       ? static_cast<RunObserver*>(&report)
                          : stderr_is_terminal() ? &progress
                                                 : nullptr;
  if (settings.RunRecordFile == nullptr) {
    const RunResult result = run_averaging(settings, inputs, observer);
    progress.finish();
    print_run_failure(result);
    return result.ok();
  }
  RunRecorder recorder(settings, inputs, command, observer);
  const RunResult result = run_averaging(settings, inputs, &recorder);
  progress.finish();
  print_run_failure(result);
  std::string message;
  if (!recorder.write(result, &message)) {
    print_error_line("%s\nERROR: Cannot create output file \"%s\"\n", PROGRAM_NAME,
                     settings.RunRecordFile);
    return false;
  }
  if (settings.Verbose) report_wrote(settings.RunRecordFile);
  return result.ok();
}

bool run_on_console(const RunSettings& settings, const InputList& inputs) {
  return run_on_console(settings, inputs, CommandArguments{});
}

}  // namespace harnix
