// Fused element operations. Each runs the chain of element operations it replaces with the same
// expressions in the same order, so every double is rounded as there; choices are selects
// rather than branches, so the loops run on vector registers. The accumulations are one loop
// per span; the results go a chunk of 1024 elements at a time through one short loop per step
// of the chain, since the compiler does not vectorise the whole chain as one loop.
//
// Per element, with v a phase value, s a sum, c a count, L = REAL_INVALID:
//   accumulate:  s += v, c += 1                   (v valid)
//   squares:     s += v, q += v * v, c += 1       (v valid)
//   scaled:      h = v f; s += h; c += 1; out = round(h) in [-2^26, 2^26 - 1], else the marker
//   average:     round(s / c)                     (s < L and c >= k)
//   deviation:   round(sqrt(max(0, (q - s^2 / c) / c)))   (each step as its element operation)
#include "maps/fused_ops.h"

#include <algorithm>
#include <cmath>

#include "base/vector_clones.h"
#include "maps/map_types.h"

namespace harnix {

namespace {

constexpr double LIMIT = REAL_INVALID;

// real_to_phase of one value.
inline int32_t to_phase(double v) {
  const bool in_range = v >= PHASE_MIN_VALUE && v <= PHASE_MAX_VALUE;  // false for NaN
  const double rounded = v >= 0.0 ? v + 0.5 : v - 0.5;
  const int32_t q = static_cast<int32_t>(in_range ? rounded : 0.0);
  return in_range ? q : PHASE_INVALID;
}

// Elements of a chunk of results: 8 KiB of doubles stay in L1.
constexpr std::size_t CHUNK = 1024;

void to_phase_chunk(const double* v, std::size_t n, int32_t* out) {
  for (std::size_t i = 0; i < n; ++i) out[i] = to_phase(v[i]);
}

inline int16_t raised(int16_t count, bool valid) {
  return static_cast<int16_t>(count + static_cast<int32_t>(valid));
}

}  // namespace

HARNIX_VECTOR_CLONES void accumulate_phase_span(const int32_t* values, std::size_t n, double* sum,
                                                int16_t* count) {
  for (std::size_t i = 0; i < n; ++i) {
    const int32_t v = values[i];
    const bool valid = v < PHASE_INVALID;
    // Adding 0.0 leaves a sum as it is (no sum is -0.0).
    sum[i] += valid ? static_cast<double>(v) : 0.0;
    count[i] = raised(count[i], valid);
  }
}

HARNIX_VECTOR_CLONES void accumulate_phase_squares_span(const int32_t* values, std::size_t n,
                                                        double* sum, int16_t* count,
                                                        double* sum_sq) {
  for (std::size_t i = 0; i < n; ++i) {
    const int32_t v = values[i];
    const bool valid = v < PHASE_INVALID;
    const double d = valid ? static_cast<double>(v) : 0.0;
    sum[i] += d;
    sum_sq[i] += d * d;
    count[i] = raised(count[i], valid);
  }
}

HARNIX_VECTOR_CLONES ErrorCode accumulate_scaled_span(const int32_t* values, std::size_t n,
                                                      double f, double* sum, int16_t* count,
                                                      int32_t* out) {
  int64_t over = 0;  // an integer flag: with the 16-bit counts, a double one stops vectorising
  for (std::size_t i = 0; i < n; ++i) {
    const int32_t v = values[i];
    const bool valid = v < PHASE_INVALID;
    const double h = static_cast<double>(v) * f;
    const double s = sum[i] + (valid ? h : 0.0);
    // real_map_scale refuses |h| >= L, real_map_accumulate a sum beyond L.
    over |= valid & ((std::fabs(h) >= LIMIT) | (std::fabs(s) > LIMIT));
    sum[i] = s;
    count[i] = raised(count[i], valid);
  }
  if (over != 0) return ERR_FP_OVERFLOW;
  if (out != nullptr) {
    for (std::size_t i = 0; i < n; ++i) {
      const int32_t v = values[i];
      const int32_t q = to_phase(static_cast<double>(v) * f);
      out[i] = v < PHASE_INVALID ? q : PHASE_INVALID;
    }
  }
  return NO_ERROR;
}

HARNIX_VECTOR_CLONES void average_to_phase_span(const double* sum, const int16_t* count, int16_t k,
                                                std::size_t n, int32_t* out) {
  const int16_t minimum = k < 1 ? int16_t{1} : k;
  double mean[CHUNK];
  for (std::size_t base = 0; base < n; base += CHUNK) {
    const std::size_t len = std::min(CHUNK, n - base);
    const double* s = sum + base;
    const int16_t* c = count + base;
    for (std::size_t i = 0; i < len; ++i) {
      const double quotient = s[i] / static_cast<double>(c[i]);
      mean[i] = (s[i] < LIMIT) & (c[i] >= minimum) ? quotient : REAL_INVALID;
    }
    to_phase_chunk(mean, len, out + base);
  }
}

HARNIX_VECTOR_CLONES ErrorCode deviation_to_phase_span(const double* sum, const double* sum_sq,
                                                       const int16_t* count, int16_t k,
                                                       std::size_t n, int32_t* out) {
  const int16_t minimum = k < 1 ? int16_t{1} : k;
  double over = 0.0;  // a flag set by a select: the form that vectorises beside doubles alone
  // As one loop the compiler would look through the selects of earlier steps and branch.
  double a[CHUNK];
  for (std::size_t base = 0; base < n; base += CHUNK) {
    const std::size_t len = std::min(CHUNK, n - base);
    const double* s = sum + base;
    const double* q = sum_sq + base;
    const int16_t* c = count + base;
    // real_map_square of the sum, then real_map_average: (sum x)^2 / n.
    for (std::size_t i = 0; i < len; ++i) {
      const double square = s[i] * s[i];
      over = (s[i] < LIMIT) & (std::fabs(square) >= LIMIT) ? 1.0 : over;
      a[i] = s[i] < LIMIT ? square : s[i];
    }
    for (std::size_t i = 0; i < len; ++i) {
      const double mean = a[i] / static_cast<double>(c[i]);
      a[i] = (a[i] < LIMIT) & (c[i] >= minimum) ? mean : REAL_INVALID;
    }
    // real_map_subtract from the sum of squares.
    for (std::size_t i = 0; i < len; ++i) {
      const double diff = q[i] - a[i];
      a[i] = (q[i] < LIMIT) & (a[i] < LIMIT) & (std::fabs(diff) <= LIMIT) ? diff : REAL_INVALID;
    }
    // real_map_average, then real_map_sqrt.
    for (std::size_t i = 0; i < len; ++i) {
      const double mean = a[i] / static_cast<double>(c[i]);
      a[i] = (a[i] < LIMIT) & (c[i] >= minimum) ? mean : REAL_INVALID;
    }
    for (std::size_t i = 0; i < len; ++i) {
      const double root = std::sqrt(a[i] > 0.0 ? a[i] : 0.0);
      a[i] = a[i] < LIMIT ? root : a[i];
    }
    to_phase_chunk(a, len, out + base);
  }
  return over != 0.0 ? ERR_FP_OVERFLOW : NO_ERROR;
}

HARNIX_VECTOR_CLONES void count_to_phase_span(const int16_t* count, std::size_t n, int32_t* out) {
  for (std::size_t i = 0; i < n; ++i) out[i] = count[i] != 0 ? count[i] : PHASE_INVALID;
}

}  // namespace harnix
