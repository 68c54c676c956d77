// Levelling: the form taken off a phase map before its heights are reported or exported.
//
// A surface s of the chosen kind is fitted to the valid values v of the whole map window, in
// phase counts: the least-squares piston, plane, sphere or cylinder of fit/least_squares.h, or
// the robust plane of fit/robust_plane.h (with ROBUST_PLANE_BINS, as remove_best_fit). Each
// valid value becomes the residual
//   r = v - s(column, row)
// evaluated and subtracted in double precision (fit/surface_value.h): nothing is rounded to
// whole counts. A residual within LEVEL_ROUNDING_RELATIVE times the largest |v| of the map of
// zero is the rounding of the fit's double arithmetic, not surface, and is written as exactly 0,
// so that a surface of the kind removed leaves an exactly flat map.
#ifndef HARNIX_SURFACE_LEVELLING_H_
#define HARNIX_SURFACE_LEVELLING_H_

#include <string>
#include <vector>

#include "maps/map_types.h"

namespace harnix {

enum Levelling {
  LEVEL_NONE,
  LEVEL_PISTON,
  LEVEL_PLANE,
  LEVEL_SPHERE,
  LEVEL_CYLINDER,
  LEVEL_ROBUST
};

// The fits' rounding stays near 2^-46 of the largest valid value (measured on exact surfaces of
// every kind, up to 4000 x 3000 pixels with values near 2^25), so this floor leaves a margin of
// 2^10, and even for the largest valid values (below 2^31) it lies below 1/16 of a count.
constexpr double LEVEL_ROUNDING_RELATIVE = 0x1p-36;

// "none", "piston", "plane", "sphere", "cylinder" or "robust"; false for any other text.
bool parse_levelling(const char* text, Levelling* level);

// The name parse_levelling reads.
const char* levelling_name(Levelling level);

// One value per pixel of the map's window in storage order: the residual in counts at a valid
// point (with LEVEL_NONE the stored value itself), NaN at an invalid one. On failure returns
// false with *values empty and *message set to what went wrong, to follow the quoted file name
// ("cannot be levelled by sphere: ..."). Throws std::bad_alloc when memory runs out.
// Precondition: the map holds storage for its window.
bool level_map(const PhaseMap& map, Levelling level, std::vector<double>* values,
               std::string* message);

}  // namespace harnix

#endif  // HARNIX_SURFACE_LEVELLING_H_
