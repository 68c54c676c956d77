// Runs a built program as a script would, for the end-to-end tests.
#ifndef HARNIX_TESTS_SUPPORT_RUN_PROGRAM_H_
#define HARNIX_TESTS_SUPPORT_RUN_PROGRAM_H_

#include <string>
#include <vector>

namespace harnix {

struct ProgramResult {
  int status = -1;  // exit status, or -1 when the program did not exit normally
  std::string out;  // everything written to the standard output stream
  std::string err;  // everything written to the standard error stream
};

// Runs `program` with `args` (argv[1..]) in directory `cwd` (empty: the current one), feeding
// `input` to its standard input and closing it afterwards.
ProgramResult run_program(const std::string& program, const std::vector<std::string>& args,
                          const std::string& input = "", const std::string& cwd = "");

}  // namespace harnix

#endif  // HARNIX_TESTS_SUPPORT_RUN_PROGRAM_H_
