// Process entry of harnix.
#include <csignal>

#include "cli/command_line.h"

int main(int argc, char** argv) {
  // An output that meets a file-size limit (ulimit -f) must fail its write and be reported as
  // ERR_CANT_WRITE_FILE, not have the system end the program with the limit's signal.
  std::signal(SIGXFSZ, SIG_IGN);
  return harnix::parse_command_line(argc, argv);
}
