// Relative difference against the mean of the two values:
//   d = |a - b| * 100 / |(a + b) / 2|, agree when d <= t.
// The magnitude of the mean keeps values of negative or opposite sign from giving a negative d
// that would agree with anything, and asking for d <= t (rather than refusing d > t) makes a NaN
// or an infinite difference disagree instead of slipping through a false comparison.
#include "averaging/tolerance.h"

#include <cmath>

namespace harnix {

bool within_tolerance(double reference, double value, double percent) {
  if (reference == value) return true;
  if (reference == 0.0 || value == 0.0) return false;
  const double mean = (reference + value) / 2.0;
  const double difference = std::fabs(reference - value) * 100.0 / std::fabs(mean);
  return difference <= percent;
}

}  // namespace harnix
