// The tests' one coder of Planoryx data files, written from the byte layout alone and kept apart
// from the library's reader and writer, so that tests check the program's files against an
// independent reading of them: TestFile sets bytes at literal offsets (and damages files);
// MeasurementFile is a whole file's fields, encoded and decoded through TestFile.
#ifndef HARNIX_TESTS_SUPPORT_PLANORYX_BYTES_H_
#define HARNIX_TESTS_SUPPORT_PLANORYX_BYTES_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace harnix {

constexpr int32_t TEST_PHASE_INVALID = 0x7FFFFFF8;

// The bytes of one file. Multi-byte setters and getters are big-endian unless named _le.
struct TestFile {
  std::vector<uint8_t> bytes;

  // A header of the size the magic implies (834 or 4096), all zero but magic, header_format
  // and header_size.
  static TestFile with_header(uint32_t magic) {
    TestFile f;
    const bool long_header = magic == 0x881B0371;
    f.bytes.assign(long_header ? 4096 : 834, 0);
    f.set32(0, magic);
    f.set16(4, long_header ? 3 : magic == 0x881B0370 ? 2 : 1);
    f.set32(6, long_header ? 4096 : 834);
    return f;
  }

  void set8(std::size_t offset, uint8_t v) { bytes.at(offset) = v; }
  void set16(std::size_t offset, uint32_t v) {
    bytes.at(offset) = uint8_t(v >> 8);
    bytes.at(offset + 1) = uint8_t(v);
  }
  void set32(std::size_t offset, uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes.at(offset + i) = uint8_t(v >> (24 - 8 * i));
  }
  void set_float(std::size_t offset, float v) {
    uint32_t u;
    std::memcpy(&u, &v, 4);
    set32(offset, u);
  }
  void set32_le(std::size_t offset, uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes.at(offset + i) = uint8_t(v >> (8 * i));
  }
  uint16_t get16(std::size_t offset) const {
    return uint16_t(bytes.at(offset) << 8 | bytes.at(offset + 1));
  }
  uint32_t get32(std::size_t offset) const {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = v << 8 | bytes.at(offset + i);
    return v;
  }
  uint32_t get32_le(std::size_t offset) const {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | bytes.at(offset + i);
    return v;
  }
  float get_float(std::size_t offset) const {
    const uint32_t u = get32(offset);
    float v;
    std::memcpy(&v, &u, 4);
    return v;
  }
  void truncate(std::size_t n) { bytes.resize(n); }
  void append16(uint32_t v) {
    bytes.push_back(uint8_t(v >> 8));
    bytes.push_back(uint8_t(v));
  }
  void append32(uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes.push_back(uint8_t(v >> (24 - 8 * i)));
  }

  // Describes a phase block at 64..75 (byte count 4 x width x height) and appends its values.
  void add_phase(int x, int y, int width, int height, const std::vector<int32_t>& values) {
    set16(64, uint32_t(x));
    set16(66, uint32_t(y));
    set16(68, uint32_t(width));
    set16(70, uint32_t(height));
    set32(72, uint32_t(4 * width * height));
    for (int32_t v : values) append32(uint32_t(v));
  }
  // Describes an intensity block at 48..63 and appends its values; call before add_phase.
  void add_intensity(int x, int y, int width, int height, int buckets, int range,
                     const std::vector<uint16_t>& values) {
    set16(48, uint32_t(x));
    set16(50, uint32_t(y));
    set16(52, uint32_t(width));
    set16(54, uint32_t(height));
    set16(56, uint32_t(buckets));
    set16(58, uint32_t(range));
    set32(60, uint32_t(2 * buckets * width * height));
    for (uint16_t v : values) append16(v);
  }
};

struct MeasurementFile {
  uint32_t magic = 0;       // decoded; chosen by encode_test_file when 0
  int32_t header_size = 0;  // decoded
  int32_t time_stamp = 0;
  std::string comment;
  float scale_factor = 0.5f;  // IntfScaleFactor
  float wavelength = 6.328e-7f;
  float obliquity = 1.0f;
  float camera_res = 7.4e-6f;
  int16_t phase_res = 1;
  int16_t camera_width = 0;
  int16_t camera_height = 0;
  float pixel_width = 7.4e-6f;
  float pixel_height = 7.4e-6f;
  float zoom = 0.0f;  // non-zero forces the 4096-byte header
  bool has_phase = true;
  int16_t x = 0, y = 0, width = 0, height = 0;  // phase window
  std::vector<int32_t> values;                  // row-major, width x height
};

// Bytes of a file: an 834-byte header (magic by PhaseRes) unless `zoom` is non-zero, then the
// phase block when has_phase.
std::string encode_test_file(const MeasurementFile& f);

// Decodes a file of either header size with its phase block; false when the bytes are not a
// complete Planoryx file.
bool decode_test_file(const std::string& bytes, MeasurementFile* out);

std::string read_file_bytes(const std::string& path);
void write_file_bytes(const std::string& path, const std::string& bytes);

// Counts per fringe of a PhaseRes code: 4096, 32768, else 131072.
int32_t test_phase_counts(int32_t code);

}  // namespace harnix

#endif  // HARNIX_TESTS_SUPPORT_PLANORYX_BYTES_H_
