// Value histograms whose weights are exact: value_histogram's shares (fit/histogram.h) summed
// without rounding, each bin's total rounded once to single precision at the end.
//
// Exact sums do not depend on the order of the values, so values may be counted first (a count
// of each integer of a range, kept in integers), gathered in several lanes or in any order, and
// always give the same weights. They are also the closest single-precision weights there are:
// additions one value at a time in single precision lose up to half a unit in the last place
// each, and a bin of a million values drifts far from its sum.
#ifndef HARNIX_FIT_EXACT_HISTOGRAM_H_
#define HARNIX_FIT_EXACT_HISTOGRAM_H_

#include <cstddef>
#include <cstdint>

#include "maps/map_types.h"

namespace harnix {

// The totals of a histogram of `bins` bins, bin 0 at `start`, bin width `w`, over the valid
// values in [low, high]; `sums` is the caller's scratch of exact_histogram_bytes(bins) bytes.
struct ExactHistogram {
  int32_t bins;
  int32_t start;
  double w;
  int32_t low;
  int32_t high;
  void* sums;
};

// Bytes of the totals of an exact histogram of `bins` bins (bins >= 1).
std::size_t exact_histogram_bytes(int32_t bins);

// A histogram with every total 0 in `scratch`. Needs bins >= 1 and scratch of
// exact_histogram_bytes(bins) bytes, aligned to 16 bytes (as allocated storage is).
ExactHistogram exact_histogram_begin(int32_t bins, int32_t start, double w, int32_t low,
                                     int32_t high, void* scratch);

// Adds the `count` values at `values` that are valid and lie in [low, high], each as
// value_histogram shares it. Every share is held exactly in units of 2^-62, as every share of a
// 32-bit value is for w at most 2^39 (wider bins lose what lies below those units).
void exact_histogram_add_values(ExactHistogram& h, const int32_t* values, std::size_t count);

// Adds the value first + i counts[i] times, for i = 0 .. last - first (first <= last): what
// adding those values one by one gives. Needs every count below 2^32 in all.
void exact_histogram_add_counts(ExactHistogram& h, const uint32_t* counts, int32_t first,
                                int32_t last);

// Sets the weight of every bin of `hist` (which holds h.bins bins) to its total rounded once to
// single precision, to nearest.
void exact_histogram_finish(const ExactHistogram& h, FloatPairArray& hist);

}  // namespace harnix

#endif  // HARNIX_FIT_EXACT_HISTOGRAM_H_
