// Where a record of nested values goes, value by value: objects of named members, arrays,
// strings, numbers, booleans and null. The command line writes it as JSON text, the Python module
// builds a dict of it; the record's content is made once, by whoever calls these.
#ifndef HARNIX_AVERAGING_RECORD_WRITER_H_
#define HARNIX_AVERAGING_RECORD_WRITER_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace harnix {

class RecordWriter {
 public:
  virtual ~RecordWriter() = default;

  // Containers: inside an object each value follows key(); begin/end must pair.
  virtual void begin_object() = 0;
  virtual void end_object() = 0;
  virtual void begin_array() = 0;
  virtual void end_array() = 0;
  virtual void key(const char* name) = 0;

  virtual void string(const std::string& text) = 0;  // taken as UTF-8
  virtual void string(const char* text) = 0;         // nullptr writes null
  virtual void integer(int64_t value) = 0;
  virtual void number(double value) = 0;  // a value that is not finite is written as null
  virtual void boolean(bool value) = 0;
  virtual void null() = 0;

  // A member of the current object: key(name) and the value.
  template <typename T>
  void field(const char* name, const T& value) {
    key(name);
    put(value);
  }

 private:
  void put(const std::string& v) { string(v); }
  void put(const char* v) { string(v); }
  void put(std::nullptr_t) { null(); }
  void put(bool v) { boolean(v); }
  void put(int32_t v) { integer(v); }
  void put(int64_t v) { integer(v); }
  void put(double v) { number(v); }
};

}  // namespace harnix

#endif  // HARNIX_AVERAGING_RECORD_WRITER_H_
