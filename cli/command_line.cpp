#include "cli/command_line.h"

#include <cstdio>

int parse_command_line(int, char**) {
  std::fputs("Harnix\nVersion 5\n", stdout);
  return 1;
}
