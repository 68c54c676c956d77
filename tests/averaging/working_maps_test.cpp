#include "averaging/working_maps.h"

#include <gtest/gtest.h>

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

}  // namespace

}  // namespace harnix
