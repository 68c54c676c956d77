// Helpers of the data-file tests: window and attribute comparisons, and a scratch directory for
// the hand-made files (support/planoryx_bytes.h builds them).
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
#include "support/planoryx_bytes.h"
#include "support/temp_dir.h"

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

// A scratch directory, removed with everything in it when the object goes.
class ScratchDir {
 public:
  std::string path(const std::string& name) const { return dir_.file(name); }

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
  TempDir dir_;
};

}  // namespace harnix

#endif  // HARNIX_TESTS_DATAFILE_TEST_FILES_H_
