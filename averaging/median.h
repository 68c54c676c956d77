// The median combination: each pixel's median of the values the average adds, x = F v (v for an
// input added unscaled; with levelling x = F v - p, p the input's level), the mean of the two
// middle values for an even count, rounded half away from zero like the average; a pixel with
// fewer than max(1, k) values is a dropout.
//
// The median needs every value of a pixel at once. The run reads the camera in bands of rows:
// each band's rows of every input (a partial read of each file), then the medians of the band.
// A band holds 4 bytes per pixel of every input, so the rows of a band follow from the budget.
#ifndef HARNIX_AVERAGING_MEDIAN_H_
#define HARNIX_AVERAGING_MEDIAN_H_

#include <cstddef>
#include <cstdint>

#include "averaging/band_team.h"
#include "averaging/levelling.h"
#include "base/error_codes.h"
#include "maps/map_types.h"

namespace harnix {

// Scratch values of a thread: a chunk of pixels, every input's value of each (256 KiB, or one
// pixel's values when the inputs are more than that holds), and one pixel's more.
constexpr std::size_t MEDIAN_SCRATCH_BYTES = 256 * 1024;

// Bytes of scratch one thread takes for `inputs` inputs.
std::size_t median_scratch_bytes(int32_t inputs);

// The rows of a band when each of `inputs` inputs holds 4 bytes per pixel of a camera `width`
// wide within `budget_bytes`, at most `height`; 0 when not one row fits.
int32_t median_band_rows(uint64_t budget_bytes, int32_t inputs, int32_t width, int32_t height);

// The median of the n values of `v` (n >= 1, none NaN), reordering them: the middle value for an
// odd n, the mean of the two middle values for an even n. `spare` holds room for n values.
double median_of(double* v, std::size_t n, double* spare);

// The medians of camera rows [from, to) into `out` (a camera map of `width` columns, row 0 at
// offset 0), from `count` inputs each holding those of its rows in `rows[i]` (a map whose window
// is the input's window cut to the band; height 0 when it has none there), input i's values x =
// v factors[i] when |factors[i] - 1| > SCALE_FACTOR_EPSILON, else v, less levels[i] when
// `levels` is given (x = v f - p, formed as the sums form it). `scratch` holds
// median_scratch_bytes(count) bytes aligned for a double; what it holds is overwritten. Every
// pixel on its own: the medians are the same for any bands and rows.
void median_rows(const PhaseMap* rows, const double* factors, const InputLevel* levels,
                 int32_t count, int32_t width, int32_t from, int32_t to, int16_t min_count,
                 void* scratch, int32_t* out);

}  // namespace harnix

#endif  // HARNIX_AVERAGING_MEDIAN_H_
