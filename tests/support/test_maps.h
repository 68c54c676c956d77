// Maps for tests: records that own their storage for the life of a scope, filled from a list.
#ifndef HARNIX_TESTS_SUPPORT_TEST_MAPS_H_
#define HARNIX_TESTS_SUPPORT_TEST_MAPS_H_

#include <gtest/gtest.h>

#include <vector>

#include "maps/storage.h"

namespace harnix {

// A map record with storage for window `w` (filled with `fill`, or with `values` in storage
// order when given), released when the scope ends.
template <typename Map, typename Element>
struct OwnedMap {
  Map m{};

  explicit OwnedMap(Window w, Element fill = Element{}) {
    m.window = w;
    EXPECT_EQ(NO_ERROR, map_alloc(m));
    for (uint32_t i = 0; i < m.size; ++i) m.matrix[i] = fill;
  }
  OwnedMap(Window w, const std::vector<Element>& values) : OwnedMap(w, Element{}) {
    EXPECT_EQ(values.size(), m.size);
    for (uint32_t i = 0; i < m.size && i < values.size(); ++i) m.matrix[i] = values[i];
  }
  // One row holding `values`, at column x0 and row y0.
  static OwnedMap row(const std::vector<Element>& values, int16_t x0 = 0, int16_t y0 = 0) {
    return OwnedMap(Window{x0, y0, static_cast<int16_t>(values.size()), 1}, values);
  }
  ~OwnedMap() { map_free(m); }
  OwnedMap(const OwnedMap&) = delete;
  OwnedMap& operator=(const OwnedMap&) = delete;

  std::vector<Element> values() const { return std::vector<Element>(m.matrix, m.matrix + m.size); }
  // Element at camera pixel (px, py).
  Element& at(int px, int py) {
    return m.matrix[(py - m.window.y) * m.window.width + (px - m.window.x)];
  }
  // Element at column `col`, row `row` of the window.
  Element& cell(int col, int row) { return m.matrix[row * m.window.width + col]; }
};

// Element-wise equality of heights where two NaNs count as equal.
inline void expect_same_heights(const std::vector<double>& expected,
                                const std::vector<double>& actual) {
  ASSERT_EQ(expected.size(), actual.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const bool both_nan = expected[i] != expected[i] && actual[i] != actual[i];
    EXPECT_TRUE(both_nan || expected[i] == actual[i])
        << "element " << i << ": expected " << expected[i] << ", got " << actual[i];
  }
}

using OwnedPhase = OwnedMap<PhaseMap, int32_t>;
using OwnedReal = OwnedMap<RealMap, double>;
using OwnedCount = OwnedMap<CountMap, int16_t>;

}  // namespace harnix

#endif  // HARNIX_TESTS_SUPPORT_TEST_MAPS_H_
