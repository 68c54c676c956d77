// Subtraction of a fitted surface from a phase map in fixed point.
#ifndef HARNIX_FIT_SUBTRACT_H_
#define HARNIX_FIT_SUBTRACT_H_

#include <cstdint>

#include "base/error_codes.h"
#include "fit/fit_model.h"
#include "maps/map_types.h"

namespace harnix {

// Bits of the fraction of the fixed-point pairs that carry the surface from pixel to pixel.
constexpr int32_t SURFACE_FRACTION_BITS = 30;

// Largest column count of a window: the sphere and cylinder keep one table entry per column.
constexpr int32_t MAX_SURFACE_COLUMNS = 32768;

// Subtracts the surface `fit` describes from every valid value of `map` inside `window`, in
// place: each valid value loses the integer nearest the surface at that pixel. The surface is
// evaluated in the fit's own coordinates, x = column - center_x and y = row - center_y (a
// negative center_x or center_y stands for window_center of `window` in that axis), so a fit
// made over one window continues unchanged over any other window of the same map.
//
// The surface is carried in fixed point: a pair (I, F) stands for I + F / 2^30, where splitting
// a double v gives I = v truncated and F = (v - I) 2^30 truncated. Integer additions advance the
// pairs from pixel to pixel and row to row; per pixel there is no floating point. A pair rounds
// to I + 1 when F >= 2^29, to I - 1 when F <= -2^29 and otherwise to I, so an exact half moves
// away from I, which is toward zero where I and F differ in sign. The piston's offset is
// rounded once, halves away from zero. Each split loses less than 2^-30 and the steps add that
// once per pixel or row they pass, so against the surface rounded half away from zero the
// integer removed differs only by one, and only at an exact half or where the surface lies
// within (2 + width + height) 2^-30 (plus the rounding of the per-row and per-column double
// evaluations) of a half.
//
// Out-of-range results are defined: the integer parts are carried in 64 bits, and a pixel whose
// difference would fall below -2^31 or reach PHASE_INVALID keeps its value. Coordinates are
// formed in 32-bit arithmetic, never wrapped to 16 bits.
//
// Returns NO_ERROR; on any error the map is unchanged:
//   ERR_PARAM_OUT_OF_RANGE  fit.type outside 0..3
//   ERR_IMPROPER_WINDOW     window neither inside nor equal to the map's window
//   ERR_FP_OVERFLOW         a coefficient is not finite, or the surface over the window may
//                           reach 2^52 in magnitude (no fit of phase data comes near)
// Invalid values never change; a window of zero width or height inside the map changes nothing.
// Precondition: the map holds storage for its window. No heap allocation; the per-column tables and
// row starts are working storage of the call (about 1 MiB of stack). Below a surface of 2^29 in
// magnitude the plane and sphere work in 32-bit lanes; the integers subtracted are the same.
ErrorCode remove_surface(PhaseMap& map, const Window& window, const SurfaceFit& fit);

// What remove_surface(padded, window, fit) does to the pixels of map.window, where `padded` is a
// map over `window` holding map's values inside map.window and invalid values everywhere else:
// the pairs are formed as over the whole of `window` (so every integer subtracted is the same),
// but only map.window is read and written, and the work follows its size. Codes and the bound
// are those of that call:
//   ERR_PARAM_OUT_OF_RANGE  fit.type outside 0..3
//   ERR_IMPROPER_WINDOW     `window` of no width or height, or a map window with pixels that
//                           does not lie inside `window`
//   ERR_FP_OVERFLOW         as remove_surface, for the surface over `window`
// The map is unchanged on any error; a map window without pixels changes nothing.
// Precondition: the map holds storage for its window.
ErrorCode remove_surface_padded(PhaseMap& map, const Window& window, const SurfaceFit& fit);

}  // namespace harnix

#endif  // HARNIX_FIT_SUBTRACT_H_
