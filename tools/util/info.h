// `harnix-util info`: header, attributes, windows and phase statistics of Planoryx files.
#ifndef HARNIX_TOOLS_UTIL_INFO_H_
#define HARNIX_TOOLS_UTIL_INFO_H_

namespace harnix {

// argv[0] is "info". Returns 0 after describing every file, 1 when any file could not be read or
// the arguments are wrong (one line on the standard error stream for each failure).
int run_info(int argc, char** argv);

}  // namespace harnix

#endif  // HARNIX_TOOLS_UTIL_INFO_H_
