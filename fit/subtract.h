// Subtraction of a fitted surface from a phase map in fixed point.
#ifndef HARNIX_FIT_SUBTRACT_H_
#define HARNIX_FIT_SUBTRACT_H_

#include <cstddef>
#include <cstdint>

#include "base/error_codes.h"
#include "fit/fit_model.h"
#include "fit/workspace.h"
#include "maps/map_view.h"

namespace harnix {

// Bits of the fraction of the fixed-point pairs that carry the surface from pixel to pixel.
constexpr int32_t SURFACE_FRACTION_BITS = 30;

// Subtracts the surface `fit` describes from every valid value of the view, in place, in the
// coordinates of `frame`: each valid value loses the integer nearest the surface at that pixel.
// The surface is evaluated in the fit's own coordinates, x = column - center_x and
// y = row - center_y (a negative center_x or center_y stands for window_center of the frame in
// that axis), so a fit made over one window continues unchanged over any other window of the
// same field. The view lies within the frame: one call serves a map over its own window
// (frame = the view's window) and a window of a larger field (frame = the field: what the call
// over the field holding the view's values and invalid values elsewhere does to the view's
// pixels, while only those are read and written).
//
// The surface is carried in fixed point: a pair (I, F) stands for I + F / 2^30, where splitting
// a double v gives I = v truncated and F = (v - I) 2^30 truncated. Integer additions advance the
// pairs from pixel to pixel and row to row, every pair formed as if stepped from the frame's
// first column and row; per pixel there is no floating point. A pair rounds to I + 1 when
// F >= 2^29, to I - 1 when F <= -2^29 and otherwise to I, so an exact half moves away from I,
// which is toward zero where I and F differ in sign. The piston's offset is rounded once, halves
// away from zero. Each split loses less than 2^-30 and the steps add that once per pixel or row
// they pass, so against the surface rounded half away from zero the integer removed differs
// only by one, and only at an exact half or where the surface lies within
// (2 + width + height) 2^-30 (plus the rounding of the per-row and per-column double
// evaluations) of a half.
//
// Out-of-range results are defined: the integer parts are carried in 64 bits, and a pixel whose
// difference would fall below -2^31 or reach PHASE_INVALID keeps its value. Coordinates are
// formed in 32-bit arithmetic, never wrapped to 16 bits.
//
// Returns NO_ERROR; on any error the view is unchanged:
//   ERR_PARAM_OUT_OF_RANGE  fit.type outside 0..3
//   ERR_IMPROPER_WINDOW     a view with pixels that does not lie within the frame
//   ERR_FP_OVERFLOW         a coefficient is not finite, or the surface over the frame may
//                           reach 2^52 in magnitude (no fit of phase data comes near)
//   ERR_NO_MEM              the workspace cannot grow (sphere and cylinder)
// Invalid values never change; a view without pixels changes nothing (NO_ERROR after the type
// check). Below a surface of 2^29 in magnitude the plane and sphere work in 32-bit lanes; the
// integers subtracted are the same.
ErrorCode remove_surface(PhaseView view, const Window& frame, const SurfaceFit& fit,
                         SurfaceWorkspace& ws);

// remove_surface in ranges of rows, for callers that split the work between threads: the checks,
// the bound and the column tables once, then any ranges of the view's rows, each on its own and
// possibly at the same time as others. Every integer subtracted is the one remove_surface
// subtracts, however the rows are split.
struct SubtractionPlan {
  PhaseView view;  // without pixels: nothing to subtract
  SurfaceFit fit;
  int32_t x0;  // coordinates of the frame's first column and row
  int32_t y0;
  int32_t col;  // the view's first column and row within the frame
  int32_t row;
  bool narrow;                // the surface stays below 2^29: 32-bit lanes
  void* tables;               // column tables, in the caller's workspace
  void* scratch;              // one area per range subtracted at the same time (the cylinder's)
  std::size_t scratch_bytes;  // of each area
};

// Bytes of workspace a subtraction plan of `type` over `cols` columns with `ranges` ranges at
// once takes: reserved beforehand, subtraction_begin cannot fail for want of memory.
std::size_t subtraction_bytes(FitType type, int32_t cols, int32_t ranges);

// The checks of remove_surface (the same codes, the view unchanged on every one), then the
// column tables and the scratch of `ranges` ranges subtracted at the same time (at least 1) in
// the workspace (ERR_NO_MEM), which must not be used for anything else, nor grown, while the
// plan is in use. A view without pixels gives NO_ERROR and a plan that subtracts nothing.
ErrorCode subtraction_begin(PhaseView view, const Window& frame, const SurfaceFit& fit,
                            int32_t ranges, SurfaceWorkspace& ws, SubtractionPlan* plan);

// Subtracts the surface from rows first_row .. first_row + rows - 1 of the plan's view, with the
// scratch area `slot` (0 .. ranges - 1). Ranges that do not overlap may be subtracted at the
// same time, each with a slot of its own. Never fails.
void subtract_rows(const SubtractionPlan& plan, int32_t slot, int32_t first_row, int32_t rows);

// The totals of the valid values that rows first_row .. first_row + rows - 1 of the plan's view
// would hold after subtract_rows, row k's in totals[k], while the view is only read: the totals
// of the values, bit for bit, that subtract_rows would write. The squares only with `squares`
// (else 0). Needs a plan of a plane with pixels. Never fails.
void subtracted_totals(const SubtractionPlan& plan, int32_t first_row, int32_t rows, bool squares,
                       ValueTotals* totals);

// subtraction_begin for a view that is only read, by subtracted_totals: never give the plan to
// subtract_rows.
ErrorCode reading_plan_begin(ConstPhaseView view, const Window& frame, const SurfaceFit& fit,
                             SurfaceWorkspace& ws, SubtractionPlan* plan);

}  // namespace harnix

#endif  // HARNIX_FIT_SUBTRACT_H_
