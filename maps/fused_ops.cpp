// Fused element operations. Each loop is the chain of element operations it replaces written
// out for one element, with the same expressions in the same order, so every double is rounded
// as there; choices are selects rather than branches, so the loops run on vector registers.
//
// Per element, with v a phase value, s a sum, c a count, L = REAL_INVALID:
//   accumulate:  s += v, c += 1                   (v valid)
//   squares:     s += v, q += v * v, c += 1       (v valid)
//   scaled:      h = v f; s += h; c += 1; out = round(h) in [-2^26, 2^26 - 1], else the marker
//   average:     round(s / c)                     (s < L and c >= k)
//   deviation:   round(sqrt(max(0, (q - s^2 / c) / c)))   (each step as its element operation)
#include "maps/fused_ops.h"

#include <cmath>

#include "maps/map_types.h"

namespace {

constexpr double LIMIT = REAL_INVALID;

// real_to_phase of one value.
inline int32_t to_phase(double v) {
  const bool in_range = v >= PHASE_MIN_VALUE && v <= PHASE_MAX_VALUE;  // false for NaN
  const double rounded = v >= 0.0 ? v + 0.5 : v - 0.5;
  const int32_t q = static_cast<int32_t>(in_range ? rounded : 0.0);
  return in_range ? q : PHASE_INVALID;
}

inline int16_t raised(int16_t count, bool valid) {
  return static_cast<int16_t>(count + static_cast<int32_t>(valid));
}

}  // namespace

void accumulate_phase_span(const int32_t* values, std::size_t n, double* sum, int16_t* count) {
  for (std::size_t i = 0; i < n; ++i) {
    const int32_t v = values[i];
    const bool valid = v < PHASE_INVALID;
    // Adding 0.0 leaves a sum as it is (no sum is -0.0).
    sum[i] += valid ? static_cast<double>(v) : 0.0;
    count[i] = raised(count[i], valid);
  }
}

void accumulate_phase_squares_span(const int32_t* values, std::size_t n, double* sum,
                                   int16_t* count, double* sum_sq) {
  for (std::size_t i = 0; i < n; ++i) {
    const int32_t v = values[i];
    const bool valid = v < PHASE_INVALID;
    const double d = valid ? static_cast<double>(v) : 0.0;
    sum[i] += d;
    sum_sq[i] += d * d;
    count[i] = raised(count[i], valid);
  }
}

ErrorCode accumulate_scaled_span(const int32_t* values, std::size_t n, double f, double* sum,
                                 int16_t* count, int32_t* out) {
  // A flag kept as a double and set by a select, the form that vectorises on any x86-64.
  double over = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    const int32_t v = values[i];
    const bool valid = v < PHASE_INVALID;
    const double h = static_cast<double>(v) * f;
    const double s = sum[i] + (valid ? h : 0.0);
    // real_map_scale refuses |h| >= L, real_map_accumulate a sum beyond L.
    over = valid & ((std::fabs(h) >= LIMIT) | (std::fabs(s) > LIMIT)) ? 1.0 : over;
    sum[i] = s;
    count[i] = raised(count[i], valid);
  }
  if (over != 0.0) return ERR_FP_OVERFLOW;
  if (out != nullptr) {
    for (std::size_t i = 0; i < n; ++i) {
      const int32_t v = values[i];
      const int32_t q = to_phase(static_cast<double>(v) * f);
      out[i] = v < PHASE_INVALID ? q : PHASE_INVALID;
    }
  }
  return NO_ERROR;
}

void average_to_phase_span(const double* sum, const int16_t* count, int16_t k, std::size_t n,
                           int32_t* out) {
  const int16_t minimum = k < 1 ? int16_t{1} : k;
  for (std::size_t i = 0; i < n; ++i) {
    const double total = sum[i];
    const int16_t c = count[i];
    const double mean = total / static_cast<double>(c);
    out[i] = to_phase((total < LIMIT) & (c >= minimum) ? mean : REAL_INVALID);
  }
}

ErrorCode deviation_to_phase_span(const double* sum, const double* sum_sq, const int16_t* count,
                                  int16_t k, std::size_t n, int32_t* out) {
  const int16_t minimum = k < 1 ? int16_t{1} : k;
  double over = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    const double total = sum[i];
    const int16_t c = count[i];
    const bool enough = c >= minimum;
    // real_map_square of the sum.
    const double square = total * total;
    over = (total < LIMIT) & (std::fabs(square) >= LIMIT) ? 1.0 : over;
    const double squared = total < LIMIT ? square : total;
    // real_map_average: (sum x)^2 / n.
    const double m1 = (squared < LIMIT) & enough ? squared / static_cast<double>(c) : REAL_INVALID;
    // real_map_subtract from the sum of squares.
    const double q = sum_sq[i];
    const double diff = q - m1;
    const double d = (q < LIMIT) & (m1 < LIMIT) & (std::fabs(diff) <= LIMIT) ? diff : REAL_INVALID;
    // real_map_average, then real_map_sqrt.
    const double variance = (d < LIMIT) & enough ? d / static_cast<double>(c) : REAL_INVALID;
    const double root = std::sqrt(variance > 0.0 ? variance : 0.0);
    out[i] = to_phase(variance < LIMIT ? root : variance);
  }
  return over != 0.0 ? ERR_FP_OVERFLOW : NO_ERROR;
}

void count_to_phase_span(const int16_t* count, std::size_t n, int32_t* out) {
  for (std::size_t i = 0; i < n; ++i) out[i] = count[i] != 0 ? count[i] : PHASE_INVALID;
}
