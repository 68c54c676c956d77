#include "maps/window.h"

#include <gtest/gtest.h>

namespace harnix {

namespace {

using enum WindowRelation;

struct RelationCase {
  const char* name;
  Window a;
  Window b;
  WindowRelation expected;
};

const RelationCase RELATION_CASES[] = {
    {"self", {0, 0, 10, 10}, {0, 0, 10, 10}, WN_EQUAL},
    {"starts one column after the last", {0, 0, 3, 3}, {3, 0, 3, 3}, WN_DISJOINT},
    {"ends one column before the first", {3, 0, 3, 3}, {0, 0, 3, 3}, WN_DISJOINT},
    {"starts one row after the last", {0, 0, 3, 3}, {0, 3, 3, 3}, WN_DISJOINT},
    {"shares its last column", {0, 0, 3, 3}, {2, 0, 3, 3}, WN_OVERLAP},
    {"inside", {2, 2, 3, 3}, {0, 0, 10, 10}, WN_INSIDE},
    {"contains", {0, 0, 10, 10}, {2, 2, 3, 3}, WN_CONTAINS},
    {"inside touching the corner", {7, 7, 3, 3}, {0, 0, 10, 10}, WN_INSIDE},
    {"over the far corner", {8, 8, 5, 5}, {0, 0, 10, 10}, WN_OVERLAP},
    {"wider but shorter", {-1, 2, 12, 3}, {0, 0, 10, 10}, WN_OVERLAP},
    {"negative places", {-5, -5, 3, 3}, {-6, -6, 10, 10}, WN_INSIDE},
    // The last column 32999 does not fit in 16 bits: a 16-bit sum would call these disjoint.
    {"last column beyond 16 bits", {32000, 0, 1000, 1}, {32500, 0, 10, 1}, WN_CONTAINS},
    {"both beyond 16 bits", {32767, 32767, 32767, 32767}, {32767, 32767, 32767, 32767}, WN_EQUAL},
    {"zero width is disjoint from itself", {4, 4, 0, 3}, {4, 4, 0, 3}, WN_DISJOINT},
    {"negative height is disjoint from itself", {4, 4, 3, -2}, {4, 4, 3, -2}, WN_DISJOINT},
    // Only the last-before-first test rules an empty window out, so one placed in a larger window
    // counts as inside it: operations over a region must not trust its width and height.
    {"zero width placed in a map", {4, 4, 0, 3}, {0, 0, 10, 10}, WN_INSIDE},
    {"negative width placed in a map", {4, 4, -2, 3}, {0, 0, 10, 10}, WN_INSIDE},
};

TEST(WindowRelation, Table) {
  for (const RelationCase& c : RELATION_CASES) {
    EXPECT_EQ(c.expected, window_relation(c.a, c.b)) << c.name;
  }
}

TEST(WindowWithin, AcceptsOnlyInsideOrEqual) {
  const Window map = {0, 0, 10, 10};
  EXPECT_TRUE(window_within(map, map));
  EXPECT_TRUE(window_within({3, 4, 2, 2}, map));
  EXPECT_FALSE(window_within({8, 8, 5, 5}, map));
  EXPECT_FALSE(window_within({-1, -1, 12, 12}, map));
  EXPECT_FALSE(window_within({20, 0, 1, 1}, map));
}

struct CenterCase {
  Window w;
  int16_t cx;
  int16_t cy;
};

TEST(WindowCenter, Table) {
  const CenterCase cases[] = {
      {{0, 0, 4, 4}, 1, 1},
      {{0, 0, 5, 3}, 2, 1},
      {{-3, 0, 2, 1}, -3, 0},  // (-3 + -2) >> 1 rounds toward minus infinity
      {{-4, -7, 1, 1}, -4, -7},
      {{10, 20, 1, 2}, 10, 20},
      // Last column 32999 cut to 16 bits is -32537; (32000 - 32537) >> 1 = -269.
      {{32000, 0, 1000, 1}, -269, 0},
  };
  for (const CenterCase& c : cases) {
    int16_t cx = 99;
    int16_t cy = 99;
    window_center(c.w, &cx, &cy);
    EXPECT_EQ(c.cx, cx) << c.w.x << "," << c.w.width;
    EXPECT_EQ(c.cy, cy) << c.w.y << "," << c.w.height;
  }
}

struct ExtentCase {
  Window w;
  int16_t cx;
  int16_t cy;
  int16_t first_col, first_row, last_col, last_row;
};

TEST(WindowExtentAbout, Table) {
  const ExtentCase cases[] = {
      {{10, 20, 5, 3}, 12, 21, -2, -1, 2, 1},
      {{10, 20, 5, 3}, -1, -1, -2, -1, 2, 1},  // own centre (12, 21)
      {{10, 20, 5, 3}, -1, 0, -2, 20, 2, 22},  // own centre column, row about 0
      {{10, 20, 4, 4}, 0, 0, 10, 20, 13, 23},
      {{0, 0, 4, 4}, 10, 10, -10, -10, -7, -7},
  };
  for (const ExtentCase& c : cases) {
    int16_t fc = 0, fr = 0, lc = 0, lr = 0;
    window_extent_about(c.w, c.cx, c.cy, &fc, &fr, &lc, &lr);
    EXPECT_EQ(c.first_col, fc);
    EXPECT_EQ(c.first_row, fr);
    EXPECT_EQ(c.last_col, lc);
    EXPECT_EQ(c.last_row, lr);
  }
}

}  // namespace

}  // namespace harnix
