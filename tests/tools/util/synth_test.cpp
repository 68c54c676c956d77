// harnix-util synth: the same seed gives the same files, and the options give the variety the
// demo, the end-to-end tests and the benchmarks rely on.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "support/planoryx_bytes.h"
#include "support/run_directory.h"

namespace harnix {

namespace {

class SynthTest : public RunDirectory {
 protected:
  std::vector<MeasurementFile> synth(const std::string& out, std::vector<std::string> options) {
    std::vector<std::string> args = {"synth",   "--out", out,        "--count", "12",
                                     "--width", "64",    "--height", "48"};
    args.insert(args.end(), options.begin(), options.end());
    const ProgramResult r = util(args);
    EXPECT_EQ(0, r.status) << r.err;
    std::vector<MeasurementFile> files;
    for (int i = 1; i <= 12; ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "/meas_%04d.dat", i);
      MeasurementFile f;
      EXPECT_TRUE(decode_test_file(read_file_bytes(path(out + name)), &f)) << name;
      files.push_back(f);
    }
    return files;
  }
};

TEST_F(SynthTest, SameSeedSameBytesOtherSeedOtherBytes) {
  synth("a", {"--seed", "5", "--mixed", "--windows"});
  synth("b", {"--seed", "5", "--mixed", "--windows"});
  synth("c", {"--seed", "6", "--mixed", "--windows"});
  EXPECT_EQ(read_file_bytes(path("a/meas_0007.dat")), read_file_bytes(path("b/meas_0007.dat")));
  EXPECT_NE(read_file_bytes(path("a/meas_0007.dat")), read_file_bytes(path("c/meas_0007.dat")));
  std::string expected_list;
  for (int i = 1; i <= 12; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "a/meas_%04d.dat\n", i);
    expected_list += name;
  }
  EXPECT_EQ(expected_list, read_file_bytes(path("a/list.txt")));
}

TEST_F(SynthTest, PlainSetCoversTheCameraWithOneAcquisition) {
  for (const MeasurementFile& f : synth("p", {"--invalid", "0"})) {
    EXPECT_EQ(64, f.camera_width);
    EXPECT_EQ(48, f.camera_height);
    EXPECT_EQ(0, f.x);
    EXPECT_EQ(64, f.width);
    EXPECT_EQ(48, f.height);
    EXPECT_EQ(1, f.phase_res);
    EXPECT_EQ(1.0f, f.obliquity);
    EXPECT_EQ(f.pixel_width, f.pixel_height);
    for (int32_t v : f.values) ASSERT_LT(v, TEST_PHASE_INVALID);
  }
}

TEST_F(SynthTest, MixedWindowedSetVariesAcquisitionsAndWindows) {
  std::set<int> resolutions;
  std::set<float> scale_factors, wavelengths, obliquities;
  int windowed = 0;
  for (const MeasurementFile& f : synth("m", {"--mixed", "--windows", "--seed", "3"})) {
    resolutions.insert(f.phase_res);
    scale_factors.insert(f.scale_factor);
    wavelengths.insert(f.wavelength);
    obliquities.insert(f.obliquity);
    EXPECT_GE(f.x, 0);
    EXPECT_GE(f.y, 0);
    EXPECT_LE(f.x + f.width, 64);
    EXPECT_LE(f.y + f.height, 48);
    if (f.width < 64 || f.height < 48) ++windowed;
  }
  EXPECT_EQ(3u, resolutions.size());
  EXPECT_EQ(2u, scale_factors.size());
  EXPECT_EQ(2u, wavelengths.size());
  EXPECT_EQ(2u, obliquities.size());
  EXPECT_GT(windowed, 6);
}

TEST_F(SynthTest, InvalidShareIsRoughlyAsAsked) {
  std::size_t invalid = 0, total = 0;
  for (const MeasurementFile& f : synth("i", {"--invalid", "10"})) {
    for (int32_t v : f.values) invalid += v >= TEST_PHASE_INVALID;
    total += f.values.size();
  }
  EXPECT_GT(invalid, total * 5 / 100);
  EXPECT_LT(invalid, total * 15 / 100);
}

TEST_F(SynthTest, BadArgumentsAreRefusedWithAMessage) {
  const std::vector<std::vector<std::string>> cases = {
      {"synth", "--count", "2", "--width", "4", "--height", "4"},
      {"synth", "--out", "x", "--count", "0", "--width", "4", "--height", "4"},
      {"synth", "--out", "x", "--count", "2", "--width", "40000", "--height", "4"},
      {"synth", "--out", "x", "--count", "2", "--width", "4", "--height", "4", "--invalid", "101"},
      {"synth", "--out", "x", "--count", "2", "--width", "4", "--height", "4", "--bogus", "1"},
      {"synth", "--out", "x", "--count"}};
  for (const std::vector<std::string>& args : cases) {
    const ProgramResult r = util(args);
    EXPECT_EQ(1, r.status) << args.back();
    EXPECT_EQ(0u, r.err.find("harnix-util synth: ")) << r.err;
  }
}

}  // namespace

}  // namespace harnix
