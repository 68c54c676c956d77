// Conversions between phase counts and heights.
//
// Phase to height is exact: every 32-bit integer is a double. Height to phase takes v in
// [-2^26, 2^26 - 1] to (v + 0.5) truncated for v >= 0 and (v - 0.5) truncated below, so halves go
// away from zero. The sum is a rounded double addition, so the largest double below one half
// becomes 1, not 0. Every result fits in 32 bits; everything else, NaN included, becomes the
// phase marker.
#include <cstddef>

#include "maps/element_ops.h"
#include "maps/storage.h"

namespace harnix {

namespace {

// Checks shared by both directions: equal windows, and storage that covers them.
template <typename From, typename To>
ErrorCode check_pair(const From& from, const To& to, std::size_t* n) {
  if (window_relation(from.window, to.window) != WindowRelation::WN_EQUAL)
    return ERR_WINDOWS_MISMATCHED;
  if (!map_holds_window(from) || !map_holds_window(to)) return ERR_IMPROPER_WINDOW;
  *n = static_cast<std::size_t>(from.window.width) * static_cast<std::size_t>(from.window.height);
  return NO_ERROR;
}

}  // namespace

ErrorCode phase_to_real(const PhaseMap& p, RealMap& r) {
  std::size_t n = 0;
  const ErrorCode rc = check_pair(p, r, &n);
  if (rc != NO_ERROR) return rc;
  const int32_t* from = p.matrix;
  double* to = r.matrix;
  for (std::size_t i = 0; i < n; ++i) {
    const int32_t v = from[i];
    to[i] = v < PHASE_INVALID ? static_cast<double>(v) : REAL_INVALID;
  }
  return NO_ERROR;
}

ErrorCode real_to_phase(const RealMap& r, PhaseMap& p) {
  std::size_t n = 0;
  const ErrorCode rc = check_pair(r, p, &n);
  if (rc != NO_ERROR) return rc;
  const double* from = r.matrix;
  int32_t* to = p.matrix;
  for (std::size_t i = 0; i < n; ++i) {
    const double v = from[i];
    // NaN fails both comparisons and so is out of range.
    const bool in_range = v >= PHASE_MIN_VALUE && v <= PHASE_MAX_VALUE;
    const double rounded = v >= 0.0 ? v + 0.5 : v - 0.5;
    // Only an in-range value reaches the conversion: converting anything else would be undefined.
    const double safe = in_range ? rounded : 0.0;
    const int32_t q = static_cast<int32_t>(safe);
    to[i] = in_range ? q : PHASE_INVALID;
  }
  return NO_ERROR;
}

}  // namespace harnix
