// Each pixel's values are gathered a chunk of pixels at a time: every input's row is read once
// along the chunk into a pixel-major scratch, each pixel's valid values at its front (an invalid
// one is written past them and overwritten), then the middle ones found by selection
// (quickselect, linear on average, its partitions without branches on the values), so a pixel
// of n values costs O(n) whatever its order.
#include "averaging/median.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "averaging/input_sums.h"
#include "maps/fused_ops.h"

namespace harnix {

namespace {

// Most pixels of a chunk: their counts stay on the stack.
constexpr std::size_t MAX_CHUNK_PIXELS = 1024;

// Pixels of a chunk for `count` inputs, at least one.
std::size_t chunk_pixels(int32_t count) {
  const std::size_t per_pixel = std::size_t(std::max(count, 1)) * sizeof(double);
  return std::clamp<std::size_t>(MEDIAN_SCRATCH_BYTES / per_pixel, 1, MAX_CHUNK_PIXELS);
}

// Ranges this short are sorted by insertion.
constexpr std::size_t SORTED_RANGE = 16;

// Moves the values of v[lo, hi) that `goes_first` takes to the front of the range, in their
// order, the others after them through `spare` (room for hi - lo values); returns the end of
// those moved. No branch on the values (a pixel's values come in no order a branch could
// foresee), and no store a later load waits for: a value taken goes behind the reading.
template <typename Test>
std::size_t partition_range(double* v, std::size_t lo, std::size_t hi, double* spare,
                            Test goes_first) {
  std::size_t taken = lo, left = 0;
  for (std::size_t i = lo; i < hi; ++i) {
    const double x = v[i];
    const bool first = goes_first(x);
    v[taken] = x;
    spare[left] = x;
    taken += std::size_t(first);
    left += std::size_t(!first);
  }
  std::copy_n(spare, left, v + taken);
  return taken;
}

}  // namespace

double median_of(double* v, std::size_t n, double* spare) {
  // Quickselect of the upper middle value: the range holding it shrinks around a median-of-three
  // pivot, the values below the pivot, then those equal to it, moved to the front (so a range
  // always shrinks, ties and all).
  const std::size_t upper = n / 2;
  std::size_t lo = 0, hi = n;
  while (hi - lo > SORTED_RANGE) {
    const double a = v[lo], b = v[lo + (hi - lo) / 2], c = v[hi - 1];
    const double pivot = std::max(std::min(a, b), std::min(std::max(a, b), c));
    const std::size_t below =
        partition_range(v, lo, hi, spare, [pivot](double x) { return x < pivot; });
    if (upper < below) {
      hi = below;
      continue;
    }
    const std::size_t equal =
        partition_range(v, below, hi, spare, [pivot](double x) { return x == pivot; });
    if (upper < equal) {
      lo = hi = upper;  // v[upper] is the pivot
      break;
    }
    lo = equal;
  }
  for (std::size_t i = lo + 1; i < hi; ++i) {
    const double x = v[i];
    std::size_t j = i;
    for (; j > lo && v[j - 1] > x; --j) v[j] = v[j - 1];
    v[j] = x;
  }
  if (n % 2 == 1) return v[upper];
  // Every value before the upper middle one is at most it: the lower middle is their largest.
  double lower = v[0];
  for (std::size_t i = 1; i < upper; ++i) lower = std::max(lower, v[i]);
  return (lower + v[upper]) / 2.0;
}

std::size_t median_scratch_bytes(int32_t inputs) {
  // The chunk's values and one pixel's spare room.
  return (chunk_pixels(inputs) + 1) * std::size_t(std::max(inputs, 1)) * sizeof(double);
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
  uint32_t valid[MAX_CHUNK_PIXELS];  // each pixel's values gathered so far, at its front
  double* const spare = scratch + chunk * n;
  for (int32_t y = from; y < to; ++y) {
    for (int32_t x0 = 0; x0 < width; x0 += int32_t(chunk)) {
      const auto len = std::size_t(std::min<int32_t>(width - x0, int32_t(chunk)));
      std::fill_n(valid, len, 0u);
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
          const auto p = std::size_t(x - x0);
          // Written always, kept by the count only when valid: no branch on the value.
          scratch[p * n + valid[p]] = static_cast<double>(v) * f;
          valid[p] += uint32_t(v < PHASE_INVALID);
        }
      }
      int32_t* at = out + std::size_t(y) * std::size_t(width) + std::size_t(x0);
      for (std::size_t p = 0; p < len; p += std::size(medians)) {
        const std::size_t part = std::min(std::size(medians), len - p);
        for (std::size_t j = 0; j < part; ++j) {
          const std::size_t c = valid[p + j];
          medians[j] = c >= minimum ? median_of(scratch + (p + j) * n, c, spare) : REAL_INVALID;
        }
        real_to_phase_span(medians, part, at + p);
      }
    }
  }
}

}  // namespace harnix
