// Per-pixel rejection the slow way, from its description alone: at each pixel, in long double,
// each kept value against the mean and sample deviation of the other kept values, round after
// round. Shares no code with the program.
#ifndef HARNIX_TESTS_REFERENCE_REJECTION_REFERENCE_H_
#define HARNIX_TESTS_REFERENCE_REJECTION_REFERENCE_H_

#include <cstdint>
#include <vector>

#include "support/planoryx_bytes.h"

namespace harnix {

struct RejectionReference {
  // rejected[i][j]: value j of input i's window (row-major) was rejected.
  std::vector<std::vector<bool>> rejected;
  std::vector<int64_t> per_round;  // values rejected in each round run (the last may be 0)
  std::vector<int32_t> counts;     // camera row-major: rejected values, invalid where none valid
};

// Rounds at most `rounds`, stopping after a round that rejects nothing. A kept value x among n
// >= 3 is rejected when |x - mu| > k max(s, 1), mu and s the mean and the sample standard
// deviation (divisor n - 2) of the other n - 1 kept values.
RejectionReference reference_rejection(const std::vector<MeasurementFile>& inputs,
                                       int32_t phase_res, double k, int rounds);

// The inputs with every rejected value made invalid.
std::vector<MeasurementFile> without_rejected(std::vector<MeasurementFile> inputs,
                                              const RejectionReference& reference);

}  // namespace harnix

#endif  // HARNIX_TESTS_REFERENCE_REJECTION_REFERENCE_H_
