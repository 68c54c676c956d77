// Runs the averaging run, or the whole program entry, inside the test process with the standard
// error stream captured, so that tests can replace the allocation hooks around a run.
#ifndef HARNIX_TESTS_SUPPORT_IN_PROCESS_RUN_H_
#define HARNIX_TESTS_SUPPORT_IN_PROCESS_RUN_H_

#include <functional>
#include <string>
#include <vector>

#include "averaging/settings.h"

namespace harnix {

// Calls `body` with file descriptor 2 sent to a scratch file; returns what was written there.
std::string capture_stderr(const std::function<void()>& body);

struct InProcessRun {
  bool ok = false;  // every output written
  std::string err;  // the standard error stream
};

// The run as the command line makes it (run_on_console), with its messages.
InProcessRun run_in_process(const RunSettings& settings, const InputList& inputs);

// parse_command_line with argv = {"harnix", args...}. Returns the exit status.
int main_in_process(const std::vector<std::string>& args, std::string* err);

}  // namespace harnix

#endif  // HARNIX_TESTS_SUPPORT_IN_PROCESS_RUN_H_
