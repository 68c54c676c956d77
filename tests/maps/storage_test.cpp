#include "maps/storage.h"

#include <gtest/gtest.h>

#include <vector>

#include "maps/map_view.h"
#include "support/failing_allocator.h"

namespace harnix {

namespace {

struct CountCase {
  int32_t width, height, planes;
  ErrorCode rc;
  uint32_t n;
};

TEST(ElementCount, Table) {
  const CountCase cases[] = {
      {3, 4, 1, NO_ERROR, 12},
      {32767, 32767, 1, NO_ERROR, 1073676289u},
      {32767, 32767, 4, NO_ERROR, 4294705156u},
      {32767, 32767, 5, ERR_PARAM_OUT_OF_RANGE, 0},  // beyond 32 bits
      {0, 5, 1, ERR_PARAM_OUT_OF_RANGE, 0},
      {5, 0, 1, ERR_PARAM_OUT_OF_RANGE, 0},
      {5, 5, 0, ERR_PARAM_OUT_OF_RANGE, 0},
      {-1, 5, 1, ERR_PARAM_OUT_OF_RANGE, 0},   // -5 as unsigned would be ~4e9 elements
      {-2, -3, 1, ERR_PARAM_OUT_OF_RANGE, 0},  // a positive product of two negatives
      {4, 4, -1, ERR_PARAM_OUT_OF_RANGE, 0},
  };
  for (const CountCase& c : cases) {
    uint32_t n = 77;
    EXPECT_EQ(c.rc, element_count(c.width, c.height, c.planes, &n))
        << c.width << " x " << c.height << " x " << c.planes;
    EXPECT_EQ(c.n, n);
  }
}

TEST(MapAlloc, EmptyOrNegativeWindowIsOutOfRangeWithoutAllocating) {
  const Window bad[] = {{5, 6, 0, 4}, {5, 6, 4, 0}, {5, 6, -1, 4}, {5, 6, -2, -3}};
  FailingAllocator counter(0);
  for (const Window& w : bad) {
    PhaseMap p{};
    p.window = w;
    EXPECT_EQ(ERR_PARAM_OUT_OF_RANGE, map_alloc(p));
    EXPECT_EQ(nullptr, p.matrix);
    EXPECT_EQ(0u, p.size);
    EXPECT_EQ(w.width, p.window.width);
    CountMap c{};
    c.window = w;
    EXPECT_EQ(ERR_PARAM_OUT_OF_RANGE, map_alloc(c));
    EXPECT_EQ(w.height, c.window.height);  // unchanged, unlike a failed allocation
  }
  IntensityMap i{};
  i.window = {0, 0, 4, 4};
  i.n_buckets = -1;
  EXPECT_EQ(ERR_PARAM_OUT_OF_RANGE, map_alloc(i));
  EXPECT_EQ(-1, i.n_buckets);
  FloatPairArray a{};
  a.count = -3;
  EXPECT_EQ(ERR_PARAM_OUT_OF_RANGE, array_alloc(a));
  a.count = 0;
  EXPECT_EQ(ERR_PARAM_OUT_OF_RANGE, array_alloc(a));
  EXPECT_EQ(0, counter.requests());
}

TEST(MapAlloc, SizesAndByteCounts) {
  FailingAllocator counter(0);
  PhaseMap p{};
  p.window = {1, 2, 3, 4};
  ASSERT_EQ(NO_ERROR, map_alloc(p));
  EXPECT_EQ(12u, p.size);
  EXPECT_EQ(48u, counter.largest());
  RealMap r{};
  r.window = {0, 0, 5, 5};
  ASSERT_EQ(NO_ERROR, map_alloc(r));
  EXPECT_EQ(25u, r.size);
  EXPECT_EQ(200u, counter.largest());
  IntensityMap i{};
  i.window = {0, 0, 10, 10};
  i.n_buckets = 3;
  ASSERT_EQ(NO_ERROR, map_alloc(i));
  EXPECT_EQ(300u, i.size);
  EXPECT_EQ(600u, counter.largest());
  FloatPairArray a{};
  a.count = 100;
  ASSERT_EQ(NO_ERROR, array_alloc(a));
  EXPECT_EQ(100u, a.size);
  EXPECT_EQ(800u, counter.largest());
  map_free(p);
  map_free(r);
  map_free(i);
  array_free(a);
  EXPECT_EQ(4, counter.releases());
}

TEST(MapAlloc, FailureLeavesEachKindInItsStatedState) {
  FailingAllocator fail(1);
  PhaseMap p{};
  p.window = {1, 2, 3, 4};
  EXPECT_EQ(ERR_NO_MEM, map_alloc(p));
  EXPECT_EQ(0u, p.size);
  EXPECT_EQ(nullptr, p.matrix);
  EXPECT_EQ(3, p.window.width);  // window kept
  RealMap r{};
  r.window = {1, 2, 3, 4};
  EXPECT_EQ(ERR_NO_MEM, map_alloc(r));
  EXPECT_EQ(nullptr, r.matrix);
  EXPECT_EQ(4, r.window.height);
  CountMap c{};
  c.window = {1, 2, 3, 4};
  EXPECT_EQ(ERR_NO_MEM, map_alloc(c));
  EXPECT_EQ(nullptr, c.matrix);
  EXPECT_EQ(0, c.window.width);
  EXPECT_EQ(0, c.window.height);
  EXPECT_EQ(1, c.window.x);
  IntensityMap i{};
  i.window = {1, 2, 3, 4};
  i.n_buckets = 2;
  EXPECT_EQ(ERR_NO_MEM, map_alloc(i));
  EXPECT_EQ(0, i.n_buckets);
  EXPECT_EQ(0, i.window.width);
  FloatPairArray a{};
  a.count = 7;
  EXPECT_EQ(ERR_NO_MEM, array_alloc(a));
  EXPECT_EQ(0u, a.size);
  EXPECT_EQ(nullptr, a.data);
}

TEST(MapAlloc, ReplacesStorageTheRecordAlreadyHeld) {
  FailingAllocator counter(0);
  PhaseMap p{};
  p.window = {0, 0, 2, 2};
  ASSERT_EQ(NO_ERROR, map_alloc(p));
  p.window = {0, 0, 3, 3};
  ASSERT_EQ(NO_ERROR, map_alloc(p));
  EXPECT_EQ(9u, p.size);
  EXPECT_EQ(1, counter.releases());
  map_free(p);
}

TEST(MapFree, ClearsStorageKeepsPlaceAndMayRepeat) {
  IntensityMap i{};
  i.window = {7, 8, 2, 2};
  i.n_buckets = 2;
  ASSERT_EQ(NO_ERROR, map_alloc(i));
  map_free(i);
  map_free(i);
  EXPECT_EQ(nullptr, i.matrix);
  EXPECT_EQ(0u, i.size);
  EXPECT_EQ(0, i.n_buckets);
  EXPECT_EQ(7, i.window.x);
  EXPECT_EQ(8, i.window.y);
  EXPECT_EQ(0, i.window.width);
  EXPECT_EQ(0, i.window.height);
  FloatPairArray a{};
  a.count = 3;
  ASSERT_EQ(NO_ERROR, array_alloc(a));
  array_free(a);
  EXPECT_EQ(0, a.count);
  EXPECT_EQ(0u, a.size);
}

struct ResizeCase {
  const char* name;
  Window to;
  bool keep;
  ErrorCode rc;
  uint32_t size;    // size afterwards
  bool same_block;  // the 4x4 block is still the storage
  bool window_set;  // the record's window became `to`
};

TEST(MapResize, Table) {
  const ResizeCase cases[] = {
      {"smaller, keep", {1, 1, 2, 2}, true, NO_ERROR, 16, true, true},
      {"smaller, no keep", {1, 1, 2, 2}, false, NO_ERROR, 4, false, true},
      {"same count elsewhere", {9, 9, 8, 2}, false, NO_ERROR, 16, true, true},
      {"larger", {0, 0, 5, 5}, true, NO_ERROR, 25, false, true},
      {"empty", {3, 3, 0, 5}, true, NO_ERROR, 0, false, false},
      {"negative width", {3, 3, -4, 5}, true, ERR_PARAM_OUT_OF_RANGE, 16, true, false},
      {"negative both", {3, 3, -4, -4}, false, ERR_PARAM_OUT_OF_RANGE, 16, true, false},
  };
  for (const ResizeCase& c : cases) {
    PhaseMap m{};
    m.window = {0, 0, 4, 4};
    ASSERT_EQ(NO_ERROR, map_alloc(m));
    int32_t* block = m.matrix;
    EXPECT_EQ(c.rc, map_resize(m, c.to, ResizeOptions{.reuse_larger = c.keep})) << c.name;
    EXPECT_EQ(c.size, m.size) << c.name;
    EXPECT_EQ(c.same_block, m.matrix == block) << c.name;
    EXPECT_EQ(c.size == 0, m.matrix == nullptr) << c.name;
    const Window expected = c.window_set ? c.to : Window{0, 0, 4, 4};
    EXPECT_EQ(expected.x, m.window.x) << c.name;
    EXPECT_EQ(expected.width, m.window.width) << c.name;
    EXPECT_EQ(expected.height, m.window.height) << c.name;
    map_free(m);
  }
}

TEST(MapResize, FailureLeavesNoStorageAndTheOldWindow) {
  PhaseMap m{};
  m.window = {0, 0, 2, 2};
  ASSERT_EQ(NO_ERROR, map_alloc(m));
  FailingAllocator fail(1);
  EXPECT_EQ(ERR_NO_MEM, map_resize(m, {0, 0, 3, 3}, ResizeOptions{.reuse_larger = true}));
  EXPECT_EQ(nullptr, m.matrix);
  EXPECT_EQ(0u, m.size);
  EXPECT_EQ(2, m.window.width);
  EXPECT_EQ(1, fail.releases());
}

TEST(MapResize, RecordWithoutStorageAllocates) {
  PhaseMap m{};
  m.size = 1000;  // stale: no matrix means no storage whatever size says
  EXPECT_EQ(NO_ERROR, map_resize(m, {0, 0, 3, 3}, ResizeOptions{.reuse_larger = true}));
  ASSERT_NE(nullptr, m.matrix);
  EXPECT_EQ(9u, m.size);
  map_free(m);
}

TEST(MapFill, FillsTheWindowOnlyAndNeverPastTheStorage) {
  PhaseMap m{};
  m.window = {0, 0, 4, 4};
  ASSERT_EQ(NO_ERROR, map_alloc(m));
  map_fill(m, 7);
  ASSERT_EQ(NO_ERROR, map_resize(m, {0, 0, 2, 3}, ResizeOptions{.reuse_larger = true}));
  map_fill(m, PHASE_INVALID);
  for (uint32_t i = 0; i < 16; ++i) EXPECT_EQ(i < 6 ? PHASE_INVALID : 7, m.matrix[i]) << i;
  m.window = {0, 0, -2, -3};  // a positive product of negatives fills nothing
  map_fill(m, 1);
  EXPECT_EQ(PHASE_INVALID, m.matrix[0]);
  m.window = {0, 0, 5, 5};  // larger than the storage: stops at `size`
  map_fill(m, 2);
  EXPECT_EQ(2, m.matrix[15]);
  map_free(m);
  map_fill(m, 3);  // no storage: nothing

  RealMap r{};
  r.window = {0, 0, 3, 1};
  ASSERT_EQ(NO_ERROR, map_alloc(r));
  map_fill(r, REAL_INVALID);
  for (uint32_t i = 0; i < 3; ++i) EXPECT_EQ(REAL_INVALID, r.matrix[i]);
  map_free(r);
  CountMap c{};
  c.window = {0, 0, 1, 3};
  ASSERT_EQ(NO_ERROR, map_alloc(c));
  map_fill(c, int16_t{0});
  for (uint32_t i = 0; i < 3; ++i) EXPECT_EQ(0, c.matrix[i]);
  map_free(c);
}

TEST(MapPointAndViews, AddressPixelsRowMajor) {
  PhaseMap m{};
  m.window = {10, 20, 5, 4};
  ASSERT_EQ(NO_ERROR, map_alloc(m));
  EXPECT_EQ(m.matrix, map_point(m, 10, 20));
  EXPECT_EQ(m.matrix + 2 * 5 + 3, map_point(m, 13, 22));
  EXPECT_EQ(m.matrix + 19, map_point(m, 14, 23));

  const PhaseView whole = map_view(m);
  EXPECT_EQ(m.matrix + 15, whole.row(3));
  PhaseView sub{};
  ASSERT_EQ(NO_ERROR, region_view(m, Window{11, 21, 3, 2}, &sub));
  EXPECT_EQ(map_point(m, 11, 21), sub.row(0));
  EXPECT_EQ(map_point(m, 11, 22), sub.row(1));
  EXPECT_EQ(5, sub.stride);
  // Regions without pixels inside the map are views of nothing; past its last row or column
  // they are refused.
  for (const Window w : {Window{12, 23, 2, 0}, Window{14, 20, 0, 4}}) {
    ASSERT_EQ(NO_ERROR, region_view(m, w, &sub));
    EXPECT_FALSE(sub.has_pixels());
  }
  // Refused, *out untouched: regions beyond the map, and a map without storage for its window.
  sub.stride = -1;
  for (const Window w : {Window{11, 21, 5, 2}, Window{10, 24, 5, 0}, Window{15, 20, 0, 4}}) {
    EXPECT_EQ(ERR_IMPROPER_WINDOW, region_view(m, w, &sub));
  }
  PhaseMap bare = m;
  bare.matrix = nullptr;
  ConstPhaseView view{};
  view.stride = -1;
  EXPECT_EQ(ERR_IMPROPER_WINDOW, region_view(bare, m.window, &view));
  bare = m;
  bare.window.width = 0;
  EXPECT_EQ(ERR_IMPROPER_WINDOW, region_view(bare, bare.window, &view));
  EXPECT_EQ(-1, sub.stride);
  EXPECT_EQ(-1, view.stride);
  map_free(m);

  CountMap c{};
  c.window = {-3, -2, 4, 3};
  ASSERT_EQ(NO_ERROR, map_alloc(c));
  EXPECT_EQ(c.matrix + 4 + 2, map_point(c, -1, -1));
  map_free(c);
}

}  // namespace

}  // namespace harnix
