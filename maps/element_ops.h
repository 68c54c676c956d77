// Element-wise operations on maps. Each is one pass in storage order, allocates nothing and
// leaves every invalid point invalid. Operations that read a region require it WN_INSIDE or
// WN_EQUAL to the map's window (else ERR_IMPROPER_WINDOW); operations that combine whole maps
// require WN_EQUAL windows (else ERR_WINDOWS_MISMATCHED).
// Inputs come first, outputs last; an output may be the same map as an input of the same kind
// (every operation is element by element).
//
// Storage: a map whose window is not empty must have storage covering it (map_holds_window).
// One that does not is refused with ERR_IMPROPER_WINDOW, after the window checks, and nothing is
// touched; functions returning nothing then do nothing.
#ifndef HARNIX_MAPS_ELEMENT_OPS_H_
#define HARNIX_MAPS_ELEMENT_OPS_H_

#include "base/error_codes.h"
#include "maps/map_types.h"

namespace harnix {

// Copies every element; windows must be equal.
ErrorCode phase_map_copy(const PhaseMap& src, PhaseMap& dst);

// Copies the sub-window `sw` of src to the sub-window `dw` of dst; each must lie in its map and
// both must have the same width and height, else ERR_IMPROPER_WINDOW. They may lie at different
// places, also in the same map. A negative width or height is ERR_IMPROPER_WINDOW; a zero one
// copies nothing.
ErrorCode phase_map_copy_window(const PhaseMap& src, const Window& sw, PhaseMap& dst,
                                const Window& dw);

// Smallest and largest valid value of the map's window; ERR_ALL_BAD_DATA when there is none (an
// empty window included), with *smallest = INT32_MAX and *largest = INT32_MIN.
ErrorCode phase_map_min_max(const PhaseMap& m, int32_t* smallest, int32_t* largest);

// Smallest window holding every valid point of `w` (of the whole map when w is nullptr); `w` must
// lie in the map (else ERR_IMPROPER_WINDOW, *out untouched). *out is zeroed first and stays zero
// with ERR_ALL_BAD_DATA when there is no valid point (a w of no width or height included).
ErrorCode phase_map_valid_window(const PhaseMap& m, const Window* w, Window* out);

// Valid phase values become their exact doubles; invalid ones REAL_INVALID.
ErrorCode phase_to_real(const PhaseMap& p, RealMap& r);

// Values in [-67108864, 67108863] become the nearest integer, halves away from zero; every other
// value (REAL_INVALID and NaN included) becomes PHASE_INVALID.
ErrorCode real_to_phase(const RealMap& r, PhaseMap& p);

// Multiplies each valid value by f. A product at or beyond +-REAL_INVALID stops the pass with
// ERR_FP_OVERFLOW, leaving that value and all later ones unchanged (the earlier ones scaled). A
// NaN product (0 x infinity, or f NaN) is stored: it is invalid from then on.
ErrorCode real_map_scale(RealMap& m, double f);

// Squares each valid value; a square >= REAL_INVALID stops the pass with ERR_FP_OVERFLOW, as for
// real_map_scale.
ErrorCode real_map_square(RealMap& m);

// Each valid v > 0 becomes sqrt(v), each valid v <= 0 becomes 0; invalid values stay.
void real_map_sqrt(RealMap& m);

// Adds the valid values of src into sum and cnt over the pixels the src and sum windows share:
// where the count is 0 the sum becomes v and the count 1, else sum += v and count += 1. A sum
// beyond +-REAL_INVALID is stored and stops the pass with ERR_FP_OVERFLOW (that pixel's count is
// not raised; earlier pixels are added). Pixels of sum outside src's window are untouched.
// ERR_WINDOWS_DISJOINT when src and sum share no pixel; ERR_WINDOWS_MISMATCHED when sum and cnt
// differ; both checked before anything is written.
ErrorCode real_map_accumulate(const RealMap& src, RealMap& sum, CountMap& cnt);

// out = sum / count where the sum is valid and the count reaches max(1, k); REAL_INVALID
// elsewhere.
ErrorCode real_map_average(RealMap& out, const RealMap& sum, const CountMap& cnt, int16_t k);

// out = a - b where both are valid and the difference lies within +-REAL_INVALID; REAL_INVALID
// elsewhere (a NaN difference included).
ErrorCode real_map_subtract(const RealMap& a, const RealMap& b, RealMap& out);

}  // namespace harnix

#endif  // HARNIX_MAPS_ELEMENT_OPS_H_
