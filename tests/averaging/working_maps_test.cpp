#include "averaging/working_maps.h"

#include <gtest/gtest.h>

#include <limits>
#include <random>
#include <vector>

#include "maps/fused_ops.h"

namespace harnix {

namespace {

struct BoundCase {
  int32_t width, height;
  uint64_t physical;
  ErrorCode expected;
};

class MemoryBoundTest : public ::testing::TestWithParam<BoundCase> {};

TEST_P(MemoryBoundTest, RefusesCamerasBeyondPhysicalMemory) {
  const BoundCase& c = GetParam();
  EXPECT_EQ(c.expected, check_memory_bound(c.width, c.height, c.physical));
}

constexpr uint64_t GIB = 1ull << 30;

INSTANTIATE_TEST_SUITE_P(Cases, MemoryBoundTest,
                         ::testing::Values(BoundCase{32767, 32767, 16 * GIB, ERR_NO_MEM},
                                           BoundCase{32767, 32767, 64 * GIB, NO_ERROR},
                                           BoundCase{2048, 2048, 16 * GIB, NO_ERROR},
                                           BoundCase{100, 10, 40000, NO_ERROR},  // exactly fits
                                           BoundCase{100, 10, 39999, ERR_NO_MEM},
                                           // Physical memory unknown: no bound.
                                           BoundCase{32767, 32767, 0, NO_ERROR}));

// Extremes kept in counts, turned into doubles: each pixel's extremes as doubles, +-infinity where
// nothing was counted, for rows of one pixel and rows longer than the stretches the conversion
// takes, on one band and on several.
TEST(ExtremesToReal, GiveTheExtremesOfTheCounts) {
  constexpr double INF = std::numeric_limits<double>::infinity();
  for (int16_t width : {int16_t{1}, int16_t{1100}}) {
    for (int32_t bands : {1, 2}) {
      BandTeam team(bands);
      WorkingMaps maps;
      working_maps_init(maps);
      const int16_t height = 5;
      ASSERT_EQ(NO_ERROR, working_maps_create(maps, width, height,
                                              SumsLayout{.low = true, .high = true}, team));
      ASSERT_TRUE(maps.extremes_in_counts);
      const auto n = std::size_t(width) * std::size_t(height);
      std::vector<double> low(n, INF), high(n, -INF);
      std::mt19937 rng(5);
      std::uniform_int_distribution<int32_t> value(-3000, 3000);
      std::vector<int32_t> row(std::size_t(width), 0);
      for (int input = 0; input < 3; ++input) {
        for (int32_t r = 0; r < height; ++r) {
          for (std::size_t x = 0; x < row.size(); ++x) {
            const int32_t v = value(rng);
            row[x] = v > 2000 || r == 3 ? PHASE_INVALID : v;  // row 3 has no value at all
          }
          const std::size_t at = std::size_t(r) * std::size_t(width);
          extremes_counts_span(row.data(), row.size(), extremes_counts(maps.low) + at,
                               extremes_counts(maps.high) + at);
          extremes_span(row.data(), row.size(), 1.0, low.data() + at, high.data() + at);
          accumulate_phase_span(row.data(), row.size(), maps.sum_avg.matrix + at,
                                maps.count_avg.matrix + at);
        }
      }
      working_maps_extremes_to_real(maps, team);
      EXPECT_FALSE(maps.extremes_in_counts);
      EXPECT_EQ(low, std::vector<double>(maps.low.matrix, maps.low.matrix + n)) << width;
      EXPECT_EQ(high, std::vector<double>(maps.high.matrix, maps.high.matrix + n)) << width;
      working_maps_free(maps);
    }
  }
}

}  // namespace

}  // namespace harnix
