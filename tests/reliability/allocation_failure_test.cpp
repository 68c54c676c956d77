// Allocation failure anywhere in a whole run: every request the run makes through the allocation
// hooks is made to fail in turn, and the run must report ERR_NO_MEM, give back every block it
// took, and leave each output either empty or complete.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "averaging/settings.h"
#include "support/failing_allocator.h"
#include "support/in_process_run.h"
#include "support/planoryx_bytes.h"
#include "support/temp_dir.h"

namespace harnix {

namespace {

constexpr int32_t X = TEST_PHASE_INVALID;
const std::string NO_MEMORY = "Harnix\nERROR: ERR_NO_MEM\n";

// Three inputs of a 5 x 4 camera: two on windows, one at another PhaseRes (so it is rescaled),
// with invalid pixels, enough for a sphere fit.
std::vector<MeasurementFile> small_inputs() {
  std::vector<MeasurementFile> files(3);
  for (auto& f : files) {
    f.camera_width = 5;
    f.camera_height = 4;
  }
  files[0].width = 5;
  files[0].height = 4;
  files[0].values = {10, 12, 14, 15, 17, 11, X, 15, 16, 18, 12, 14, 16, X, 19, 13, 15, 17, 18, 20};
  files[1].x = 1;
  files[1].width = 4;
  files[1].height = 3;
  files[1].values = {11, 13, 16, 18, 12, 14, 17, 19, X, 16, 18, 21};
  files[2].phase_res = 0;
  files[2].y = 1;
  files[2].width = 5;
  files[2].height = 3;
  files[2].values = {2, 2, 3, 3, 3, 2, 3, 3, 3, 3, 2, 3, X, 3, 4};
  return files;
}

// Three inputs of a 16 x 12 camera with a random texture, to align: the second shows the first
// moved by a pixel to the right, the third by one up, on a window.
std::vector<MeasurementFile> textured_inputs() {
  constexpr int W = 16, H = 12;
  std::vector<int32_t> surface(std::size_t(W + 2) * (H + 2));
  uint32_t state = 12345;
  for (int32_t& v : surface) {
    state = state * 1664525u + 1013904223u;
    v = int32_t(state >> 22);
  }
  std::vector<MeasurementFile> files(3);
  const int offsets[3][2] = {{1, 1}, {0, 1}, {1, 2}};  // where each input's pixel 0 lies
  for (std::size_t i = 0; i < files.size(); ++i) {
    MeasurementFile& f = files[i];
    f.camera_width = W;
    f.camera_height = H;
    f.y = i == 2 ? 1 : 0;
    f.width = W;
    f.height = int16_t(i == 2 ? H - 2 : H);
    for (int y = 0; y < f.height; ++y)
      for (int x = 0; x < W; ++x)
        f.values.push_back(surface[std::size_t(y + f.y + offsets[i][1]) * (W + 2) + std::size_t(x + offsets[i][0])]);
  }
  files[0].values[17] = X;
  return files;
}

struct SweepCase {
  const char* name;
  bool average, deviation, count;
  RemovalMode remove;
  bool reject = false;  // two rounds, with the rejection count output
  bool report = false;  // the per-input report
  bool combinations = false;  // the extremes, range and uncertainty, the sample deviation
  bool median = false;        // the median, in bands of two rows
  LevelMode level = LevelMode::NONE;
  bool align = false;  // -Align Shift on textured_inputs
};

std::ostream& operator<<(std::ostream& os, const SweepCase& c) {
  return os << c.name;
}

class AllocationFailureTest : public ::testing::TestWithParam<SweepCase> {
 protected:
  void SetUp() override {
    const SweepCase& c = GetParam();
    const std::vector<MeasurementFile> files = c.align ? textured_inputs() : small_inputs();
    for (std::size_t i = 0; i < files.size(); ++i) {
      const std::string name = "in" + std::to_string(i) + ".dat";
      dir_.write(name, encode_test_file(files[i]));
      inputs_.names.push_back(dir_.file(name));
    }
    if (c.align) {
      settings_.Align = AlignMode::SHIFT;
      settings_.AlignMax = 2;
    }
    avg_ = dir_.file("avg.dat");
    sdev_ = dir_.file("sdev.dat");
    count_ = dir_.file("count.dat");
    settings_.AvgOutFile = c.average ? avg_.c_str() : nullptr;
    settings_.SdevOutFile = c.deviation ? sdev_.c_str() : nullptr;
    settings_.CountOutFile = c.count ? count_.c_str() : nullptr;
    settings_.SdevRemove = c.remove;
    settings_.Level = c.level;
    settings_.MinValidCnt = 2;
    reject_ = dir_.file("reject.dat");
    report_ = dir_.file("report.csv");
    if (c.reject) {
      settings_.Reject = 1.0;
      settings_.RejectIter = 2;
      settings_.RejectOutFile = reject_.c_str();
    }
    if (c.report) settings_.InputReportFile = report_.c_str();
    low_ = dir_.file("low.dat");
    high_ = dir_.file("high.dat");
    range_ = dir_.file("range.dat");
    uncertainty_ = dir_.file("uncertainty.dat");
    if (c.combinations) {
      settings_.MinOutFile = low_.c_str();
      settings_.MaxOutFile = high_.c_str();
      settings_.RangeOutFile = range_.c_str();
      settings_.UncertOutFile = uncertainty_.c_str();
      settings_.SdevType = DeviationType::SAMPLE;
    }
    if (c.median) {
      settings_.Combine = CombineMode::MEDIAN;
      settings_.MemoryLimit = 3.0 * 5 * 4 * 2 / 1048576.0;
    }
  }

