// Rejection end to end against the slow reference (reference/rejection_reference.h) on generated
// stacks: the values it rejects, its rounds and -RejectOut counts; and every other result equal,
// byte for byte, to the plain run over the same inputs with those values made invalid, which
// covers the minimum count on kept values and surfaces fitted to kept pixels.
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "reference/rejection_reference.h"
#include "support/planoryx_bytes.h"
#include "support/run_directory.h"

namespace harnix {

namespace {

constexpr int16_t W = 16, H = 12;

struct StackCase {
  const char* name;
  int inputs;
  int spikes;       // outliers placed one to a pixel
  int stacked = 0;  // pixels given a large and a smaller outlier
  double k = 3.0;
  int rounds = 1;
  const char* remove = "None";
  bool mixed = false;    // PhaseRes and IntfScaleFactor differ: scaled values
  bool windows = false;  // each input on a window of the camera
  double invalid = 0.0;  // share of invalid pixels
  int min_count = 1;
  double offset = 500;  // the surface's height: far from 0, sums that are not shifted cancel
};

std::ostream& operator<<(std::ostream& os, const StackCase& c) {
  return os << c.name;
}

// A smooth surface with noise of one count at most: nothing in it is an outlier. Outliers are
// placed where at least three inputs are valid; returns their (input, window index).
std::vector<MeasurementFile> make_stack(const StackCase& c, std::set<std::pair<int, int>>* spikes) {
  std::mt19937 rng(uint32_t(c.inputs * 131 + c.spikes * 7 + c.rounds));
  auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  std::vector<MeasurementFile> files(std::size_t(c.inputs));
  std::vector<double> factor(files.size(), 1.0);
  for (std::size_t i = 0; i < files.size(); ++i) {
    MeasurementFile& f = files[i];
    f.camera_width = W;
    f.camera_height = H;
    if (c.mixed && i > 0) {
      f.phase_res = i % 3 == 1 ? 2 : 1;
      f.scale_factor = i % 2 == 0 ? 0.55f : 0.5f;
      factor[i] = double(f.scale_factor) * 32768.0 / (test_phase_counts(f.phase_res) * 0.5);
    }
    f.x = int16_t(c.windows ? uniform(0, 2) : 0);
    f.y = int16_t(c.windows ? uniform(0, 2) : 0);
    f.width = int16_t(W - f.x - (c.windows ? uniform(0, 2) : 0));
    f.height = int16_t(H - f.y - (c.windows ? uniform(0, 2) : 0));
    for (int y = f.y; y < f.y + f.height; ++y) {
      for (int x = f.x; x < f.x + f.width; ++x) {
        const double height = c.offset + 7 * x - 5 * y + (x * y) % 9 + uniform(-1, 1);
        const bool invalid = std::uniform_real_distribution<>(0, 1)(rng) < c.invalid;
        f.values.push_back(invalid ? TEST_PHASE_INVALID : int32_t(std::lround(height / factor[i])));
      }
    }
  }
  auto valid_at = [&](std::size_t i, int x, int y, std::size_t* index) {
    const MeasurementFile& f = files[i];
    if (x < f.x || x >= f.x + f.width || y < f.y || y >= f.y + f.height) return false;
    *index = std::size_t(y - f.y) * f.width + (x - f.x);
    return f.values[*index] < TEST_PHASE_INVALID;
  };
  std::set<int> used;
  auto place = [&](int outliers) {
    for (int tries = 0; tries < 1000; ++tries) {
      const int x = uniform(0, W - 1), y = uniform(0, H - 1);
      std::vector<std::pair<std::size_t, std::size_t>> valid;
      for (std::size_t i = 0, index; i < files.size(); ++i)
        if (valid_at(i, x, y, &index)) valid.emplace_back(i, index);
      if (used.count(y * W + x) || int(valid.size()) < 3 + 2 * (outliers - 1)) continue;
      used.insert(y * W + x);
      std::shuffle(valid.begin(), valid.end(), rng);
      for (int s = 0; s < outliers; ++s) {
        const auto [i, index] = valid[std::size_t(s)];
        const double size = (s == 0 ? uniform(300, 3000) : 60) * (uniform(0, 1) ? 1 : -1);
        files[i].values[index] += int32_t(std::lround(size / factor[i]));
        spikes->insert({int(i), int(index)});
      }
      return;
    }
    FAIL() << "no room for an outlier";
  };
  for (int s = 0; s < c.spikes; ++s) place(1);
  for (int s = 0; s < c.stacked; ++s) place(2);
  return files;
}

std::vector<int64_t> round_lines(const std::string& out) {
  std::vector<int64_t> rounds;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);)
    if (line.rfind("Rejected in round ", 0) == 0)
      rounds.push_back(std::stoll(line.substr(line.find("= ") + 2)));
  return rounds;
}

