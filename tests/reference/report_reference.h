// The per-input report the slow way, from its description alone: the final average of the kept
// values in long double, and for each input the plane of d = x - a from its full normal
// equations. Shares no code with the program.
#ifndef HARNIX_TESTS_REFERENCE_REPORT_REFERENCE_H_
#define HARNIX_TESTS_REFERENCE_REPORT_REFERENCE_H_

#include <cstdint>
#include <optional>
#include <vector>

#include "reference/rejection_reference.h"
#include "support/planoryx_bytes.h"

namespace harnix {

struct ReportRow {
  int64_t valid = 0, rejected = 0, compared = 0;
  long double mean = 0, rms = 0;              // metres
  std::optional<long double> tilt_x, tilt_y;  // metres per metre
  bool outlier = false;
};

// One row per input; `rejection` (may be null) tells which values the average leaves out.
std::vector<ReportRow> reference_report(const std::vector<MeasurementFile>& inputs,
                                        int32_t min_count, const RejectionReference* rejection);

}  // namespace harnix

#endif  // HARNIX_TESTS_REFERENCE_REPORT_REFERENCE_H_
