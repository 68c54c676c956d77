// Adding one input to the averaging run's sums.
#ifndef HARNIX_AVERAGING_INPUT_SUMS_H_
#define HARNIX_AVERAGING_INPUT_SUMS_H_

#include <cstdint>

#include "averaging/band_team.h"
#include "averaging/settings.h"
#include "averaging/working_maps.h"
#include "base/error_codes.h"
#include "maps/map_types.h"

namespace harnix {

// Inputs are scaled when their factor lies farther than this from 1, so that inputs taken like
// the first are neither multiplied nor re-rounded.
constexpr double SCALE_FACTOR_EPSILON = 1e-10;

// Adds `input` (a phase map in its own window, host order) to the sums of `maps` exactly as this
// chain over camera-sized maps would: place it in the camera field (invalid outside its window);
// convert to heights; scale them by f when |f - 1| > SCALE_FACTOR_EPSILON; accumulate them into
// sum_avg/count_avg; and, with a deviation, round the scaled heights back to phase counts,
// remove the best-fit surface of `remove_mode` (removal_fit_mode) from the camera field
// with remove_best_fit, whose failure (but for a lack of memory) removes nothing, and accumulate
// the values and their squares into the deviation sums. Only the input's window is visited: the
// rest of the field is invalid for this input and changes nothing. The input's values become its
// deviation values.
//   ERR_IMPROPER_WINDOW     the input's window does not lie in the camera
//   ERR_PARAM_OUT_OF_RANGE  f is not a positive finite number (checked after the window)
//   ERR_FP_OVERFLOW         a scaled value or an average sum reaches +-REAL_INVALID
//   ERR_NO_MEM              the deviation's own sums, or the working storage of the surface
//                           removal, cannot be had
// After a failure the sums are left part-way and only good for releasing. The passes are shared
// among the team's threads (at most MAX_FIT_PARTS); the sums come out the same for any team.
ErrorCode add_input_to_sums(WorkingMaps& maps, PhaseMap& input, double f, RemovalMode remove_mode,
                            BandTeam& team);

// The mode of remove_best_fit (fit/remove.h) that removes the surface of `mode`: the FitType of
// the same shape, ROBUST_PLANE for the robust plane, -1 for RemovalMode::NONE.
int32_t removal_fit_mode(RemovalMode mode);

}  // namespace harnix

#endif  // HARNIX_AVERAGING_INPUT_SUMS_H_
