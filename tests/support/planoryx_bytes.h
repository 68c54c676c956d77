// A small test-side coder of Planoryx data files, written from the byte layout alone and kept
// apart from the library's reader and writer, so that end-to-end tests check the program's files
// against an independent reading of them.
#ifndef HARNIX_TESTS_SUPPORT_PLANORYX_BYTES_H_
#define HARNIX_TESTS_SUPPORT_PLANORYX_BYTES_H_

#include <cstdint>
#include <string>
#include <vector>

namespace harnix {

constexpr int32_t TEST_PHASE_INVALID = 0x7FFFFFF8;

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
