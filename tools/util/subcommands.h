// Subcommands of harnix-util. Each takes the arguments after its own name (argv[0] is the
// subcommand name) and returns the process exit status: 0 on success, 1 on any failure, after a
// one-line message on the standard error stream.
#ifndef HARNIX_TOOLS_UTIL_SUBCOMMANDS_H_
#define HARNIX_TOOLS_UTIL_SUBCOMMANDS_H_

namespace harnix {

struct Subcommand {
  const char* name;
  const char* summary;
  int (*run)(int argc, char** argv);
};

}  // namespace harnix

#endif  // HARNIX_TOOLS_UTIL_SUBCOMMANDS_H_
