// Trimming and counting over a window: one pass over the window's rows, each row contiguous.
#include "fit/map_trim.h"

#include <cstddef>

namespace harnix {

namespace {

// Resolves the window (nullptr: the map's own) and checks that it has pixels and lies in the map.
bool resolve(const PhaseMap& map, const Window* window, Window* w) {
  *w = window != nullptr ? *window : map.window;
  return w->width > 0 && w->height > 0 && window_within(*w, map.window);
}

// Address of the first pixel of row r of window w.
int32_t* row_start(const PhaseMap& map, const Window& w, int32_t r) {
  const std::size_t row = static_cast<std::size_t>(w.y - map.window.y + r);
  const std::size_t col = static_cast<std::size_t>(w.x - map.window.x);
  return map.matrix + row * static_cast<std::size_t>(map.window.width) + col;
}

// Applies keep(v) to every pixel of the window; pixels it rejects become PHASE_INVALID.
template <typename Keep>
ErrorCode invalidate_unless(PhaseMap& map, const Window* window, int32_t bound, Keep keep) {
  if (map.matrix == nullptr || bound == PHASE_INVALID) return ERR_INVALID_PARAM;
  Window w;
  if (!resolve(map, window, &w)) return ERR_IMPROPER_WINDOW;
  for (int32_t r = 0; r < w.height; ++r) {
    int32_t* p = row_start(map, w, r);
    for (int32_t c = 0; c < w.width; ++c) {
      if (!keep(p[c])) p[c] = PHASE_INVALID;
    }
  }
  return NO_ERROR;
}

}  // namespace

ErrorCode invalidate_above(PhaseMap& map, const Window* window, int32_t bound) {
  return invalidate_unless(map, window, bound, [bound](int32_t v) { return v <= bound; });
}

ErrorCode invalidate_below(PhaseMap& map, const Window* window, int32_t bound) {
  return invalidate_unless(map, window, bound, [bound](int32_t v) { return v >= bound; });
}

ErrorCode count_valid(const PhaseMap& map, const Window* window, int32_t* count) {
  *count = 0;
  Window w;
  if (!resolve(map, window, &w)) return ERR_IMPROPER_WINDOW;
  if (map.matrix == nullptr) return ERR_INVALID_PARAM;
  int32_t n = 0;
  for (int32_t r = 0; r < w.height; ++r) {
    const int32_t* p = row_start(map, w, r);
    for (int32_t c = 0; c < w.width; ++c) n += phase_valid(p[c]) ? 1 : 0;
  }
  *count = n;
  return NO_ERROR;
}

}  // namespace harnix
