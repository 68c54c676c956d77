// The progress line on a terminal: when the standard error stream is a terminal and -Verbose is
// off, a run that lasts more than a second shows one line there, rewritten in place (pass, input
// i of N, inputs per second, time left) and erased when the run ends.
#ifndef HARNIX_CLI_PROGRESS_LINE_H_
#define HARNIX_CLI_PROGRESS_LINE_H_

#include <cstdint>
#include <cstdio>

#include "averaging/run_observer.h"

namespace harnix {

class ProgressLine : public RunObserver {
 public:
  // Seconds from some fixed origin (a monotonic clock).
  using Clock = double (*)();
  static double steady_seconds();

  // Writes to `stream`, reading the time from `clock`; the run starts at construction.
  explicit ProgressLine(std::FILE* stream, Clock clock = steady_seconds);

  void run_started(const RunSettings& settings) override;
  void pass_started(int32_t pass) override;
  void input_passed(int32_t pass, int32_t index, int32_t count) override;

  // Erases the line when one was shown.
  void finish();

 private:
  std::FILE* stream_;
  Clock clock_;
  double start_;
  double last_shown_ = -1.0;  // when the line was last written; below 0: never
  int32_t passes_ = 1;        // passes the run takes at most
  int32_t pass_ = 1;
};

// True when the standard error stream is a terminal.
bool stderr_is_terminal();

}  // namespace harnix

#endif  // HARNIX_CLI_PROGRESS_LINE_H_
