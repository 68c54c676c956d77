// Table rows for end-to-end runs of harnix, each in a fresh directory.
//
// Every row runs in a new temporary directory (the program's working directory) that holds the
// regular files a.dat, b.dat, c.dat and out.dat, the directory dir, and the row's own files.
// A row that stops before the averaging run compares stdout, stderr and the exit status byte for
// byte. A row that reaches the run cannot know what the run will print, so it is compared with a
// reference: the same command with -Overwrite added and no input, in another fresh directory.
// Its stdout must be the row's `out` (the prompts) followed by the reference's stdout, and its
// stderr and status those of the reference, which itself must show no sign of the command line
// refusing it.
#ifndef HARNIX_TESTS_SUPPORT_CLI_CASE_H_
#define HARNIX_TESTS_SUPPORT_CLI_CASE_H_

#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "support/run_program.h"

namespace harnix {

struct CliCase {
  std::string label{};  // test name: letters, digits and underscores
  std::vector<std::string> args{};
  std::string out{};  // whole stdout, or for a row that reaches the run what comes before it
  std::string err{};
  int status = 1;
  std::string input{};                                       // standard input
  std::vector<std::pair<std::string, std::string>> files{};  // name, content
  bool reaches_run = false;
};

inline std::ostream& operator<<(std::ostream& os, const CliCase& c) {
  return os << c.label;
}

// The usage text, word for word.
extern const char* const USAGE_TEXT;

// The two lines of an error message with `text`.
std::string error_text(const std::string& text);

// Runs harnix with `args` and `input` in a fresh directory prepared for `c`.
ProgramResult run_cli(const CliCase& c, const std::vector<std::string>& args,
                      const std::string& input);

// Runs the row and checks it as described above (gtest expectations).
void check_cli_case(const CliCase& c);

// Test-name generator for parametrised tables.
struct CliCaseName {
  template <class ParamInfo>
  std::string operator()(const ParamInfo& info) const {
    return info.param.label;
  }
};

}  // namespace harnix

#endif  // HARNIX_TESTS_SUPPORT_CLI_CASE_H_
