// Element-wise operations on maps. Each is one pass in storage order and leaves every invalid
// point invalid. Operations that read a region require it WN_INSIDE or WN_EQUAL to the map's
// window (else ERR_IMPROPER_WINDOW); operations that combine whole maps require WN_EQUAL windows
// (else ERR_WINDOWS_MISMATCHED). Inputs come first, outputs last.
#ifndef HARNIX_MAPS_ELEMENT_OPS_H_
#define HARNIX_MAPS_ELEMENT_OPS_H_

#include "cli/error_codes.h"
#include "maps/map_types.h"

// Copies every element; windows must be equal.
ErrorCode phase_map_copy(const PhaseMap& src, PhaseMap& dst);

// Copies the sub-window `sw` of src to the sub-window `dw` of dst; each must lie in its map and
// both must have the same width and height, else ERR_IMPROPER_WINDOW. They may lie at different
// places.
ErrorCode phase_map_copy_window(const PhaseMap& src, const Window& sw, PhaseMap& dst,
                                const Window& dw);

// Smallest and largest valid value; ERR_ALL_BAD_DATA when there is none.
ErrorCode phase_map_min_max(const PhaseMap& m, int32_t* smallest, int32_t* largest);

// Smallest window holding every valid point of `w` (of the whole map when w is nullptr). *out is
// zeroed first and stays zero with ERR_ALL_BAD_DATA when there is no valid point.
ErrorCode phase_map_valid_window(const PhaseMap& m, const Window* w, Window* out);

// Valid phase values become their exact doubles; invalid ones REAL_INVALID.
ErrorCode phase_to_real(const PhaseMap& p, RealMap& r);

// Values in [-67108864, 67108863] become the nearest integer, halves away from zero; every other
// value (REAL_INVALID and NaN included) becomes PHASE_INVALID.
ErrorCode real_to_phase(const RealMap& r, PhaseMap& p);

// Multiplies each valid value by f. A product at or beyond +-REAL_INVALID stops the pass with
// ERR_FP_OVERFLOW, leaving that value and all later ones unchanged.
ErrorCode real_map_scale(RealMap& m, double f);

// Squares each valid value; a square >= REAL_INVALID stops the pass with ERR_FP_OVERFLOW.
ErrorCode real_map_square(RealMap& m);

// Each valid v > 0 becomes sqrt(v), each valid v <= 0 becomes 0.
void real_map_sqrt(RealMap& m);

// Adds the valid values of src into sum and cnt over the pixels the src and sum windows share:
// where the count is 0 the sum becomes v and the count 1, else sum += v and count += 1. A sum
// beyond +-REAL_INVALID stops with ERR_FP_OVERFLOW (that pixel's count is not raised).
// ERR_WINDOWS_DISJOINT when src and sum share no pixel; ERR_WINDOWS_MISMATCHED when sum and cnt
// differ.
ErrorCode real_map_accumulate(const RealMap& src, RealMap& sum, CountMap& cnt);

// out = sum / count where the sum is valid and the count reaches max(1, k); REAL_INVALID
// elsewhere.
ErrorCode real_map_average(RealMap& out, const RealMap& sum, const CountMap& cnt, int16_t k);

// out = a - b where both are valid and the difference is finite within +-REAL_INVALID;
// REAL_INVALID elsewhere. ERR_NO_MEM when its row tables cannot be obtained.
ErrorCode real_map_subtract(const RealMap& a, const RealMap& b, RealMap& out);

#endif  // HARNIX_MAPS_ELEMENT_OPS_H_