  std::vector<std::string> outputs() const {
    std::vector<std::string> names;
    for (const char* n : {settings_.AvgOutFile, settings_.SdevOutFile, settings_.CountOutFile,
                          settings_.RejectOutFile, settings_.MinOutFile, settings_.MaxOutFile,
                          settings_.RangeOutFile, settings_.UncertOutFile})
      if (n != nullptr) names.push_back(n);
    return names;
  }

  // Runs without failures; returns the number of requests and keeps the outputs' bytes.
  int baseline() {
    FailingAllocator counter(0);
    const InProcessRun r = run_in_process(settings_, inputs_);
    EXPECT_TRUE(r.ok) << r.err;
    EXPECT_EQ(counter.requests(), counter.releases());
    for (const std::string& name : outputs()) complete_.push_back(read_file_bytes(name));
    if (settings_.InputReportFile != nullptr) {
      EXPECT_NE("", read_file_bytes(report_));
      std::filesystem::remove(report_);
    }
    RecordProperty("requests", counter.requests());
    return counter.requests();
  }

  // After a failed run an output is still empty, written in full, or cut short where the write
  // failed, so that no reader takes it for a complete file: never a whole file with other values.
  void expect_no_false_output(int k) {
    const std::vector<std::string> names = outputs();
    for (std::size_t i = 0; i < names.size(); ++i) {
      const std::string bytes = read_file_bytes(names[i]);
      MeasurementFile decoded;
      EXPECT_TRUE(bytes.empty() || bytes == complete_[i] || !decode_test_file(bytes, &decoded))
          << names[i] << " after failing request " << k;
    }
    // The report appears whole or not at all, and leaves no temporary file behind.
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path()))
      files += entry.path().filename().string().rfind("report.csv", 0) == 0;
    EXPECT_EQ(0u, files) << "after failing request " << k;
  }

  TempDir dir_;
  InputList inputs_;
  RunSettings settings_;
  std::string avg_, sdev_, count_, reject_, report_, low_, high_, range_, uncertainty_;
  std::vector<std::string> complete_;
};

TEST_P(AllocationFailureTest, EveryRequestFailingFromThereOnIsReportedAndReleased) {
  const int requests = baseline();
  ASSERT_GT(requests, 0);
  for (int k = 1; k <= requests; ++k) {
    FailingAllocator failing(k);
    const InProcessRun r = run_in_process(settings_, inputs_);
    EXPECT_FALSE(r.ok) << "request " << k;
    EXPECT_TRUE(r.err.ends_with(NO_MEMORY)) << "request " << k << ":\n" << r.err;
    EXPECT_EQ(k - 1, failing.releases()) << "request " << k;
    expect_no_false_output(k);
  }
}

