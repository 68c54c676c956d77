// A small JSON writer for the run record: objects, arrays, strings, numbers, booleans and null,
// written into a string with two-space indentation.
//
// Strings are taken as UTF-8 and escaped as JSON asks (quote, backslash, control characters);
// a byte that does not belong to a valid UTF-8 sequence (a POSIX file name may hold any) becomes
// U+FFFD, so that the text stays valid JSON. A number that is not finite is written as null.
#ifndef HARNIX_CLI_JSON_WRITER_H_
#define HARNIX_CLI_JSON_WRITER_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace harnix {

class JsonWriter {
 public:
  // Containers: inside an object each value follows key(); begin/end must pair.
  void begin_object();
  void end_object();
  void begin_array();
  void end_array();
  void key(const char* name);

  void string(const std::string& text);
  void string(const char* text);  // nullptr writes null
  void integer(int64_t value);
  void number(double value);  // shortest text that reads back as the same double
  void boolean(bool value);
  void null();

  // A member of the current object: key(name) and the value.
  template <typename T>
  void field(const char* name, const T& value) {
    key(name);
    put(value);
  }

  // The text written so far, with a final line feed once every container is closed.
  const std::string& text() const { return text_; }

 private:
  void put(const std::string& v) { string(v); }
  void put(const char* v) { string(v); }
  void put(std::nullptr_t) { null(); }
  void put(bool v) { boolean(v); }
  void put(int32_t v) { integer(v); }
  void put(int64_t v) { integer(v); }
  void put(double v) { number(v); }

  void before_value();
  void open(char bracket);   // a container's first bracket
  void close(char bracket);  // and its last
  void quoted(const std::string& text);  // the string's text, escaped, in quotes
  void new_line();

  std::string text_;
  int depth_ = 0;
  bool first_ = true;      // no member yet in the open container
  bool after_key_ = false;  // a key is waiting for its value
};

}  // namespace harnix

#endif  // HARNIX_CLI_JSON_WRITER_H_
