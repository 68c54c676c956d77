#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "maps/element_ops.h"
#include "support/failing_allocator.h"
#include "support/test_maps.h"

namespace harnix {

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double INF = std::numeric_limits<double>::infinity();
constexpr double L = REAL_INVALID;

TEST(RealMapScale, ScalesValidValuesOnly) {
  OwnedReal m({0, 0, 6, 1}, std::vector<double>{1.5, L, -2.0, NaN, INF, 0.0});
  ASSERT_EQ(NO_ERROR, real_map_scale(m.m, -2.0));
  expect_same_heights({-3.0, L, 4.0, NaN, INF, -0.0}, m.values());
}

struct StopCase {
  const char* name;
  std::size_t length;
  std::size_t stop_at;  // element whose product or square leaves the range
  double bad;           // its value
};

// The pass stops at the first product at or beyond +-L, with the earlier values done and that
// one and all later ones as they were, wherever it falls in the map.
TEST(RealMapScaleAndSquare, StopAtTheFirstOverflow) {
  const StopCase cases[] = {
      {"first element", 10, 0, 2e38},
      {"middle of a short map", 10, 4, -2e38},
      {"exactly the limit", 10, 3, L / 2},
      {"far into a long map", 3000, 1700, 2e38},
      {"last element of a long map", 2049, 2048, -1e38 * 3},
  };
  for (const StopCase& c : cases) {
    std::vector<double> before(c.length);
    for (std::size_t i = 0; i < c.length; ++i) before[i] = i % 7 == 3 ? L : 0.25 * i;
    before[c.stop_at] = c.bad;
    std::vector<double> expected = before;
    for (std::size_t i = 0; i < c.stop_at; ++i) {
      if (expected[i] < L) expected[i] *= 2.0;
    }
    OwnedReal m({0, 0, static_cast<int16_t>(c.length), 1}, before);
    EXPECT_EQ(ERR_FP_OVERFLOW, real_map_scale(m.m, 2.0)) << c.name;
    expect_same_heights(expected, m.values());

    // Squares: the bad value squared passes L (|bad| >= 1e38), the others do not.
    expected = before;
    for (std::size_t i = 0; i < c.stop_at; ++i) {
      if (expected[i] < L) expected[i] *= expected[i];
    }
    OwnedReal s({0, 0, static_cast<int16_t>(c.length), 1}, before);
    EXPECT_EQ(ERR_FP_OVERFLOW, real_map_square(s.m)) << c.name;
    expect_same_heights(expected, s.values());
  }
}

TEST(RealMapScale, NegativeInfinityIsValidAndOverflows) {
  OwnedReal m({0, 0, 2, 1}, std::vector<double>{1.0, -INF});
  EXPECT_EQ(ERR_FP_OVERFLOW, real_map_scale(m.m, 1.0));
  OwnedReal zero({0, 0, 2, 1}, std::vector<double>{1.0, -INF});
  EXPECT_EQ(NO_ERROR, real_map_scale(zero.m, 0.0));  // -inf * 0 is NaN: no overflow, now invalid
  EXPECT_FALSE(real_valid(zero.m.matrix[1]));
}

TEST(RealMapSquare, SquaresValidValues) {
  OwnedReal m({0, 0, 5, 1}, std::vector<double>{3.0, -1.5, L, NaN, 1.8e19});
  ASSERT_EQ(NO_ERROR, real_map_square(m.m));
  expect_same_heights({9.0, 2.25, L, NaN, 1.8e19 * 1.8e19}, m.values());
}

TEST(RealMapSqrt, RootsOfPositivesZeroForTheRest) {
  OwnedReal m({0, 0, 7, 1}, std::vector<double>{4.0, -0.5, 0.0, L, NaN, INF, -INF});
  real_map_sqrt(m.m);
  expect_same_heights({2.0, 0.0, 0.0, L, NaN, INF, 0.0}, m.values());
}

struct AverageCase {
  double sum;
  int16_t count;
  int16_t minimum;
  double expected;
};

TEST(RealMapAverage, Table) {
  const AverageCase cases[] = {
      {6.0, 3, 3, 2.0}, {6.0, 2, 3, L},         {6.0, 1, 0, 6.0}, {6.0, 0, 0, L},
      {6.0, 0, -5, L},  {L, 4, 1, L},           {NaN, 4, 1, L},   {-9.0, 4, 2, -2.25},
      {7.0, 1, 1, 7.0}, {1.0, 3, 1, 1.0 / 3.0},
  };
  for (const AverageCase& c : cases) {
    OwnedReal sum({0, 0, 1, 1}, c.sum);
    OwnedCount cnt({0, 0, 1, 1}, c.count);
    OwnedReal out({0, 0, 1, 1}, 123.0);
    ASSERT_EQ(NO_ERROR, real_map_average(out.m, sum.m, cnt.m, c.minimum));
    EXPECT_EQ(c.expected, out.m.matrix[0]) << c.sum << " / " << c.count << " min " << c.minimum;
  }
}

TEST(RealMapAverage, InPlaceOverTheSum) {
  OwnedReal sum({0, 0, 3, 1}, std::vector<double>{4.0, 9.0, L});
  OwnedCount cnt({0, 0, 3, 1}, std::vector<int16_t>{2, 3, 0});
  ASSERT_EQ(NO_ERROR, real_map_average(sum.m, sum.m, cnt.m, 1));
  EXPECT_EQ((std::vector<double>{2.0, 3.0, L}), sum.values());
}

TEST(RealMapSubtract, DifferencesAndInvalidResults) {
  OwnedReal a({0, 0, 6, 1}, std::vector<double>{5.0, 1.0, L, -3e38, 3e38, -INF});
  OwnedReal b({0, 0, 6, 1}, std::vector<double>{2.0, L, 1.0, 3e38, 1e38, -INF});
  OwnedReal out({0, 0, 6, 1}, 0.0);
  ASSERT_EQ(NO_ERROR, real_map_subtract(a.m, b.m, out.m));
  expect_same_heights({3.0, L, L, L, 3e38 - 1e38, L}, out.values());
  ASSERT_EQ(NO_ERROR, real_map_subtract(a.m, b.m, a.m));  // into an input
  expect_same_heights({3.0, L, L, L, 3e38 - 1e38, L}, a.values());
}

// The difference needs no storage of its own: not one allocation.
TEST(RealMapSubtract, AllocatesNothing) {
  OwnedReal a({0, 0, 3, 4}, 5.0);
  OwnedReal b({0, 0, 3, 4}, 2.0);
  OwnedReal out({0, 0, 3, 4}, -1.0);
  FailingAllocator counting(0);
  EXPECT_EQ(NO_ERROR, real_map_subtract(a.m, b.m, out.m));
  EXPECT_EQ(0, counting.requests());
  EXPECT_EQ(std::vector<double>(12, 3.0), out.values());
}

}  // namespace

}  // namespace harnix
