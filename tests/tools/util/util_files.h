// Helpers of the harnix-util tests: a scratch directory, Planoryx files made with the library's
// writer, and whole-file reads.
#ifndef HARNIX_TESTS_TOOLS_UTIL_UTIL_FILES_H_
#define HARNIX_TESTS_TOOLS_UTIL_UTIL_FILES_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "datafile/data_file.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

namespace harnix {

// A namespace of their own: other test folders have helpers of the same names.
namespace util_test {

// A small phase map with its values in a vector; the writer only reads the map.
struct TestMap {
  Window window;
  std::vector<int32_t> values;  // row-major, window.width * window.height

  PhaseMap record() {
    PhaseMap m{};
    m.window = window;
    m.size = static_cast<uint32_t>(values.size());
    m.matrix = values.data();
    return m;
  }
};

// Attributes of a typical measurement: 632.8 nm light, scale factor 0.5, Super resolution
// (131072 counts per fringe), 1.2 um lateral resolution on a 640 x 480 camera.
inline DataAttributes measurement_attributes() {
  DataAttributes a{};
  a.TimeStamp = 1700000000;
  std::strcpy(a.comment, "polished flat, run 7");
  a.IntfScaleFactor = 0.5f;
  a.WavelengthIn = 632.8e-9f;
  a.ObliquityFactor = 1.0f;
  a.CameraRes = 1.2e-6f;
  a.PhaseRes = PHASE_RES_SUPER;
  a.CameraWidth = 640;
  a.CameraHeight = 480;
  a.PixelWidth = 7.4e-6f;
  a.PixelHeight = 7.4e-6f;
  return a;
}

inline double metres_per_count(const DataAttributes& a) {
  return static_cast<double>(a.IntfScaleFactor) * static_cast<double>(a.ObliquityFactor) *
         static_cast<double>(a.WavelengthIn) / phase_res_counts(a.PhaseRes);
}

inline void write_planoryx(const std::string& path, const DataAttributes& a, TestMap& map,
                           const IntensityMap* intensity = nullptr) {
  PhaseMap m = map.record();
  ASSERT_EQ(NO_ERROR, write_data_file(path.c_str(), nullptr, &a, intensity, &m));
}

inline std::string read_all(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void write_all(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

inline ProgramResult run_util(const std::vector<std::string>& args) {
  return run_program(HARNIX_UTIL_EXE, args);
}

}  // namespace util_test

}  // namespace harnix

#endif  // HARNIX_TESTS_TOOLS_UTIL_UTIL_FILES_H_
