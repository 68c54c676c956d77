// The optimised averaging run against the straightforward one (reference/straightforward_run):
// on generated sets and hand-built inputs, with every -SdevRemove value, windows, invalid pixels,
// mixed attributes, dropouts and failures, both must return the same, print the same on both
// streams and leave the same output files, byte for byte (empty ones included), and so must
// the optimised run with every number of threads tried (more than the cores, too).
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "cli/run_messages.h"
#include "reference/straightforward_run.h"
#include "support/planoryx_bytes.h"
#include "support/run_directory.h"

namespace harnix {

namespace {

constexpr int32_t X = TEST_PHASE_INVALID;
const char* const OUTPUTS[] = {"a.dat", "s.dat", "c.dat"};

struct Options {
  RemovalMode remove = RemovalMode::NONE;
  int32_t min_count = 0;  // 0: every input
  int32_t phase_res = PHASE_RES_FROM_INPUT;
  bool verbose = false;
  bool average = true, deviation = true, count = true;
  const char* deviation_name = nullptr;  // instead of s.dat
};

struct Outcome {
  bool ok = false;
  std::string out, err;
  std::vector<std::string> files;  // contents; "(none)" when a file does not exist
};

class IdentityTest : public RunDirectory {
 protected:
  // Runs one implementation with the outputs a.dat, s.dat and c.dat of the directory, after
  // removing any left from an earlier run.
  Outcome run(bool (*averaging)(const RunSettings&, const InputList&),
              const std::vector<std::string>& inputs, const Options& o, int32_t threads = 1) {
    std::vector<std::string> outputs;
    for (const char* name : OUTPUTS) {
      outputs.push_back(path(name));
      std::filesystem::remove(outputs.back());
    }
    RunSettings settings;
    if (o.average) settings.AvgOutFile = outputs[0].c_str();
    if (o.deviation)
      settings.SdevOutFile = o.deviation_name ? o.deviation_name : outputs[1].c_str();
    if (o.count) settings.CountOutFile = outputs[2].c_str();
    settings.SdevRemove = o.remove;
    settings.MinValidCnt = o.min_count > 0 ? o.min_count : int32_t(inputs.size());
    settings.PhaseRes = o.phase_res;
    settings.Verbose = o.verbose;
    settings.Threads = threads;
    InputList list;
    for (const std::string& name : inputs) list.names.push_back(name);

    Outcome r;
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    r.ok = averaging(settings, list);
    r.err = ::testing::internal::GetCapturedStderr();
    r.out = ::testing::internal::GetCapturedStdout();
    for (const std::string& name : outputs)
      r.files.push_back(std::filesystem::exists(name) ? read_file_bytes(name) : "(none)");
    return r;
  }

  // Both implementations on the same inputs, the optimised one with 1, 2, 3 and 5 threads;
  // returns the optimised run's last outcome.
  Outcome expect_identical(const std::vector<std::string>& inputs, const Options& o) {
    const Outcome want = run(straightforward_run_averaging, inputs, o);
    Outcome got;
    for (int32_t threads : {1, 2, 3, 5}) {
      got = run(run_on_console, inputs, o, threads);
      EXPECT_EQ(want.ok, got.ok) << threads << " threads";
      EXPECT_EQ(want.out, got.out) << threads << " threads";
      EXPECT_EQ(want.err, got.err) << threads << " threads";
      for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(want.files[i].size(), got.files[i].size()) << OUTPUTS[i];
        EXPECT_TRUE(want.files[i] == got.files[i])
            << OUTPUTS[i] << " differs, " << threads << " threads";
      }
    }
    return got;
  }

