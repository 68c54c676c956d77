#include "fit/remove.h"

#include "fit/least_squares.h"
#include "fit/robust_plane.h"
#include "fit/subtract.h"
#include "maps/map_view.h"
#include "maps/storage.h"

namespace harnix {

ErrorCode remove_best_fit(PhaseMap& map, int32_t mode, SurfaceFit* fit_out) {
  SurfaceWorkspace storage;
  const ErrorCode rc = remove_best_fit(map, mode, fit_out, storage);
  surface_workspace_free(storage);
  return rc;
}

ErrorCode remove_best_fit(PhaseMap& map, int32_t mode, SurfaceFit* fit_out,
                          SurfaceWorkspace& robust_storage) {
  if (mode < 0 || mode > ROBUST_PLANE) return ERR_PARAM_OUT_OF_RANGE;

  // The map's own window as a region makes a map of zero width or height fail as an improper
  // window; the robust plane makes its own checks first.
  SurfaceWorkspace ws;
  SurfaceFit fit{};
  PhaseView view{};
  ErrorCode rc = NO_ERROR;
  if (mode == ROBUST_PLANE) {
    rc = fit_robust_plane(map, &map.window, &fit, ROBUST_PLANE_BINS, robust_storage);
    if (rc == NO_ERROR) rc = region_view(map, map.window, &view);
  } else {
    rc = region_view(map, map.window, &view);
    if (rc == NO_ERROR) {
      rc = fit_surface(view, map.window, static_cast<FitType>(mode), FitOptions{}, ws, &fit);
    }
  }
  if (rc == NO_ERROR) rc = remove_surface(view, map.window, fit, ws);
  surface_workspace_free(ws);
  if (rc != NO_ERROR) return rc;
  if (fit_out) *fit_out = fit;
  return NO_ERROR;
}

ErrorCode remove_best_fit_in_frame(PhaseMap& map, const Window& frame, int32_t mode,
                                   SurfaceFit* fit_out, SurfaceWorkspace& robust_storage) {
  if (mode < 0 || mode > ROBUST_PLANE) return ERR_PARAM_OUT_OF_RANGE;
  const Window& w = map.window;
  if (w.width < 1 || w.height < 1 || !window_within(w, frame)) return ERR_IMPROPER_WINDOW;
  SurfaceWorkspace ws;
  SurfaceFit fit{};
  ErrorCode rc = NO_ERROR;
  if (mode == ROBUST_PLANE) {
    rc = fit_robust_plane_in_frame(map, frame, &fit, ROBUST_PLANE_BINS, robust_storage);
  } else if (!map_holds_window(map)) {
    rc = ERR_IMPROPER_WINDOW;
  } else {
    rc = fit_surface(map_view(map), frame, static_cast<FitType>(mode), FitOptions{}, ws, &fit);
  }
  if (rc == NO_ERROR) rc = remove_surface(map_view(map), frame, fit, ws);
  surface_workspace_free(ws);
  if (rc != NO_ERROR) return rc;
  if (fit_out) *fit_out = fit;
  return NO_ERROR;
}

}  // namespace harnix
