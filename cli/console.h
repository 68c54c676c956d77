// Console primitives: the only way the program prints.
//
// Each prints a printf-style format with its arguments and then flushes the stream it wrote to;
// write errors are ignored. Errors go to the standard error stream as two lines, the program name
// and "ERROR: " with the text (the format strings carry the "%s\nERROR: " prefix themselves);
// usage text, prompts and the progress report go to the standard output stream.
#ifndef HARNIX_CLI_CONSOLE_H_
#define HARNIX_CLI_CONSOLE_H_

#include <cstdio>

#include "averaging/settings.h"

namespace harnix {

// PROGRAM_NAME (averaging/settings.h) is printed in every message and in the usage text.

[[gnu::format(printf, 1, 2)]] void print_error_line(const char* format, ...);
[[gnu::format(printf, 1, 2)]] void print_output_line(const char* format, ...);
[[gnu::format(printf, 2, 3)]] void print_to_stream(std::FILE* stream, const char* format, ...);

// The text of the last error printed (after its "ERROR: ", without its line end), for the run
// record; empty before any.
const char* last_error_text();

// True when everything printed on the standard output stream so far reached it (flushed, no
// write error); clears the stream's error flag, so that each call judges what came after the last.
bool standard_output_written();

}  // namespace harnix

#endif  // HARNIX_CLI_CONSOLE_H_