  std::vector<std::string> write_inputs(const std::vector<MeasurementFile>& files) {
    std::vector<std::string> names;
    for (std::size_t i = 0; i < files.size(); ++i) {
      names.push_back(path("in" + std::to_string(i) + ".dat"));
      write_file_bytes(names.back(), encode_test_file(files[i]));
    }
    return names;
  }
};

// Generated sets: synth options, and the run's options.
struct GeneratedCase {
  const char* name;
  std::vector<std::string> synth;
  Options options;
};

class GeneratedIdentity : public IdentityTest,
                          public ::testing::WithParamInterface<GeneratedCase> {};

TEST_P(GeneratedIdentity, SameResultsAsTheStraightforwardRun) {
  const GeneratedCase& c = GetParam();
  std::vector<std::string> synth = {"synth", "--out",    path("set"), "--count", "9", "--width",
                                    "67",    "--height", "45",        "--seed",  "23"};
  synth.insert(synth.end(), c.synth.begin(), c.synth.end());
  ASSERT_EQ(0, util(synth).status);
  std::vector<std::string> inputs;
  const std::string list = read_file_bytes(path("set/list.txt"));
  for (std::size_t at = 0; at < list.size();) {
    const std::size_t end = list.find('\n', at);
    inputs.push_back(list.substr(at, end - at));
    at = end + 1;
  }
  const Outcome got = expect_identical(inputs, c.options);
  EXPECT_TRUE(got.ok) << got.err;
}

Options with_remove(RemovalMode mode, int32_t min_count = 0, int32_t phase_res = -1) {
  Options o;
  o.remove = mode;
  o.min_count = min_count;
  o.phase_res = phase_res;
  return o;
}

const std::vector<std::string> MIXED = {"--mixed", "--windows", "--invalid", "6"};

INSTANTIATE_TEST_SUITE_P(
    Sets, GeneratedIdentity,
    ::testing::Values(
        GeneratedCase{"PlainNone", {}, with_remove(RemovalMode::NONE)},
        GeneratedCase{"PlainPiston", {}, with_remove(RemovalMode::PISTON)},
        GeneratedCase{"PlainPlane", {}, with_remove(RemovalMode::PLANE)},
        GeneratedCase{"PlainSphere", {}, with_remove(RemovalMode::SPHERE)},
        GeneratedCase{"WindowsPlaneMinimumOne", {"--windows"}, with_remove(RemovalMode::PLANE, 1)},
        GeneratedCase{"WindowsSphereMinimumFive",
                      {"--windows", "--invalid", "3"},
                      with_remove(RemovalMode::SPHERE, 5)},
        // Modes no option selects: the general quadric, and the robust plane, which the run
        // removes over a camera-sized copy of the input.
        GeneratedCase{"WindowsCylinder", {"--windows"}, with_remove(RemovalMode::CYLINDER, 2)},
        GeneratedCase{"MixedRobustPlane", MIXED, with_remove(RemovalMode::ROBUST, 2)},
        GeneratedCase{"MixedNone", MIXED, with_remove(RemovalMode::NONE, 1)},
        GeneratedCase{"MixedPiston", MIXED, with_remove(RemovalMode::PISTON, 4)},
        GeneratedCase{"MixedPlaneToSuper", MIXED, with_remove(RemovalMode::PLANE, 1, 2)},
        GeneratedCase{"MixedSphereToNormal", MIXED, with_remove(RemovalMode::SPHERE, 2, 0)},
        GeneratedCase{"MixedNoneDefaultMinimumDropouts", MIXED, with_remove(RemovalMode::NONE)},
        GeneratedCase{
            "ManyInvalidSphereDropouts", {"--invalid", "40"}, with_remove(RemovalMode::SPHERE)},
        GeneratedCase{"MixedPlaneVerbose", MIXED,
                      [] {
                        Options o = with_remove(RemovalMode::PLANE, 3);
                        o.verbose = true;
                        return o;
                      }()},
        GeneratedCase{"MixedPlaneDeviationOnly", MIXED,
                      [] {
                        Options o = with_remove(RemovalMode::PLANE, 2);
                        o.average = o.count = false;
                        return o;
                      }()},
        GeneratedCase{"MixedAverageOnly", MIXED,
                      [] {
                        Options o = with_remove(RemovalMode::NONE, 2);
                        o.deviation = o.count = false;
                        return o;
                      }()}),
    [](const ::testing::TestParamInfo<GeneratedCase>& info) {
      return std::string(info.param.name);
    });

// Hand-built inputs for the corners: each row makes its files and its options.
struct HandCase {
  const char* name;
  std::function<std::vector<MeasurementFile>()> files;
  Options options;
};

void PrintTo(const HandCase& c, std::ostream* os) {
  *os << c.name;
}

class HandBuiltIdentity : public IdentityTest, public ::testing::WithParamInterface<HandCase> {};

TEST_P(HandBuiltIdentity, SameOutcomeAsTheStraightforwardRun) {
  const HandCase& c = GetParam();
  expect_identical(write_inputs(c.files()), c.options);
}

MeasurementFile field(int16_t w, int16_t h, std::vector<int32_t> v, int16_t res = 1) {
  return full_field(w, h, std::move(v), res);
}

// A 6 x 5 ramp with a few invalid pixels, plus `offset`.
MeasurementFile ramp(int32_t offset, int16_t res = 1) {
  std::vector<int32_t> v;
  for (int i = 0; i < 30; ++i) v.push_back(i % 7 == 3 ? X : offset + 11 * i - (i / 6) * 5);
  return field(6, 5, v, res);
}

MeasurementFile windowed(MeasurementFile f, int16_t x, int16_t y, int16_t w, int16_t h) {
  f.x = x;
  f.y = y;
  f.width = w;
  f.height = h;
  f.values.resize(std::size_t(w) * std::size_t(h), 5);
  return f;
}

MeasurementFile scaled(MeasurementFile f, float scale_factor) {
  f.scale_factor = scale_factor;
  return f;
}

INSTANTIATE_TEST_SUITE_P(
    Corners, HandBuiltIdentity,
    ::testing::Values(
        // Normal into Super multiplies by 32: values beyond 2^26 / 32 leave the phase range for
        // the deviation while the average keeps them, so the two counts part.
        HandCase{"ScaledBeyondThePhaseRange",
                 [] {
                   return std::vector<MeasurementFile>{field(3, 1, {3000000, -3000000, 7}, 0),
                                                       field(3, 1, {1, 2100000, 9}, 0)};
                 },
                 with_remove(RemovalMode::NONE, 1, 2)},
        HandCase{"ScaledBeyondThePhaseRangePlane",
                 [] {
                   return std::vector<MeasurementFile>{
                       field(3, 2, {3000000, -3000000, 7, 1, 2, 3}, 0),
                       field(3, 2, {1, 2100000, 9, 4, 4, 4}, 0)};
                 },
                 with_remove(RemovalMode::PLANE, 1, 2)},
        // Unscaled first inputs share the deviation's sums with the average until a scaled one.
        HandCase{"ScaledInputAfterUnscaledOnes",
                 [] {
                   return std::vector<MeasurementFile>{ramp(10), ramp(-20), scaled(ramp(3), 0.75f),
                                                       ramp(40)};
                 },
                 with_remove(RemovalMode::NONE, 2)},
        HandCase{"ProductReachesTheLimit",
                 [] {
                   return std::vector<MeasurementFile>{ramp(10), scaled(ramp(1000), 3e37f)};
                 },
                 with_remove(RemovalMode::NONE, 1)},
        HandCase{"SumLeavesTheLimit",
                 [] {
                   MeasurementFile big = scaled(field(1, 1, {30000000}), 5e30f);
                   return std::vector<MeasurementFile>{field(1, 1, {1}), big, big};
                 },
                 with_remove(RemovalMode::PLANE, 1)},
        // Sphere fits that fail (all valid values in the camera's centre row) remove nothing.
        HandCase{"SingularFitsRemoveNothing",
                 [] {
                   return std::vector<MeasurementFile>{field(3, 3, {X, X, X, 1, 5, 2, X, X, X}),
                                                       field(3, 3, {4, 8, 1, 2, 9, 3, 7, 7, 0}),
                                                       field(3, 3, {X, X, X, X, 6, X, X, X, X})};
                 },
                 with_remove(RemovalMode::SPHERE, 1)},
        // Windows in the corners of a larger camera; the fit's coordinates are the camera's.
        HandCase{"WindowsPlaneAndSphereCoordinates",
                 [] {
                   MeasurementFile a = ramp(100);
                   a.camera_width = 40;
                   a.camera_height = 31;
                   return std::vector<MeasurementFile>{windowed(a, 0, 0, 6, 5),
                                                       windowed(a, 34, 26, 6, 5),
                                                       windowed(a, 17, 3, 6, 5)};
                 },
                 with_remove(RemovalMode::SPHERE, 1)},
        HandCase{"WindowLeftOfTheCamera",
                 [] {
                   MeasurementFile a = ramp(1);
                   MeasurementFile b = ramp(2);
                   b.x = -1;
                   return std::vector<MeasurementFile>{a, b};
                 },
                 with_remove(RemovalMode::PLANE)},
        HandCase{"MismatchedCameraAfterTheFirst",
                 [] {
                   MeasurementFile b = ramp(2);
                   b.camera_width = 7;
                   return std::vector<MeasurementFile>{ramp(1), b};
                 },
                 with_remove(RemovalMode::NONE)},
        HandCase{"NoValidPointInTheSecond",
                 [] {
                   return std::vector<MeasurementFile>{ramp(1),
                                                       field(6, 5, std::vector<int32_t>(30, X))};
                 },
                 with_remove(RemovalMode::PISTON)},
        HandCase{"NoPhaseBlockInTheSecond",
                 [] {
                   MeasurementFile b = ramp(2);
                   b.has_phase = false;
                   return std::vector<MeasurementFile>{ramp(1), b};
                 },
                 with_remove(RemovalMode::PISTON)},
        HandCase{"AverageAllDropouts",
                 [] {
                   return std::vector<MeasurementFile>{field(2, 1, {1, X}), field(2, 1, {X, 2})};
                 },
                 with_remove(RemovalMode::NONE)},
        HandCase{"DeviationWriteFails",
                 [] {
                   return std::vector<MeasurementFile>{ramp(1), ramp(5)};
                 },
                 [] {
                   Options o = with_remove(RemovalMode::PLANE);
                   o.deviation_name = "/dev/full";
                   return o;
                 }()},
        HandCase{"InvalidMarkersOfEveryKind",
                 [] {
                   return std::vector<MeasurementFile>{
                       field(4, 1, {X, X + 3, 2147483647, -2147483647 - 1}),
                       field(4, 1, {2147483639, X + 1, 5, 6})};
                 },
                 with_remove(RemovalMode::PISTON, 1, 0)}),
    [](const ::testing::TestParamInfo<HandCase>& info) { return std::string(info.param.name); });

}  // namespace

}  // namespace harnix
