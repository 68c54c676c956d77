// Fused element operations: what a sequence of element operations does to one span of
// elements, in one pass. Each names the sequence it stands for; over the span it gives the
// very same values, bit for bit. They work on contiguous spans (a row of a map, or a whole map)
// given as pointers, so that a caller can pair a row of one map with the matching part of a row
// of another; windows and storage are the caller's to check.
//
// Sums and counts: a sum whose count is 0 must hold 0.0. real_map_accumulate then makes the
// sum v where it would have set it to v, since 0.0 + v is v for every value added here (none
// is -0.0), so the spans add without looking at the count.
#ifndef HARNIX_MAPS_FUSED_OPS_H_
#define HARNIX_MAPS_FUSED_OPS_H_

#include <cstddef>
#include <cstdint>

#include "base/error_codes.h"
#include "maps/map_types.h"

namespace harnix {

// phase_to_real, then real_map_accumulate into sum and count: each valid phase value v adds v
// to its sum and one to its count. A sum of phase values cannot leave +-REAL_INVALID (adding a
// 32-bit integer to a double of magnitude at most REAL_INVALID never rounds beyond it), so no
// check is needed.
void accumulate_phase_span(const int32_t* values, std::size_t n, double* sum, int16_t* count);

// *low and *high lowered and raised to the least and greatest valid value of the span (left as
// they are when it has none).
void valid_range_span(const int32_t* values, std::size_t n, int32_t* low, int32_t* high);

// The deviation step: phase_to_real, real_map_accumulate into sum and count, real_map_square,
// real_map_accumulate into sum_sq (whose count equals `count`). Squares of 32-bit values stay
// below 2^62, far from REAL_INVALID, so neither the squaring nor the sums can fail.
void accumulate_phase_squares_span(const int32_t* values, std::size_t n, double* sum,
                                   int16_t* count, double* sum_sq);

// A scaled input: phase_to_real, real_map_scale by f, real_map_accumulate into sum and count,
// real_to_phase. Each valid v gives h = v f, which is added to its sum; out (which may be
// `values` itself, or nullptr when not wanted) receives h rounded half away from zero, or
// PHASE_INVALID where v is invalid or h lies outside [-2^26, 2^26 - 1]. ERR_FP_OVERFLOW when a
// product reaches +-REAL_INVALID or a sum leaves it; the sums and out are then left part-way
// (the caller abandons them).
ErrorCode accumulate_scaled_span(const int32_t* values, std::size_t n, double f, double* sum,
                                 int16_t* count, int32_t* out);

// The extremes of an input: each valid v gives h = v f (f is 1.0 for an input added unscaled,
// so h is v itself), and low = min(low, h), high = max(high, h). Either map may be nullptr when
// not kept. Extremes start at +-infinity, so that the first value replaces them.
void extremes_span(const int32_t* values, std::size_t n, double f, double* low, double* high);

// The extremes of an unscaled input kept in its own counts: low = min(low, v) over every v (an
// invalid v, at or above PHASE_INVALID, is above every valid one, so low reads at or above
// PHASE_INVALID until the first valid value), high = max(high, v) over the valid v. Exact: the
// extremes of the values v f for one common factor f > 0 are those of the counts times f. Either
// map may be nullptr when not kept; low starts at INT32_MAX, high at INT32_MIN.
void extremes_counts_span(const int32_t* values, std::size_t n, int32_t* low, int32_t* high);

// accumulate_phase_span (sum_sq nullptr) or accumulate_phase_squares_span (sum_sq given) into
// sum and count, and extremes_counts_span into low and high, in one pass over the values: the
// same sums, counts and extremes, bit for bit. Either extreme may be nullptr when not kept.
void accumulate_phase_extremes_span(const int32_t* values, std::size_t n, double* sum,
                                    int16_t* count, double* sum_sq, int32_t* low, int32_t* high);

// A levelled input: as accumulate_scaled_span with h = v f - (base + cx (dx + i)) at element i,
// the level of the input taken off in double precision (f = 1 for an unscaled input); n, a row's
// width, below 2^31.
ErrorCode accumulate_levelled_span(const int32_t* values, std::size_t n, double f, double base,
                                   double cx, double dx, double* sum, int16_t* count,
                                   int32_t* out);

// A levelled input and its deviation in one pass: accumulate_levelled_span into sum and count
// with out, then accumulate_phase_squares_span of out into dev_sum, dev_count and sum_sq. out
// may be `values` itself, or nullptr when the rounded values are not wanted (dx then a whole
// number); the same values, bit for bit, and the same failure. With `checked` false the caller
// has shown that no |h| nor |sum + h| can reach REAL_INVALID (LEVELLED_SUMS_BOUND): nothing is
// checked, and the result is NO_ERROR. With dev_count nullptr (and out nullptr) the caller has
// shown that every valid h is at most 2^26 - 2 in magnitude, so that it rounds within the phase
// range: the deviation counts what `count` counts, and `count` is raised once for both.
ErrorCode accumulate_levelled_squares_span(const int32_t* values, std::size_t n, double f,
                                           double base, double cx, double dx, double* sum,
                                           int16_t* count, double* dev_sum, int16_t* dev_count,
                                           double* sum_sq, int32_t* out, bool checked = true);

// Sums and values whose magnitudes, added up, stay below this are far from REAL_INVALID
// whatever the rounding of the steps that bound them.
constexpr double LEVELLED_SUMS_BOUND = REAL_INVALID / 4;

// The extremes of a levelled input: as extremes_span with h = v f - (base + cx (dx + i)), the
// levelled value accumulate_levelled_span adds.
void extremes_levelled_span(const int32_t* values, std::size_t n, double f, double base,
                            double cx, double dx, double* low, double* high);

// The average result: real_map_average of sum by count with minimum k (k < 1 counts as 1),
// then real_to_phase into out.
void average_to_phase_span(const double* sum, const int16_t* count, int16_t k, std::size_t n,
                           int32_t* out);

// The deviation result: real_map_square of sum; real_map_average of it by count with minimum k;
// real_map_subtract of that from sum_sq; real_map_average of the difference by count with
// minimum k; real_map_sqrt; real_to_phase into out. ERR_FP_OVERFLOW, with out unspecified, when
// a square of a sum reaches REAL_INVALID.
ErrorCode deviation_to_phase_span(const double* sum, const double* sum_sq, const int16_t* count,
                                  int16_t k, std::size_t n, int32_t* out);

// Divisors of the spread results: the population deviation divides by n, the sample deviation by
// n - 1, and the standard uncertainty of the mean is the sample deviation over sqrt(n), formed as
// sqrt(sample variance / n).
enum class SpreadKind { POPULATION, SAMPLE, MEAN_UNCERTAINTY };

// deviation_to_phase_span with the divisor of `kind`: POPULATION is deviation_to_phase_span
// itself; the others replace its last division by count with one by count - 1 (then, for the
// uncertainty, by count again), and need at least two values besides the minimum k.
ErrorCode spread_to_phase_span(SpreadKind kind, const double* sum, const double* sum_sq,
                               const int16_t* count, int16_t k, std::size_t n, int32_t* out);

// An extreme result: out = v rounded half away from zero where count reaches k (k < 1 counts as
// 1), else PHASE_INVALID (so too outside [-2^26, 2^26 - 1]).
void extreme_to_phase_span(const double* v, const int16_t* count, int16_t k, std::size_t n,
                           int32_t* out);

// The range result: extreme_to_phase_span of high - low, the difference of the unrounded
// extremes.
void range_to_phase_span(const double* low, const double* high, const int16_t* count, int16_t k,
                         std::size_t n, int32_t* out);

// extreme_to_phase_span and range_to_phase_span of extremes kept in counts (extremes_counts_span):
// the same outputs as for the same extremes held as doubles.
void extreme_counts_to_phase_span(const int32_t* v, const int16_t* count, int16_t k,
                                  std::size_t n, int32_t* out);
void range_counts_to_phase_span(const int32_t* low, const int32_t* high, const int16_t* count,
                                int16_t k, std::size_t n, int32_t* out);

// real_to_phase of each value: rounded half away from zero, PHASE_INVALID for an invalid value or
// one outside [-2^26, 2^26 - 1].
void real_to_phase_span(const double* v, std::size_t n, int32_t* out);

// The count result: out = count where it is not 0, else PHASE_INVALID.
void count_to_phase_span(const int16_t* count, std::size_t n, int32_t* out);

}  // namespace harnix

#endif  // HARNIX_MAPS_FUSED_OPS_H_
