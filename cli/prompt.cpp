#include "cli/prompt.h"

#include <cctype>
#include <cstdio>

#include "cli/console.h"

namespace harnix {

bool ask_yes_no(const char* prompt_format, bool* answer) {
  if (prompt_format != nullptr) print_to_stream(stdout, prompt_format, *answer ? 'y' : 'n');
  // The whole line is consumed, so that the rest of a long answer cannot answer the next prompt.
  int first = std::getc(stdin);
  for (int c = first; c != EOF && c != '\n';) c = std::getc(stdin);
  if (first == EOF || first == '\n') return false;
  switch (std::tolower(first)) {
    case 'y':
    case '1':
      *answer = true;
      return true;
    case 'n':
    case '0':
      *answer = false;
      return true;
    default:
      return false;
  }
}

}  // namespace harnix
