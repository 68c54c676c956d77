// Value histograms of phase maps and the analysis of their main peak, in single precision.
//
// A histogram of n bins is a FloatPairArray of count n: pair i holds (i, weight of bin i), and
// bin i stands for the value start + i * w. Each valid map value is shared linearly between the
// two bins around it. A histogram derivative is a FloatPairArray of the same count holding
// (i, D[i]) with D[i] = sum_{m=-h}^{h} m * H[i + m], a straight-line weight window that is not
// normalised: positive where the histogram rises with the bin index.
//
// value_histogram and histogram_derivative allocate their output (array_alloc); the caller
// releases it with array_free whatever the outcome, also after a failure that follows the
// allocation. The output record must not hold storage on entry (it is overwritten).
#ifndef HARNIX_FIT_HISTOGRAM_H_
#define HARNIX_FIT_HISTOGRAM_H_

#include <cstddef>
#include <cstdint>

#include "base/error_codes.h"
#include "maps/map_types.h"

namespace harnix {

// Histogram of the valid values of `map` over its own window, n bins, bin 0 at `start`, bin
// width `w`. For each valid v: u = (v - start) / w (exact difference, division in double, then
// rounded to float), b = u truncated towards zero, f = u - b; bin b gains 1 - f and bin b + 1
// gains f unless b + 1 = n. A value whose bin b falls outside 0..n-1 (or whose u is not a number)
// is left out, so nothing is ever written outside the histogram.
// n < 1 is ERR_PARAM_OUT_OF_RANGE (hist untouched); ERR_NO_MEM when hist cannot be allocated.
// w exactly 0 leaves every weight 0 and succeeds. A map with elements but without storage is
// ERR_INVALID_PARAM (hist untouched).
ErrorCode value_histogram(const PhaseMap& map, int32_t n, int32_t start, double w,
                          FloatPairArray& hist);

// Adds to the weights of `hist` (its count of bins, bin 0 at `start`, width `w`) the `count`
// values at `values` that are valid and lie in [low, high], one after the other, each as
// value_histogram adds it: what value_histogram gives over those values alone. Needs hist to
// hold storage for its bins. With `scratch` of at least histogram_table_bytes(bins, range)
// bytes, where the range [low, high] holds `range` integers, every value's bins and shares come
// from a table made once for the range rather than from a division per value; the weights are
// the same. Never fails.
void histogram_add_values(const int32_t* values, std::size_t count, int32_t start, double w,
                          int32_t low, int32_t high, FloatPairArray& hist,
                          void* scratch = nullptr, std::size_t scratch_bytes = 0);

// One histogram's part in histogram_add_value_pairs: the arguments of histogram_add_values.
struct HistogramValues {
  const int32_t* values;
  int32_t start;
  double w;
  int32_t low;
  int32_t high;
  FloatPairArray* hist;
  void* scratch;
  std::size_t scratch_bytes;
};

// histogram_add_values for two histograms of `count` values each, in one sweep over both when
// both bin through tables (the sums of one histogram wait on each other, not on the other's),
// else one after the other: the weights of the two calls either way.
void histogram_add_value_pairs(const HistogramValues& a, const HistogramValues& b,
                               std::size_t count);

// Bytes of the scratch histogram_add_values bins through for `bins` bins and a range of `range`
// integers.
std::size_t histogram_table_bytes(int32_t bins, int64_t range);

// The bin b of each of the m values, as value_histogram forms it for n bins from `start` and
// `w`, and its share f = u - b (bin b gains 1 - f, bin b + 1 gains f); b is -1 for a value left
// out: invalid, outside [low, high], or whose bin lies outside the histogram.
void histogram_shares(const int32_t* values, std::size_t m, int32_t start, double w, int32_t n,
                      int32_t low, int32_t high, int32_t* bin, float* share);

// Allocates `deriv` with the count n of `hist` (n < 1: ERR_PARAM_OUT_OF_RANGE, deriv untouched;
// ERR_NO_MEM), all zero, then fills D[k] for k = h .. n - h - 1 with h = (length - 1) / 2, the
// weights summed in increasing order from -h. An even length acts as length - 1. A length not
// above 0 and below n is ERR_PARAM_OUT_OF_RANGE, with deriv allocated and zero.
ErrorCode histogram_derivative(const FloatPairArray& hist, FloatPairArray& deriv, int32_t length);

// Bin of the main peak found from the derivative: the steepest rise f (largest D over bins
// 1..n-2, the first of equal ones, values of 2^31 and above or NaN ignored), then the walk from f
// away from the nearer falling edge (D below D[f] / -3) to the first D <= 0, and of that bin and
// the one before it the one whose |D| is smaller. Never fails; a derivative of fewer than 3 bins
// gives 0.
int32_t peak_index(const FloatPairArray& deriv);

// Index and position (in value units) of the main peak. `low` and `high` are the values of the
// first and last bin, `length` the one given to histogram_derivative. The position is the zero
// crossing of D interpolated between the first pair of bins j, j + 1 in
// [max(0, p - h), min(p + h, n - 2)) where D changes sign; the bin value j * s + low when several
// bins share the largest weight; 0 for a histogram without weight; and the value of the first bin
// of largest weight when D does not change sign there. s = (high - low) / (n - 1), all in single
// precision. One bin: index 0 at `low`; two bins: the heavier, the second on a tie.
// ERR_PARAM_OUT_OF_RANGE when hist has no bins or deriv a different count (outputs untouched).
ErrorCode peak_position(const FloatPairArray& hist, const FloatPairArray& deriv, int32_t length,
                        int32_t low, int32_t high, int32_t* index, float* position);

// First and last bin of the peak at `index`: the window index - d .. index + d (clipped to the
// histogram) grows from d = 1 until d exceeds k times the standard deviation, in bins, of the
// weight inside it about its own mean, or covers every bin. ERR_ALL_BAD_DATA when bin `index`
// has no weight; ERR_PARAM_OUT_OF_RANGE when it is not a bin. Outputs written only on success.
ErrorCode peak_extent(const FloatPairArray& hist, int32_t index, double k, int32_t* first,
                      int32_t* last);

}  // namespace harnix

#endif  // HARNIX_FIT_HISTOGRAM_H_
