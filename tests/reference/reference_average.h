// A slow, obviously correct per-pixel computation of the three results, for the end-to-end tests
// to compare the program's output files with. It shares no code with the program.
#ifndef HARNIX_TESTS_REFERENCE_REFERENCE_AVERAGE_H_
#define HARNIX_TESTS_REFERENCE_REFERENCE_AVERAGE_H_

#include <cstdint>
#include <vector>

#include "support/planoryx_bytes.h"

namespace harnix {

// One result cut to the bounding window of its valid values (width 0 when it has none).
struct ReferenceMap {
  int x = 0, y = 0, width = 0, height = 0;
  std::vector<int32_t> values;
};

struct ReferenceResults {
  ReferenceMap average, deviation, count;
  int16_t phase_res = 0;  // output code
};

// The results for `inputs` (decoded files, camera of the first), an output PhaseRes code or -1
// for the first input's, and the resolved minimum count. Each input's counts are scaled by
//   F = (S_i R_out O_i L_i) / (R_i S_1 1.0 L_1)
// unless |F - 1| <= 1e-10; the average adds the scaled values, the deviation their rounded
// counts, sqrt((sum x^2 - (sum x)^2 / n) / n).
ReferenceResults reference_average(const std::vector<MeasurementFile>& inputs, int32_t phase_res,
                                   int32_t min_count);

// The value of input f at camera pixel (px, py) as the average adds it, F v (v when F is within
// 1e-10 of 1), with `first` the first input and r_out the output's counts per fringe; false
// where f has no valid value.
bool reference_scaled_value(const MeasurementFile& f, const MeasurementFile& first, double r_out,
                            int px, int py, double* x);

}  // namespace harnix

#endif  // HARNIX_TESTS_REFERENCE_REFERENCE_AVERAGE_H_
