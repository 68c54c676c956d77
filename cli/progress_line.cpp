#include "cli/progress_line.h"

#include <unistd.h>

#include <chrono>

#include "averaging/pass_plan.h"
#include "base/platform.h"
#include "cli/console.h"

namespace harnix {

namespace {

// The line appears once the run has lasted this long, and changes at most this often.
constexpr double SHOW_AFTER_SECONDS = 1.0;
constexpr double REFRESH_SECONDS = 0.2;

// Back to the line's start, and the line cleared.
constexpr const char* ERASE = "\r\033[K";

}  // namespace

double ProgressLine::steady_seconds() {
  const auto since = std::chrono::steady_clock::now().time_since_epoch();
  return std::chrono::duration<double>(since).count();
}

ProgressLine::ProgressLine(std::FILE* stream, Clock clock)
    : stream_(stream), clock_(clock), start_(clock()) {}

void ProgressLine::run_started(const RunSettings& settings) {
  // The passes the run plans: levelling one more, rejection one per round at most after the
  // first, the report one more.
  passes_ = make_pass_plan(settings).count;
}

void ProgressLine::pass_started(int32_t pass) {
  pass_ = pass;
}

void ProgressLine::input_passed(int32_t pass, int32_t index, int32_t count) {
  const double now = clock_();
  const double elapsed = now - start_;
  if (elapsed < SHOW_AFTER_SECONDS || now - last_shown_ < REFRESH_SECONDS || count < 1) return;
  last_shown_ = now;
  const double done = double(pass - 1) * count + index;
  const double rate = done / elapsed;
  const double left_inputs = double(passes_ > pass ? passes_ : pass) * count - done;
  const auto left = static_cast<long long>(left_inputs / rate + 0.5);
  print_to_stream(stream_, "\rpass %d, input %d of %d, %.1f inputs/s, %lld:%02lld left\033[K",
                  int(pass_), int(index), int(count), rate, left / 60, left % 60);
  // An interrupted run erases the line as a finished one does.
  if (stream_ == stderr) set_interrupt_text(ERASE);
}

void ProgressLine::finish() {
  if (last_shown_ >= 0.0) print_to_stream(stream_, "%s", ERASE);
  if (stream_ == stderr) set_interrupt_text(nullptr);
  last_shown_ = -1.0;
}

bool stderr_is_terminal() {
  return isatty(STDERR_FILENO) == 1;
}

}  // namespace harnix
