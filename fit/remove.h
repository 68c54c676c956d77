// Removal of a best-fit surface from a phase map: the one entry of the fitting library the
// averaging run calls.
#ifndef HARNIX_FIT_REMOVE_H_
#define HARNIX_FIT_REMOVE_H_

#include "base/error_codes.h"
#include "fit/fit_model.h"
#include "fit/workspace.h"
#include "maps/map_types.h"

namespace harnix {

// Removal modes 0..3 are the least-squares fits of the FitType of the same number; mode 4 is the
// robust plane from derivative histograms with 500 bins.
constexpr int32_t ROBUST_PLANE = 4;

// Fits a surface of `mode` to the valid values of map over its whole window and subtracts it in
// place (remove_surface: the nearest integer of the surface at each pixel; a pixel whose
// difference would leave the valid 32-bit range keeps its value). Only valid values change. On
// success, and only then, *fit_out (when given) receives the record subtracted. On failure the
// map keeps its values and fit_out is not written:
//   ERR_NO_UNIQUE_SOLUTION  singular fit: no valid value, all in the centre row or column, ...
//   ERR_ALL_BAD_DATA        mode 4 (see fit_robust_plane)
//   ERR_NO_MEM              working storage of the fit or the subtraction
//   ERR_IMPROPER_WINDOW     the map's window has zero width or height, or no storage covers it
//   ERR_PARAM_OUT_OF_RANGE  mode outside 0..4
//   ERR_FP_OVERFLOW         the fitted surface reaches 2^52 in magnitude (never for phase data)
ErrorCode remove_best_fit(PhaseMap& map, int32_t mode, SurfaceFit* fit_out);

// The same with the robust plane's scratch maps in `robust_storage`, which the caller keeps from
// call to call (fit_robust_plane).
ErrorCode remove_best_fit(PhaseMap& map, int32_t mode, SurfaceFit* fit_out,
                          SurfaceWorkspace& robust_storage);

// What remove_best_fit does to the pixels of `map` over a field of `frame` holding the map's
// values and invalid values elsewhere (the fit and its subtraction in the frame's coordinates),
// reading and writing only the map's own window, which must lie in the frame. The codes are
// those of remove_best_fit, ERR_IMPROPER_WINDOW also for a window outside the frame; on failure
// the map keeps its values.
ErrorCode remove_best_fit_in_frame(PhaseMap& map, const Window& frame, int32_t mode,
                                   SurfaceFit* fit_out, SurfaceWorkspace& robust_storage);

}  // namespace harnix

#endif  // HARNIX_FIT_REMOVE_H_
