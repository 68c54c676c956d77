// The yes/no question asked on the console.
#ifndef HARNIX_CLI_PROMPT_H_
#define HARNIX_CLI_PROMPT_H_

namespace harnix {

// Prints `prompt_format` (unless null) to the standard output stream with one character argument,
// 'y' when *answer is set on entry and 'n' when not, and flushes it. Then reads one whole line of
// any length from the standard input stream and looks at its first character, lower-cased: 'y' or
// '1' sets *answer and returns true; 'n' or '0' clears it and returns true. End of input, an empty
// line, or any other first character (a leading blank included) returns false and leaves *answer
// as it was.
bool ask_yes_no(const char* prompt_format, bool* answer);

}  // namespace harnix

#endif  // HARNIX_CLI_PROMPT_H_
