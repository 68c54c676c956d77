// The median combination end to end, on generated sets, against the slow reference
// (reference/combination_reference.h): odd and even counts, invalid points, windows, mixed
// scales, rejection and the minimum count; the same bytes for every budget.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "averaging/median.h"
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
  std::vector<std::string> synth = {"synth",  "--out",    "set",
                                    "--count", std::to_string(c.count), "--width",
                                    std::to_string(WIDTH), "--height", std::to_string(HEIGHT),
                                    "--seed", "23"};
  synth.insert(synth.end(), c.synth.begin(), c.synth.end());
  ASSERT_EQ(0, util(synth).status);
  std::vector<MeasurementFile> files(std::size_t(c.count));
  std::istringstream list(read_file_bytes(path("set/list.txt")));
  std::string name;
  for (MeasurementFile& f : files) {
    std::getline(list, name);
    ASSERT_TRUE(decode_test_file(read_file_bytes(path(name)), &f)) << name;
  }
  std::vector<std::string> common = {"-Combine", "Median", "-MinValidCnt",
                                     std::to_string(c.min_count), "-Overwrite", "@set/list.txt"};
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
      const double want =
          n % 2 == 1 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2.0;
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
  const ProgramResult small = harnix(
      {"-AvgOut", "m", "-Overwrite", "-Combine", "Median", "-MemoryLimit", "0.00005", "1", "2", "3"});
  EXPECT_EQ(1, small.status);
  EXPECT_EQ("Harnix\nERROR: MemoryLimit holds less than one row of every input (5.72205e-05 MiB)\n",
            small.err);
}

}  // namespace

}  // namespace harnix
