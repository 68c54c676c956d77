// harnix-util synth: the same seed gives the same files, and the options give the variety the
// demo, the end-to-end tests and the benchmarks rely on.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <set>
#include <sstream>
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

  // The rows of a CSV file beside the list, less its header line, as numbers.
  std::vector<std::vector<double>> csv(const std::string& name, const std::string& header) {
    std::istringstream in(read_file_bytes(path(name)));
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(header, line) << name;
    std::vector<std::vector<double>> rows;
    while (std::getline(in, line)) {
      std::vector<double> row;
      std::istringstream fields(line);
      for (std::string field; std::getline(fields, field, ',');) row.push_back(std::stod(field));
      rows.push_back(row);
    }
    return rows;
  }
};

constexpr const char* INPUTS_HEADER =
    "input,piston,slope_x,slope_y,shift_x,shift_y,whole_x,whole_y,rest_x,rest_y";
// Counts per metre of a plain file: High resolution, scale factor 0.5, 632.8 nm.
const double COUNTS_PER_METRE = 32768.0 / (0.5 * double(6.328e-7f));

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

TEST_F(SynthTest, DefaultsGivenByHandChangeNoByte) {
  synth("d", {"--seed", "4", "--windows"});
  synth("e", {"--seed", "4", "--windows", "--piston", "10", "--tilt", "20", "--noise", "1.5",
              "--spike-size", "20", "--shift", "0", "--texture", "off"});
  for (const char* name : {"/meas_0001.dat", "/meas_0012.dat"})
    EXPECT_EQ(read_file_bytes(path(std::string("d") + name)),
              read_file_bytes(path(std::string("e") + name)));
}

// Piston and tilt off leave each file's noise as it was: the two sets differ by the plane the
// truth file states, to within rounding; without noise as well, every file is the same.
TEST_F(SynthTest, PistonTiltAndNoiseSwitchOffAndTheTruthIsWritten) {
  const auto tilted = synth("t", {"--piston", "30", "--windows", "--invalid", "0"});
  const auto level = synth("l", {"--piston", "off", "--tilt", "off", "--windows", "--invalid", "0"});
  const auto truth = csv("t/list.inputs.csv", INPUTS_HEADER);
  ASSERT_EQ(12u, truth.size());
  const double pixel = double(7.4e-6f);
  for (std::size_t i = 0; i < 12; ++i) {
    EXPECT_LE(std::fabs(truth[i][1]), 30e-9);
    const MeasurementFile& a = tilted[i];
    for (int r = 0; r < a.height; ++r)
      for (int c = 0; c < a.width; ++c) {
        const double x = (a.x + c - 31.5) * pixel, y = (a.y + r - 23.5) * pixel;
        const double plane = (truth[i][1] + truth[i][2] * x + truth[i][3] * y) * COUNTS_PER_METRE;
        const std::size_t k = std::size_t(r) * a.width + c;
        ASSERT_NEAR(plane, a.values[k] - level[i].values[k], 1.0) << i << " " << r << " " << c;
      }
  }
  const auto bare = synth("b", {"--piston", "off", "--tilt", "off", "--noise", "off",
                                "--invalid", "0"});
  for (const MeasurementFile& f : bare) EXPECT_EQ(bare[0].values, f.values);
  EXPECT_NE(level[0].values, level[1].values);
}

// Each file's noise (its values less the noiseless surface) is independent of its neighbour's:
// a shared stream a draw apart once correlated them at about 0.58.
TEST_F(SynthTest, NeighbouringFilesHaveUncorrelatedNoise) {
  const std::vector<std::string> flat = {"--piston", "off", "--tilt", "off", "--invalid", "0"};
  std::vector<std::string> bare_options = flat;
  bare_options.insert(bare_options.end(), {"--noise", "off"});
  const auto noisy = synth("n", flat);
  const auto bare = synth("b", bare_options);
  const std::vector<int32_t>& surface = bare[0].values;
  for (std::size_t i = 0; i + 1 < noisy.size(); ++i) {
    double sab = 0.0, saa = 0.0, sbb = 0.0;
    for (std::size_t k = 0; k < surface.size(); ++k) {
      const double a = double(noisy[i].values[k] - surface[k]);
      const double b = double(noisy[i + 1].values[k] - surface[k]);
      sab += a * b;
      saa += a * a;
      sbb += b * b;
    }
    ASSERT_GT(saa, 0.0);
    EXPECT_LT(std::fabs(sab / std::sqrt(saa * sbb)), 0.1) << "files " << i + 1 << ", " << i + 2;
  }
}

