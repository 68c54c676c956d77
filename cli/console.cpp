#include "cli/console.h"

#include <cstdarg>
#include <cstring>

namespace harnix {

namespace {

// Write errors are ignored: there is nowhere left to report them.
void print_and_flush(std::FILE* stream, const char* format, std::va_list args) {
  std::vfprintf(stream, format, args);
  std::fflush(stream);
}

char last_error[512] = "";

}  // namespace

void print_error_line(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::va_list copy;
  va_copy(copy, args);
  print_and_flush(stderr, format, args);
  va_end(args);
  char text[sizeof last_error];
  std::vsnprintf(text, sizeof text, format, copy);
  va_end(copy);
  const char* after = std::strstr(text, "ERROR: ");
  after = after != nullptr ? after + 7 : text;
  std::snprintf(last_error, sizeof last_error, "%.*s", int(std::strcspn(after, "\n")), after);
}

const char* last_error_text() {
  return last_error;
}

void print_output_line(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  print_and_flush(stdout, format, args);
  va_end(args);
}

void print_to_stream(std::FILE* stream, const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  print_and_flush(stream, format, args);
  va_end(args);
}

bool standard_output_written() {
  const bool written = std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
  std::clearerr(stdout);
  return written;
}

}  // namespace harnix
