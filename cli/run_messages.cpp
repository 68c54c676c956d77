#include "cli/run_messages.h"

#include "averaging/averaging_run.h"
#include "averaging/run_failure.h"
#include "base/error_codes.h"
#include "cli/console.h"
#include "cli/progress_line.h"
#include "cli/progress_report.h"
#include "cli/run_record.h"

namespace harnix {

void print_run_failure(const RunResult& result) {
  const RunFailureText failure = run_failure_text(result);
  if (!failure.text.empty())
    print_error_line("%s\nERROR: %s\n", PROGRAM_NAME, failure.text.c_str());
  if (failure.names_code)
    print_error_line("%s\nERROR: %s\n", PROGRAM_NAME, error_name(result.code));
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
  if (!write_run_record(recorder, result, &message)) {
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
