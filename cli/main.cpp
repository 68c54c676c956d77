// Process entry of harnix.
#include "base/platform.h"
#include "cli/command_line.h"

int main(int argc, char** argv) {
  // Among others: an output that meets a file-size limit (ulimit -f) must fail its write and be
  // reported as ERR_CANT_WRITE_FILE, not have the system end the program with the limit's signal.
  harnix::prepare_process();
  harnix::ProgramArguments arguments(argc, argv);  // UTF-8 on every system
  return harnix::parse_command_line(arguments.count(), arguments.values());
}
