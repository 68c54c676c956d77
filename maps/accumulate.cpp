// Accumulation of a height map into a running sum and count.
//
// Over the pixels the source and sum windows share, each valid source value v (v < REAL_INVALID)
// is added: where the count is 0 the sum becomes v (so a sum pre-filled with the marker needs no
// clearing) and the count 1; elsewhere the sum becomes sum + v and the count rises by one. A sum
// whose magnitude exceeds the largest single-precision float L is stored, then stops the pass
// without raising that pixel's count.
#include <algorithm>
#include <cmath>
#include <cstddef>

#include "maps/element_ops.h"
#include "maps/storage.h"

namespace harnix {

namespace {

constexpr double LIMIT = REAL_INVALID;

// Elements checked before a chunk is written (4 KiB of sums), so the second look hits L1.
constexpr std::size_t CHUNK = 512;

std::ptrdiff_t offset_of(const Window& w, int32_t px, int32_t py) {
  return (static_cast<std::ptrdiff_t>(py) - w.y) * w.width +
         (static_cast<std::ptrdiff_t>(px) - w.x);
}

// Adds one contiguous span. The check pass finds whether the span holds an overflowing sum; if
// not, the update pass is a select per element with no branch.
ErrorCode accumulate_span(const double* src, double* sum, int16_t* cnt, std::size_t n) {
  for (std::size_t base = 0; base < n; base += CHUNK) {
    const double* v = src + base;
    double* s = sum + base;
    int16_t* c = cnt + base;
    const std::size_t len = std::min(CHUNK, n - base);
    int64_t over = 0;
    for (std::size_t i = 0; i < len; ++i) {
      const double x = v[i];
      const int64_t valid = x < LIMIT;
      const int64_t counted = c[i] != 0;
      const int64_t beyond = std::fabs(s[i] + x) > LIMIT;
      over |= valid & counted & beyond;
    }
    if (over != 0) {
      for (std::size_t i = 0; i < len; ++i) {
        const double x = v[i];
        if (!(x < LIMIT)) continue;
        if (c[i] == 0) {
          s[i] = x;
          c[i] = 1;
          continue;
        }
        s[i] += x;
        if (std::fabs(s[i]) > LIMIT) return ERR_FP_OVERFLOW;
        c[i] = static_cast<int16_t>(c[i] + 1);
      }
      return ERR_FP_OVERFLOW;  // not reached: the check found an overflow in this chunk
    }
    // Sums, then counts: apart, each loop holds one kind of element, and the sums run on
    // vector registers on any x86-64.
    for (std::size_t i = 0; i < len; ++i) {
      const double x = v[i];
      const double old_sum = s[i];
      const int32_t count = c[i];
      const double added = count == 0 ? x : old_sum + x;
      s[i] = x < LIMIT ? added : old_sum;
    }
    for (std::size_t i = 0; i < len; ++i) {
      const int32_t valid = v[i] < LIMIT ? 1 : 0;
      c[i] = static_cast<int16_t>(c[i] + valid);
    }
  }
  return NO_ERROR;
}

}  // namespace

ErrorCode real_map_accumulate(const RealMap& src, RealMap& sum, CountMap& cnt) {
  if (window_relation(src.window, sum.window) == WindowRelation::WN_DISJOINT)
    return ERR_WINDOWS_DISJOINT;
  if (window_relation(sum.window, cnt.window) != WindowRelation::WN_EQUAL)
    return ERR_WINDOWS_MISMATCHED;

  // The shared pixels, in 32-bit arithmetic.
  const int32_t first_col = std::max<int32_t>(src.window.x, sum.window.x);
  const int32_t first_row = std::max<int32_t>(src.window.y, sum.window.y);
  const int32_t last_col =
      std::min(src.window.x + src.window.width - 1, sum.window.x + sum.window.width - 1);
  const int32_t last_row =
      std::min(src.window.y + src.window.height - 1, sum.window.y + sum.window.height - 1);
  if (first_col > last_col || first_row > last_row) return NO_ERROR;  // an empty source window
  if (!map_holds_window(src) || !map_holds_window(sum) || !map_holds_window(cnt)) {
    return ERR_IMPROPER_WINDOW;
  }

  const std::size_t span = static_cast<std::size_t>(last_col - first_col + 1);
  const int32_t rows = last_row - first_row + 1;
  const double* from = src.matrix + offset_of(src.window, first_col, first_row);
  double* to = sum.matrix + offset_of(sum.window, first_col, first_row);
  int16_t* count = cnt.matrix + offset_of(cnt.window, first_col, first_row);
  for (int32_t r = 0; r < rows; ++r) {
    const ErrorCode rc = accumulate_span(from, to, count, span);
    if (rc != NO_ERROR) return rc;
    if (r + 1 < rows) {  // no address past the last row is formed
      from += src.window.width;
      to += sum.window.width;
      count += cnt.window.width;
    }
  }
  return NO_ERROR;
}

}  // namespace harnix