TEST_P(AllocationFailureTest, OneRefusedRequestAmongGrantedOnesIsReportedAndReleased) {
  const int requests = baseline();
  for (int k = 1; k <= requests; ++k) {
    FailingAllocator failing(k, true);
    const InProcessRun r = run_in_process(settings_, inputs_);
    EXPECT_FALSE(r.ok) << "request " << k;
    EXPECT_TRUE(r.err.ends_with(NO_MEMORY)) << "request " << k << ":\n" << r.err;
    EXPECT_EQ(failing.requests() - 1, failing.releases()) << "request " << k;
    expect_no_false_output(k);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Runs, AllocationFailureTest,
    ::testing::Values(
        SweepCase{"AllOutputsNoRemoval", true, true, true, RemovalMode::NONE},
        SweepCase{"AllOutputsPiston", true, true, true, RemovalMode::PISTON},
        SweepCase{"AllOutputsPlane", true, true, true, RemovalMode::PLANE},
        SweepCase{"AllOutputsSphere", true, true, true, RemovalMode::SPHERE},
        SweepCase{"AverageOnly", true, false, false, RemovalMode::NONE},
        SweepCase{"DeviationOnlySphere", false, true, false, RemovalMode::SPHERE},
        SweepCase{"CountOnly", false, false, true, RemovalMode::NONE},
        SweepCase{"RejectionAndReportSphere", true, true, true, RemovalMode::SPHERE, true, true},
        SweepCase{"RejectionRobust", false, true, false, RemovalMode::ROBUST, true, false},
        SweepCase{"ReportOnly", false, false, false, RemovalMode::NONE, false, true},
        SweepCase{"CombinationsPlane", true, true, true, RemovalMode::PLANE, false, false, true},
        SweepCase{"CombinationsRejection", false, false, false, RemovalMode::NONE, true, false,
                  true},
        SweepCase{"MedianBands", true, false, true, RemovalMode::NONE, false, false, false, true},
        SweepCase{"MedianRejection", true, true, false, RemovalMode::PLANE, true, false, false,
                  true},
        SweepCase{"LevelledRejectionAndReport", true, true, true, RemovalMode::PLANE, true, true,
                  false, false, LevelMode::PLANE},
        SweepCase{"LevelledPistonOnly", true, false, false, RemovalMode::NONE, false, false,
                  false, false, LevelMode::PISTON},
        SweepCase{"AlignedLevelledRejectionAndReport", true, true, true, RemovalMode::PLANE, true,
                  true, false, false, LevelMode::PLANE, true},
        SweepCase{"AlignedAverageOnly", true, false, false, RemovalMode::NONE, false, false,
                  false, false, LevelMode::NONE, true},
        SweepCase{"LevelledMedianRejection", true, true, false, RemovalMode::NONE, true, false,
                  false, true, LevelMode::PLANE, false}),
    [](const auto& info) { return std::string(info.param.name); });

// The program entry turns the refusal into exit status 1, at the first request (the first
// input's map) and at the last (the last output's byte-order copy). One thread, so that the
// requests come in one order.
TEST(AllocationFailureExit, ProgramExitsWithStatusOne) {
  TempDir dir;
  std::vector<std::string> args = {"-Threads",    "1",         "-Overwrite",  "-SdevRemove",
                                   "Plane",       "-AvgOut",   dir.file("a"), "-SdevOut",
                                   dir.file("s"), "-CountOut", dir.file("c")};
  const std::vector<MeasurementFile> files = small_inputs();
  for (std::size_t i = 0; i < files.size(); ++i) {
    dir.write("in" + std::to_string(i), encode_test_file(files[i]));
    args.push_back(dir.file("in" + std::to_string(i)));
  }
  std::string err;
  int requests = 0;
  {
    FailingAllocator counter(0);
    ASSERT_EQ(0, main_in_process(args, &err)) << err;
    requests = counter.requests();
  }
  for (int k : {1, requests}) {
    FailingAllocator failing(k);
    EXPECT_EQ(1, main_in_process(args, &err)) << "request " << k;
    EXPECT_TRUE(err.ends_with(NO_MEMORY)) << err;
  }
}

}  // namespace

}  // namespace harnix
