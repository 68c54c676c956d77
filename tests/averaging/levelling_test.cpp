// Levelling: the robust fit of one input's difference from the stack, and whole runs of stacks
// whose inputs differ only by a piston and a plane.
#include "averaging/levelling.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "averaging/averaging_run.h"
#include "cli/run_messages.h"
#include "support/planoryx_bytes.h"
#include "support/run_directory.h"
#include "support/test_maps.h"

namespace harnix {

namespace {

constexpr int16_t W = 48, H = 36;

// A curved surface with a step, in counts: what the levelling must leave alone.
double surface(int x, int y) {
  return 400.0 * std::sin(x / 6.0) + 0.7 * (y - 10) * (y - 10) + (x > 30 ? 250.0 : 0.0);
}

struct Plane {
  double c0, cx, cy;  // about the camera's centre pixel (W / 2, H / 2)
  double at(int x, int y) const { return c0 + cx * (x - W / 2) + cy * (y - H / 2); }
};

struct FitCase {
  const char* name;
  LevelMode mode;
  Plane truth;
  Window window;
  double factor;  // the input's values are (surface + plane) / factor, rounded
  int spikes;     // every 37th pixel of the window raised by 900 counts, up to this many
  bool levelled;
};

void PrintTo(const FitCase& c, std::ostream* os) {
  *os << c.name;
}

class FitLevel : public ::testing::TestWithParam<FitCase> {};

TEST_P(FitLevel, RecoversThePlaneAndLeavesOutTheSpikes) {
  const FitCase& c = GetParam();
  OwnedMap<RealMap, double> average(Window{0, 0, W, H});
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) average.at(x, y) = surface(x, y);
  average.at(3, 3) = NAN;  // too few inputs there: not compared
  OwnedMap<PhaseMap, int32_t> input(c.window);
  int spiked = 0;
  for (int r = 0; r < c.window.height; ++r) {
    for (int i = 0; i < c.window.width; ++i) {
      const int x = c.window.x + i, y = c.window.y + r;
      double v = (surface(x, y) + c.truth.at(x, y)) / c.factor;
      if ((r * c.window.width + i) % 37 == 5 && spiked < c.spikes) {
        v += 900.0;
        ++spiked;
      }
      input.cell(i, r) = int32_t(std::lround(v));
    }
  }
  if (c.window.height > 1) input.cell(1, 1) = TEST_PHASE_INVALID;
  InputLevel level;
  fit_level(input.m, c.factor, average.m, c.mode, level);
  ASSERT_EQ(level.levelled, c.levelled);
  if (!c.levelled) {
    EXPECT_EQ(level.c0, 0.0);
    EXPECT_EQ(level.cx, 0.0);
    EXPECT_EQ(level.cy, 0.0);
    return;
  }
  const bool inside = window_within(Window{3, 3, 1, 1}, c.window);
  EXPECT_EQ(level.compared, int64_t(c.window.width) * c.window.height - 1 - (inside ? 1 : 0));
  EXPECT_EQ(level.left_out, spiked);
  // Rounding the values to counts (of factor counts each) is all that is left.
  EXPECT_NEAR(level.c0, c.truth.c0, 0.05 * c.factor);
  EXPECT_NEAR(level.cx, c.truth.cx, 0.005 * c.factor);
  EXPECT_NEAR(level.cy, c.truth.cy, 0.005 * c.factor);
  EXPECT_EQ(level.xc, W / 2);
  EXPECT_EQ(level.yc, H / 2);
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, FitLevel,
    ::testing::Values(
        FitCase{"PlaneOverTheField", LevelMode::PLANE, {37.25, 1.5, -2.25}, {0, 0, W, H}, 1.0, 0,
                true},
        FitCase{"PlaneSpikedInAWindow", LevelMode::PLANE, {-120.5, -3.0, 0.75}, {5, 2, 30, 25},
                1.0, 12, true},
        FitCase{"PlaneScaledAndSpiked", LevelMode::PLANE, {64.0, 0.5, 2.0}, {0, 4, W, 20}, 2.0, 6,
                true},
        FitCase{"PistonSpiked", LevelMode::PISTON, {-77.0, 0.0, 0.0}, {10, 10, 20, 20}, 1.0, 9,
                true},
        FitCase{"TooFewPoints", LevelMode::PISTON, {10.0, 0.0, 0.0}, {40, 30, 4, 4}, 1.0, 0,
                false},
        FitCase{"PlaneOnOneRow", LevelMode::PLANE, {10.0, 1.0, 0.0}, {0, 20, W, 1}, 1.0, 0, false}),
    [](const ::testing::TestParamInfo<FitCase>& info) { return info.param.name; });

// A window of 2 x LEVEL_REFIT_SAMPLE pixels or more is fitted on every k-th row; when those
// rows hold too few compared pixels (here: none), on every row.
struct RowsCase {
  const char* name;
  bool only_odd_rows_compared;  // the stack valid on the odd rows of the window alone
  int64_t compared;
  int64_t left_out;
};

void PrintTo(const RowsCase& c, std::ostream* os) {
  *os << c.name;
}

class FitLevelRows : public ::testing::TestWithParam<RowsCase> {};

TEST_P(FitLevelRows, LargeWindowIsFittedOnEveryKthRow) {
  const RowsCase& c = GetParam();
  constexpr int16_t CW = 520, CH = 260;
  const Window window{4, 2, 512, 256};  // 131072 pixels: every second row
  const Plane truth{-41.5, 0.25, -0.125};
  auto plane = [&](int x, int y) {
    return truth.c0 + truth.cx * (x - CW / 2) + truth.cy * (y - CH / 2);
  };
  OwnedMap<RealMap, double> average(Window{0, 0, CW, CH}, NAN);
  for (int y = 0; y < CH; ++y) {
    const int r = y - window.y;
    if (c.only_odd_rows_compared && r % 2 == 0) continue;
    for (int x = 0; x < CW; ++x) average.at(x, y) = surface(x % W, y % H);
  }
  OwnedMap<PhaseMap, int32_t> input(window);
  for (int r = 0; r < window.height; ++r)
    for (int i = 0; i < window.width; ++i) {
      const int x = window.x + i, y = window.y + r;
      // A spike on every 100th pixel of rows 0, 2 and 3: the fit reads two of those rows.
      const double spike = (r == 0 || r == 2 || r == 3) && i % 100 == 7 ? 900.0 : 0.0;
      input.cell(i, r) = int32_t(std::lround(surface(x % W, y % H) + plane(x, y) + spike));
    }
  InputLevel level;
  fit_level(input.m, 1.0, average.m, LevelMode::PLANE, level);
  ASSERT_TRUE(level.levelled);
  EXPECT_EQ(level.compared, c.compared);
  EXPECT_EQ(level.left_out, c.left_out);
  EXPECT_NEAR(level.c0, truth.c0, 0.05);
  EXPECT_NEAR(level.cx, truth.cx, 0.005);
  EXPECT_NEAR(level.cy, truth.cy, 0.005);
}

INSTANTIATE_TEST_SUITE_P(
    Windows, FitLevelRows,
    ::testing::Values(RowsCase{"EverySecondRow", false, 128 * 512, 2 * 6},
                      RowsCase{"EveryRowWhenThoseHoldNone", true, 128 * 512, 6}),
    [](const ::testing::TestParamInfo<RowsCase>& info) { return info.param.name; });

// Stacks of one surface, each input with a plane of its own in whole counts, and no noise.
class LevelledRun : public RunDirectory {
 protected:
  Plane plane_of(int i) const { return Plane{double(40 * i - 90), double(i % 3) - 1.0, 2.0 - i}; }

