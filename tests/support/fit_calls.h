// The fit and the subtraction over a region of a map, each call with a workspace of its own:
// the calls the fitting tests make most. A region the map does not hold is refused by
// region_view, with the record untouched.
#ifndef HARNIX_TESTS_SUPPORT_FIT_CALLS_H_
#define HARNIX_TESTS_SUPPORT_FIT_CALLS_H_

#include <array>
#include <ostream>

#include "fit/least_squares.h"
#include "fit/subtract.h"
#include "maps/map_view.h"

namespace harnix {

inline std::ostream& operator<<(std::ostream& os, FitType type) {
  return os << static_cast<int>(type);
}

constexpr std::array<FitType, 4> ALL_FIT_TYPES = {FitType::piston, FitType::plane, FitType::sphere,
                                                  FitType::cylinder};

// fit_surface over `region` of m in the region's own frame (nullptr: the map's whole window).
inline ErrorCode fit_region(const PhaseMap& m, const Window* region, FitType type, SurfaceFit* fit,
                            FitOptions options = {}) {
  ConstPhaseView view = map_view(m);
  if (region != nullptr) {
    const ErrorCode rc = region_view(m, *region, &view);
    if (rc != NO_ERROR) return rc;
  }
  SurfaceWorkspace ws;
  const ErrorCode rc = fit_surface(view, view.window, type, options, ws, fit);
  surface_workspace_free(ws);
  return rc;
}

// remove_surface over `region` of m in the region's own frame.
inline ErrorCode remove_region(PhaseMap& m, const Window& region, const SurfaceFit& fit) {
  PhaseView view{};
  ErrorCode rc = region_view(m, region, &view);
  if (rc != NO_ERROR) return rc;
  SurfaceWorkspace ws;
  rc = remove_surface(view, region, fit, ws);
  surface_workspace_free(ws);
  return rc;
}

}  // namespace harnix

#endif  // HARNIX_TESTS_SUPPORT_FIT_CALLS_H_
