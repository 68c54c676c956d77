// The parts the threaded run is built from: the band team, the reader that reads ahead, and the
// fit and subtraction in parts, each against the plain one-thread way.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <random>
#include <vector>

#include "averaging/band_team.h"
#include "averaging/input_reader.h"
#include "averaging/working_maps.h"
#include "cli/run_messages.h"
#include "reference/fit_reference.h"
#include "support/fit_calls.h"
#include "support/planoryx_bytes.h"
#include "support/run_directory.h"

namespace harnix {

namespace {

TEST(BandTeam, RunsEveryBandOncePerPassAndCutsRowsInOrder) {
  for (int32_t bands : {1, 2, 3, 7}) {
    BandTeam team(bands);
    ASSERT_EQ(team.bands(), bands);
    std::vector<std::atomic<int>> calls(static_cast<std::size_t>(bands));
    auto pass = [&](int32_t band) { calls[static_cast<std::size_t>(band)].fetch_add(1); };
    for (int i = 0; i < 50; ++i) team.run(pass);
    for (auto& c : calls) EXPECT_EQ(c.load(), 50) << bands;
    for (int32_t rows : {0, 1, 5, 1024}) {
      int32_t next = 0;
      for (int32_t b = 0; b < bands; ++b) {
        const RowRange r = band_rows(rows, bands, b);
        EXPECT_EQ(r.first, next);
        EXPECT_LE(r.count, rows / bands + 1);
        next += r.count;
      }
      EXPECT_EQ(next, rows);
    }
  }
  EXPECT_EQ(BandTeam(0).bands(), 1);
  EXPECT_GE(usable_cores(), 1);
}

// A fit gathered in parts, rows split at random and gathered in a shuffled order, is the fit
// made in one piece, bit for bit; so is a subtraction done in random ranges.
TEST(FitAndSubtractionInParts, EqualTheWholeBitForBit) {
  std::mt19937_64 rng(8);
  auto draw = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  for (FitType type : ALL_FIT_TYPES) {
    for (int trial = 0; trial < 6; ++trial) {
      const Window frame{0, 0, static_cast<int16_t>(draw(40, 300)),
                         static_cast<int16_t>(draw(40, 200))};
      const Window w{static_cast<int16_t>(draw(0, 20)), static_cast<int16_t>(draw(0, 20)),
                     static_cast<int16_t>(frame.width - 20),
                     static_cast<int16_t>(frame.height - 20)};
      TestMap t(w);
      fill_random(t, rng, -3000000, 3000000, 0.1);
      SurfaceWorkspace whole_ws;
      SurfaceFit whole{};
      ASSERT_EQ(fit_surface(map_view(t.map), frame, type, FitOptions{}, whole_ws, &whole),
                NO_ERROR);

      const int32_t parts = draw(1, 9);
      std::vector<int32_t> cuts = {0, w.height};
      for (int i = 1; i < parts; ++i) cuts.push_back(draw(0, w.height));
      std::sort(cuts.begin(), cuts.end());
      std::vector<int32_t> order(cuts.size() - 1);
      for (std::size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int32_t>(i);
      std::shuffle(order.begin(), order.end(), rng);
      SurfaceWorkspace ws;
      FitParts plan{};
      SurfaceFit in_parts{};
      ASSERT_EQ(
          fit_parts_begin(map_view(t.map), frame, type, FitOptions{}, parts, ws, &plan, &in_parts),
          NO_ERROR);
      for (int32_t i : order) {
        fit_parts_gather(plan, i % parts, cuts[static_cast<std::size_t>(i)],
                         cuts[static_cast<std::size_t>(i) + 1] - cuts[static_cast<std::size_t>(i)]);
      }
      ASSERT_EQ(fit_parts_finish(plan, &in_parts), NO_ERROR);
      EXPECT_EQ(std::memcmp(&in_parts, &whole, sizeof whole), 0) << type << " trial " << trial;

      TestMap whole_map(t);
      ASSERT_EQ(remove_surface(map_view(whole_map.map), frame, whole, whole_ws), NO_ERROR);
      SubtractionPlan sub{};
      ASSERT_EQ(subtraction_begin(map_view(t.map), frame, whole, parts, ws, &sub), NO_ERROR);
      for (int32_t i : order) {
        const auto at = static_cast<std::size_t>(i);
        subtract_rows(sub, i % parts, cuts[at], cuts[at + 1] - cuts[at]);
      }
      EXPECT_EQ(t.values(), whole_map.values()) << type << " trial " << trial;
      surface_workspace_free(ws);
      surface_workspace_free(whole_ws);
    }
  }
}

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
  InputReader plain(inputs, 1, 0);
  InputReader ahead(inputs, 3, 2);
  for (std::size_t i = 0; i < inputs.names.size(); ++i) {
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
  EXPECT_EQ(ahead.maps_ahead(), 2);
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
                      csv = path("report.csv");
    for (const std::string& name : {a, d, n, r, csv}) std::filesystem::remove(name);
    RunSettings settings;
    settings.AvgOutFile = a.c_str();
    settings.SdevOutFile = d.c_str();
    settings.CountOutFile = n.c_str();
    settings.SdevRemove = c.remove;
    settings.Reject = c.reject;
    settings.RejectIter = c.rounds;
    if (c.reject > 0) settings.RejectOutFile = r.c_str();
    if (c.report) settings.InputReportFile = csv.c_str();
    settings.MinValidCnt = c.min_count;
    settings.Verbose = true;
    settings.Threads = threads;
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    const bool ok = run_on_console(settings, inputs);
    std::string all = ::testing::internal::GetCapturedStderr();
    all += ::testing::internal::GetCapturedStdout();
    all += ok ? "ok" : "failed";
    for (const std::string& name : {a, d, n, r, csv})
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
        ThreadedCase{"DamagedFifthInput", {}, RemovalMode::PLANE, 2.0, 2, true, "Planoryx?"}),
    [](const ::testing::TestParamInfo<ThreadedCase>& info) {
      return std::string(info.param.name);
    });

TEST(MemoryBound, CountsTheMapsReadAhead) {
  EXPECT_EQ(NO_ERROR, check_memory_bound(100, 10, 40000, 0));
  EXPECT_EQ(ERR_NO_MEM, check_memory_bound(100, 10, 40000, 1));
  EXPECT_EQ(NO_ERROR, check_memory_bound(100, 10, 48000, 2));
}

}  // namespace

}  // namespace harnix
