// A small JSON writer for the run record: objects, arrays, strings, numbers, booleans and null,
// written into a string with two-space indentation. The command line's record file and the one
// the Python module saves are both its text, so that the same content gives the same bytes.
//
// Strings are taken as UTF-8 and escaped as JSON asks (quote, backslash, control characters);
// a byte that does not belong to a valid UTF-8 sequence (a POSIX file name may hold any) becomes
// U+FFFD, so that the text stays valid JSON. A number that is not finite is written as null.
#ifndef HARNIX_AVERAGING_JSON_WRITER_H_
#define HARNIX_AVERAGING_JSON_WRITER_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "averaging/record_writer.h"

namespace harnix {

class JsonWriter final : public RecordWriter {
 public:
  // Containers: inside an object each value follows key(); begin/end must pair.
  void begin_object() override;
  void end_object() override;
  void begin_array() override;
  void end_array() override;
  void key(const char* name) override;

  void string(const std::string& text) override;
  void string(const char* text) override;  // nullptr writes null
  void integer(int64_t value) override;
  void number(double value) override;  // shortest text that reads back as the same double
  void boolean(bool value) override;
  void null() override;

  // The text written so far, with a final line feed once every container is closed.
  const std::string& text() const { return text_; }

 private:
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

#endif  // HARNIX_AVERAGING_JSON_WRITER_H_
