#include "cli/min_valid_count.h"

#include <cmath>

namespace harnix {

bool resolve_min_valid_count(RunSettings* settings, int32_t num_inputs) {
  if (settings->MinValidPct > 0) {
    double count = std::ceil(num_inputs * settings->MinValidPct / 100.0);
    // Clamp before converting, so that no percentage can overflow the conversion.
    if (!(count >= 1)) count = 1;
    if (count > num_inputs) count = num_inputs;
    settings->MinValidCnt = static_cast<int32_t>(count);
    return true;
  }
  if (settings->MinValidCnt == 0) {
    settings->MinValidCnt = num_inputs;
    return true;
  }
  return settings->MinValidCnt >= 1 && settings->MinValidCnt <= num_inputs;
}

}  // namespace harnix
