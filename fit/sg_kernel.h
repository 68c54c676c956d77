// Inner loops of the line filters, shared by the line-buffer filter and the map filters. Not a
// public interface: callers check the table and the sizes first.
//
// Each output is (c[0] x[0] + ... + c[L-1] x[L-1]) / N, summed in single precision from left to
// right; a sum equal to SG_INVALID is kept undivided. The loops run over contiguous floats with
// the tap count fixed at compile time, so the compiler can vectorise them.
#ifndef HARNIX_FIT_SG_KERNEL_H_
#define HARNIX_FIT_SG_KERNEL_H_

#include <cstdint>

#include "fit/sg_filter.h"

namespace harnix {

// Filters the n > t.length samples of `in` into `out` (distinct buffers): the first and last h
// outputs and every output within h of a missing sample are SG_INVALID.
void sg_filter_samples(const float* in, float* out, int32_t n, const SgTable& t);

// One output row of a filter across rows: out[c] is the filter of rows[0][c] .. rows[L-1][c]
// (the L input rows in order) when run[c], the count of valid samples ending at rows[L-1][c], is
// at least L, and SG_INVALID otherwise.
void sg_filter_across(const float* const* rows, const int32_t* run, float* out, int32_t width,
                      const SgTable& t);

// Row conversions (phase_to_sample and sample_to_phase over n values), written so that they
// vectorise.
void samples_from_phase(const int32_t* in, float* out, int32_t n);
void phase_from_samples(const float* in, int32_t* out, int32_t n);

}  // namespace harnix

#endif  // HARNIX_FIT_SG_KERNEL_H_
