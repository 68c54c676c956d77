// The operator's view of a run: the averaging run with the verbose report when asked for, and
// its result turned into the messages on the standard error stream.
#ifndef HARNIX_CLI_RUN_MESSAGES_H_
#define HARNIX_CLI_RUN_MESSAGES_H_

#include "averaging/run_result.h"
#include "averaging/settings.h"
#include "cli/run_record.h"

namespace harnix {

// Prints the messages of a failed run on the standard error stream: the step's own message
// naming the file, then for the steps that carry a code of interest the code's name. Prints
// nothing for a run that succeeded.
void print_run_failure(const RunResult& result);

// Runs the averaging run, reporting its progress with -Verbose (or, without it, on a line of
// its own when the standard error stream is a terminal), and prints its failure. With a run
// record asked for, writes it at the end, after a failure too (the command line in it is
// `command`). True when every requested output, and the record, was written.
bool run_on_console(const RunSettings& settings, const InputList& inputs,
                    CommandArguments command);
bool run_on_console(const RunSettings& settings, const InputList& inputs);

}  // namespace harnix

#endif  // HARNIX_CLI_RUN_MESSAGES_H_
