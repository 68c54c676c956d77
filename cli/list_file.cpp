#include "cli/list_file.h"

#include <cstdio>

#include "cli/console.h"

namespace harnix {

namespace {

bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\n';
}

// Reads one line without its line feed into *line, whatever its length. False at end of input
// when nothing was read.
bool read_line(std::FILE* file, std::string* line) {
  line->clear();
  int c;
  while ((c = std::getc(file)) != EOF) {
    if (c == '\n') return true;
    line->push_back(static_cast<char>(c));
  }
  return !line->empty();
}

}  // namespace

std::size_t trim_blanks(std::string& text) {
  std::size_t end = text.size();
  while (end > 0 && is_blank(text[end - 1])) --end;
  std::size_t begin = 0;
  while (begin < end && is_blank(text[begin])) ++begin;
  std::size_t removed = text.size() - (end - begin);
  text = text.substr(begin, end - begin);
  return removed;
}

bool read_list_file(const char* name, InputList* list) {
  std::FILE* file = std::fopen(name, "r");
  if (file == nullptr) {
    print_error_line("%s\nERROR: Cannot access list file \"%s\"\n", PROGRAM_NAME, name);
    return false;
  }
  bool added = false;
  std::string line;
  while (read_line(file, &line)) {
    std::size_t cr = line.find('\r');
    if (cr != std::string::npos) line.erase(cr);
    trim_blanks(line);
    if (line.empty()) continue;
    if (list->names.size() >= static_cast<std::size_t>(MAX_INPUT_FILES)) {
      std::fclose(file);
      print_error_line("%s\nERROR: More than %d input filenames\n", PROGRAM_NAME,
                       static_cast<int>(MAX_INPUT_FILES));
      return false;
    }
    list->names.push_back(line);
    added = true;
  }
  // A directory opens here but cannot be read; calling it empty would mislead.
  bool unreadable = std::ferror(file) != 0;
  std::fclose(file);
  if (unreadable) {
    print_error_line("%s\nERROR: Cannot access list file \"%s\"\n", PROGRAM_NAME, name);
    return false;
  }
  if (!added) {
    print_error_line("%s\nERROR: Empty list file \"%s\"\n", PROGRAM_NAME, name);
    return false;
  }
  return true;
}

}  // namespace harnix
