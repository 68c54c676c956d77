#include "support/planoryx_bytes.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

#include "support/temp_dir.h"

namespace harnix {

namespace {

uint32_t float_bits(float f) {
  uint32_t u;
  std::memcpy(&u, &f, 4);
  return u;
}
float bits_float(uint32_t u) {
  float f;
  std::memcpy(&f, &u, 4);
  return f;
}

}  // namespace

int32_t test_phase_counts(int32_t code) {
  return code == 0 ? 4096 : code == 1 ? 32768 : 131072;
}

std::string encode_test_file(const MeasurementFile& f) {
  const bool long_header = f.zoom != 0.0f;
  const uint32_t magic = f.magic != 0       ? f.magic
                         : long_header      ? 0x881B0371u
                         : f.phase_res >= 2 ? 0x881B0370u
                                            : 0x881B036Fu;
  TestFile b = TestFile::with_header(long_header ? 0x881B0371u : 0x881B036Fu);
  b.set32(0, magic);
  b.set16(4, long_header ? 3 : (f.phase_res >= 2 ? 2 : 1));
  b.set32(76, uint32_t(f.time_stamp));
  std::memcpy(&b.bytes[80], f.comment.data(), std::min<std::size_t>(f.comment.size(), 81));
  b.set_float(164, f.scale_factor);
  b.set_float(168, f.wavelength);
  b.set_float(176, f.obliquity);
  b.set_float(184, f.camera_res);
  b.set16(218, uint16_t(f.phase_res));
  b.set16(234, uint16_t(f.camera_width));
  b.set16(236, uint16_t(f.camera_height));
  b.set_float(486, f.pixel_width);
  b.set_float(490, f.pixel_height);
  if (long_header) b.set32_le(1442, float_bits(f.zoom));
  if (f.has_phase) {
    b.set16(64, uint16_t(f.x));
    b.set16(66, uint16_t(f.y));
    b.set16(68, uint16_t(f.width));
    b.set16(70, uint16_t(f.height));
    b.set32(72, uint32_t(4 * f.values.size()));
    for (int32_t v : f.values) b.append32(uint32_t(v));
  }
  return std::string(b.bytes.begin(), b.bytes.end());
}

bool decode_test_file(const std::string& bytes, MeasurementFile* out) {
  if (bytes.size() < 834) return false;
  const TestFile b{std::vector<uint8_t>(bytes.begin(), bytes.end())};
  MeasurementFile f;
  f.magic = b.get32(0);
  if (f.magic != 0x881B036F && f.magic != 0x881B0370 && f.magic != 0x881B0371) return false;
  f.header_size = f.magic == 0x881B0371 ? 4096 : 834;
  if (b.bytes.size() < std::size_t(f.header_size)) return false;
  const int32_t intensity_bytes = int32_t(b.get32(60));
  const int32_t phase_bytes = int32_t(b.get32(72));
  f.x = int16_t(b.get16(64));
  f.y = int16_t(b.get16(66));
  f.width = int16_t(b.get16(68));
  f.height = int16_t(b.get16(70));
  f.time_stamp = int32_t(b.get32(76));
  f.comment.assign(reinterpret_cast<const char*>(&b.bytes[80]),
                   strnlen(reinterpret_cast<const char*>(&b.bytes[80]), 82));
  f.scale_factor = b.get_float(164);
  f.wavelength = b.get_float(168);
  f.obliquity = b.get_float(176);
  f.camera_res = b.get_float(184);
  f.phase_res = int16_t(b.get16(218));
  f.camera_width = int16_t(b.get16(234));
  f.camera_height = int16_t(b.get16(236));
  f.pixel_width = b.get_float(486);
  f.pixel_height = b.get_float(490);
  if (f.header_size == 4096) f.zoom = bits_float(b.get32_le(1442));
  f.has_phase = phase_bytes > 0;
  const std::size_t at = std::size_t(f.header_size) + std::size_t(std::max(0, intensity_bytes));
  if (f.has_phase) {
    if (f.width < 0 || f.height < 0) return false;
    const std::size_t n = std::size_t(f.width) * std::size_t(f.height);
    if (b.bytes.size() != at + 4 * n) return false;
    f.values.resize(n);
    for (std::size_t i = 0; i < n; ++i) f.values[i] = int32_t(b.get32(at + 4 * i));
  } else if (b.bytes.size() != at) {
    return false;
  }
  *out = f;
  return true;
}

std::string read_file_bytes(const std::string& path) {
  std::ifstream in(TempDir::native(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file_bytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(TempDir::native(path), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), std::streamsize(bytes.size()));
}

}  // namespace harnix