  // Input i of `count`, over its window (the field, or an inset of a few pixels).
  InputList write_stack(int count, bool windows) {
    InputList inputs;
    for (int i = 0; i < count; ++i) {
      const int inset = windows ? i % 4 : 0;
      MeasurementFile f = full_field(W, H, {});
      f.x = int16_t(inset);
      f.y = int16_t(3 - inset);
      f.width = int16_t(W - 2 * inset - (windows ? 1 : 0));
      f.height = int16_t(H - 3 - (windows ? 2 : 0));
      if (!windows) f.y = 0, f.height = H;
      for (int y = f.y; y < f.y + f.height; ++y)
        for (int x = f.x; x < f.x + f.width; ++x)
          f.values.push_back(int32_t(std::lround(surface(x, y) + plane_of(i).at(x, y))));
      inputs.names.push_back(path("in" + std::to_string(i) + ".dat"));
      write_file_bytes(inputs.names.back(), encode_test_file(f));
    }
    return inputs;
  }

  RunSettings settings(LevelMode level) {
    sdev_ = path("s.dat");
    report_ = path("report.csv");
    RunSettings s;
    s.SdevOutFile = sdev_.c_str();
    s.InputReportFile = report_.c_str();
    s.MinValidCnt = 1;
    s.Level = level;
    return s;
  }

