#include "support/planoryx_bytes.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

namespace harnix {

namespace {

void put_be(std::string& b, std::size_t at, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) b[at + i] = char((v >> (8 * (bytes - 1 - i))) & 0xFF);
}
uint32_t get_be(const std::string& b, std::size_t at, int bytes) {
  uint32_t v = 0;
  for (int i = 0; i < bytes; ++i) v = (v << 8) | uint8_t(b[at + i]);
  return v;
}
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
  const std::size_t header = long_header ? 4096 : 834;
  std::string b(header, '\0');
  const uint32_t magic = f.magic != 0       ? f.magic
                         : long_header      ? 0x881B0371u
                         : f.phase_res >= 2 ? 0x881B0370u
                                            : 0x881B036Fu;
  put_be(b, 0, magic, 4);
  put_be(b, 4, long_header ? 3 : (f.phase_res >= 2 ? 2 : 1), 2);
  put_be(b, 6, header, 4);
  if (f.has_phase) {
    put_be(b, 64, uint16_t(f.x), 2);
    put_be(b, 66, uint16_t(f.y), 2);
    put_be(b, 68, uint16_t(f.width), 2);
    put_be(b, 70, uint16_t(f.height), 2);
    put_be(b, 72, uint32_t(4 * f.values.size()), 4);
  }
  put_be(b, 76, uint32_t(f.time_stamp), 4);
  std::memcpy(&b[80], f.comment.data(), std::min<std::size_t>(f.comment.size(), 81));
  put_be(b, 164, float_bits(f.scale_factor), 4);
  put_be(b, 168, float_bits(f.wavelength), 4);
  put_be(b, 176, float_bits(f.obliquity), 4);
  put_be(b, 184, float_bits(f.camera_res), 4);
  put_be(b, 218, uint16_t(f.phase_res), 2);
  put_be(b, 234, uint16_t(f.camera_width), 2);
  put_be(b, 236, uint16_t(f.camera_height), 2);
  put_be(b, 486, float_bits(f.pixel_width), 4);
  put_be(b, 490, float_bits(f.pixel_height), 4);
  if (long_header) {
    const uint32_t z = float_bits(f.zoom);  // least significant byte first
    for (int i = 0; i < 4; ++i) b[1442 + i] = char((z >> (8 * i)) & 0xFF);
  }
  if (f.has_phase) {
    const std::size_t at = b.size();
    b.resize(at + 4 * f.values.size());
    for (std::size_t i = 0; i < f.values.size(); ++i)
      put_be(b, at + 4 * i, uint32_t(f.values[i]), 4);
  }
  return b;
}

bool decode_test_file(const std::string& b, MeasurementFile* out) {
  if (b.size() < 834) return false;
  MeasurementFile f;
  f.magic = get_be(b, 0, 4);
  if (f.magic != 0x881B036F && f.magic != 0x881B0370 && f.magic != 0x881B0371) return false;
  f.header_size = f.magic == 0x881B0371 ? 4096 : 834;
  if (b.size() < std::size_t(f.header_size)) return false;
  const int32_t intensity_bytes = int32_t(get_be(b, 60, 4));
  const int32_t phase_bytes = int32_t(get_be(b, 72, 4));
  f.x = int16_t(get_be(b, 64, 2));
  f.y = int16_t(get_be(b, 66, 2));
  f.width = int16_t(get_be(b, 68, 2));
  f.height = int16_t(get_be(b, 70, 2));
  f.time_stamp = int32_t(get_be(b, 76, 4));
  f.comment.assign(&b[80], strnlen(&b[80], 82));
  f.scale_factor = bits_float(get_be(b, 164, 4));
  f.wavelength = bits_float(get_be(b, 168, 4));
  f.obliquity = bits_float(get_be(b, 176, 4));
  f.camera_res = bits_float(get_be(b, 184, 4));
  f.phase_res = int16_t(get_be(b, 218, 2));
  f.camera_width = int16_t(get_be(b, 234, 2));
  f.camera_height = int16_t(get_be(b, 236, 2));
  f.pixel_width = bits_float(get_be(b, 486, 4));
  f.pixel_height = bits_float(get_be(b, 490, 4));
  if (f.header_size == 4096) {
    uint32_t z = 0;
    for (int i = 3; i >= 0; --i) z = (z << 8) | uint8_t(b[1442 + i]);
    f.zoom = bits_float(z);
  }
  f.has_phase = phase_bytes > 0;
  const std::size_t at = std::size_t(f.header_size) + std::size_t(std::max(0, intensity_bytes));
  if (f.has_phase) {
    if (f.width < 0 || f.height < 0) return false;
    const std::size_t n = std::size_t(f.width) * std::size_t(f.height);
    if (b.size() != at + 4 * n) return false;
    f.values.resize(n);
    for (std::size_t i = 0; i < n; ++i) f.values[i] = int32_t(get_be(b, at + 4 * i, 4));
  } else if (b.size() != at) {
    return false;
  }
  *out = f;
  return true;
}

std::string read_file_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file_bytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), std::streamsize(bytes.size()));
}

}  // namespace harnix
