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
//   levelled:    h = v f - p, p = base + cx (dx + i) the input's level; then as scaled
//   levelled with its deviation: levelled, then squares of its rounded values
//   average:     round(s / c)                     (s < L and c >= k)
//   deviation:   round(sqrt(max(0, (q - s^2 / c) / c)))   (each step as its element operation)
//   sample:      round(sqrt(max(0, (q - s^2 / c) / (c - 1))))            (c >= 2)
//   uncertainty: round(sqrt(max(0, (q - s^2 / c) / (c - 1) / c)))        (c >= 2)
//   extremes:    low = min(low, v f), high = max(high, v f); round(low), round(high - low)
//   in counts:   low = min(low, v), high = max(high, v) on integers; for an integer x,
//                round(x) is x, and high - low of counts below 2^31 is exact in a double, so
//                the results are those of the same extremes held as doubles
#include "maps/fused_ops.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

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

// Element i of a span as a double. A span is one row of a map, at most 2^15 elements: through
// int32_t the conversion vectorises (from a 64-bit count it does not), with the same value.
inline double column(std::size_t i) {
  return static_cast<double>(static_cast<int32_t>(i));
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

HARNIX_VECTOR_CLONES void valid_range_span(const int32_t* values, std::size_t n, int32_t* low,
                                           int32_t* high) {
  // Eight values at a time as GNU vectors: as a plain loop the compiler branches on every value
  // (and as one loop with the sums, whose lanes are twice as wide, vectorises neither).
  typedef int32_t Ints __attribute__((vector_size(32)));
  constexpr int32_t MOST = std::numeric_limits<int32_t>::max();
  constexpr int32_t LEAST = std::numeric_limits<int32_t>::min();
  Ints lo = Ints{} + *low, hi = Ints{} + *high;
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    Ints v;
    __builtin_memcpy(&v, values + i, sizeof v);
    const Ints valid = v < PHASE_INVALID;
    const Ints for_low = valid ? v : Ints{} + MOST, for_high = valid ? v : Ints{} + LEAST;
    lo = for_low < lo ? for_low : lo;
    hi = for_high > hi ? for_high : hi;
  }
  int32_t least = MOST, most = LEAST;
  for (int k = 0; k < 8; ++k) {
    least = std::min(least, lo[k]);
    most = std::max(most, hi[k]);
  }
  for (; i < n; ++i) {
    if (values[i] >= PHASE_INVALID) continue;
    least = std::min(least, values[i]);
    most = std::max(most, values[i]);
  }
  *low = least;
  *high = most;
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

HARNIX_VECTOR_CLONES void extremes_span(const int32_t* values, std::size_t n, double f,
                                        double* low, double* high) {
  // Two loops of one select each: the compiler vectorises either alone.
  if (low != nullptr) {
    for (std::size_t i = 0; i < n; ++i) {
      const double h = static_cast<double>(values[i]) * f;
      low[i] = (values[i] < PHASE_INVALID) & (h < low[i]) ? h : low[i];
    }
  }
  if (high != nullptr) {
    for (std::size_t i = 0; i < n; ++i) {
      const double h = static_cast<double>(values[i]) * f;
      high[i] = (values[i] < PHASE_INVALID) & (h > high[i]) ? h : high[i];
    }
  }
}

HARNIX_VECTOR_CLONES void extremes_counts_span(const int32_t* values, std::size_t n,
                                               int32_t* low, int32_t* high) {
  constexpr int32_t NONE = std::numeric_limits<int32_t>::min();
  // An invalid value needs no select for the minimum: it is above every valid one.
  if (low != nullptr && high != nullptr) {
    for (std::size_t i = 0; i < n; ++i) {
      const int32_t v = values[i];
      low[i] = std::min(low[i], v);
      high[i] = std::max(high[i], v < PHASE_INVALID ? v : NONE);
    }
  } else if (low != nullptr) {
    for (std::size_t i = 0; i < n; ++i) low[i] = std::min(low[i], values[i]);
  } else if (high != nullptr) {
    for (std::size_t i = 0; i < n; ++i)
      high[i] = std::max(high[i], values[i] < PHASE_INVALID ? values[i] : NONE);
  }
}

HARNIX_VECTOR_CLONES ErrorCode accumulate_levelled_span(const int32_t* values, std::size_t n,
                                                        double f, double base, double cx,
                                                        double dx, double* sum, int16_t* count,
                                                        int32_t* out) {
  // A chunk at a time, one short loop per step: the levelled values, the sums and counts, the
  // rounding (as one loop the compiler vectorises none of it well).
  double h[CHUNK];
  int64_t over = 0;
  for (std::size_t first = 0; first < n; first += CHUNK) {
    const std::size_t len = std::min(CHUNK, n - first);
    const int32_t* v = values + first;
    for (std::size_t i = 0; i < len; ++i)
      h[i] = static_cast<double>(v[i]) * f - (base + cx * (dx + column(first + i)));
    double* s = sum + first;
    int16_t* c = count + first;
    for (std::size_t i = 0; i < len; ++i) {
      const bool valid = v[i] < PHASE_INVALID;
      const double t = s[i] + (valid ? h[i] : 0.0);
      over |= valid & ((std::fabs(h[i]) >= LIMIT) | (std::fabs(t) > LIMIT));
      s[i] = t;
      c[i] = raised(c[i], valid);
    }
    if (out != nullptr) {
      int32_t* o = out + first;
      for (std::size_t i = 0; i < len; ++i) {
        const int32_t q = to_phase(h[i]);
        o[i] = v[i] < PHASE_INVALID ? q : PHASE_INVALID;
      }
    }
  }
  return over != 0 ? ERR_FP_OVERFLOW : NO_ERROR;
}

namespace {

// Four elements at a time, as GNU vectors, for the levelled deviation step: as one plain loop the
// compiler vectorises none of its chain, and as a loop a step it reads and writes the values five
// times. Every lane takes the scalar step's operations in its order. The 16-bit counts, whose
// masks GNU vectors narrow element by element, are raised in loops of their own.
typedef double Lanes __attribute__((vector_size(32)));
typedef int64_t LaneMask __attribute__((vector_size(32)));
typedef int32_t LaneInts __attribute__((vector_size(16)));
constexpr std::size_t LANES = 4;

// The marker as a double: exact, and converted back to itself.
constexpr double INVALID_AS_REAL = PHASE_INVALID;

// The lanes of v as doubles (exact). Built lane by lane, the compiler makes it the one vector
// conversion; __builtin_convertvector comes out as two halves and a shuffle. (Through a
// reference: a vector returned would change the default clone's calling convention.)
inline void to_lanes(const LaneInts& v, Lanes& out) {
  out = Lanes{double(v[0]), double(v[1]), double(v[2]), double(v[3])};
}

}  // namespace

namespace {

// Per element: h = v f - (base + cx (dx + i)); the average's sum and count take h where v is
// valid; q = to_phase(h) where v is valid, else the marker, goes to out; the deviation's sum,
// square and count take q where it is valid. The counts from v first: out may be `values`.
// CHECKED tracks the largest |h| and |sum + h| against LIMIT; SCALED multiplies by f (v 1 is v
// itself, so an unscaled input skips the product with the same bits). Without COUNTED every
// valid h rounds within the phase range (the caller has shown it): `count` serves the deviation
// too, and neither out nor dev_count is touched (a value that broke the promise would add
// nothing to the deviation's sums, yet be counted).
template <bool CHECKED, bool SCALED, bool COUNTED = true>
[[gnu::always_inline]] inline ErrorCode levelled_squares_of(
    const int32_t* values, std::size_t n, double f, double base, double cx, double dx,
    double* sum, int16_t* count, double* dev_sum, int16_t* dev_count, double* sum_sq,
    int32_t* out) {
  for (std::size_t i = 0; i < n; ++i) count[i] = raised(count[i], values[i] < PHASE_INVALID);
  const Lanes none = {};
  const Lanes half = none + 0.5;
  const LaneMask sign = LaneMask{} + INT64_MIN;
  // The columns dx + i, whole numbers far below 2^53: stepped by 4, exactly as converted.
  Lanes x = Lanes{0.0, 1.0, 2.0, 3.0} + dx;
  // The largest |h| and |t| of the valid elements, against LIMIT at the end: a NaN, which no
  // comparison with LIMIT would flag, leaves them as they are.
  Lanes worst_h = none, worst_t = none;
  std::size_t i = 0;
  for (; i + LANES <= n; i += LANES, x += 4.0) {
    LaneInts v;
    Lanes s, ds, dq;
    __builtin_memcpy(&v, values + i, sizeof v);
    __builtin_memcpy(&s, sum + i, sizeof s);
    __builtin_memcpy(&ds, dev_sum + i, sizeof ds);
    __builtin_memcpy(&dq, sum_sq + i, sizeof dq);
    Lanes value;
    to_lanes(v, value);
    const Lanes h = (SCALED ? value * f : value) - (base + cx * x);
    const LaneMask valid = value < INVALID_AS_REAL;
    const Lanes added = valid ? h : none;
    const Lanes t = s + added;
    if constexpr (CHECKED) {
      const Lanes abs_h = (Lanes)((LaneMask)added & ~sign);
      const Lanes abs_t = (Lanes)((LaneMask)(valid ? t : none) & ~sign);
      worst_h = abs_h > worst_h ? abs_h : worst_h;
      worst_t = abs_t > worst_t ? abs_t : worst_t;
    }
    // to_phase: the marker outside [-2^26, 2^26 - 1] and for NaN; half away from zero inside,
    // h + 0.5 or h - 0.5 as the sign of h says (-0.0 takes -0.5, and still truncates to 0).
    const LaneMask kept = valid & (h >= PHASE_MIN_VALUE) & (h <= PHASE_MAX_VALUE);
    const Lanes rounded = h + (Lanes)(((LaneMask)h & sign) | (LaneMask)half);
    const Lanes other = COUNTED ? none + INVALID_AS_REAL : none;
    const LaneInts o = __builtin_convertvector(kept ? rounded : other, LaneInts);
    Lanes back;
    to_lanes(o, back);
    const Lanes d = COUNTED ? (kept ? back : none) : back;
    s = t;
    ds += d;
    dq += d * d;
    __builtin_memcpy(sum + i, &s, sizeof s);
    __builtin_memcpy(dev_sum + i, &ds, sizeof ds);
    __builtin_memcpy(sum_sq + i, &dq, sizeof dq);
    if constexpr (COUNTED) __builtin_memcpy(out + i, &o, sizeof o);
  }
  const LaneMask over = (worst_h >= LIMIT) | (worst_t > LIMIT);
  bool tail_over = false;
  for (; i < n; ++i) {
    const int32_t v = values[i];
    const bool valid = v < PHASE_INVALID;
    const double h = static_cast<double>(v) * f - (base + cx * (dx + column(i)));
    const double t = sum[i] + (valid ? h : 0.0);
    tail_over |= valid & ((std::fabs(h) >= LIMIT) | (std::fabs(t) > LIMIT));
    sum[i] = t;
    const int32_t q = valid ? to_phase(h) : PHASE_INVALID;
    const double d = q < PHASE_INVALID ? static_cast<double>(q) : 0.0;
    dev_sum[i] += d;
    sum_sq[i] += d * d;
    if constexpr (COUNTED) out[i] = q;
  }
  if constexpr (COUNTED)
    for (std::size_t k = 0; k < n; ++k) dev_count[k] = raised(dev_count[k], out[k] < PHASE_INVALID);
  if constexpr (!CHECKED) return NO_ERROR;
  const bool any = tail_over || ((over[0] | over[1]) | (over[2] | over[3])) != 0;
  return any ? ERR_FP_OVERFLOW : NO_ERROR;
}

HARNIX_VECTOR_CLONES ErrorCode levelled_squares(const int32_t* values, std::size_t n, double f,
                                                double base, double cx, double dx, double* sum,
                                                int16_t* count, double* dev_sum,
                                                int16_t* dev_count, double* sum_sq, int32_t* out,
                                                bool checked) {
  if (checked)
    return levelled_squares_of<true, true>(values, n, f, base, cx, dx, sum, count, dev_sum,
                                           dev_count, sum_sq, out);
  if (f == 1.0)
    return levelled_squares_of<false, false>(values, n, f, base, cx, dx, sum, count, dev_sum,
                                             dev_count, sum_sq, out);
  return levelled_squares_of<false, true>(values, n, f, base, cx, dx, sum, count, dev_sum,
                                          dev_count, sum_sq, out);
}

HARNIX_VECTOR_CLONES ErrorCode levelled_in_range(const int32_t* values, std::size_t n, double f,
                                                 double base, double cx, double dx, double* sum,
                                                 int16_t* count, double* dev_sum, double* sum_sq,
                                                 bool checked) {
  if (checked)
    return levelled_squares_of<true, true, false>(values, n, f, base, cx, dx, sum, count, dev_sum,
                                                  nullptr, sum_sq, nullptr);
  if (f == 1.0)
    return levelled_squares_of<false, false, false>(values, n, f, base, cx, dx, sum, count,
                                                    dev_sum, nullptr, sum_sq, nullptr);
  return levelled_squares_of<false, true, false>(values, n, f, base, cx, dx, sum, count, dev_sum,
                                                 nullptr, sum_sq, nullptr);
}

}  // namespace

ErrorCode accumulate_levelled_squares_span(const int32_t* values, std::size_t n, double f,
                                           double base, double cx, double dx, double* sum,
                                           int16_t* count, double* dev_sum, int16_t* dev_count,
                                           double* sum_sq, int32_t* out, bool checked) {
  if (dev_count == nullptr)
    return levelled_in_range(values, n, f, base, cx, dx, sum, count, dev_sum, sum_sq, checked);
  if (out != nullptr)
    return levelled_squares(values, n, f, base, cx, dx, sum, count, dev_sum, dev_count, sum_sq,
                            out, checked);
  // The rounded values a chunk at a time in the cache, so that the input's own storage is only
  // read. Each chunk's columns start at dx + first, the same whole number the span reaches
  // there: every element takes the same level, bit for bit.
  int32_t rounded[CHUNK];
  ErrorCode rc = NO_ERROR;
  for (std::size_t first = 0; first < n; first += CHUNK) {
    const std::size_t len = std::min(CHUNK, n - first);
    const ErrorCode chunk_rc =
        levelled_squares(values + first, len, f, base, cx, dx + column(first), sum + first,
                         count + first, dev_sum + first, dev_count + first, sum_sq + first,
                         rounded, checked);
    if (chunk_rc != NO_ERROR) rc = chunk_rc;
  }
  return rc;
}

namespace {

typedef int16_t LaneCounts __attribute__((vector_size(8)));

// The sums (and squares) and the extremes in counts of one span, four elements at a time: as two
// plain loops each reads the values, and the extremes' loop misses the cache on them first; as
// one plain loop the compiler vectorises none of it. Each lane adds as accumulate_phase_span
// (and accumulate_phase_squares_span) does, and takes the minimum and maximum as
// extremes_counts_span; a count is raised by taking away the lane's true mask (-1).
template <bool SQUARES, bool LOW, bool HIGH>
[[gnu::always_inline]] inline void sums_and_extremes(const int32_t* values, std::size_t n,
                                                     double* sum, int16_t* count, double* sum_sq,
                                                     int32_t* low, int32_t* high) {
  constexpr int32_t NONE = std::numeric_limits<int32_t>::min();
  const Lanes zero = {};
  const LaneInts none = LaneInts{} + NONE;
  std::size_t i = 0;
  for (; i + LANES <= n; i += LANES) {
    LaneInts v;
    Lanes s;
    LaneCounts c;
    __builtin_memcpy(&v, values + i, sizeof v);
    __builtin_memcpy(&s, sum + i, sizeof s);
    __builtin_memcpy(&c, count + i, sizeof c);
    const LaneInts valid = v < PHASE_INVALID;
    const Lanes value = __builtin_convertvector(v, Lanes);
    const Lanes d = value < INVALID_AS_REAL ? value : zero;
    s += d;
    c -= __builtin_convertvector(valid, LaneCounts);
    __builtin_memcpy(sum + i, &s, sizeof s);
    __builtin_memcpy(count + i, &c, sizeof c);
    if constexpr (SQUARES) {
      Lanes q;
      __builtin_memcpy(&q, sum_sq + i, sizeof q);
      q += d * d;
      __builtin_memcpy(sum_sq + i, &q, sizeof q);
    }
    if constexpr (LOW) {
      LaneInts lo;
      __builtin_memcpy(&lo, low + i, sizeof lo);
      lo = v < lo ? v : lo;
      __builtin_memcpy(low + i, &lo, sizeof lo);
    }
    if constexpr (HIGH) {
      LaneInts hi;
      __builtin_memcpy(&hi, high + i, sizeof hi);
      const LaneInts kept = valid != 0 ? v : none;
      hi = kept > hi ? kept : hi;
      __builtin_memcpy(high + i, &hi, sizeof hi);
    }
  }
  for (; i < n; ++i) {
    const int32_t v = values[i];
    const bool valid = v < PHASE_INVALID;
    const double d = valid ? static_cast<double>(v) : 0.0;
    sum[i] += d;
    count[i] = raised(count[i], valid);
    if constexpr (SQUARES) sum_sq[i] += d * d;
    if constexpr (LOW) low[i] = std::min(low[i], v);
    if constexpr (HIGH) high[i] = std::max(high[i], valid ? v : NONE);
  }
}

template <bool SQUARES>
[[gnu::always_inline]] inline void sums_and_extremes_of(const int32_t* values, std::size_t n,
                                                        double* sum, int16_t* count,
                                                        double* sum_sq, int32_t* low,
                                                        int32_t* high) {
  if (low != nullptr && high != nullptr) {
    sums_and_extremes<SQUARES, true, true>(values, n, sum, count, sum_sq, low, high);
  } else if (low != nullptr) {
    sums_and_extremes<SQUARES, true, false>(values, n, sum, count, sum_sq, low, high);
  } else if (high != nullptr) {
    sums_and_extremes<SQUARES, false, true>(values, n, sum, count, sum_sq, low, high);
  } else {
    sums_and_extremes<SQUARES, false, false>(values, n, sum, count, sum_sq, low, high);
  }
}

}  // namespace

HARNIX_VECTOR_CLONES void accumulate_phase_extremes_span(const int32_t* values, std::size_t n,
                                                         double* sum, int16_t* count,
                                                         double* sum_sq, int32_t* low,
                                                         int32_t* high) {
  if (sum_sq != nullptr) {
    sums_and_extremes_of<true>(values, n, sum, count, sum_sq, low, high);
  } else {
    sums_and_extremes_of<false>(values, n, sum, count, sum_sq, low, high);
  }
}

HARNIX_VECTOR_CLONES void extremes_levelled_span(const int32_t* values, std::size_t n, double f,
                                                 double base, double cx, double dx, double* low,
                                                 double* high) {
  if (low != nullptr) {
    for (std::size_t i = 0; i < n; ++i) {
      const double h =
          static_cast<double>(values[i]) * f - (base + cx * (dx + column(i)));
      low[i] = (values[i] < PHASE_INVALID) & (h < low[i]) ? h : low[i];
    }
  }
  if (high != nullptr) {
    for (std::size_t i = 0; i < n; ++i) {
      const double h =
          static_cast<double>(values[i]) * f - (base + cx * (dx + column(i)));
      high[i] = (values[i] < PHASE_INVALID) & (h > high[i]) ? h : high[i];
    }
  }
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

namespace {

// The chain of the spreads, the divisor of their last step chosen by `kind`: n for the population
// deviation (the element operations' own chain), n - 1 for the sample, then n again for the
// uncertainty. Inlined into each clone of its callers, so that it vectorises with them.
template <SpreadKind kind>
[[gnu::always_inline]] inline ErrorCode spread_chain(const double* sum, const double* sum_sq,
                                                     const int16_t* count, int16_t k,
                                                     std::size_t n, int32_t* out) {
  // A sample deviation needs two values: its minimum is at least 2.
  constexpr int16_t least = kind == SpreadKind::POPULATION ? 1 : 2;
  const int16_t minimum = k < least ? least : k;
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
    // real_map_average (by n - 1 for the sample), then real_map_sqrt.
    for (std::size_t i = 0; i < len; ++i) {
      const double divisor = static_cast<double>(c[i] - (kind == SpreadKind::POPULATION ? 0 : 1));
      const double mean = a[i] / divisor;
      a[i] = (a[i] < LIMIT) & (c[i] >= minimum) ? mean : REAL_INVALID;
    }
    if constexpr (kind == SpreadKind::MEAN_UNCERTAINTY) {
      for (std::size_t i = 0; i < len; ++i) {
        const double per_mean = a[i] / static_cast<double>(c[i]);
        a[i] = a[i] < LIMIT ? per_mean : a[i];
      }
    }
    for (std::size_t i = 0; i < len; ++i) {
      const double root = std::sqrt(a[i] > 0.0 ? a[i] : 0.0);
      a[i] = a[i] < LIMIT ? root : a[i];
    }
    to_phase_chunk(a, len, out + base);
  }
  return over != 0.0 ? ERR_FP_OVERFLOW : NO_ERROR;
}

}  // namespace

HARNIX_VECTOR_CLONES ErrorCode deviation_to_phase_span(const double* sum, const double* sum_sq,
                                                       const int16_t* count, int16_t k,
                                                       std::size_t n, int32_t* out) {
  return spread_chain<SpreadKind::POPULATION>(sum, sum_sq, count, k, n, out);
}

HARNIX_VECTOR_CLONES ErrorCode spread_to_phase_span(SpreadKind kind, const double* sum,
                                                     const double* sum_sq, const int16_t* count,
                                                     int16_t k, std::size_t n, int32_t* out) {
  switch (kind) {
    case SpreadKind::SAMPLE:
      return spread_chain<SpreadKind::SAMPLE>(sum, sum_sq, count, k, n, out);
    case SpreadKind::MEAN_UNCERTAINTY:
      return spread_chain<SpreadKind::MEAN_UNCERTAINTY>(sum, sum_sq, count, k, n, out);
    case SpreadKind::POPULATION:
      break;
  }
  return spread_chain<SpreadKind::POPULATION>(sum, sum_sq, count, k, n, out);
}

HARNIX_VECTOR_CLONES void extreme_to_phase_span(const double* v, const int16_t* count, int16_t k,
                                                std::size_t n, int32_t* out) {
  const int16_t minimum = k < 1 ? int16_t{1} : k;
  for (std::size_t i = 0; i < n; ++i) {
    const int32_t q = to_phase(v[i]);
    out[i] = count[i] >= minimum ? q : PHASE_INVALID;
  }
}

HARNIX_VECTOR_CLONES void range_to_phase_span(const double* low, const double* high,
                                              const int16_t* count, int16_t k, std::size_t n,
                                              int32_t* out) {
  const int16_t minimum = k < 1 ? int16_t{1} : k;
  for (std::size_t i = 0; i < n; ++i) {
    const int32_t q = to_phase(high[i] - low[i]);
    out[i] = count[i] >= minimum ? q : PHASE_INVALID;
  }
}

namespace {

// to_phase of an integer: itself within [-2^26, 2^26 - 1].
inline int32_t count_to_phase(int64_t v) {
  constexpr auto lowest = static_cast<int64_t>(PHASE_MIN_VALUE);
  constexpr auto highest = static_cast<int64_t>(PHASE_MAX_VALUE);
  const bool in_range = (v >= lowest) & (v <= highest);
  return in_range ? static_cast<int32_t>(v) : PHASE_INVALID;
}

}  // namespace

HARNIX_VECTOR_CLONES void extreme_counts_to_phase_span(const int32_t* v, const int16_t* count,
                                                       int16_t k, std::size_t n, int32_t* out) {
  const int16_t minimum = k < 1 ? int16_t{1} : k;
  for (std::size_t i = 0; i < n; ++i) {
    const int32_t q = count_to_phase(v[i]);
    out[i] = count[i] >= minimum ? q : PHASE_INVALID;
  }
}

HARNIX_VECTOR_CLONES void range_counts_to_phase_span(const int32_t* low, const int32_t* high,
                                                     const int16_t* count, int16_t k,
                                                     std::size_t n, int32_t* out) {
  const int16_t minimum = k < 1 ? int16_t{1} : k;
  for (std::size_t i = 0; i < n; ++i) {
    const int32_t q = count_to_phase(int64_t{high[i]} - int64_t{low[i]});
    out[i] = count[i] >= minimum ? q : PHASE_INVALID;
  }
}

HARNIX_VECTOR_CLONES void real_to_phase_span(const double* v, std::size_t n, int32_t* out) {
  to_phase_chunk(v, n, out);
}

HARNIX_VECTOR_CLONES void count_to_phase_span(const int16_t* count, std::size_t n, int32_t* out) {
  for (std::size_t i = 0; i < n; ++i) out[i] = count[i] != 0 ? count[i] : PHASE_INVALID;
}

}  // namespace harnix
