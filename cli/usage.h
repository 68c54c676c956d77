// The usage text.
#ifndef HARNIX_CLI_USAGE_H_
#define HARNIX_CLI_USAGE_H_

namespace harnix {

// Prints the 100 lines of the usage text to the standard output stream, each followed by a newline.
// The text is kept word for word, including its mention of wildcards and of a default minimum count
// of one: the program expands no wildcards itself, and the count defaults to every input.
void print_usage();

}  // namespace harnix

#endif  // HARNIX_CLI_USAGE_H_
