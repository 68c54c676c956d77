// The extremes, the sample deviation and the uncertainty of the mean, the slow way: at each
// pixel, in long double, from the list of that pixel's values. Shares no code with the program.
#ifndef HARNIX_TESTS_REFERENCE_COMBINATION_REFERENCE_H_
#define HARNIX_TESTS_REFERENCE_COMBINATION_REFERENCE_H_

#include <cstdint>
#include <vector>

#include "reference/reference_average.h"
#include "support/planoryx_bytes.h"

namespace harnix {

struct CombinationReference {
  ReferenceMap minimum, maximum, range;  // of the values the average adds, F v
  ReferenceMap sample_deviation;         // of the rounded values x, divisor n - 1
  ReferenceMap uncertainty;              // the sample deviation over sqrt(n)
};

// For `inputs` (camera of the first), an output PhaseRes code or -1, and the resolved minimum
// count k: the extremes where a pixel has at least max(1, k) values, the sample deviation and
// uncertainty where it has at least max(2, k); each rounded half away from zero.
CombinationReference reference_combinations(const std::vector<MeasurementFile>& inputs,
                                            int32_t phase_res, int32_t min_count);

// The median of each pixel's values F v (the mean of the two middle ones for an even count) where
// it has at least max(1, k) of them, rounded half away from zero.
ReferenceMap reference_median(const std::vector<MeasurementFile>& inputs, int32_t phase_res,
                              int32_t min_count);

}  // namespace harnix

#endif  // HARNIX_TESTS_REFERENCE_COMBINATION_REFERENCE_H_
