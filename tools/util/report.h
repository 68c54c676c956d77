// `harnix-util report`: one self-contained HTML page on the result files of an averaging run.
#ifndef HARNIX_TOOLS_UTIL_REPORT_H_
#define HARNIX_TOOLS_UTIL_REPORT_H_

namespace harnix {

// argv[0] is "report". Returns 0 after writing the page whole, 1 after a one-line message on the
// standard error stream; the output name then holds what it held before.
int run_report(int argc, char** argv);

}  // namespace harnix

#endif  // HARNIX_TOOLS_UTIL_REPORT_H_
