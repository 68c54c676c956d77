#include "fit/remove.h"

#include "fit/least_squares.h"
#include "fit/robust_plane.h"
#include "fit/subtract.h"

namespace harnix {

ErrorCode remove_best_fit(PhaseMap& map, int32_t mode, SurfaceFit* fit_out) {
  if (mode < piston || mode > ROBUST_PLANE) return ERR_PARAM_OUT_OF_RANGE;

  SurfaceFit fit{};
  // The explicit window makes a map of zero width or height fail as an improper window.
  ErrorCode rc = mode == ROBUST_PLANE ? fit_robust_plane(map, &map.window, &fit, ROBUST_PLANE_BINS)
                                      : fit_surface(map, &map.window, mode, &fit, nullptr);
  if (rc != NO_ERROR) return rc;

  rc = remove_surface(map, map.window, fit);
  if (rc != NO_ERROR) return rc;
  if (fit_out) *fit_out = fit;
  return NO_ERROR;
}

}  // namespace harnix
