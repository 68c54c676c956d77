// Each pixel's values are gathered a chunk of pixels at a time: every input's row is read once
// along the chunk into a pixel-major scratch (a missing value marked by the invalid sentinel),
// then each pixel's valid values are moved to the front and the middle ones found by selection
// (std::nth_element, linear on average), so a pixel of n values costs O(n) whatever its order.
#include "averaging/median.h"

#include <algorithm>
#include <cmath>

#include "averaging/input_sums.h"
#include "maps/fused_ops.h"

namespace harnix {

namespace {

// Pixels of a chunk for `count` inputs, at least one.
std::size_t chunk_pixels(int32_t count) {
  const std::size_t per_pixel = std::size_t(std::max(count, 1)) * sizeof(double);
  return std::max<std::size_t>(1, MEDIAN_SCRATCH_BYTES / per_pixel);
}

// The median of the first n values of `v` (n >= 1), reordering them.
double median_of(double* v, std::size_t n) {
  const std::size_t upper = n / 2;
  std::nth_element(v, v + upper, v + n);
  if (n % 2 == 1) return v[upper];
  // The lower middle value is the largest of those before the upper one.
  const double lower = *std::max_element(v, v + upper);
  return (lower + v[upper]) / 2.0;
}

}  // namespace

std::size_t median_scratch_bytes(int32_t inputs) {
  return chunk_pixels(inputs) * std::size_t(std::max(inputs, 1)) * sizeof(double);
}

int32_t median_band_rows(uint64_t budget_bytes, int32_t inputs, int32_t width, int32_t height) {
  if (inputs < 1 || width < 1 || height < 1) return 0;
  // At most 10000 x 32767 x 4 bytes a row: far inside 64 bits.
  const uint64_t row_bytes = uint64_t(inputs) * uint64_t(width) * 4;
  return int32_t(std::min<uint64_t>(budget_bytes / row_bytes, uint64_t(height)));
}

void median_rows(const PhaseMap* rows, const double* factors, int32_t count, int32_t width,
                 int32_t from, int32_t to, int16_t min_count, double* scratch, int32_t* out) {
  const std::size_t chunk = chunk_pixels(count);
  const auto n = std::size_t(count);
  const std::size_t minimum = std::size_t(std::max<int16_t>(min_count, 1));
  double medians[64];
  for (int32_t y = from; y < to; ++y) {
    for (int32_t x0 = 0; x0 < width; x0 += int32_t(chunk)) {
      const auto len = std::size_t(std::min<int32_t>(width - x0, int32_t(chunk)));
      std::fill_n(scratch, len * n, REAL_INVALID);
      for (std::size_t i = 0; i < n; ++i) {
        const Window& w = rows[i].window;
        if (y < w.y || y >= w.y + w.height) continue;
        const int32_t left = std::max<int32_t>(x0, w.x);
        const int32_t right = std::min<int32_t>(x0 + int32_t(len), w.x + w.width);
        const int32_t* row = rows[i].matrix + std::size_t(y - w.y) * std::size_t(w.width);
        // As the average adds it: an input taken like the first is neither scaled nor rounded.
        const double f = std::fabs(factors[i] - 1.0) > SCALE_FACTOR_EPSILON ? factors[i] : 1.0;
        for (int32_t x = left; x < right; ++x) {
          const int32_t v = row[x - w.x];
          if (v < PHASE_INVALID)
            scratch[std::size_t(x - x0) * n + i] = static_cast<double>(v) * f;
        }
      }
      int32_t* at = out + std::size_t(y) * std::size_t(width) + std::size_t(x0);
      for (std::size_t p = 0; p < len; p += std::size(medians)) {
        const std::size_t part = std::min(std::size(medians), len - p);
        for (std::size_t j = 0; j < part; ++j) {
          double* v = scratch + (p + j) * n;
          const std::size_t valid = std::size_t(std::remove(v, v + n, REAL_INVALID) - v);
          medians[j] = valid >= minimum ? median_of(v, valid) : REAL_INVALID;
        }
        real_to_phase_span(medians, part, at + p);
      }
    }
  }
}

}  // namespace harnix
