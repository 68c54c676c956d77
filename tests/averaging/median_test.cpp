// The median combination end to end, on generated sets, against the slow reference
// (reference/combination_reference.h): odd and even counts, invalid points, windows, mixed
// scales, rejection and the minimum count; the same bytes for every budget.
#include "averaging/median.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "reference/combination_reference.h"
#include "reference/rejection_reference.h"
#include "support/planoryx_bytes.h"
#include "support/run_directory.h"

namespace harnix {

namespace {

constexpr int WIDTH = 31, HEIGHT = 21;

struct MedianCase {
  const char* name;
  int count;  // inputs generated
  std::vector<std::string> synth = {};
  int32_t min_count = 1;
  double reject = 0;  // K, one round; 0: none
};

void PrintTo(const MedianCase& c, std::ostream* os) {
  *os << c.name;
}

class MedianTest : public RunDirectory, public ::testing::WithParamInterface<MedianCase> {
 protected:
  // The MiB -MemoryLimit takes for bands of `rows` rows of every input.
  std::string budget_for(int rows) const {
    char text[32];
    std::snprintf(text, sizeof text, "%.9f",
                  (double(GetParam().count) * WIDTH * 4 * rows + 16) / 1048576.0);
    return text;
  }
};

TEST_P(MedianTest, EqualsTheReferenceForEveryBudget) {
  const MedianCase& c = GetParam();
  std::vector<std::string> synth = {"synth",
                                    "--out",
                                    "set",
                                    "--count",
                                    std::to_string(c.count),
                                    "--width",
                                    std::to_string(WIDTH),
                                    "--height",
                                    std::to_string(HEIGHT),
                                    "--seed",
                                    "23"};
  synth.insert(synth.end(), c.synth.begin(), c.synth.end());
  ASSERT_EQ(0, util(synth).status);
  std::vector<MeasurementFile> files(std::size_t(c.count));
  std::istringstream list(read_file_bytes(path("set/list.txt")));
  std::string name;
  for (MeasurementFile& f : files) {
    std::getline(list, name);
    ASSERT_TRUE(decode_test_file(read_file_bytes(path(name)), &f)) << name;
  }
  std::vector<std::string> common = {"-Combine",     "Median",
                                     "-MinValidCnt", std::to_string(c.min_count),
                                     "-Overwrite",   "@set/list.txt"};
  std::vector<MeasurementFile> kept = files;
  if (c.reject > 0) {
    std::ostringstream k;
    k << c.reject;
    common.insert(common.end(), {"-Reject", k.str()});
    kept = without_rejected(files, reference_rejection(files, -1, c.reject, 1));
  }
  const ReferenceMap want = reference_median(kept, -1, c.min_count);
  std::string first_bytes;
  // Bands of every row, 11, 3 and 1 rows: 1, 2, 7 and 21 bands.
  for (const int rows : {HEIGHT, 11, 3, 1}) {
    std::vector<std::string> args = {"-AvgOut", "m", "-MemoryLimit", budget_for(rows)};
    args.insert(args.end(), common.begin(), common.end());
    const ProgramResult r = harnix(args);
    ASSERT_EQ(0, r.status) << r.err;
    const MeasurementFile out = read_output("m");
    EXPECT_EQ(want.x, out.x);
    EXPECT_EQ(want.y, out.y);
    EXPECT_EQ(want.width, out.width);
    EXPECT_EQ(want.height, out.height);
    EXPECT_EQ(want.values, out.values) << rows << " rows a band";
    EXPECT_EQ("Height average map (median) computed from " + std::to_string(c.count) +
                  " input data files",
              out.comment);
    if (first_bytes.empty()) first_bytes = read_file_bytes(path("m"));
    EXPECT_TRUE(first_bytes == read_file_bytes(path("m"))) << rows << " rows a band";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sets, MedianTest,
    ::testing::Values(
        MedianCase{.name = "SevenMixedWindowsInvalid",
                   .count = 7,
                   .synth = {"--mixed", "--windows", "--invalid", "8"}},
        MedianCase{.name = "EightEvenMinimumSix",
                   .count = 8,
                   .synth = {"--windows", "--invalid", "5"},
                   .min_count = 6},
        MedianCase{.name = "SixMixedRejected", .count = 6, .synth = {"--mixed"}, .reject = 1.5},
        MedianCase{.name = "TwoInputs", .count = 2, .synth = {"--invalid", "10"}}),
    [](const auto& info) { return std::string(info.param.name); });

// One or two levelled inputs: the median of one value is that value and that of two their mean,
// so the levelled median must give the levelled average's values exactly, for every level mode
// and band height (1, 2, 7 and 21 bands).
class LevelledMedianTest : public RunDirectory,
                           public ::testing::WithParamInterface<std::tuple<int, const char*>> {};

TEST_P(LevelledMedianTest, EqualsTheLevelledAverage) {
  const auto [count, level] = GetParam();
  ASSERT_EQ(0, util({"synth", "--out", "set", "--count", std::to_string(count), "--width",
                     std::to_string(WIDTH), "--height", std::to_string(HEIGHT), "--seed", "5",
                     "--mixed", "--windows", "--invalid", "6"})
                   .status);
  const ProgramResult mean =
      harnix({"-AvgOut", "a", "-Level", level, "-MinValidCnt", "1", "@set/list.txt"});
  ASSERT_EQ(0, mean.status) << mean.err;
  const std::vector<int32_t> want = read_output("a").values;
  for (const int rows : {HEIGHT, 11, 3, 1}) {
    char budget[32];
    std::snprintf(budget, sizeof budget, "%.9f",
                  (double(count) * WIDTH * 4 * rows + 16) / 1048576.0);
    const ProgramResult r =
        harnix({"-AvgOut", "m", "-Overwrite", "-Level", level, "-MinValidCnt", "1", "-Combine",
                "Median", "-MemoryLimit", budget, "@set/list.txt"});
    ASSERT_EQ(0, r.status) << r.err;
    EXPECT_EQ(want, read_output("m").values) << rows << " rows a band";
  }
}

INSTANTIATE_TEST_SUITE_P(Inputs, LevelledMedianTest,
                         ::testing::Combine(::testing::Values(1, 2),
                                            ::testing::Values("Piston", "Plane")));

// Two aligned inputs, moved by whole pixels: their median is their mean wherever both land, so
// the aligned median must give the aligned average's values, for bands of 96, 40, 13 and 1 rows.
class AlignedMedianTest : public RunDirectory {};

TEST_F(AlignedMedianTest, PairEqualsTheAlignedAverage) {
  ASSERT_EQ(0,
            util({"synth", "--out", "set", "--count", "2", "--width", "120", "--height", "96",
                  "--shift", "6", "--whole-shifts", "--texture", "10", "--windows", "--seed", "3"})
                .status);
  const ProgramResult mean =
      harnix({"-AvgOut", "a", "-Align", "Shift", "-MinValidCnt", "1", "@set/list.txt"});
  ASSERT_EQ(0, mean.status) << mean.err;
  const std::vector<int32_t> want = read_output("a").values;
  for (const int rows : {96, 40, 13, 1}) {
    char budget[32];
    std::snprintf(budget, sizeof budget, "%.9f", (2.0 * 120 * 4 * rows + 16) / 1048576.0);
    const ProgramResult r =
        harnix({"-AvgOut", "m", "-Overwrite", "-Align", "Shift", "-MinValidCnt", "1", "-Combine",
                "Median", "-MemoryLimit", budget, "@set/list.txt"});
    ASSERT_EQ(0, r.status) << r.err;
    EXPECT_EQ(want, read_output("m").values) << rows << " rows a band";
  }
}

// The medians of the band functions against the slow way, for counts on both sides of the
// sorting network's reach: each input in a window of its own (or none in the rows), a factor or
// none, levelled by a plane or not, values with ties and invalid points, the rows in two bands;
// and every input unscaled and unlevelled (the network then sorts counts), with counts at the
// ends of 32 bits and of the output's range and markers of every kind.
// Reference: each pixel's values x = F v - p (p = c0 + cy (Y - yc) + cx (X - xc)) in double,
// fully sorted, the middle one or the mean of the two middle ones, rounded half away from zero;
// a dropout below max(1, k) values.
enum class Taken { SCALED, LEVELLED, COUNTS };

class MedianRowsTest : public ::testing::TestWithParam<std::tuple<int, Taken>> {};

TEST_P(MedianRowsTest, EqualTheSlowWay) {
  const auto [count, taken] = GetParam();
  const bool levelled = taken == Taken::LEVELLED, counts = taken == Taken::COUNTS;
  constexpr int32_t EDGES[] = {INT32_MIN, -67108865, -67108864, 67108863, 67108864,
                               0x7FFFFFF7, 0x7FFFFFF9, INT32_MAX};
  constexpr int32_t W = 37, H = 5;  // groups of pixels cut short at the row's end
  constexpr int16_t MIN_COUNT = 2;
  std::mt19937_64 random(std::uint64_t(count) * 3 + std::uint64_t(taken));
  std::vector<std::vector<int32_t>> values(static_cast<std::size_t>(count));
  std::vector<PhaseMap> rows(static_cast<std::size_t>(count));
  std::vector<double> factors(static_cast<std::size_t>(count));
  std::vector<InputLevel> levels(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    const int16_t x = int16_t(random() % 9), y = int16_t(random() % 3);
    Window w{x, y, int16_t(W - x - random() % 5), int16_t(H - y - random() % 2)};
    if (i % 11 == 10) w.height = 0;  // none of its rows in the band
    auto& v = values[std::size_t(i)];
    v.resize(std::size_t(std::max<int>(w.width * w.height, 1)));
    for (int32_t& a : v) {
      a = random() % 10 == 0 ? TEST_PHASE_INVALID : int32_t(random() % 41) * 25 - 500;
      if (counts && random() % 16 == 0) a = EDGES[random() % std::size(EDGES)];
    }
    rows[std::size_t(i)] = PhaseMap{uint32_t(v.size()), w, 0, 0, v.data()};
    factors[std::size_t(i)] =
        i % 3 == 0 || counts ? 1.0 : 0.5 + double(random() % 1000) / 700.0;
    InputLevel& l = levels[std::size_t(i)];
    l = InputLevel{};
    l.xc = W / 2;
    l.yc = H / 2;
    l.levelled = i % 4 != 3;
    if (l.levelled) {
      l.c0 = double(int64_t(random() % 20001) - 10000) / 97.0;
      l.cx = double(int64_t(random() % 2001) - 1000) / 331.0;
      l.cy = double(int64_t(random() % 2001) - 1000) / 257.0;
    }
  }
  std::vector<double> scratch(median_scratch_bytes(count) / sizeof(double));
  std::vector<int32_t> got(std::size_t(W) * H, 0);
  const InputLevel* with = levelled ? levels.data() : nullptr;
  median_rows(rows.data(), factors.data(), with, count, W, 0, 2, MIN_COUNT, scratch.data(),
              got.data());
  median_rows(rows.data(), factors.data(), with, count, W, 2, H, MIN_COUNT, scratch.data(),
              got.data());
  for (int32_t py = 0; py < H; ++py) {
    for (int32_t px = 0; px < W; ++px) {
      std::vector<double> xs;
      for (int i = 0; i < count; ++i) {
        const Window& w = rows[std::size_t(i)].window;
        if (px < w.x || px >= w.x + w.width || py < w.y || py >= w.y + w.height) continue;
        const int32_t v = values[std::size_t(i)][std::size_t((py - w.y) * w.width + px - w.x)];
        if (v >= TEST_PHASE_INVALID) continue;
        // In double, as every combination takes it.
        const double f = factors[std::size_t(i)];
        double x = double(v) * (f != 1.0 ? f : 1.0);
        const InputLevel& l = levels[std::size_t(i)];
        if (levelled) x -= (l.c0 + l.cy * (py - l.yc)) + l.cx * (px - l.xc);
        xs.push_back(x);
      }
      int32_t want = TEST_PHASE_INVALID;
      if (xs.size() >= std::size_t(MIN_COUNT)) {
        std::sort(xs.begin(), xs.end());
        const std::size_t n = xs.size();
        const double m = n % 2 == 1 ? xs[n / 2] : (xs[n / 2 - 1] + xs[n / 2]) / 2;
        if (m >= -67108864.0 && m <= 67108863.0) want = int32_t(std::llround(m));
      }
      ASSERT_EQ(want, got[std::size_t(py * W + px)]) << px << "," << py;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Counts, MedianRowsTest,
                         ::testing::Combine(::testing::Values(1, 2, 7, 64, 65, 256, 300),
                                            ::testing::Values(Taken::SCALED, Taken::LEVELLED,
                                                              Taken::COUNTS)));

// The selection against a full sort, on random values with few or many ties, every size up to
// well past the sorted ranges: the middle value, or the mean of the two middle ones.
TEST(MedianOf, EqualsTheSortedMiddle) {
  std::mt19937_64 random(7);
  std::vector<double> values, spare;
  for (const int distinct : {2, 5, 1000000}) {
    for (std::size_t n = 1; n <= 300; n += n < 40 ? 1 : 37) {
      values.resize(n);
      spare.resize(n);
      for (double& v : values) v = double(random() % distinct) * 0.25 - 7.0;
      std::vector<double> sorted = values;
      std::sort(sorted.begin(), sorted.end());
      const double want = n % 2 == 1 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2.0;
      EXPECT_EQ(want, median_of(values.data(), n, spare.data())) << n << " of " << distinct;
    }
  }
}

// Ties, even counts and the refusals, by hand: (5, 5, 9) has median 5; (1, 2) 1.5, rounded away
// from zero to 2; (-1, -2) -1.5 to -2; (4, 4) 4; (8) alone 8.
class MedianPairTest : public RunDirectory {};

TEST_F(MedianPairTest, ResultsAndRefusalsAsWorkedOut) {
  constexpr int32_t X = TEST_PHASE_INVALID;
  write_input("1", full_field(5, 1, {5, 1, -1, 4, 8}));
  write_input("2", full_field(5, 1, {5, 2, -2, 4, X}));
  write_input("3", full_field(5, 1, {9, X, X, X, X}));
  const ProgramResult r =
      harnix({"-AvgOut", "m", "-Combine", "median", "-MinValidCnt", "1", "1", "2", "3"});
  ASSERT_EQ(0, r.status) << r.err;
  EXPECT_EQ((std::vector<int32_t>{5, 2, -2, 4, 8}), read_output("m").values);
  // Fewer bytes than one row of every input (3 x 5 x 4 = 60) is refused by name.
  const ProgramResult small = harnix({"-AvgOut", "m", "-Overwrite", "-Combine", "Median",
                                      "-MemoryLimit", "0.00005", "1", "2", "3"});
  EXPECT_EQ(1, small.status);
  EXPECT_EQ("Harnix\nERROR: MemoryLimit holds less than one row of every input (5.72205e-05 MiB)\n",
            small.err);
}

}  // namespace

}  // namespace harnix
