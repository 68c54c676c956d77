#include "cli/list_file.h"

#include <cstdint>
#include <cstdio>
#include <vector>

#include "base/platform.h"
#include "cli/console.h"
#include "datafile/file_name.h"

namespace harnix {

namespace {

bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\n';
}

// How a list file's bytes make its lines.
enum class ListEncoding { BYTES, UTF16_LE, UTF16_BE };

// The bytes of a list file, the first three held back while a byte-order mark is looked for.
class ListBytes {
 public:
  explicit ListBytes(std::FILE* file) : file_(file) {}

  // Consumes a UTF-8 or UTF-16 byte-order mark at the start; returns the encoding it announces.
  ListEncoding take_mark() {
    for (int c; count_ < 3 && (c = std::getc(file_)) != EOF;) head_[count_++] = uint8_t(c);
    ListEncoding encoding = ListEncoding::BYTES;
    if (count_ >= 2 && head_[0] == 0xFF && head_[1] == 0xFE) {
      encoding = ListEncoding::UTF16_LE;
      next_ = 2;
    } else if (count_ >= 2 && head_[0] == 0xFE && head_[1] == 0xFF) {
      encoding = ListEncoding::UTF16_BE;
      next_ = 2;
    } else if (count_ == 3 && head_[0] == 0xEF && head_[1] == 0xBB && head_[2] == 0xBF) {
      next_ = 3;
    }
    return encoding;
  }

  int get() { return next_ < count_ ? head_[next_++] : std::getc(file_); }

 private:
  std::FILE* file_;
  uint8_t head_[3] = {};
  int count_ = 0;
  int next_ = 0;
};

// Reads one line without its line feed into *line, whatever its length, converting UTF-16 to
// UTF-8. False at end of input when nothing was read, and when a UTF-16 line cannot be converted
// (*undecodable is then set).
bool read_line(ListBytes& bytes, ListEncoding encoding, std::string* line, bool* undecodable) {
  line->clear();
  int c;
  if (encoding == ListEncoding::BYTES) {
    while ((c = bytes.get()) != EOF) {
      if (c == '\n') return true;
      line->push_back(static_cast<char>(c));
    }
    return !line->empty();
  }
  const bool most_significant_first = encoding == ListEncoding::UTF16_BE;
  std::vector<unsigned char> units;
  bool ended = false;  // by a line feed
  while (!ended && (c = bytes.get()) != EOF) {
    units.push_back(static_cast<unsigned char>(c));
    const std::size_t n = units.size();
    if (n % 2 != 0) continue;
    const unsigned unit = most_significant_first ? units[n - 2] << 8 | units[n - 1]
                                                 : units[n - 2] | units[n - 1] << 8;
    if (unit == '\n') {
      units.resize(n - 2);
      ended = true;
    }
  }
  if (!ended && units.empty()) return false;
  if (!utf16_to_utf8(units.data(), units.size(), most_significant_first, line)) {
    *undecodable = true;
    return false;
  }
  return true;
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
  // Lists saved on Windows (a UTF-8 mark, or UTF-16) are read alike on every system.
  return read_list_file(name, list, true);
}

bool read_list_file(const char* name, InputList* list, bool marks) {
  std::FILE* file = open_file_utf8(name, "rb");
  if (file == nullptr) {
    print_error_line("%s\nERROR: Cannot access list file \"%s\"\n", PROGRAM_NAME, name);
    return false;
  }
  ListBytes bytes(file);
  const ListEncoding encoding = marks ? bytes.take_mark() : ListEncoding::BYTES;
  bool added = false;
  bool undecodable = false;
  std::string line;
  while (read_line(bytes, encoding, &line, &undecodable)) {
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
  bool unreadable = std::ferror(file) != 0 || undecodable;
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
