#include "fit/remove.h"

#include "fit/least_squares.h"
#include "fit/subtract.h"

ErrorCode remove_best_fit(PhaseMap& map, int32_t mode, SurfaceFit* fit_out) {
  if (mode < piston || mode > ROBUST_PLANE) return ERR_PARAM_OUT_OF_RANGE;

  SurfaceFit fit{};
  if (mode == ROBUST_PLANE) {
    // The robust plane is not built yet. Its fit over map.window goes here, in place of the
    // least-squares fit below; the subtraction and the copy to fit_out stay as they are.
    return ERR_PARAM_OUT_OF_RANGE;
  }
  // The explicit window makes a map of zero width or height fail as an improper window.
  ErrorCode rc = fit_surface(map, &map.window, mode, &fit, nullptr);
  if (rc != NO_ERROR) return rc;

  rc = remove_surface(map, map.window, fit);
  if (rc != NO_ERROR) return rc;
  if (fit_out) *fit_out = fit;
  return NO_ERROR;
}
