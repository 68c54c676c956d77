#include "averaging/json_writer.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace harnix {

namespace {

// Length of the valid UTF-8 sequence at `s` (of `left` bytes), 0 when there is none: no overlong
// forms, no surrogates, nothing beyond U+10FFFF.
std::size_t utf8_length(const unsigned char* s, std::size_t left) {
  const unsigned char c = s[0];
  std::size_t n;
  unsigned lowest;
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
    lowest = 0x80;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    lowest = 0x800;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    lowest = 0x10000;
  } else {
    return 0;
  }
  if (left < n) return 0;
  unsigned code = c & (0x7F >> n);
  for (std::size_t k = 1; k < n; ++k) {
    if ((s[k] & 0xC0) != 0x80) return 0;
    code = code << 6 | (s[k] & 0x3F);
  }
  if (code < lowest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return n;
}

}  // namespace

void JsonWriter::new_line() {
  text_ += '\n';
  text_.append(std::size_t(depth_) * 2, ' ');
}

void JsonWriter::before_value() {
  if (after_key_) {
    after_key_ = false;
    return;
  }
  if (depth_ == 0) return;
  if (!first_) text_ += ',';
  first_ = false;
  new_line();
}

void JsonWriter::key(const char* name) {
  before_value();
  quoted(name);
  text_ += ": ";
  after_key_ = true;
}

void JsonWriter::open(char bracket) {
  before_value();
  text_ += bracket;
  ++depth_;
  first_ = true;
}

void JsonWriter::close(char bracket) {
  --depth_;
  if (!first_) new_line();
  text_ += bracket;
  first_ = false;
  if (depth_ == 0) text_ += '\n';
}

void JsonWriter::begin_object() {
  open('{');
}

void JsonWriter::end_object() {
  close('}');
}

void JsonWriter::begin_array() {
  open('[');
}

void JsonWriter::end_array() {
  close(']');
}

void JsonWriter::string(const char* text) {
  if (text == nullptr) {
    null();
    return;
  }
  string(std::string(text));
}

void JsonWriter::string(const std::string& text) {
  before_value();
  quoted(text);
}

void JsonWriter::quoted(const std::string& text) {
  text_ += '"';
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = s[i];
    if (c == '"' || c == '\\') {
      text_ += '\\';
      text_ += char(c);
      ++i;
    } else if (c < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", unsigned(c));
      text_ += escape;
      ++i;
    } else if (const std::size_t n = utf8_length(s + i, text.size() - i); n > 0) {
      text_.append(text, i, n);
      i += n;
    } else {
      text_ += "\\ufffd";
      ++i;
    }
  }
  text_ += '"';
}

void JsonWriter::integer(int64_t value) {
  before_value();
  text_ += std::to_string(value);
}

void JsonWriter::number(double value) {
  if (!std::isfinite(value)) {
    null();
    return;
  }
  before_value();
  // The fewest significant digits that read back as the same value.
  char digits[32];
  for (int precision = 1; precision <= 17; ++precision) {
    std::snprintf(digits, sizeof digits, "%.*g", precision, value);
    if (std::strtod(digits, nullptr) == value) break;
  }
  text_ += digits;
}

void JsonWriter::boolean(bool value) {
  before_value();
  text_ += value ? "true" : "false";
}

void JsonWriter::null() {
  before_value();
  text_ += "null";
}

}  // namespace harnix
