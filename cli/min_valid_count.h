// The minimum number of valid inputs a pixel needs for an average or deviation result.
#ifndef HARNIX_CLI_MIN_VALID_COUNT_H_
#define HARNIX_CLI_MIN_VALID_COUNT_H_

#include <cstdint>

#include "averaging/settings.h"

namespace harnix {

// Resolves settings->MinValidCnt for `num_inputs` (N) input files:
// - MinValidPct > 0: the count is ceil(N * MinValidPct / 100) in double precision, brought into
//   [1, N]; it replaces any MinValidCnt given, which is then never range-tested.
// - otherwise MinValidCnt 0 (not given, or given as 0) becomes N: every input must be valid.
// - otherwise MinValidCnt must lie in [1, N].
// Returns false, leaving MinValidCnt as given, only in the last case when it is out of range.
// Prints nothing.
bool resolve_min_valid_count(RunSettings* settings, int32_t num_inputs);

}  // namespace harnix

#endif  // HARNIX_CLI_MIN_VALID_COUNT_H_
