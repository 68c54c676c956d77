// A phase map that owns its storage for the length of a test, addressed by window column and row.
#ifndef HARNIX_TESTS_FIT_OWNED_MAP_H_
#define HARNIX_TESTS_FIT_OWNED_MAP_H_

#include <gtest/gtest.h>

#include <cstddef>
#include <vector>

#include "maps/storage.h"

class OwnedMap {
 public:
  explicit OwnedMap(Window w, int32_t fill = 0) {
    map_init(m);
    m.window = w;
    EXPECT_EQ(NO_ERROR, map_alloc(m));
    map_fill(m, fill);
  }
  // One row holding `values`, at column x0 and row y0.
  explicit OwnedMap(const std::vector<int32_t>& values, int16_t x0 = 0, int16_t y0 = 0)
      : OwnedMap(Window{x0, y0, static_cast<int16_t>(values.size()), 1}) {
    for (std::size_t i = 0; i < values.size(); ++i) m.matrix[i] = values[i];
  }
  ~OwnedMap() { map_free(m); }
  OwnedMap(const OwnedMap&) = delete;
  OwnedMap& operator=(const OwnedMap&) = delete;

  int32_t& at(int col, int row) {
    return m.matrix[static_cast<std::size_t>(row) * m.window.width + col];
  }
  std::vector<int32_t> values() const {
    return std::vector<int32_t>(
        m.matrix, m.matrix + static_cast<std::size_t>(m.window.width) * m.window.height);
  }

  PhaseMap m;
};

#endif  // HARNIX_TESTS_FIT_OWNED_MAP_H_