TEST_F(SynthTest, SpikesAndDustRaiseExactlyThePixelsListed) {
  const auto plain = synth("p", {"--windows"});
  const auto spiked =
      synth("s", {"--windows", "--spikes", "5", "--dust", "2", "--spike-size", "30"});
  const auto rows = csv("s/list.spikes.csv", "input,x,y,value");
  std::size_t negative = 0;
  for (std::size_t i = 0; i < 12; ++i) {
    const MeasurementFile& a = spiked[i];
    std::size_t changed = 0, listed = 0;
    for (std::size_t k = 0; k < a.values.size(); ++k) changed += a.values[k] != plain[i].values[k];
    for (const std::vector<double>& row : rows) {
      if (row[0] != double(i + 1)) continue;
      ++listed;
      negative += row[3] < 0;
      const std::size_t k = std::size_t(row[2] - a.y) * a.width + std::size_t(row[1] - a.x);
      EXPECT_LT(plain[i].values[k], TEST_PHASE_INVALID);
      EXPECT_NEAR(row[3] * COUNTS_PER_METRE, a.values[k] - plain[i].values[k], 1e-3);
      EXPECT_NEAR(45e-9, std::fabs(row[3]), 0.5 / COUNTS_PER_METRE);  // 30 x 1.5 nm
    }
    EXPECT_EQ(listed, changed) << i;
    EXPECT_GE(listed, 5u) << i;
  }
  EXPECT_GT(negative, 0u);

  synth("q", {"--spikes", "2%", "--invalid", "0"});
  EXPECT_EQ(12u * 61u, csv("q/list.spikes.csv", "input,x,y,value").size());  // 2 % of 3072
}

// Whole shifts on a surface without noise: each file is the first moved by the stated pixels.
TEST_F(SynthTest, ShiftsMoveTheSurfaceByTheStatedPixels) {
  const auto moved = synth("w", {"--shift", "4", "--whole-shifts", "--piston", "off", "--tilt",
                                 "off", "--noise", "off", "--invalid", "0"});
  const auto truth = csv("w/list.inputs.csv", INPUTS_HEADER);
  EXPECT_EQ(0.0, truth[0][4]);
  EXPECT_EQ(0.0, truth[0][5]);
  std::set<double> seen;
  for (std::size_t i = 1; i < 12; ++i) {
    const int sx = int(truth[i][6]), sy = int(truth[i][7]);
    EXPECT_EQ(truth[i][4], sx);
    EXPECT_EQ(0.0, truth[i][8]);
    EXPECT_LE(std::abs(sx), 4);
    seen.insert(sx * 100 + sy);
    for (int y = 0; y < 48; ++y)
      for (int x = 0; x < 64; ++x) {
        if (x - sx < 0 || x - sx >= 64 || y - sy < 0 || y - sy >= 48) continue;
        ASSERT_EQ(moved[0].values[std::size_t(y - sy) * 64 + std::size_t(x - sx)],
                  moved[i].values[std::size_t(y) * 64 + std::size_t(x)])
            << i << " " << x << " " << y;
      }
  }
  EXPECT_GT(seen.size(), 6u);

  synth("f", {"--shift", "2.5"});
  for (const std::vector<double>& row : csv("f/list.inputs.csv", INPUTS_HEADER)) {
    EXPECT_LE(std::fabs(row[4]), 2.5);
    EXPECT_NEAR(row[4], row[6] + row[8], 1e-8);
    EXPECT_LE(std::fabs(row[8]), 0.5);
  }
}

TEST_F(SynthTest, BadArgumentsAreRefusedWithAMessage) {
  const std::vector<std::vector<std::string>> cases = {
      {"synth", "--count", "2", "--width", "4", "--height", "4"},
      {"synth", "--out", "x", "--count", "0", "--width", "4", "--height", "4"},
      {"synth", "--out", "x", "--count", "2", "--width", "40000", "--height", "4"},
      {"synth", "--out", "x", "--count", "2", "--width", "4", "--height", "4", "--invalid", "101"},
      {"synth", "--out", "x", "--count", "2", "--width", "4", "--height", "4", "--bogus", "1"},
      {"synth", "--out", "x", "--count"},
      {"synth", "--out", "x", "--count", "2", "--width", "4", "--height", "4", "--piston", "on"},
      {"synth", "--out", "x", "--count", "2", "--width", "4", "--height", "4", "--tilt", "-1"},
      {"synth", "--out", "x", "--count", "2", "--width", "4", "--height", "4", "--noise", "1e9"},
      {"synth", "--out", "x", "--count", "2", "--width", "4", "--height", "4", "--shift", "5000"},
      {"synth", "--out", "x", "--count", "2", "--width", "4", "--height", "4", "--spikes", "1.5"},
      {"synth", "--out", "x", "--count", "2", "--width", "4", "--height", "4", "--spikes", "101%"},
      {"synth", "--out", "x", "--count", "2", "--width", "4", "--height", "4", "--dust", "-2"},
      {"synth", "--out", "x", "--count", "2", "--width", "4", "--height", "4", "--texture", "x"},
      {"synth", "--out", "x", "--count", "2", "--width", "4", "--height", "4", "--spike-size",
       "0.5"}};
  for (const std::vector<std::string>& args : cases) {
    const ProgramResult r = util(args);
    EXPECT_EQ(1, r.status) << args.back();
    EXPECT_EQ(0u, r.err.find("harnix-util synth: ")) << r.err;
  }
}

}  // namespace

}  // namespace harnix
