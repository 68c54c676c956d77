// Views: the pixels of a window on the camera field in storage someone else owns, row after row
// `stride` elements apart. `data` addresses pixel (window.x, window.y); pixel (px, py) is
// data[(py - window.y) * stride + (px - window.x)]. A view of a whole map has the map's width
// as its stride; a view of a region of a map, or of a window of a larger field, keeps the
// larger stride, so kernels read and write it in place, a contiguous span per row.
//
// A view holds nothing: whoever makes one guarantees that its storage covers every row of the
// window for as long as the view is used. A view of a window without pixels reads nothing.
#ifndef HARNIX_MAPS_MAP_VIEW_H_
#define HARNIX_MAPS_MAP_VIEW_H_

#include <cstddef>
#include <cstdint>

#include "base/error_codes.h"
#include "maps/map_types.h"

namespace harnix {

template <typename T>
struct MapView {
  T* data;
  std::ptrdiff_t stride;  // elements from one row to the next, at least window.width
  Window window;

  // First element of row r of the window (0 <= r < window.height).
  T* row(int32_t r) const { return data + static_cast<std::ptrdiff_t>(r) * stride; }
  bool has_pixels() const { return window.width > 0 && window.height > 0; }
  operator MapView<const T>() const { return {data, stride, window}; }
};

using PhaseView = MapView<int32_t>;
using ConstPhaseView = MapView<const int32_t>;

// The view of a map's whole window. Precondition: the map holds storage for its window
// (map_holds_window), or its window has no pixels.
PhaseView map_view(PhaseMap& m);
ConstPhaseView map_view(const PhaseMap& m);

// The view of region `w` of a map: ERR_IMPROPER_WINDOW, *out untouched, unless `w` lies inside
// or equals the map's window (so a region of no width or height may be viewed within a map,
// but not within a map of no width or height) and the map holds storage for its window.
ErrorCode region_view(PhaseMap& m, const Window& w, PhaseView* out);
ErrorCode region_view(const PhaseMap& m, const Window& w, ConstPhaseView* out);

}  // namespace harnix

#endif  // HARNIX_MAPS_MAP_VIEW_H_
