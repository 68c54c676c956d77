// Hand-made Planoryx data files for tests: bytes set at literal offsets, independently of the
// program's header table, with helpers that damage them, and a scratch directory to keep them in.
#ifndef HARNIX_TESTS_DATAFILE_TEST_FILES_H_
#define HARNIX_TESTS_DATAFILE_TEST_FILES_H_

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "datafile/attributes.h"
#include "maps/window.h"

namespace harnix {

// A window as {x, y, width, height}, for comparisons.
inline std::vector<int> window_of(const Window& w) {
  return {w.x, w.y, w.width, w.height};
}

// True when every field of two records holds the same bits (padding ignored).
inline bool same_attributes(const DataAttributes& a, const DataAttributes& b) {
  auto same = [](const auto& x, const auto& y) { return std::memcmp(&x, &y, sizeof x) == 0; };
  return same(a.TimeStamp, b.TimeStamp) && same(a.comment, b.comment) &&
         same(a.IntfScaleFactor, b.IntfScaleFactor) && same(a.WavelengthIn, b.WavelengthIn) &&
         same(a.ObliquityFactor, b.ObliquityFactor) && same(a.CameraRes, b.CameraRes) &&
         same(a.PhaseRes, b.PhaseRes) && same(a.CameraWidth, b.CameraWidth) &&
         same(a.CameraHeight, b.CameraHeight) && same(a.PixelWidth, b.PixelWidth) &&
         same(a.PixelHeight, b.PixelHeight) && same(a.ZoomMag, b.ZoomMag) && same(a.other, b.other);
}

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

// A scratch directory, removed with everything in it when the object goes.
class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "harnix-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    path_ = pattern;
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  std::string path(const std::string& name) const { return (path_ / name).string(); }

  std::string write(const std::string& name, const std::vector<uint8_t>& bytes) const {
    const std::string p = path(name);
    std::ofstream out(p, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return p;
  }

  static TestFile read(const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    TestFile f;
    f.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return f;
  }

 private:
  std::filesystem::path path_;
};

}  // namespace harnix

#endif  // HARNIX_TESTS_DATAFILE_TEST_FILES_H_
