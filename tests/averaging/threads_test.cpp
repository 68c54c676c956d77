// The reader that reads ahead, against reading when asked, and every output byte of the threaded
// run against the one-thread run.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <utility>
#include <vector>

#include "averaging/averaging_run.h"
#include "averaging/band_team.h"
#include "averaging/input_reader.h"
#include "averaging/working_maps.h"
#include "maps/storage.h"
#include "cli/run_messages.h"
#include "support/planoryx_bytes.h"
#include "support/run_directory.h"

namespace harnix {

namespace {

// Read ahead or read when asked, every input comes out the same, failures included; a name that
// is not a regular file is read when asked, never ahead.
class InputReaderTest : public RunDirectory {};

TEST_F(InputReaderTest, ReadsAheadWhatItWouldReadWhenAsked) {
  InputList inputs;
  for (int i = 0; i < 7; ++i) {
    inputs.names.push_back(path("in" + std::to_string(i) + ".dat"));
    if (i == 3) continue;  // missing
    MeasurementFile f = full_field(5, 4, std::vector<int32_t>(20, i * 11));
    write_file_bytes(inputs.names.back(), encode_test_file(f));
  }
  inputs.names.push_back(dir_);  // not a regular file: left for next() to read
  inputs.names.push_back(path("in1.dat"));
  InputReader plain(inputs, 1);
  InputReader ahead(inputs, 3);
  BandTeam team(3);
  auto read = [&ahead](int32_t) { ahead.read_ahead(); };
  team.set_side_job(read);
  auto nothing = [](int32_t) {};
  for (std::size_t i = 0; i < inputs.names.size(); ++i) {
    if (i % 3 != 2) team.run(nothing);  // every band reads ahead; now and then none does
    ReadInput& want = plain.next();
    ReadInput& got = ahead.next();
    EXPECT_EQ(got.code, want.code) << i;
    EXPECT_EQ(std::memcmp(&got.attributes, &want.attributes, sizeof want.attributes), 0) << i;
    ASSERT_EQ(got.map.window.width, want.map.window.width) << i;
    if (want.code == NO_ERROR) {
      EXPECT_EQ(std::memcmp(got.map.matrix, want.map.matrix, 20 * sizeof(int32_t)), 0) << i;
    }
    plain.release(i + 1);
    if (i % 2 == 1) ahead.release(i + 1);  // holds two at a time, of three slots
    if (i % 2 == 0 && i > 0) ahead.release(i - 1);
  }
  team.clear_side_job();
  EXPECT_EQ(ahead.maps_ahead(), 2);
  // The slots' storage goes to the caller once, whole (the reader then frees none of it).
  PhaseMap given[4];
  for (PhaseMap& m : given) map_init(m);
  EXPECT_EQ(ahead.give_storage(given, 4), 3);
  EXPECT_EQ(ahead.give_storage(given + 3, 1), 0);
  for (const PhaseMap& m : given) {
    if (m.matrix != nullptr) {
      EXPECT_GE(m.size, 20u);
    }
  }
  // A reader of the next pass takes it, as many maps as it has slots, and reads into it.
  InputReader next_pass(inputs, 2);
  const int32_t* storage = given[0].matrix;
  EXPECT_EQ(next_pass.take_storage(given, 4), 2);
  EXPECT_EQ(given[0].matrix, nullptr);
  EXPECT_NE(given[2].matrix, nullptr);
  ReadInput& first = next_pass.next();
  ASSERT_EQ(first.code, NO_ERROR);
  EXPECT_EQ(first.map.matrix, storage);
  for (PhaseMap& m : given) map_free(m);
}

// Every pass with several threads: rejection rounds, the report, removals and failures give
// the bytes of one thread, on every stream and in every file.
struct ThreadedCase {
  const char* name;
  std::vector<std::string> synth;
  RemovalMode remove;
  double reject;  // 0: none
  int32_t rounds;
  bool report;
  const char* damage;  // replaces the fifth input's bytes, or nullptr
  int16_t min_count = 2;
  bool combinations = false;  // the extremes, range and uncertainty, the sample deviation
  bool median = false;        // the median, in bands of 5 rows
  LevelMode level = LevelMode::NONE;
  bool align = false;  // -Align Shift -AlignMax 4
};

void PrintTo(const ThreadedCase& c, std::ostream* os) {
  *os << c.name;
}

class ThreadCount : public RunDirectory, public ::testing::WithParamInterface<ThreadedCase> {
 protected:
  // The run's streams and files, one after the other.
  std::string run(const InputList& inputs, int32_t threads) {
    const ThreadedCase& c = GetParam();
    const std::string a = path("a.dat"), d = path("s.dat"), n = path("c.dat"), r = path("r.dat"),
                      csv = path("report.csv"), lo = path("lo.dat"), hi = path("hi.dat"),
                      rg = path("rg.dat"), u = path("u.dat");
    const std::string files[] = {a, d, n, r, csv, lo, hi, rg, u};
    for (const std::string& name : files) std::filesystem::remove(name);
    RunSettings settings;
    settings.AvgOutFile = a.c_str();
    settings.SdevOutFile = d.c_str();
    settings.CountOutFile = n.c_str();
    settings.SdevRemove = c.remove;
    settings.Reject = c.reject;
    settings.RejectIter = c.rounds;
    if (c.reject > 0) settings.RejectOutFile = r.c_str();
    if (c.report) settings.InputReportFile = csv.c_str();
    if (c.combinations) {
      settings.MinOutFile = lo.c_str();
      settings.MaxOutFile = hi.c_str();
      settings.RangeOutFile = rg.c_str();
      settings.UncertOutFile = u.c_str();
      settings.SdevType = DeviationType::SAMPLE;
    }
    if (c.median) {
      settings.Combine = CombineMode::MEDIAN;
      settings.MemoryLimit = 11.0 * 53 * 4 * 5 / 1048576.0;
    }
    settings.MinValidCnt = c.min_count;
    settings.Level = c.level;
    if (c.align) {
      settings.Align = AlignMode::SHIFT;
      settings.AlignMax = 4;
    }
    settings.Verbose = true;
    settings.Threads = threads;
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    const bool ok = run_on_console(settings, inputs);
    std::string all = ::testing::internal::GetCapturedStderr();
    all += ::testing::internal::GetCapturedStdout();
    all += ok ? "ok" : "failed";
    for (const std::string& name : files)
      all += std::filesystem::exists(name) ? read_file_bytes(name) : "(none)";
    return all;
  }
};

TEST_P(ThreadCount, EveryThreadCountGivesTheBytesOfOne) {
  const ThreadedCase& c = GetParam();
  std::vector<std::string> synth = {"synth", "--out",    path("set"), "--count", "11", "--width",
                                    "53",    "--height", "37",        "--seed",  "5"};
  synth.insert(synth.end(), c.synth.begin(), c.synth.end());
  ASSERT_EQ(0, util(synth).status);
  InputList inputs;
  const std::string list = read_file_bytes(path("set/list.txt"));
  for (std::size_t at = 0; at < list.size();) {
    const std::size_t end = list.find('\n', at);
    inputs.names.push_back(list.substr(at, end - at));
    at = end + 1;
  }
  ASSERT_EQ(inputs.names.size(), 11u);
  if (c.damage != nullptr) write_file_bytes(inputs.names[4], c.damage);
  const std::string want = run(inputs, 1);
  for (int32_t threads : {2, 3, 5}) EXPECT_TRUE(run(inputs, threads) == want) << threads;
}

INSTANTIATE_TEST_SUITE_P(
    Passes, ThreadCount,
    ::testing::Values(
        ThreadedCase{"LevelPlaneSpikesRejectReport",
                     {"--windows", "--spikes", "0.5%", "--dust", "2"},
                     RemovalMode::NONE,
                     3.0,
                     3,
                     true,
                     nullptr,
                     2,
                     true,
                     false,
                     LevelMode::PLANE},
        // 400 x 340 pixels: the refits read every second row.
        ThreadedCase{"LevelPlaneSampledRowsReject",
                     {"--width", "400", "--height", "340", "--mixed", "--spikes", "0.1%"},
                     RemovalMode::NONE,
                     3.0,
                     2,
                     false,
                     nullptr,
                     2,
                     false,
                     false,
                     LevelMode::PLANE},
        ThreadedCase{"LevelPistonMixedWindowsPlaneReport",
                     {"--mixed", "--windows"},
                     RemovalMode::PLANE,
                     0.0,
                     0,
                     true,
                     nullptr,
                     2,
                     false,
                     false,
                     LevelMode::PISTON},
        ThreadedCase{"LevelPlaneRobustDamagedInput",
                     {"--windows"},
                     RemovalMode::ROBUST,
                     0.0,
                     0,
                     false,
                     "not a data file",
                     2,
                     false,
                     false,
                     LevelMode::PLANE},
        ThreadedCase{"RejectThreeRoundsPlaneReport",
                     {"--invalid", "5"},
                     RemovalMode::PLANE,
                     1.5,
                     3,
                     true,
                     nullptr},
        ThreadedCase{"MixedWindowsRejectSphere",
                     {"--mixed", "--windows"},
                     RemovalMode::SPHERE,
                     2.0,
                     2,
                     true,
                     nullptr},
        ThreadedCase{"MixedWindowsCylinderReport",
                     {"--mixed", "--windows"},
                     RemovalMode::CYLINDER,
                     0.0,
                     0,
                     true,
                     nullptr},
        ThreadedCase{
            "RobustRejectOneRound", {"--windows"}, RemovalMode::ROBUST, 1.5, 1, false, nullptr},
        ThreadedCase{"MixedWindowsRobustDamaged",
                     {"--mixed", "--windows"},
                     RemovalMode::ROBUST,
                     0.0,
                     0,
                     true,
                     "Planoryx?"},
        ThreadedCase{
            "NoneDropoutsReport", {"--invalid", "40"}, RemovalMode::NONE, 0.0, 0, true, nullptr, 8},
        ThreadedCase{"MixedPistonRejectDropouts",
                     {"--mixed", "--invalid", "30"},
                     RemovalMode::PISTON,
                     2.0,
                     1,
                     false,
                     nullptr,
                     7},
        ThreadedCase{"DamagedFifthInput", {}, RemovalMode::PLANE, 2.0, 2, true, "Planoryx?"},
        ThreadedCase{"CombinationsMixedWindows",
                     {"--mixed", "--windows", "--invalid", "5"},
                     RemovalMode::NONE,
                     0.0,
                     0,
                     false,
                     nullptr,
                     2,
                     true},
        ThreadedCase{"CombinationsRejectPlane",
                     {"--invalid", "5"},
                     RemovalMode::PLANE,
                     1.5,
                     2,
                     false,
                     nullptr,
                     3,
                     true},
        ThreadedCase{"MedianBandsRejectMixed",
                     {"--mixed", "--windows", "--invalid", "5"},
                     RemovalMode::NONE,
                     1.5,
                     2,
                     false,
                     nullptr,
                     3,
                     false,
                     true},
        ThreadedCase{"AlignLevelPlaneRejectReport",
                     {"--windows", "--shift", "2", "--texture", "20"},
                     RemovalMode::PLANE,
                     3.0,
                     2,
                     true,
                     nullptr,
                     2,
                     true,
                     false,
                     LevelMode::PLANE,
                     true},
        ThreadedCase{"AlignDamagedFifthInput",
                     {"--windows", "--shift", "2", "--texture", "20"},
                     RemovalMode::NONE,
                     0.0,
                     0,
                     true,
                     "Planoryx?",
                     2,
                     false,
                     false,
                     LevelMode::NONE,
                     true},
        ThreadedCase{"MedianAlignedLevelledBandsReject",
                     {"--windows", "--shift", "2", "--texture", "20"},
                     RemovalMode::NONE,
                     1.5,
                     2,
                     false,
                     nullptr,
                     2,
                     false,
                     true,
                     LevelMode::PLANE,
                     true},
        ThreadedCase{"MedianLevelledBandsRejectReport",
                     {"--mixed", "--windows", "--invalid", "5"},
                     RemovalMode::NONE,
                     1.5,
                     2,
                     true,
                     nullptr,
                     3,
                     false,
                     true,
                     LevelMode::PLANE,
                     false}),
    [](const ::testing::TestParamInfo<ThreadedCase>& info) {
      return std::string(info.param.name);
    });

// The first of 32 inputs rewritten once its first read is done (later inputs are read ahead
// then with several threads): the pass that next reads it ends the run, whichever it is.
struct LaterPass {
  const char* name;
  void (*set)(RunSettings&, const char* report);
};

void PrintTo(const LaterPass& c, std::ostream* os) {
  *os << c.name;
}

// Rewrites the first input when the observer hears it was read.
class Rewriter : public RunObserver {
 public:
  explicit Rewriter(std::function<void()> change) : change_(std::move(change)) {}
  void input_read(const DataAttributes&, const Window&) override {
    if (reads_++ == 0) change_();
  }