  std::string sdev_, report_;
};

TEST_F(LevelledRun, NoiselessStackHasNoDeviationWithAndWithoutWindows) {
  for (bool windows : {false, true}) {
    const InputList inputs = write_stack(7, windows);
    for (LevelMode mode : {LevelMode::NONE, LevelMode::PLANE}) {
      const RunResult r = run_averaging(settings(mode), inputs);
      ASSERT_TRUE(r.ok()) << windows;
      const MeasurementFile s = read_output("s.dat");
      int32_t most = 0;
      for (int32_t v : s.values)
        if (v != TEST_PHASE_INVALID) most = std::max(most, v);
      if (mode == LevelMode::NONE) {
        EXPECT_GT(most, 50) << windows;  // the planes themselves
      } else {
        EXPECT_LE(most, windows ? 1 : 0) << windows;
      }
    }
    // Rejection judges the levelled values: nothing lies out.
    const std::string rejected = path("r.dat");
    RunSettings s = settings(LevelMode::PLANE);
    s.Reject = 3.0;
    s.RejectIter = 2;
    s.RejectOutFile = rejected.c_str();
    ASSERT_TRUE(run_averaging(s, inputs).ok()) << windows;
    for (int32_t v : read_output("r.dat").values) EXPECT_TRUE(v == 0 || v == TEST_PHASE_INVALID);
  }
}

// The report's last columns: each input's level is its plane less the mean of the stack's.
TEST_F(LevelledRun, ReportGivesEachInputsLevelInMetres) {
  const int count = 5;
  const InputList inputs = write_stack(count, false);
  ASSERT_TRUE(run_averaging(settings(LevelMode::PLANE), inputs).ok());
  std::istringstream csv(read_file_bytes(report_));
  std::string line;
  std::getline(csv, line);
  EXPECT_EQ(line,
            "index,file,valid_pixels,rejected_pixels,compared_pixels,mean_diff_m,tilt_x,tilt_y,"
            "rms_diff_m,outlier,level_piston_m,level_tilt_x,level_tilt_y,level_left_out\r");
  Plane mean{0, 0, 0};
  for (int i = 0; i < count; ++i) {
    mean.c0 += plane_of(i).c0 / count;
    mean.cx += plane_of(i).cx / count;
    mean.cy += plane_of(i).cy / count;
  }
  const double metres = 0.5 * 6.328e-7 / test_phase_counts(1);
  for (int i = 0; i < count; ++i) {
    ASSERT_TRUE(std::getline(csv, line));
    std::vector<std::string> fields;
    std::stringstream row(line);
    for (std::string field; std::getline(row, field, ',');) fields.push_back(field);
    ASSERT_EQ(fields.size(), 14u) << line;
    EXPECT_NEAR(std::stod(fields[10]), (plane_of(i).c0 - mean.c0) * metres, 1e-3 * metres);
    EXPECT_NEAR(std::stod(fields[11]), (plane_of(i).cx - mean.cx) * metres / 7.4e-6, 1e-6);
    EXPECT_NEAR(std::stod(fields[12]), (plane_of(i).cy - mean.cy) * metres / 7.4e-6, 1e-6);
    EXPECT_EQ(fields[13], "0\r");
  }
}

// An input with too few points for its fit stays as it was, and says so.
TEST_F(LevelledRun, InputTooSmallToFitIsLeftAsItWas) {
  InputList inputs = write_stack(3, false);
  MeasurementFile tiny = full_field(W, H, std::vector<int32_t>(9, 5));
  tiny.x = tiny.y = 10;
  tiny.width = tiny.height = 3;
  inputs.names.push_back(path("tiny.dat"));
  write_file_bytes(inputs.names.back(), encode_test_file(tiny));
  RunSettings s = settings(LevelMode::PISTON);
  s.Verbose = true;
  ::testing::internal::CaptureStdout();
  ASSERT_TRUE(run_on_console(s, inputs));
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("Level[0004]          = not levelled: 9 points, too few to fit\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("Level[0001]          = piston "), std::string::npos) << out;
  const std::string csv = read_file_bytes(report_);
  EXPECT_NE(csv.find(inputs.names[3] + ",9,0,9,"), std::string::npos) << csv;
  EXPECT_EQ(csv.substr(csv.size() - 6), ",,,,\r\n");
}

// Inputs whose scaled values could overflow the stack's sums are added one at a time: the input
// whose values take a sum past the limit is the one named, whatever the team.
TEST_F(LevelledRun, StackSumPastTheLimitNamesItsInputWithEveryTeam) {
  InputList inputs = write_stack(6, false);
  for (int i : {2, 4}) {  // each value 3e7 counts scaled by 1e31: 3e38, then 6e38 in the sums
    MeasurementFile big = full_field(W, H, std::vector<int32_t>(std::size_t(W) * H, 30000000));
    big.scale_factor = 5e30f;
    write_file_bytes(inputs.names[std::size_t(i)], encode_test_file(big));
  }
  for (int32_t threads : {1, 2, 3}) {
    RunSettings s = settings(LevelMode::PLANE);
    s.Threads = threads;
    const RunResult r = run_averaging(s, inputs);
    EXPECT_EQ(r.step, RunStep::ACCUMULATE) << threads;
    EXPECT_EQ(r.code, ERR_FP_OVERFLOW) << threads;
    EXPECT_EQ(std::string(r.file != nullptr ? r.file : ""), inputs.names[4]) << threads;
  }
}

// Changes an input as pass 2 (the levels' pass) starts.
class SecondPassChange : public RunObserver {
 public:
  explicit SecondPassChange(std::function<void()> change) : change_(std::move(change)) {}
  void pass_started(int32_t pass) override {
    if (pass == 2) change_();
  }

 private:
  std::function<void()> change_;
};

// An input rewritten between the passes with its stamps kept, its window now beyond the run's
// camera, is refused and named; it is not fitted, whose fit would read beyond the stack.
TEST_F(LevelledRun, InputMovedOffTheCameraWithItsStampsKeptIsRefused) {
  const InputList inputs = write_stack(4, false);
  const std::string& name = inputs.names[2];
  const std::string original = read_file_bytes(name);
  MeasurementFile moved = full_field(W, H, std::vector<int32_t>(std::size_t(W) * H, 5));
  moved.camera_width = int16_t(2 * W);
  moved.x = int16_t(W);
  const std::string bytes = encode_test_file(moved);
  ASSERT_EQ(original.size(), bytes.size());
  for (int32_t threads : {1, 2}) {
    write_file_bytes(name, original);
    SecondPassChange change([&] {
      const auto time = std::filesystem::last_write_time(name);
      write_file_bytes(name, bytes);
      std::filesystem::last_write_time(name, time);
    });
    RunSettings s = settings(LevelMode::PLANE);
    s.Threads = threads;
    const RunResult r = run_averaging(s, inputs, &change);
    EXPECT_EQ(r.step, RunStep::ACCUMULATE) << threads;
    EXPECT_EQ(r.code, ERR_IMPROPER_WINDOW) << threads;
    EXPECT_EQ(std::string(r.file != nullptr ? r.file : ""), name) << threads;
  }
}

// Generated sets whose truth is known (20 inputs of 320 x 240, 1.5 nm noise): levelled, a
// windowed stack with a piston and tilt of its own per input behaves as its aligned twins do.
class GeneratedLevelling : public RunDirectory {
 public:
  struct Outcome {
    MeasurementFile avg, sdev, count, rejected;
    std::vector<double> share;  // rejected over valid values, by input
    double rejected_share;      // over every input
  };

  void synth(const std::string& out, std::vector<std::string> options) {
    std::vector<std::string> args = {"synth",    "--out", out,   "--count", "20",     "--width",
                                     "320",      "--height", "240", "--seed",  "5"};
    args.insert(args.end(), options.begin(), options.end());
    const ProgramResult r = util(args);
    ASSERT_EQ(0, r.status) << r.err;
  }

  Outcome run(const std::string& set, std::vector<std::string> options) {
    std::vector<std::string> args = {"-AvgOut", "a.dat", "-SdevOut",     "s.dat",      "-CountOut",
                                     "n.dat",   "-InputReport", "r.csv", "-Overwrite", "@" + set + "/list.txt"};
    const bool reject = std::find(options.begin(), options.end(), "-Reject") != options.end();
    if (reject) args.insert(args.end(), {"-RejectOut", "x.dat"});
    args.insert(args.end(), options.begin(), options.end());
    const ProgramResult r = harnix(args);
    EXPECT_EQ(0, r.status) << r.err;
    Outcome o{read_output("a.dat"), read_output("s.dat"), read_output("n.dat"), {}, {}, 0.0};
    if (reject) o.rejected = read_output("x.dat");
    std::istringstream csv(read_file_bytes(path("r.csv")));
    std::string line;
    std::getline(csv, line);
    double valid = 0.0, rejected = 0.0;
    while (std::getline(csv, line)) {
      std::vector<std::string> fields;
      std::stringstream row(line);
      for (std::string field; std::getline(row, field, ',');) fields.push_back(field);
      valid += std::stod(fields[2]);
      rejected += std::stod(fields[3]);
      o.share.push_back(std::stod(fields[3]) / std::stod(fields[2]));
    }
    o.rejected_share = rejected / valid;
    return o;
  }
};

// The value of `f` at camera pixel (x, y), or the invalid marker outside its window.
int32_t value_at(const MeasurementFile& f, int x, int y) {
  if (x < f.x || y < f.y || x >= f.x + f.width || y >= f.y + f.height) return TEST_PHASE_INVALID;
  return f.values[std::size_t(y - f.y) * f.width + std::size_t(x - f.x)];
}

double mean_of_valid(const MeasurementFile& f) {
  double sum = 0.0, n = 0.0;
  for (int32_t v : f.values)
    if (v != TEST_PHASE_INVALID) sum += v, n += 1.0;
  return sum / n;
}

// The share rejected at the pixels where `values` meet (rejected + kept), optionally only those
// within 16 pixels of the camera's edge.
double share_where(const GeneratedLevelling::Outcome& o, int values, bool edge_band) {
  double rejected = 0.0, all = 0.0;
  const MeasurementFile& n = o.count;
  for (int r = 0; r < n.height; ++r)
    for (int c = 0; c < n.width; ++c) {
      const std::size_t k = std::size_t(r) * n.width + c;
      const int x = n.x + c, y = n.y + r;
      const bool band = x < 16 || y < 16 || x >= 320 - 16 || y >= 240 - 16;
      const int32_t kept = n.values[k], out = value_at(o.rejected, x, y);
      const int32_t met = (kept == TEST_PHASE_INVALID ? 0 : kept) +
                          (out == TEST_PHASE_INVALID ? 0 : out);
      if ((values > 0 && met != values) || (edge_band && !band)) continue;
      rejected += met - (kept == TEST_PHASE_INVALID ? 0 : kept);
      all += met;
    }
  return rejected / all;
}

TEST_F(GeneratedLevelling, WindowedTiltedStackMeetsItsAlignedTwins) {
  synth("clean", {"--piston", "off", "--tilt", "off"});
  synth("twin", {"--windows", "--piston", "off", "--tilt", "off"});
  synth("tilted", {"--windows"});
  synth("spiked", {"--windows", "--spikes", "0.1%"});
  // The deviation, levelled, against the set without windows, piston and tilt.
  const double clean = mean_of_valid(run("clean", {}).sdev);
  const std::vector<std::string> level = {"-Level", "Plane", "-MinValidCnt", "10"};
  EXPECT_NEAR(mean_of_valid(run("tilted", level).sdev) / clean, 1.0, 0.05);
  EXPECT_NEAR(mean_of_valid(run("spiked", level).sdev) / clean, 1.0, 0.10);

  // Rejection: where as many values meet, as often as without windows, piston and tilt; as often
  // as the aligned windowed twin overall and along the window edges; no input singled out.
  const std::vector<std::string> reject = {"-Level",      "Plane", "-Reject",     "3",
                                           "-RejectIter", "3",     "-MinValidCnt", "1"};
  const Outcome aligned = run("clean", reject), twin = run("twin", reject);
  const Outcome tilted = run("tilted", reject);
  EXPECT_LE(share_where(tilted, 20, false), 1.2 * share_where(aligned, 20, false));
  EXPECT_NEAR(tilted.rejected_share / twin.rejected_share, 1.0, 0.2);
  EXPECT_NEAR(share_where(tilted, 0, true) / share_where(twin, 0, true), 1.0, 0.2);
  double mean_share = 0.0;
  for (double s : tilted.share) mean_share += s / double(tilted.share.size());
  for (double s : tilted.share) EXPECT_LE(s, 3.0 * mean_share);

  // Spikes of 20 noise deviations: each one kept would move its pixel's average by 1/n of it;
  // rejected, the average is the unspiked set's to within the noise. The other values are
  // rejected as on the unspiked set.
  const Outcome spiked = run("spiked", reject);
  std::istringstream csv(read_file_bytes(path("spiked/list.spikes.csv")));
  std::string line;
  std::getline(csv, line);
  double found = 0.0;
  const MeasurementFile& n = tilted.count;
  while (std::getline(csv, line)) {
    int input = 0, x = 0, y = 0;
    double height = 0.0;
    ASSERT_EQ(4, std::sscanf(line.c_str(), "%d,%d,%d,%lf", &input, &x, &y, &height)) << line;
    const int32_t met = value_at(n, x, y) + value_at(tilted.rejected, x, y);
    if (value_at(n, x, y) == TEST_PHASE_INVALID || met < 3) continue;  // fewer are not judged
    const double moved =
        std::fabs(double(value_at(spiked.avg, x, y)) - double(value_at(tilted.avg, x, y)));
    EXPECT_LT(moved, 0.5 * std::fabs(height) / (0.5 * 6.328e-7 / test_phase_counts(1)) / met)
        << line;
    EXPECT_GE(value_at(spiked.rejected, x, y), 1) << line;
    found += 1.0;
  }
  EXPECT_GT(found, 800.0);
  double all_spiked = 0.0, all_tilted = 0.0;
  for (int32_t v : spiked.rejected.values) all_spiked += v == TEST_PHASE_INVALID ? 0 : v;
  for (int32_t v : tilted.rejected.values) all_tilted += v == TEST_PHASE_INVALID ? 0 : v;
  EXPECT_NEAR((all_spiked - found) / all_tilted, 1.0, 0.02);
}

// One surface, a piston and plane of its own per input, no noise: nothing deviates beyond the
// rounding of the levelled values.
TEST_F(GeneratedLevelling, NoiselessStackLevelsToNoDeviation) {
  for (const bool windows : {false, true}) {
    const std::string set = windows ? "windowed" : "field";
    std::vector<std::string> options = {"--noise", "off", "--piston", "40", "--tilt", "60"};
    if (windows) options.push_back("--windows");
    synth(set, options);
    const Outcome o = run(set, {"-Level", "Plane"});
    int32_t most = 0;
    for (int32_t v : o.sdev.values)
      if (v != TEST_PHASE_INVALID) most = std::max(most, v);
    EXPECT_LE(most, 1) << set;
  }
}

}  // namespace

}  // namespace harnix
