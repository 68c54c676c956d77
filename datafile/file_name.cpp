// UTF-16 names are turned into UTF-8 here because this platform opens files by 8-bit names.
// A UTF-16 name reaches us as a NUL-terminated byte string; we never read past that terminator,
// which may itself complete the last unit ("A" stored as 41 00 00 00 is seen as 41).
#include "datafile/file_name.h"

#include <cstring>

#include "base/platform.h"

namespace harnix {

namespace {

constexpr unsigned MARK = 0xFEFF;          // the mark as read least significant byte first
constexpr unsigned SWAPPED_MARK = 0xFFFE;  // the mark of units stored most significant byte first

unsigned load_unit(const unsigned char* p, bool most_significant_first) {
  return most_significant_first ? (p[0] << 8) | p[1] : p[0] | (p[1] << 8);
}

void append_utf8(unsigned code_point, std::string* out) {
  if (code_point < 0x80) {
    out->push_back(static_cast<char>(code_point));
  } else if (code_point < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (code_point >> 6)));
    out->push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  } else if (code_point < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (code_point >> 12)));
    out->push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (code_point >> 18)));
    out->push_back(static_cast<char>(0x80 | ((code_point >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  }
}

bool is_high_surrogate(unsigned unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}
bool is_low_surrogate(unsigned unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}

bool fail(std::string* out) {
  out->clear();
  return false;
}

}  // namespace

bool is_wide_name(const char* name) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(name);
  if (bytes[0] == 0) return false;  // an empty name is narrow; do not look past its end
  unsigned mark = bytes[0] | (bytes[1] << 8);
  return mark == MARK || mark == SWAPPED_MARK;
}

bool utf16_to_utf8(const unsigned char* bytes, std::size_t count, bool most_significant_first,
                   std::string* out) {
  out->clear();
  std::size_t i = 0;
  while (i < count) {
    if (count - i < 2) return fail(out);  // odd trailing byte
    unsigned unit = load_unit(bytes + i, most_significant_first);
    i += 2;
    if (unit == 0) break;
    if (is_low_surrogate(unit)) return fail(out);
    if (is_high_surrogate(unit)) {
      if (count - i < 2) return fail(out);
      unsigned low = load_unit(bytes + i, most_significant_first);
      if (!is_low_surrogate(low)) return fail(out);
      i += 2;
      unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
    }
    append_utf8(unit, out);
  }
  return true;
}

bool platform_file_name(const char* name, std::string* out) {
  out->clear();
  if (!is_wide_name(name)) {
    out->assign(name);
    return true;
  }
  const auto* bytes = reinterpret_cast<const unsigned char*>(name);
  bool most_significant_first = (bytes[0] | (bytes[1] << 8)) == SWAPPED_MARK;
  // The units after the mark, the terminating NUL lending the high byte of an odd last unit.
  std::size_t count = std::strlen(name) - 2;
  count += count % 2;
  return utf16_to_utf8(bytes + 2, count, most_significant_first, out);
}

std::FILE* open_file(const char* name, const char* mode) {
  std::string path;
  if (!platform_file_name(name, &path)) return nullptr;
  return open_file_utf8(path.c_str(), mode);
}

std::FILE* open_file_in_place(const char* name) {
  std::string path;
  if (!platform_file_name(name, &path)) return nullptr;
  return open_file_in_place_utf8(path.c_str());
}

}  // namespace harnix