 private:
  std::function<void()> change_;
  int reads_ = 0;
};

class StampedRead : public RunDirectory, public ::testing::WithParamInterface<LaterPass> {};

TEST_P(StampedRead, InputRewrittenAfterItsReadIsCaught) {
  InputList inputs;
  for (int i = 0; i < 32; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "m%02d.dat", i);
    inputs.names.push_back(path(name));
    write_file_bytes(inputs.names.back(),
                     encode_test_file(full_field(16, 8, std::vector<int32_t>(128, i % 7))));
  }
  const std::string first = inputs.names[0];
  const std::string bytes = read_file_bytes(first);
  const std::pair<const char*, std::function<void()>> changes[] = {
      {"time",
       [&] {
         const auto time = std::filesystem::last_write_time(first);
         std::filesystem::last_write_time(first, time + std::chrono::hours(1));
       }},
      {"byte appended", [&] { write_file_bytes(first, bytes + "x"); }},
      {"renamed over",
       [&] {
         write_file_bytes(first + ".new", bytes);
         std::filesystem::rename(first + ".new", first);
       }},
  };
  const std::string avg = path("a.dat"), report = path("r.csv");
  for (int32_t threads : {1, 2}) {
    for (const auto& [what, change] : changes) {
      write_file_bytes(first, bytes);
      RunSettings settings;
      settings.AvgOutFile = avg.c_str();
      settings.MinValidCnt = 1;
      settings.Threads = threads;
      GetParam().set(settings, report.c_str());
      Rewriter rewriter(change);
      const RunResult r = run_averaging(settings, inputs, &rewriter);
      EXPECT_EQ(RunStep::INPUT_CHANGED, r.step) << what << ", threads " << threads;
      EXPECT_EQ(first, r.file != nullptr ? r.file : "") << what;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Passes, StampedRead,
    ::testing::Values(
        LaterPass{"Rejection", [](RunSettings& s, const char*) { s.Reject = 3; }},
        LaterPass{"InputReport", [](RunSettings& s, const char* r) { s.InputReportFile = r; }},
        LaterPass{"Levelling", [](RunSettings& s, const char*) { s.Level = LevelMode::PLANE; }},
        LaterPass{"MedianBands",
                  [](RunSettings& s, const char*) {
                    s.Combine = CombineMode::MEDIAN;
                    s.MemoryLimit = 32.0 * 16 * 4 * 2 / 1048576.0;  // bands of two rows
                  }}),
    [](const ::testing::TestParamInfo<LaterPass>& info) { return std::string(info.param.name); });

TEST(MemoryBound, CountsTheMapsReadAhead) {
  EXPECT_EQ(NO_ERROR, check_memory_bound(100, 10, 40000, 0));
  EXPECT_EQ(ERR_NO_MEM, check_memory_bound(100, 10, 40000, 1));
  EXPECT_EQ(NO_ERROR, check_memory_bound(100, 10, 48000, 2));
}

}  // namespace

}  // namespace harnix