class RejectionTest : public RunDirectory, public ::testing::WithParamInterface<StackCase> {
 protected:
  // Writes the inputs as PREFIXi.dat and runs harnix on them with all three results.
  ProgramResult run(const std::vector<MeasurementFile>& files, const std::string& prefix,
                    std::vector<std::string> args) {
    const StackCase& c = GetParam();
    for (const std::string& s :
         std::vector<std::string>{"-AvgOut", prefix + "a", "-SdevOut", prefix + "s", "-CountOut",
                                  prefix + "c", "-SdevRemove", std::string(c.remove),
                                  "-MinValidCnt", std::to_string(c.min_count), "-Overwrite"})
      args.push_back(s);
    for (std::size_t i = 0; i < files.size(); ++i) {
      write_input(prefix + std::to_string(i) + ".dat", files[i]);
      args.push_back(prefix + std::to_string(i) + ".dat");
    }
    return harnix(args);
  }
};

TEST_P(RejectionTest, MatchesTheReferenceAndThePlainRunOfTheKeptValues) {
  const StackCase& c = GetParam();
  std::set<std::pair<int, int>> spikes;
  const std::vector<MeasurementFile> files = make_stack(c, &spikes);
  const RejectionReference want = reference_rejection(files, -1, c.k, c.rounds);
  if (!c.mixed && c.stacked == 0 && c.k >= 3) {
    std::set<std::pair<int, int>> rejected;
    for (std::size_t i = 0; i < files.size(); ++i)
      for (std::size_t j = 0; j < files[i].values.size(); ++j)
        if (want.rejected[i][j]) rejected.insert({int(i), int(j)});
    EXPECT_EQ(spikes, rejected) << "each outlier rejected once, nothing else";
  }
  if (c.stacked > 0) {
    ASSERT_GT(want.per_round.size(), 1u) << "the smaller outliers need round 2";
  }

  std::ostringstream k;
  k << c.k;
  const ProgramResult got = run(files, "r",
                                {"-Reject", k.str(), "-RejectIter", std::to_string(c.rounds),
                                 "-RejectOut", "rr", "-Verbose"});
  ASSERT_EQ(0, got.status) << got.err;
  EXPECT_EQ(want.per_round, round_lines(got.out));
  const ProgramResult plain = run(without_rejected(files, want), "p", {});
  ASSERT_EQ(0, plain.status) << plain.err;
  for (const char* out : {"a", "s", "c"})
    EXPECT_EQ(read_file_bytes(path(std::string("p") + out)),
              read_file_bytes(path(std::string("r") + out)))
        << out;

  const MeasurementFile counts = read_output("rr");
  std::vector<int32_t> camera(std::size_t(W) * H, TEST_PHASE_INVALID);
  for (int y = 0; y < counts.height; ++y)
    for (int x = 0; x < counts.width; ++x)
      camera[std::size_t(counts.y + y) * W + counts.x + x] =
          counts.values[std::size_t(y) * counts.width + x];
  EXPECT_EQ(want.counts, camera);
}

INSTANTIATE_TEST_SUITE_P(
    Stacks, RejectionTest,
    ::testing::Values(StackCase{.name = "CleanThree", .inputs = 3, .spikes = 0},
                      StackCase{.name = "CleanEightPlaneThreeRounds",
                                .inputs = 8,
                                .spikes = 0,
                                .rounds = 3,
                                .remove = "Plane"},
                      StackCase{.name = "SpikesAmongThree", .inputs = 3, .spikes = 12},
                      StackCase{.name = "SpikesAmongFiveSphere",
                                .inputs = 5,
                                .spikes = 20,
                                .remove = "Sphere",
                                .min_count = 5},
                      StackCase{.name = "SpikesWindowsInvalidPiston",
                                .inputs = 8,
                                .spikes = 25,
                                .remove = "Piston",
                                .windows = true,
                                .invalid = 0.05,
                                .min_count = 6},
                      StackCase{.name = "StackedNeedTwoRounds",
                                .inputs = 8,
                                .spikes = 5,
                                .stacked = 8,
                                .rounds = 4,
                                .remove = "Cylinder"},
                      StackCase{.name = "MixedScalesRobust",
                                .inputs = 6,
                                .spikes = 10,
                                .stacked = 3,
                                .rounds = 2,
                                .remove = "Robust",
                                .mixed = true},
                      StackCase{.name = "LowKTenRounds",
                                .inputs = 7,
                                .spikes = 4,
                                .k = 1.5,
                                .rounds = 10,
                                .windows = true,
                                .invalid = 0.1},
                      StackCase{.name = "LowKFarFromZero",
                                .inputs = 9,
                                .spikes = 6,
                                .k = 1.2,
                                .rounds = 3,
                                .offset = 6.6e7}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace

}  // namespace harnix
