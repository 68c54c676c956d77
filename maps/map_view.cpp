#include "maps/map_view.h"

#include "maps/storage.h"

namespace harnix {

namespace {

template <typename View, typename Map>
View whole(Map& m) {
  return View{m.matrix, m.window.width, m.window};
}

template <typename View, typename Map>
ErrorCode region(Map& m, const Window& w, View* out) {
  if (!window_within(w, m.window) || !map_holds_window(m)) return ERR_IMPROPER_WINDOW;
  // Even a region without pixels starts on a pixel of the map (it would be disjoint otherwise),
  // so the address lies in the storage.
  const std::ptrdiff_t offset = (static_cast<std::ptrdiff_t>(w.y) - m.window.y) * m.window.width +
                                (static_cast<std::ptrdiff_t>(w.x) - m.window.x);
  *out = View{m.matrix + offset, m.window.width, w};
  return NO_ERROR;
}

}  // namespace

PhaseView map_view(PhaseMap& m) {
  return whole<PhaseView>(m);
}
ConstPhaseView map_view(const PhaseMap& m) {
  return whole<ConstPhaseView>(m);
}

ErrorCode region_view(PhaseMap& m, const Window& w, PhaseView* out) {
  return region(m, w, out);
}
ErrorCode region_view(const PhaseMap& m, const Window& w, ConstPhaseView* out) {
  return region(m, w, out);
}

}  // namespace harnix
