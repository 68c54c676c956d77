#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "maps/element_ops.h"
#include "support/test_maps.h"

namespace harnix {

namespace {

// A map of distinct values: 1000 * row + column of the camera pixel.
void number_pixels(OwnedPhase& p) {
  for (int y = p.m.window.y; y < p.m.window.y + p.m.window.height; ++y) {
    for (int x = p.m.window.x; x < p.m.window.x + p.m.window.width; ++x) p.at(x, y) = 1000 * y + x;
  }
}

TEST(PhaseMapCopy, CopiesEqualWindowsOnly) {
  OwnedPhase src({2, 3, 4, 5}, 9);
  number_pixels(src);
  OwnedPhase dst({2, 3, 4, 5}, 0);
  ASSERT_EQ(NO_ERROR, phase_map_copy(src.m, dst.m));
  EXPECT_EQ(src.values(), dst.values());
  OwnedPhase other({2, 3, 5, 4}, 0);
  EXPECT_EQ(ERR_WINDOWS_MISMATCHED, phase_map_copy(src.m, other.m));
  EXPECT_EQ(std::vector<int32_t>(20, 0), other.values());
  EXPECT_EQ(NO_ERROR, phase_map_copy(src.m, src.m));
}

struct CopyWindowCase {
  const char* name;
  Window src_map, sw, dst_map, dw;
  ErrorCode rc;
};

TEST(PhaseMapCopyWindow, Table) {
  const CopyWindowCase cases[] = {
      {"inner block to another place",
       {0, 0, 10, 8},
       {2, 3, 4, 2},
       {-5, -5, 20, 20},
       {7, 1, 4, 2},
       NO_ERROR},
      {"whole map into a camera field",
       {3, 4, 5, 6},
       {3, 4, 5, 6},
       {0, 0, 16, 16},
       {3, 4, 5, 6},
       NO_ERROR},
      {"full rows to full rows",
       {0, 0, 6, 8},
       {0, 2, 6, 3},
       {10, 10, 6, 4},
       {10, 11, 6, 3},
       NO_ERROR},
      {"full source rows to part rows",
       {0, 0, 6, 4},
       {0, 0, 6, 4},
       {0, 0, 9, 9},
       {2, 3, 6, 4},
       NO_ERROR},
      {"one pixel", {0, 0, 6, 4}, {5, 3, 1, 1}, {0, 0, 2, 2}, {0, 1, 1, 1}, NO_ERROR},
      {"zero width copies nothing",
       {0, 0, 6, 4},
       {1, 1, 0, 2},
       {0, 0, 6, 4},
       {1, 1, 0, 2},
       NO_ERROR},
      {"source past its map",
       {0, 0, 6, 4},
       {4, 0, 3, 2},
       {0, 0, 9, 9},
       {0, 0, 3, 2},
       ERR_IMPROPER_WINDOW},
      {"target past its map",
       {0, 0, 6, 4},
       {0, 0, 3, 2},
       {0, 0, 4, 4},
       {2, 3, 3, 2},
       ERR_IMPROPER_WINDOW},
      {"disjoint target",
       {0, 0, 6, 4},
       {0, 0, 3, 2},
       {0, 0, 4, 4},
       {20, 20, 3, 2},
       ERR_IMPROPER_WINDOW},
      {"different widths",
       {0, 0, 6, 4},
       {0, 0, 3, 2},
       {0, 0, 9, 9},
       {0, 0, 4, 2},
       ERR_IMPROPER_WINDOW},
      {"different heights",
       {0, 0, 6, 4},
       {0, 0, 3, 2},
       {0, 0, 9, 9},
       {0, 0, 3, 3},
       ERR_IMPROPER_WINDOW},
      {"negative width placed inside",
       {0, 0, 6, 4},
       {3, 0, -2, 2},
       {0, 0, 9, 9},
       {3, 0, -2, 2},
       ERR_IMPROPER_WINDOW},
  };
  for (const CopyWindowCase& c : cases) {
    OwnedPhase src(c.src_map, 0);
    number_pixels(src);
    OwnedPhase dst(c.dst_map, -1);
    EXPECT_EQ(c.rc, phase_map_copy_window(src.m, c.sw, dst.m, c.dw)) << c.name;
    // Reference: pixel by pixel in camera coordinates.
    OwnedPhase expected(c.dst_map, -1);
    if (c.rc == NO_ERROR) {
      for (int r = 0; r < c.sw.height; ++r) {
        for (int k = 0; k < c.sw.width; ++k) {
          expected.at(c.dw.x + k, c.dw.y + r) = src.at(c.sw.x + k, c.sw.y + r);
        }
      }
    }
    EXPECT_EQ(expected.values(), dst.values()) << c.name;
  }
}

// Regions of one map that overlap: the result is as if the source had been copied aside first.
TEST(PhaseMapCopyWindow, OverlappingRegionsOfOneMap) {
  const Window moves[][2] = {
      {{0, 0, 4, 1}, {1, 0, 4, 1}},  // one row, to the right
      {{1, 0, 4, 1}, {0, 0, 4, 1}},  // one row, to the left
      {{1, 1, 3, 4}, {2, 2, 3, 4}},  // down and right
      {{2, 2, 3, 4}, {1, 1, 3, 4}},  // up and left
      {{0, 1, 3, 4}, {2, 0, 3, 4}},  // up and right
  };
  for (const auto& move : moves) {
    OwnedPhase m({0, 0, 5, 6}, 0);
    number_pixels(m);
    OwnedPhase expected({0, 0, 5, 6}, 0);
    number_pixels(expected);
    OwnedPhase aside({0, 0, 5, 6}, 0);
    number_pixels(aside);
    ASSERT_EQ(NO_ERROR, phase_map_copy_window(aside.m, move[0], expected.m, move[1]));
    ASSERT_EQ(NO_ERROR, phase_map_copy_window(m.m, move[0], m.m, move[1]));
    EXPECT_EQ(expected.values(), m.values()) << move[0].x << "," << move[0].y;
  }
}

struct MinMaxCase {
  std::vector<int32_t> values;
  ErrorCode rc;
  int32_t smallest, largest;
};

TEST(PhaseMapMinMax, Table) {
  const MinMaxCase cases[] = {
      {{5, -3, PHASE_INVALID, 12, 0, 7}, NO_ERROR, -3, 12},
      {{INT32_MAX, PHASE_INVALID + 1, PHASE_INVALID - 1, INT32_MIN, PHASE_INVALID, 0},
       NO_ERROR,
       INT32_MIN,
       PHASE_INVALID - 1},
      {{PHASE_INVALID, PHASE_INVALID, INT32_MAX, PHASE_INVALID, PHASE_INVALID, PHASE_INVALID},
       ERR_ALL_BAD_DATA,
       INT32_MAX,
       INT32_MIN},
      {{PHASE_INVALID, 4, PHASE_INVALID, PHASE_INVALID, PHASE_INVALID, PHASE_INVALID},
       NO_ERROR,
       4,
       4},
  };
  for (const MinMaxCase& c : cases) {
    OwnedPhase m({1, 1, 3, 2}, c.values);
    int32_t lo = 0;
    int32_t hi = 0;
    EXPECT_EQ(c.rc, phase_map_min_max(m.m, &lo, &hi));
    EXPECT_EQ(c.smallest, lo);
    EXPECT_EQ(c.largest, hi);
  }
}

// The four scans, done the slow and obvious way over camera pixels.
ErrorCode reference_valid_window(OwnedPhase& p, const Window& w, Window* out) {
  *out = Window{};
  int top = -1, bottom = -1, left = -1, right = -1;
  for (int r = 0; r < w.height; ++r) {
    for (int c = 0; c < w.width; ++c) {
      if (!phase_valid(p.at(w.x + c, w.y + r))) continue;
      if (top < 0) top = r;
      bottom = r;
      if (left < 0 || c < left) left = c;
      if (c > right) right = c;
    }
  }
  if (top < 0) return ERR_ALL_BAD_DATA;
  *out = {static_cast<int16_t>(w.x + left), static_cast<int16_t>(w.y + top),
          static_cast<int16_t>(right - left + 1), static_cast<int16_t>(bottom - top + 1)};
  return NO_ERROR;
}

void expect_same_window(const Window& a, const Window& b, const char* what) {
  EXPECT_EQ(a.x, b.x) << what;
  EXPECT_EQ(a.y, b.y) << what;
  EXPECT_EQ(a.width, b.width) << what;
  EXPECT_EQ(a.height, b.height) << what;
}

TEST(PhaseMapValidWindow, SingleValidPointAndNone) {
  OwnedPhase m({-4, 7, 9, 8}, PHASE_INVALID);
  m.at(-4 + 3, 7 + 5) = -17;
  Window out{1, 1, 1, 1};
  ASSERT_EQ(NO_ERROR, phase_map_valid_window(m.m, nullptr, &out));
  expect_same_window({-1, 12, 1, 1}, out, "single point");
  m.at(-1, 12) = INT32_MAX;  // any value at or above the marker is invalid
  EXPECT_EQ(ERR_ALL_BAD_DATA, phase_map_valid_window(m.m, nullptr, &out));
  expect_same_window({0, 0, 0, 0}, out, "none");
}

TEST(PhaseMapValidWindow, GivenWindowMustLieInTheMap) {
  OwnedPhase m({0, 0, 8, 8}, 1);
  Window out{5, 5, 5, 5};
  const Window outside = {6, 6, 4, 4};
  EXPECT_EQ(ERR_IMPROPER_WINDOW, phase_map_valid_window(m.m, &outside, &out));
  expect_same_window({5, 5, 5, 5}, out, "untouched");
  const Window empty = {2, 2, 0, 3};
  EXPECT_EQ(ERR_ALL_BAD_DATA, phase_map_valid_window(m.m, &empty, &out));
  expect_same_window({0, 0, 0, 0}, out, "empty region");
}

// The row-wise search skips columns between the bounds found so far; random maps of every
// density and shape, over the whole map and over sub-windows, pin it to the four scans.
TEST(PhaseMapValidWindow, MatchesTheFourScansOnRandomMaps) {
  std::mt19937 random(11);
  const Window maps[] = {{0, 0, 17, 13}, {-3, 5, 1, 20}, {2, -2, 25, 1}, {0, 0, 64, 40}};
  const double densities[] = {0.0005, 0.01, 0.1, 0.5, 0.97};
  for (const Window& w : maps) {
    for (double density : densities) {
      for (int trial = 0; trial < 8; ++trial) {
        OwnedPhase m(w, PHASE_INVALID);
        std::bernoulli_distribution valid(density);
        for (uint32_t i = 0; i < m.m.size; ++i) {
          if (valid(random)) m.m.matrix[i] = static_cast<int32_t>(i) - 50;
        }
        Window region = w;
        if (trial % 2 == 1 && w.width > 2 && w.height > 2) {
          region = {static_cast<int16_t>(w.x + 1), static_cast<int16_t>(w.y + 1),
                    static_cast<int16_t>(w.width - 2), static_cast<int16_t>(w.height - 2)};
        }
        Window expected{};
        Window out{};
        const ErrorCode rc = reference_valid_window(m, region, &expected);
        EXPECT_EQ(rc, phase_map_valid_window(m.m, &region, &out));
        expect_same_window(expected, out, "random map");
      }
    }
  }
}

}  // namespace

}  // namespace harnix
