#include "cli/console.h"

#include <cstdarg>

namespace harnix {

namespace {

// Write errors are ignored: there is nowhere left to report them.
void print_and_flush(std::FILE* stream, const char* format, std::va_list args) {
  std::vfprintf(stream, format, args);
  std::fflush(stream);
}

}  // namespace

void print_error_line(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  print_and_flush(stderr, format, args);
  va_end(args);
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
