// The program's entry: command line, list file, input checks, minimum count, overwrite prompt.
#ifndef HARNIX_CLI_COMMAND_LINE_H_
#define HARNIX_CLI_COMMAND_LINE_H_

namespace harnix {

// Parses argv into a RunSettings and an InputList, checks inputs and outputs, asks before
// overwriting, runs the averaging run with them and returns the process exit status: 0 after a
// successful run, 1 in every other case (each failure has been reported by then).
int parse_command_line(int argc, char** argv);

}  // namespace harnix

#endif  // HARNIX_CLI_COMMAND_LINE_H_
