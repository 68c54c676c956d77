#include "maps/window.h"

namespace harnix {

namespace {

// Last column or row in 32-bit arithmetic: never overflows, whatever the 16-bit fields hold.
int32_t last_of(int16_t first, int16_t extent) {
  return static_cast<int32_t>(first) + static_cast<int32_t>(extent) - 1;
}

}  // namespace

WindowRelation window_relation(const Window& a, const Window& b) {
  using enum WindowRelation;
  const int32_t a_right = last_of(a.x, a.width);
  const int32_t a_bottom = last_of(a.y, a.height);
  const int32_t b_right = last_of(b.x, b.width);
  const int32_t b_bottom = last_of(b.y, b.height);

  if (a_right < b.x || a.x > b_right || a_bottom < b.y || a.y > b_bottom) return WN_DISJOINT;
  if (a.x == b.x && a_right == b_right && a.y == b.y && a_bottom == b_bottom) return WN_EQUAL;
  if (a.x >= b.x && a_right <= b_right && a.y >= b.y && a_bottom <= b_bottom) return WN_INSIDE;
  if (a.x <= b.x && a_right >= b_right && a.y <= b.y && a_bottom >= b_bottom) return WN_CONTAINS;
  return WN_OVERLAP;
}

bool window_within(const Window& region, const Window& outer) {
  const WindowRelation r = window_relation(region, outer);
  return r == WindowRelation::WN_INSIDE || r == WindowRelation::WN_EQUAL;
}

void window_center(const Window& w, int16_t* center_x, int16_t* center_y) {
  // The last column and row are cut to 16 bits before the sum; the sum of two 16-bit values
  // halved always fits in 16 bits again. >> on a negative int is an arithmetic shift.
  const int16_t last_col = static_cast<int16_t>(last_of(w.x, w.width));
  const int16_t last_row = static_cast<int16_t>(last_of(w.y, w.height));
  *center_x = static_cast<int16_t>((static_cast<int32_t>(w.x) + last_col) >> 1);
  *center_y = static_cast<int16_t>((static_cast<int32_t>(w.y) + last_row) >> 1);
}

void window_extent_about(const Window& w, int16_t cx, int16_t cy, int16_t* first_col,
                         int16_t* first_row, int16_t* last_col, int16_t* last_row) {
  int16_t own_cx = 0;
  int16_t own_cy = 0;
  window_center(w, &own_cx, &own_cy);
  if (cx < 0) cx = own_cx;
  if (cy < 0) cy = own_cy;
  // Each result wraps to 16 bits, as the extents are kept in 16-bit fields.
  *first_col = static_cast<int16_t>(w.x - cx);
  *last_col = static_cast<int16_t>(*first_col + w.width - 1);
  *first_row = static_cast<int16_t>(w.y - cy);
  *last_row = static_cast<int16_t>(*first_row + w.height - 1);
}

}  // namespace harnix
