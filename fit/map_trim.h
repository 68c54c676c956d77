// Trimming a phase map to a value range, and counting what is left.
//
// Each operation works inside a window of the map: nullptr stands for the map's own window, any
// other window must be WN_EQUAL to it or WN_INSIDE it and have pixels (else ERR_IMPROPER_WINDOW,
// nothing changed). Pixels outside the window are never touched.
#ifndef HARNIX_FIT_MAP_TRIM_H_
#define HARNIX_FIT_MAP_TRIM_H_

#include <cstdint>

#include "base/error_codes.h"
#include "maps/map_types.h"

namespace harnix {

// Every value above `bound` becomes PHASE_INVALID. Since every invalid value lies above any valid
// bound, invalid values are rewritten to exactly PHASE_INVALID as well. ERR_INVALID_PARAM when
// the map has no storage or bound is PHASE_INVALID (checked first), then the window check.
ErrorCode invalidate_above(PhaseMap& map, const Window* window, int32_t bound);

// Every value below `bound` becomes PHASE_INVALID. Failures as invalidate_above.
ErrorCode invalidate_below(PhaseMap& map, const Window* window, int32_t bound);

// *count = the number of values below PHASE_INVALID inside the window; 0 when the call fails.
// ERR_IMPROPER_WINDOW as above; ERR_INVALID_PARAM when the map has pixels but no storage.
ErrorCode count_valid(const PhaseMap& map, const Window* window, int32_t* count);

}  // namespace harnix

#endif  // HARNIX_FIT_MAP_TRIM_H_
