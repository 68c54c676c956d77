// The robust plane: a plane whose tilt is the most frequent local slope of the map rather than
// the least-squares one, so that steps, edges and outliers do not pull it.
//
// Every pixel's x and y slope is the central difference (v[i+1] - v[i-1]) / 2 along its row and
// column. The slopes outside the main peak of their histogram (beyond 2 standard deviations of
// it) are discarded, and the slope of each axis is the peak of a finer histogram of the rest. The
// offset is the mean of the map once that tilt is taken off.
#ifndef HARNIX_FIT_ROBUST_PLANE_H_
#define HARNIX_FIT_ROBUST_PLANE_H_

#include <cstdint>

#include "base/error_codes.h"
#include "fit/fit_model.h"
#include "fit/least_squares.h"
#include "fit/sg_filter.h"
#include "fit/workspace.h"
#include "maps/map_types.h"

namespace harnix {

// What derivative_limits writes into dst.
enum class DerivativeDirection : int32_t {
  COPY = 0,      // a copy of src
  ROWS = 1,      // filter_rows: the x direction
  COLUMNS = 2,   // filter_columns: the y direction
  GRADIENT = 3,  // gradient_magnitude
};

// Histogram bins the removal's robust plane uses.
constexpr int32_t ROBUST_PLANE_BINS = 500;

// Writes into dst the map of src chosen by `direction`, filtered with `kind` and `length` (see
// sg_filter.h), and returns in *low and *high the value range of the main peak of its
// distribution: the bins within k standard deviations of the peak of a 300-bin histogram whose
// range is the data's widened by 18 bins' worth at each end, their values rounded half away from
// zero. *low and *high are 0 on every failure:
//   ERR_IMPROPER_WINDOW     src and dst windows not WN_EQUAL
//   ERR_PARAM_OUT_OF_RANGE  direction outside 0..3, or from the filters
//   ERR_ALL_BAD_DATA        dst has no valid value, or its peak bin has no weight (all values
//                           equal, for instance)
//   ERR_NO_MEM              histograms or filter buffers
// and any code of the filters (dst may then be partly written).
ErrorCode derivative_limits(const PhaseMap& src, PhaseMap& dst, SgKind kind,
                            DerivativeDirection direction, int32_t length, double k, int32_t* low,
                            int32_t* high);

// Fits the robust plane to `map` over `window` (nullptr: the map's own window) with `bins`
// histogram bins for the final slopes (ROBUST_PLANE_BINS in the removal). On success *fit is a
// plane: x_coef and y_coef the most frequent slopes (phase units per pixel), offset the mean of
// the map minus that tilt, rms the spread about the plane, center_x/center_y the window's centre,
// npoints the valid pixels in the window; the other coefficients 0. When every slope left on an
// axis has one value, that value is the slope. The histograms' weights are exact sums of the
// slopes' shares, rounded once, so the fit depends on the slopes alone, not on their order. The
// map is only read; scratch of 2 bytes a pixel of the window is held during the call.
//   ERR_IMPROPER_WINDOW     window not the map's nor inside it (a zero width or height always)
//   ERR_INVALID_PARAM       the map has no storage
//   ERR_ALL_BAD_DATA        a slope map without valid values (window under 4 pixels wide or
//                           high), or a slope histogram whose peak bin is empty (an exact plane
//                           with integer slopes, for instance)
//   ERR_PARAM_OUT_OF_RANGE  bins too few for the derivative length e = max(5, (bins / 4) | 1):
//                           bins - 2e + 1 < 1
//   ERR_NO_MEM              scratch maps, histograms or derivatives
// On failure *fit holds the plane type, zeros and whatever had been computed by then.
ErrorCode fit_robust_plane(const PhaseMap& map, const Window* window, SurfaceFit* fit,
                           int32_t bins);

// The same with its scratch in `storage` (2 bytes a pixel and 20 a column of the window, at
// least 293 KiB), which the caller keeps from call to call; ERR_NO_MEM also when it cannot grow
// to it.
ErrorCode fit_robust_plane(const PhaseMap& map, const Window* window, SurfaceFit* fit,
                           int32_t bins, SurfaceWorkspace& storage);

// The robust plane of `map` over its own window in the coordinates of `frame`, which must hold
// that window (else ERR_IMPROPER_WINDOW): bit for bit the fit over the frame of a frame-sized
// field holding the map's values and invalid values everywhere else, while only the map's pixels
// are read and only its window's scratch (as above, in `storage`) is held. Without
// options.residual the rms stays 0, for callers that only subtract the plane; every other field
// is the same. Codes as fit_robust_plane.
ErrorCode fit_robust_plane_in_frame(const PhaseMap& map, const Window& frame, SurfaceFit* fit,
                                    int32_t bins, SurfaceWorkspace& storage,
                                    const FitOptions& options = FitOptions{});

}  // namespace harnix

#endif  // HARNIX_FIT_ROBUST_PLANE_H_
