#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "maps/element_ops.h"
#include "support/test_maps.h"

namespace harnix {

namespace {

constexpr double L = REAL_INVALID;

// Slow reference over camera pixels, without the stop on overflow.
void reference_accumulate(OwnedReal& src, OwnedReal& sum, OwnedCount& cnt) {
  const Window& s = src.m.window;
  for (int y = s.y; y < s.y + s.height; ++y) {
    for (int x = s.x; x < s.x + s.width; ++x) {
      const Window& w = sum.m.window;
      if (x < w.x || x >= w.x + w.width || y < w.y || y >= w.y + w.height) continue;
      const double v = src.at(x, y);
      if (!(v < L)) continue;
      sum.at(x, y) = cnt.at(x, y) == 0 ? v : sum.at(x, y) + v;
      cnt.at(x, y) = static_cast<int16_t>(cnt.at(x, y) + 1);
    }
  }
}

struct PlaceCase {
  const char* name;
  Window src;
};

// Sources placed every way against a sum window at (10, 20, 12, 9), filled with random values
// and markers, accumulated three times into a sum pre-filled with the marker.
TEST(RealMapAccumulate, AddsOnlySharedPixels) {
  const Window sum_window = {10, 20, 12, 9};
  const PlaceCase cases[] = {
      {"equal", sum_window},
      {"to the right", {18, 20, 12, 9}},
      {"left and above", {4, 15, 9, 7}},
      {"inside", {12, 22, 3, 4}},
      {"around", {0, 0, 40, 40}},
      {"one shared column", {21, 18, 5, 20}},
  };
  std::mt19937 random(3);
  std::uniform_real_distribution<double> value(-1000.0, 1000.0);
  for (const PlaceCase& c : cases) {
    OwnedReal sum(sum_window, L);
    OwnedCount cnt(sum_window, 0);
    OwnedReal expected_sum(sum_window, L);
    OwnedCount expected_cnt(sum_window, 0);
    for (int pass = 0; pass < 3; ++pass) {
      OwnedReal src(c.src, 0.0);
      for (uint32_t i = 0; i < src.m.size; ++i) {
        src.m.matrix[i] = random() % 4 == 0 ? L : value(random);
      }
      ASSERT_EQ(NO_ERROR, real_map_accumulate(src.m, sum.m, cnt.m)) << c.name;
      reference_accumulate(src, expected_sum, expected_cnt);
    }
    EXPECT_EQ(expected_sum.values(), sum.values()) << c.name;
    EXPECT_EQ(expected_cnt.values(), cnt.values()) << c.name;
  }
}

TEST(RealMapAccumulate, WindowErrorsChangeNothing) {
  OwnedReal sum({0, 0, 4, 4}, 1.0);
  OwnedCount cnt({0, 0, 4, 4}, 1);
  OwnedCount other_cnt({0, 0, 4, 3}, 1);
  OwnedReal far({4, 0, 3, 3}, 5.0);  // starts one column after the sum's last
  OwnedReal near({3, 3, 3, 3}, 5.0);
  EXPECT_EQ(ERR_WINDOWS_DISJOINT, real_map_accumulate(far.m, sum.m, cnt.m));
  EXPECT_EQ(ERR_WINDOWS_MISMATCHED, real_map_accumulate(near.m, sum.m, other_cnt.m));
  EXPECT_EQ(std::vector<double>(16, 1.0), sum.values());
  EXPECT_EQ(std::vector<int16_t>(16, 1), cnt.values());
}

// An overflowing sum is stored and stops the pass: its count stays, earlier pixels are added,
// later ones are not, wherever it falls.
TEST(RealMapAccumulate, StopsAtTheFirstOverflowingSum) {
  const int stops[] = {0, 5, 700, 2999};
  for (int stop : stops) {
    const Window w = {0, 0, 100, 30};
    OwnedReal src(w, 1.0);
    OwnedReal sum(w, 2.0);
    OwnedCount cnt(w, 1);
    src.m.matrix[stop] = 3e38;
    sum.m.matrix[stop] = 1e38;
    EXPECT_EQ(ERR_FP_OVERFLOW, real_map_accumulate(src.m, sum.m, cnt.m)) << stop;
    for (int i = 0; i < 3000; ++i) {
      if (i < stop) {
        ASSERT_EQ(3.0, sum.m.matrix[i]) << i;
        ASSERT_EQ(2, cnt.m.matrix[i]) << i;
      } else if (i == stop) {
        EXPECT_EQ(4e38, sum.m.matrix[i]);
        EXPECT_EQ(1, cnt.m.matrix[i]);
      } else {
        ASSERT_EQ(2.0, sum.m.matrix[i]) << i;
        ASSERT_EQ(1, cnt.m.matrix[i]) << i;
      }
    }
  }
}

TEST(RealMapAccumulate, FirstValueReplacesWhateverTheSumHeld) {
  OwnedReal src({0, 0, 3, 1}, std::vector<double>{3e38, -5.0, L});
  OwnedReal sum({0, 0, 3, 1}, std::vector<double>{3e38, L, 7.0});
  OwnedCount cnt({0, 0, 3, 1}, std::vector<int16_t>{0, 0, 4});
  ASSERT_EQ(NO_ERROR, real_map_accumulate(src.m, sum.m, cnt.m));  // no sum is formed at count 0
  EXPECT_EQ((std::vector<double>{3e38, -5.0, 7.0}), sum.values());
  EXPECT_EQ((std::vector<int16_t>{1, 1, 4}), cnt.values());
}

}  // namespace

}  // namespace harnix
