// Copies, value range and valid bounding window of phase maps.
#include <algorithm>
#include <cstddef>
#include <cstring>

#include "maps/element_ops.h"
#include "maps/storage.h"

namespace harnix {

namespace {

// Element offset of camera pixel (px, py) in map m, formed in ptrdiff_t so that no 16-bit or
// 32-bit product can overflow.
std::ptrdiff_t offset_of(const PhaseMap& m, int32_t px, int32_t py) {
  return (static_cast<std::ptrdiff_t>(py) - m.window.y) * m.window.width +
         (static_cast<std::ptrdiff_t>(px) - m.window.x);
}

std::size_t element_total(const Window& w) {
  return static_cast<std::size_t>(w.width) * static_cast<std::size_t>(w.height);
}

}  // namespace

ErrorCode phase_map_copy(const PhaseMap& src, PhaseMap& dst) {
  if (window_relation(src.window, dst.window) != WindowRelation::WN_EQUAL)
    return ERR_WINDOWS_MISMATCHED;
  if (!map_holds_window(src) || !map_holds_window(dst)) return ERR_IMPROPER_WINDOW;
  if (src.matrix != dst.matrix) {
    std::memcpy(dst.matrix, src.matrix, element_total(src.window) * sizeof(int32_t));
  }
  return NO_ERROR;
}

ErrorCode phase_map_copy_window(const PhaseMap& src, const Window& sw, PhaseMap& dst,
                                const Window& dw) {
  if (!window_within(sw, src.window) || !window_within(dw, dst.window)) {
    return ERR_IMPROPER_WINDOW;
  }
  if (sw.width != dw.width || sw.height != dw.height) return ERR_IMPROPER_WINDOW;
  // An empty region lies "inside" by the relation's rules; a negative extent is no region at all.
  if (sw.width < 0 || sw.height < 0) return ERR_IMPROPER_WINDOW;
  if (sw.width == 0 || sw.height == 0) return NO_ERROR;
  if (!map_holds_window(src) || !map_holds_window(dst)) return ERR_IMPROPER_WINDOW;

  const int32_t* from = src.matrix + offset_of(src, sw.x, sw.y);
  int32_t* to = dst.matrix + offset_of(dst, dw.x, dw.y);
  // memmove: source and target may be regions of the same map.
  if (sw.width == src.window.width && dw.width == dst.window.width) {
    std::memmove(to, from, element_total(sw) * sizeof(int32_t));  // one contiguous block
    return NO_ERROR;
  }
  const std::size_t row_bytes = static_cast<std::size_t>(sw.width) * sizeof(int32_t);
  std::ptrdiff_t from_step = src.window.width;
  std::ptrdiff_t to_step = dst.window.width;
  if (src.matrix == dst.matrix && to > from) {
    // Within one map, a target below the source is copied from the last row up, so no source
    // row is overwritten before it is read.
    from += (sw.height - 1) * from_step;
    to += (sw.height - 1) * to_step;
    from_step = -from_step;
    to_step = -to_step;
  }
  for (int32_t r = 0; r < sw.height; ++r) {
    std::memmove(to, from, row_bytes);
    if (r + 1 < sw.height) {  // no address beyond the first or last row is formed
      from += from_step;
      to += to_step;
    }
  }
  return NO_ERROR;
}

ErrorCode phase_map_min_max(const PhaseMap& m, int32_t* smallest, int32_t* largest) {
  int32_t lo = INT32_MAX;
  int32_t hi = INT32_MIN;
  if (m.window.width > 0 && m.window.height > 0) {
    if (!map_holds_window(m)) return ERR_IMPROPER_WINDOW;
    const int32_t* p = m.matrix;
    const std::size_t n = element_total(m.window);
    for (std::size_t i = 0; i < n; ++i) {
      const int32_t v = p[i];
      const bool valid = v < PHASE_INVALID;
      lo = valid && v < lo ? v : lo;
      hi = valid && v > hi ? v : hi;
    }
  }
  *smallest = lo;
  *largest = hi;
  // No valid value can be INT32_MAX, so an untouched minimum means none was found.
  return lo == INT32_MAX ? ERR_ALL_BAD_DATA : NO_ERROR;
}

// One pass over the rows in storage order. Until a valid element is found, each row is searched
// from the left and, once one is, from the right down to it. After that a row is searched only
// in the columns left of the leftmost valid column found so far and right of the rightmost; the
// span between is read only when those found nothing, to tell whether the row holds a valid
// element at all. No element is read twice, and a mostly valid map is decided after a few
// elements per row. The result equals separate top, bottom, left and right scans: every valid
// point lies in rows top..bottom, so the column bounds over those rows are those over all rows.
ErrorCode phase_map_valid_window(const PhaseMap& m, const Window* w, Window* out) {
  const Window region = w != nullptr ? *w : m.window;
  if (w != nullptr && !window_within(region, m.window)) return ERR_IMPROPER_WINDOW;
  *out = Window{};
  if (region.width <= 0 || region.height <= 0) return ERR_ALL_BAD_DATA;
  if (!map_holds_window(m)) return ERR_IMPROPER_WINDOW;

  const int32_t width = region.width;
  int32_t top = -1;
  int32_t bottom = -1;
  int32_t left = 0;
  int32_t right = -1;
  const int32_t* row = m.matrix + offset_of(m, region.x, region.y);
  for (int32_t r = 0; r < region.height; ++r) {
    bool any = false;
    if (top < 0) {
      int32_t first = 0;
      while (first < width && !phase_valid(row[first])) ++first;
      if (first < width) {
        int32_t last = width - 1;
        while (last > first && !phase_valid(row[last])) --last;
        left = first;
        right = last;
        any = true;
      }
    } else {
      int32_t first = 0;
      while (first < left && !phase_valid(row[first])) ++first;
      int32_t last = width - 1;
      while (last > right && !phase_valid(row[last])) --last;
      if (first < left) {
        left = first;
        any = true;
      }
      if (last > right) {
        right = last;
        any = true;
      }
      for (int32_t c = left; c <= right && !any; ++c) any = phase_valid(row[c]);
    }
    if (any) {
      if (top < 0) top = r;
      bottom = r;
    }
    if (r + 1 < region.height) row += m.window.width;
  }
  if (top < 0) return ERR_ALL_BAD_DATA;
  out->x = static_cast<int16_t>(region.x + left);
  out->y = static_cast<int16_t>(region.y + top);
  out->width = static_cast<int16_t>(right - left + 1);
  out->height = static_cast<int16_t>(bottom - top + 1);
  return NO_ERROR;
}

}  // namespace harnix
