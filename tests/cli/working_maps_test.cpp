#include "cli/working_maps.h"

#include <gtest/gtest.h>

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

constexpr uint64_t kGiB = 1ull << 30;

INSTANTIATE_TEST_SUITE_P(Cases, MemoryBoundTest,
                         ::testing::Values(BoundCase{32767, 32767, 16 * kGiB, ERR_NO_MEM},
                                           BoundCase{32767, 32767, 64 * kGiB, NO_ERROR},
                                           BoundCase{2048, 2048, 16 * kGiB, NO_ERROR},
                                           BoundCase{100, 10, 46000, NO_ERROR},  // exactly fits
                                           BoundCase{100, 10, 45999, ERR_NO_MEM},
                                           BoundCase{32767, 32767, 0,
                                                     NO_ERROR}));  // unknown memory: no bound

TEST(WorkingMaps, CreatedMapsStartEmptyAndAreReleased) {
  WorkingMaps maps;
  working_maps_init(maps);
  ASSERT_EQ(NO_ERROR, working_maps_create(maps, 3, 2));
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(REAL_INVALID, maps.sum_avg.matrix[i]);
    EXPECT_EQ(REAL_INVALID, maps.sum_sq.matrix[i]);
    EXPECT_EQ(0, maps.count_dev.matrix[i]);
  }
  working_maps_free(maps);
  EXPECT_EQ(nullptr, maps.work_phase.matrix);
  EXPECT_EQ(nullptr, maps.count_sq.matrix);
  working_maps_free(maps);  // safe twice
}

}  // namespace
