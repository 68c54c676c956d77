// End-to-end: harnix run on generated and hand-built measurements, its three outputs decoded
// from their bytes and compared with an independent per-pixel computation.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "averaging/band_team.h"
#include "reference/reference_average.h"
#include "support/planoryx_bytes.h"
#include "support/run_directory.h"

namespace harnix {

namespace {

constexpr int32_t X = TEST_PHASE_INVALID;

class AveragingRunTest : public RunDirectory {
 protected:
  // Runs harnix writing all three outputs (a.dat, s.dat, c.dat) with `extra` options.
  ProgramResult run_all_outputs(const std::vector<std::string>& inputs,
                                std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"-AvgOut", "a.dat", "-SdevOut", "s.dat", "-CountOut", "c.dat"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.insert(args.end(), inputs.begin(), inputs.end());
    return harnix(args);
  }

  void expect_map(const std::string& name, const ReferenceMap& expected) {
    const MeasurementFile out = read_output(name);
    EXPECT_EQ(expected.x, out.x) << name;
    EXPECT_EQ(expected.y, out.y) << name;
    EXPECT_EQ(expected.width, out.width) << name;
    EXPECT_EQ(expected.height, out.height) << name;
    EXPECT_EQ(expected.values, out.values) << name;
  }

  void expect_results(const std::vector<MeasurementFile>& inputs, int32_t phase_res,
                      int32_t min_count) {
    const ReferenceResults r = reference_average(inputs, phase_res, min_count);
    expect_map("a.dat", r.average);
    expect_map("s.dat", r.deviation);
    expect_map("c.dat", r.count);
  }
};

// Decodes every file of a generated list.
std::vector<MeasurementFile> decode_list(const std::string& dir, const std::string& list_name) {
  std::vector<MeasurementFile> files;
  const std::string list = read_file_bytes(dir + "/" + list_name);
  std::size_t start = 0;
  while (start < list.size()) {
    const std::size_t end = list.find('\n', start);
    MeasurementFile f;
    EXPECT_TRUE(decode_test_file(read_file_bytes(dir + "/" + list.substr(start, end - start)), &f));
    files.push_back(f);
    start = end + 1;
  }
  return files;
}

struct GeneratedCase {
  const char* name;
  std::vector<std::string> synth_options;
  std::vector<std::string> harnix_options;
  int32_t phase_res;  // -1: from the first input
  int32_t min_count;  // as the command line resolves it for 7 inputs
};

class GeneratedSetTest : public AveragingRunTest,
                         public ::testing::WithParamInterface<GeneratedCase> {};

TEST_P(GeneratedSetTest, OutputsEqualIndependentComputation) {
  const GeneratedCase& c = GetParam();
  std::vector<std::string> synth = {"synth", "--out",    "set", "--count", "7", "--width",
                                    "37",    "--height", "29",  "--seed",  "11"};
  synth.insert(synth.end(), c.synth_options.begin(), c.synth_options.end());
  ASSERT_EQ(0, util(synth).status);
  const ProgramResult r = run_all_outputs({"@set/list.txt"}, c.harnix_options);
  ASSERT_EQ(0, r.status) << r.err;
  EXPECT_EQ("", r.err);
  const std::vector<MeasurementFile> inputs = decode_list(dir_, "set/list.txt");
  ASSERT_EQ(7u, inputs.size());
  expect_results(inputs, c.phase_res, c.min_count);

  // Attributes: the first input's geometry and scale, obliquity 1, the latest time stamp.
  int32_t latest = 0;
  for (const MeasurementFile& f : inputs) latest = std::max(latest, f.time_stamp);
  const MeasurementFile& first = inputs.front();
  const char* comments[] = {"Height average map computed from 7 input data files",
                            "Height standard deviation map computed from 7 input data files",
                            "Input count map computed from 7 input data files"};
  const char* names[] = {"a.dat", "s.dat", "c.dat"};
  for (int i = 0; i < 3; ++i) {
    const MeasurementFile out = read_output(names[i]);
    EXPECT_EQ(0x881B0371u, out.magic) << "a non-zero ZoomMag needs the long header";
    EXPECT_EQ(comments[i], out.comment);
    EXPECT_EQ(latest, out.time_stamp);
    EXPECT_EQ(first.camera_width, out.camera_width);
    EXPECT_EQ(first.camera_height, out.camera_height);
    EXPECT_EQ(first.pixel_width, out.pixel_width);
    EXPECT_EQ(first.pixel_height, out.pixel_height);
    EXPECT_EQ(first.camera_res, out.camera_res);
    EXPECT_EQ(first.scale_factor, out.scale_factor);
    EXPECT_EQ(first.wavelength, out.wavelength);
    EXPECT_EQ(1.0f, out.obliquity);
    EXPECT_EQ(c.phase_res >= 0 ? c.phase_res : first.phase_res, out.phase_res);
    EXPECT_EQ(first.zoom, out.zoom);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sets, GeneratedSetTest,
    ::testing::Values(
        GeneratedCase{
            "MixedWindowsDefaultMinimum", {"--mixed", "--windows", "--invalid", "4"}, {}, -1, 7},
        GeneratedCase{"MixedToSuperMinimumOne",
                      {"--mixed", "--windows", "--invalid", "4"},
                      {"-PhaseRes", "Super", "-MinValidCnt", "1"},
                      2,
                      1},
        GeneratedCase{"PlainToNormalHalf",
                      {"--invalid", "20"},
                      {"-PhaseRes", "normal", "-MinValidPct", "50"},
                      0,
                      4}),
    [](const ::testing::TestParamInfo<GeneratedCase>& info) { return info.param.name; });

// Hand-built pairs with results worked out by hand.
struct ScalingCase {
  const char* name;
  MeasurementFile first, second;
  std::vector<std::string> options;
  std::vector<int32_t> average, deviation, count;
  int16_t out_phase_res;
};

class ScalingTest : public AveragingRunTest, public ::testing::WithParamInterface<ScalingCase> {};

TEST_P(ScalingTest, ResultsAsWorkedOut) {
  const ScalingCase& c = GetParam();
  write_input("1.dat", c.first);
  write_input("2.dat", c.second);
  const ProgramResult r = run_all_outputs({"1.dat", "2.dat"}, c.options);
  ASSERT_EQ(0, r.status) << r.err;
  EXPECT_EQ(c.average, read_output("a.dat").values);
  EXPECT_EQ(c.deviation, read_output("s.dat").values);
  EXPECT_EQ(c.count, read_output("c.dat").values);
  EXPECT_EQ(c.out_phase_res, read_output("a.dat").phase_res);
  // Nothing beyond the short header is set: its magic tells Super from the others.
  EXPECT_EQ(c.out_phase_res >= 2 ? 0x881B0370u : 0x881B036Fu, read_output("c.dat").magic);
  EXPECT_EQ(1.0f, read_output("a.dat").obliquity);
}

MeasurementFile with_obliquity(MeasurementFile f, float obliquity) {
  f.obliquity = obliquity;
  return f;
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, ScalingTest,
    ::testing::Values(
        // Identical inputs: average is the input, deviation 0, count 2.
        ScalingCase{"Identical",
                    full_field(2, 1, {-5, 9}),
                    full_field(2, 1, {-5, 9}),
                    {},
                    {-5, 9},
                    {0, 0},
                    {2, 2},
                    1},
        // Normal then High: the second counts 1/8. (100 + 100) / 2 and (7 + 1.625) / 2 = 4.31;
        // deviation of 7 and round(1.625) = 2 is 2.5, rounded away from zero.
        ScalingCase{"NormalThenHigh",
                    full_field(2, 1, {100, 7}, 0),
                    full_field(2, 1, {800, 13}, 1),
                    {},
                    {100, 4},
                    {0, 3},
                    {2, 2},
                    0},
        // Both to Super: factors 32 and 4. (3200 + 3200) / 2 and (224 + 52) / 2.
        ScalingCase{"BothToSuper",
                    full_field(2, 1, {100, 7}, 0),
                    full_field(2, 1, {800, 13}, 1),
                    {"-PhaseRes", "Super"},
                    {3200, 138},
                    {0, 86},
                    {2, 2},
                    2},
        // An obliquity of 2 in the first input doubles its counts: (20 + 10) / 2 = 15.
        ScalingCase{"FirstObliquityTwo",
                    with_obliquity(full_field(1, 1, {10}), 2.0f),
                    full_field(1, 1, {10}),
                    {},
                    {15},
                    {5},
                    {2},
                    1},
        // -2.5 average rounds away from zero to -3.
        ScalingCase{"HalfRoundsAway",
                    full_field(1, 1, {-2}),
                    full_field(1, 1, {-3}),
                    {},
                    {-3},
                    {1},
                    {2},
                    1}),
    [](const ::testing::TestParamInfo<ScalingCase>& info) { return info.param.name; });

TEST_F(AveragingRunTest, SmallWindowContributesOnlyInsideIt) {
  MeasurementFile whole = full_field(6, 4, std::vector<int32_t>(24, 100));
  MeasurementFile part = full_field(6, 4, {10, 20, 30, 40});
  part.x = 3;
  part.y = 1;
  part.width = 2;
  part.height = 2;
  write_input("whole.dat", whole);
  write_input("part.dat", part);
  ASSERT_EQ(0, run_all_outputs({"whole.dat", "part.dat"}, {"-MinValidCnt", "1"}).status);
  expect_results({whole, part}, -1, 1);
  const std::vector<int32_t> counts = read_output("c.dat").values;
  ASSERT_EQ(24u, counts.size());
  EXPECT_EQ(2, counts[1 * 6 + 3]);
  EXPECT_EQ(1, counts[0]);
  EXPECT_EQ(55, read_output("a.dat").values[1 * 6 + 3]);
}

TEST_F(AveragingRunTest, DefaultMinimumMakesDropoutsTheCountStillShows) {
  // The second input has no valid value in column 0, nor at (2, 1).
  write_input("1.dat", full_field(3, 2, {1, 2, 3, 4, 5, 6}));
  write_input("2.dat", full_field(3, 2, {X, 4, 5, X, 7, X}));
  ASSERT_EQ(0, run_all_outputs({"1.dat", "2.dat"}).status);
  const MeasurementFile avg = read_output("a.dat");
  EXPECT_EQ(1, avg.x);
  EXPECT_EQ(2, avg.width);
  EXPECT_EQ((std::vector<int32_t>{3, 4, 6, X}), avg.values);
  EXPECT_EQ((std::vector<int32_t>{1, 1, 1, X}), read_output("s.dat").values);
  const MeasurementFile count = read_output("c.dat");
  EXPECT_EQ(0, count.x);
  EXPECT_EQ((std::vector<int32_t>{1, 2, 2, 1, 2, 1}), count.values);
}

struct StampCase {
  std::vector<int32_t> stamps;
  int32_t latest;
};

class TimeStampTest : public AveragingRunTest, public ::testing::WithParamInterface<StampCase> {};

TEST_P(TimeStampTest, OutputsCarryTheLatestStampButNeverBelowZero) {
  std::vector<std::string> names;
  for (std::size_t i = 0; i < GetParam().stamps.size(); ++i) {
    MeasurementFile f = full_field(1, 1, {1});
    f.time_stamp = GetParam().stamps[i];
    names.push_back(std::to_string(i) + ".dat");
    write_input(names.back(), f);
  }
  ASSERT_EQ(0, run_all_outputs(names).status);
  for (const char* out : {"a.dat", "s.dat", "c.dat"})
    EXPECT_EQ(GetParam().latest, read_output(out).time_stamp) << out;
}

INSTANTIATE_TEST_SUITE_P(Stamps, TimeStampTest,
                         ::testing::Values(StampCase{{100, 300, 200}, 300}, StampCase{{-5, -7}, 0},
                                           StampCase{{2147483647, 0}, 2147483647}));

// Inputs that pass or fail the 5 percent test of CameraRes and ZoomMag, and the exact camera
// size test.
struct GeometryCase {
  const char* name;
  float reference_res, res;
  float reference_zoom, zoom;
  int16_t camera_width;
  const char* refused_as;  // nullptr: accepted
};

class GeometryTest : public AveragingRunTest, public ::testing::WithParamInterface<GeometryCase> {};

TEST_P(GeometryTest, ToleranceBoundaries) {
  const GeometryCase& c = GetParam();
  MeasurementFile first = full_field(2, 1, {1, 2});
  first.camera_res = c.reference_res;
  first.zoom = c.reference_zoom;
  MeasurementFile second = first;
  second.camera_res = c.res;
  second.zoom = c.zoom;
  second.camera_width = c.camera_width;
  write_input("1.dat", first);
  write_input("2.dat", second);
  const ProgramResult r = harnix({"-CountOut", "c.dat", "1.dat", "2.dat"});
  if (c.refused_as == nullptr) {
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ(first.camera_res, read_output("c.dat").camera_res);
  } else {
    EXPECT_EQ(1, r.status);
    EXPECT_EQ(
        std::string("Harnix\nERROR: Input file \"2.dat\" has mismatched ") + c.refused_as + "\n",
        r.err);
    EXPECT_EQ("", read_file_bytes(path("c.dat")));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Boundaries, GeometryTest,
    ::testing::Values(
        GeometryCase{"ResAbout4_9Percent", 1.05e-6f, 1.0e-6f, 1, 1, 2, nullptr},
        GeometryCase{"ResAbout5_8Percent", 1.06e-6f, 1.0e-6f, 1, 1, 2, "CameraRes"},
        GeometryCase{"ResExactlyFivePercent", 39.0f, 41.0f, 1, 1, 2, nullptr},
        GeometryCase{"ResJustOverFivePercent", 39.0f, 41.01f, 1, 1, 2, "CameraRes"},
        GeometryCase{"ResBothZero", 0.0f, 0.0f, 1, 1, 2, nullptr},
        GeometryCase{"ResZeroAgainstValue", 0.0f, 1e-6f, 1, 1, 2, "CameraRes"},
        GeometryCase{"ZoomExactlyFivePercent", 1e-6f, 1e-6f, 41.0f, 39.0f, 2, nullptr},
        GeometryCase{"ZoomJustOverFivePercent", 1e-6f, 1e-6f, 41.01f, 39.0f, 2, "ZoomMag"},
        GeometryCase{"ZoomValueAgainstZero", 1e-6f, 1e-6f, 2.0f, 0.0f, 2, "ZoomMag"},
        GeometryCase{"ResCheckedBeforeZoom", 1.0f, 2.0f, 1.0f, 2.0f, 2, "CameraRes"},
        GeometryCase{"WiderCamera", 1e-6f, 1e-6f, 1, 1, 3, "CameraWidth or CameraHeight"}),
    [](const ::testing::TestParamInfo<GeometryCase>& info) { return info.param.name; });

TEST_F(AveragingRunTest, PixelSizeMayDifferAndTheFirstIsWritten) {
  MeasurementFile first = full_field(1, 1, {4});
  MeasurementFile second = first;
  second.pixel_width = second.pixel_height = 9e-6f;
  write_input("1.dat", first);
  write_input("2.dat", second);
  ASSERT_EQ(0, harnix({"-AvgOut", "a.dat", "1.dat", "2.dat"}).status);
  EXPECT_EQ(first.pixel_width, read_output("a.dat").pixel_width);
}

TEST_F(AveragingRunTest, SurfaceRemovalChangesOnlyTheDeviation) {
  // The same surface at two pistons: 5 apart without removal, identical after it.
  write_input("1.dat", full_field(2, 2, {1, 2, 3, 4}));
  write_input("2.dat", full_field(2, 2, {11, 12, 13, 14}));
  for (const char* mode : {"None", "Piston", "Plane"}) {
    ASSERT_EQ(0, run_all_outputs({"1.dat", "2.dat"}, {"-Overwrite", "-SdevRemove", mode}).status);
    const int32_t spread = std::string(mode) == "None" ? 5 : 0;
    EXPECT_EQ(std::vector<int32_t>(4, spread), read_output("s.dat").values) << mode;
    EXPECT_EQ((std::vector<int32_t>{6, 7, 8, 9}), read_output("a.dat").values) << mode;
    EXPECT_EQ(std::vector<int32_t>(4, 2), read_output("c.dat").values) << mode;
  }
}

// Outputs written one by one or together (one file a thread), the files are the same.
TEST_F(AveragingRunTest, FailedDeviationWriteKeepsTheAverageAndLeavesTheCountEmpty) {
  write_input("1.dat", full_field(2, 2, {1, 2, 3, 4}));
  write_input("2.dat", full_field(2, 2, {3, 4, 5, 6}));
  for (const std::string& threads : {std::string("1"), std::to_string(usable_cores())}) {
    const ProgramResult r = harnix({"-Overwrite", "-Threads", threads.c_str(), "-AvgOut", "a.dat",
                                    "-SdevOut", "/dev/full", "-CountOut", "c.dat", "1.dat",
                                    "2.dat"});
    EXPECT_EQ(1, r.status) << threads;
    EXPECT_EQ("Harnix\nERROR: ERR_CANT_WRITE_FILE\n", r.err) << threads;
    EXPECT_EQ((std::vector<int32_t>{2, 3, 4, 5}), read_output("a.dat").values) << threads;
    EXPECT_TRUE(std::filesystem::exists(path("c.dat"))) << threads;
    EXPECT_EQ("", read_file_bytes(path("c.dat"))) << threads;
  }
}

// Two outputs naming one file would leave only the last written (and, written together, race for
// it): the command is refused before any file is created.
TEST_F(AveragingRunTest, OutputsNamingOneFileAreRefusedBeforeAnyIsCreated) {
  write_input("1.dat", full_field(2, 2, {1, 2, 3, 4}));
  std::filesystem::create_directory(path("d"));
  for (const std::string& t : {std::string("1"), std::to_string(usable_cores())}) {
    const ProgramResult r = harnix({"-Overwrite", "-Threads", t.c_str(), "-AvgOut", "x.dat",
                                    "-SdevOut", "d/../x.dat", "-CountOut", "c.dat", "1.dat"});
    EXPECT_EQ(1, r.status) << t;
    EXPECT_EQ("Harnix\nERROR: Output files \"x.dat\" and \"d/../x.dat\" are one file\n", r.err);
    EXPECT_FALSE(std::filesystem::exists(path("x.dat"))) << t;
    EXPECT_FALSE(std::filesystem::exists(path("c.dat"))) << t;
  }
}

}  // namespace

}  // namespace harnix
