// Process entry of harnix.
#include "cli/command_line.h"

int main(int argc, char** argv) { return parse_command_line(argc, argv); }
