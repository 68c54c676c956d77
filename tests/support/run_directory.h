// A scratch directory for end-to-end tests: input files are written into it, harnix runs in it,
// and it is removed afterwards.
#ifndef HARNIX_TESTS_SUPPORT_RUN_DIRECTORY_H_
#define HARNIX_TESTS_SUPPORT_RUN_DIRECTORY_H_

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/planoryx_bytes.h"
#include "support/run_program.h"

namespace harnix {

class RunDirectory : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/harnix_e2e_XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string path(const std::string& name) const { return dir_ + "/" + name; }

  void write_input(const std::string& name, const MeasurementFile& f) {
    write_file_bytes(path(name), encode_test_file(f));
  }

  // Decodes an output file; fails the test when it is not a complete Planoryx file.
  MeasurementFile read_output(const std::string& name) {
    MeasurementFile f;
    EXPECT_TRUE(decode_test_file(read_file_bytes(path(name)), &f)) << name;
    return f;
  }

  // Runs harnix in the directory.
  ProgramResult harnix(const std::vector<std::string>& args) {
    return run_program(HARNIX_EXE, args, "", dir_);
  }
  ProgramResult util(const std::vector<std::string>& args) {
    return run_program(HARNIX_UTIL_EXE, args, "", dir_);
  }

  std::string dir_;
};

// A measurement covering a camera of width x height with `values` (row-major).
inline MeasurementFile full_field(int16_t width, int16_t height, std::vector<int32_t> values,
                                  int16_t phase_res = 1) {
  MeasurementFile f;
  f.camera_width = width;
  f.camera_height = height;
  f.width = width;
  f.height = height;
  f.phase_res = phase_res;
  f.values = std::move(values);
  return f;
}

}  // namespace harnix

#endif  // HARNIX_TESTS_SUPPORT_RUN_DIRECTORY_H_
