// Each pixel's values are gathered a chunk of pixels at a time, every input's row read once
// along the chunk. Up to NETWORK_INPUTS inputs, the values of LANES pixels side by side (input
// after input, an invalid or missing value as +infinity, the rows padded to a power of two P
// with it) are sorted by the bitonic network, each comparator one minimum and one maximum over
// the lanes: P log2 P (log2 P + 1) / 4 comparators for LANES pixels, no branch on the values;
// a pixel's c valid values are then its first c. Past that, each pixel's valid values go to the
// front of a pixel-major scratch (an invalid one is written past them and overwritten) and the
// middle ones are found by selection (quickselect, linear on average, its partitions without
// branches on the values), so a pixel of n values costs O(n) whatever its order. Both give
// the middle value, or the mean of the two middle ones, of the same values: the same bits.
#include "averaging/median.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <type_traits>

#include "averaging/input_sums.h"
#include "base/vector_clones.h"
#include "maps/fused_ops.h"

namespace harnix {

namespace {

// Pixels the network sorts side by side, and the most inputs it takes (P x LANES doubles:
// 32 KiB, within a core's first-level cache).
constexpr std::size_t LANES = 16;
constexpr int32_t NETWORK_INPUTS = 256;

constexpr double ABSENT = std::numeric_limits<double>::infinity();

// While every input is taken unscaled and unlevelled, its values are its counts: the network
// sorts them as int32 (twice the lanes of a vector, no conversion), an invalid one as INT32_MAX,
// above every valid count. The middle counts then give the same median as the same values in
// double: each count is exact as a double, and so is the sum of two.
constexpr int32_t ABSENT_COUNT = std::numeric_limits<int32_t>::max();

template <typename T>
constexpr T absent() {
  if constexpr (std::is_same_v<T, double>)
    return ABSENT;
  else
    return ABSENT_COUNT;
}

// Rows of the network for `count` inputs: the power of two at or above it.
std::size_t network_rows(int32_t count) {
  std::size_t p = 1;
  while (p < std::size_t(count)) p *= 2;
  return p;
}

// Most pixels of a selection chunk: their counts stay on the stack.
constexpr std::size_t MAX_CHUNK_PIXELS = 1024;

// Pixels of a selection chunk for `count` inputs, at least one.
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

// Input i's value at column x of its row `row` (its window starting at column x0 of camera row
// y): x = v f, with f = 1 for an input taken unscaled, less its level when it has one, formed
// as the sums form it (averaging/input_sums.h).
struct InputRow {
  const int32_t* values;  // at the window's first column
  double f;
  LevelRow level;
  bool levelled;
};

InputRow input_row(const PhaseMap& rows, double factor, const InputLevel* level, int32_t y) {
  const Window& w = rows.window;
  InputRow r{rows.matrix + std::size_t(y - w.y) * std::size_t(w.width),
             std::fabs(factor - 1.0) > SCALE_FACTOR_EPSILON ? factor : 1.0, LevelRow{},
             level != nullptr};
  if (level != nullptr) r.level = level_row(*level, w.x, y);
  return r;
}

const InputLevel* level_of(const InputLevel* levels, int32_t i) {
  return levels != nullptr ? &levels[i] : nullptr;
}

inline double value_at(const InputRow& r, std::size_t i) {
  const double x = static_cast<double>(r.values[i]) * r.f;
  return r.levelled ? x - (r.level.base + r.level.cx * (r.level.dx + static_cast<double>(i))) : x;
}

// The values of a row's LANES columns from its column `at` into `lane`, ABSENT where invalid,
// each valid one counted in `valid`.
// Counts go as they are: an invalid one, at or above PHASE_INVALID, sorts after every valid one
// as ABSENT_COUNT would.
template <bool Levelled>
inline void gather_lanes(const InputRow& r, std::size_t at, int32_t* __restrict lane,
                         uint32_t* __restrict valid) {
  const int32_t* __restrict values = r.values + at;
  std::memcpy(lane, values, LANES * sizeof(int32_t));
  for (std::size_t l = 0; l < LANES; ++l) valid[l] += uint32_t(values[l] < PHASE_INVALID);
}

template <bool Levelled>
inline void gather_lanes(const InputRow& r, std::size_t at, double* __restrict lane,
                         uint32_t* __restrict valid) {
  const int32_t* __restrict values = r.values + at;
  const double f = r.f, base = r.level.base, cx = r.level.cx, dx = r.level.dx;
  const auto column = int32_t(at);  // a row is at most 32767 values: the same doubles, converted
                                    // without the branch an unsigned conversion takes
  for (int32_t l = 0; l < int32_t(LANES); ++l) {
    double x = static_cast<double>(values[l]) * f;
    if constexpr (Levelled) x -= base + cx * (dx + static_cast<double>(column + l));
    lane[l] = x;
  }
  // A second loop: a choice between values computed in the same loop does not vectorise while
  // their operations may trap.
  for (std::size_t l = 0; l < LANES; ++l) {
    const bool ok = values[l] < PHASE_INVALID;
    lane[l] = ok ? lane[l] : ABSENT;
    valid[l] += uint32_t(ok);
  }
}

// The value of a column as the network takes it: as value_at, or the count itself.
inline void value_into(const InputRow& r, std::size_t at, double* x) {
  *x = value_at(r, at);
}
inline void value_into(const InputRow& r, std::size_t at, int32_t* x) {
  *x = r.values[at];
}

// The counts of a row of the network, one a lane, as one vector of the compiler's: the
// comparators on counts are then vector minima and maxima (left to itself the compiler makes
// them scalar).
constexpr std::size_t COUNTS_A_VECTOR = 8;
using CountLanes = int32_t __attribute__((vector_size(COUNTS_A_VECTOR * sizeof(int32_t))));

// Rows a and b, the lesser values to a when `up`, else to b.
[[gnu::always_inline]] inline void compare_rows(double* __restrict a, double* __restrict b,
                                                bool up) {
  for (std::size_t l = 0; l < LANES; ++l) {
    const double lo = std::min(a[l], b[l]), hi = std::max(a[l], b[l]);
    a[l] = up ? lo : hi;
    b[l] = up ? hi : lo;
  }
}

[[gnu::always_inline]] inline void compare_rows(int32_t* a, int32_t* b, bool up) {
  static_assert(LANES % COUNTS_A_VECTOR == 0, "whole vectors of lanes");
  for (std::size_t l = 0; l < LANES; l += COUNTS_A_VECTOR) {
    CountLanes x, y;
    std::memcpy(&x, a + l, sizeof x);
    std::memcpy(&y, b + l, sizeof y);
    const CountLanes lo = x < y ? x : y, hi = x < y ? y : x;
    if (up) {
      std::memcpy(a + l, &lo, sizeof lo);
      std::memcpy(b + l, &hi, sizeof hi);
    } else {
      std::memcpy(a + l, &hi, sizeof hi);
      std::memcpy(b + l, &lo, sizeof lo);
    }
  }
}

// Sorts each lane of v (p rows of LANES values, p a power of two) into ascending order.
template <typename T>
[[gnu::always_inline]] inline void sort_lanes(T* v, std::size_t p) {
  for (std::size_t k = 2; k <= p; k *= 2) {
    for (std::size_t j = k / 2; j > 0; j /= 2) {
      for (std::size_t i0 = 0; i0 < p; i0 += 2 * j) {
        // Within a block of 2j rows the direction is that of bit k of the row.
        const bool up = (i0 & k) == 0;
        for (std::size_t i = i0; i < i0 + j; ++i)
          compare_rows(v + i * LANES, v + (i + j) * LANES, up);
      }
    }
  }
}

// Pixels of a row the network's scratch holds for `count` inputs: whole groups of LANES, as many
// as MEDIAN_SCRATCH_BYTES holds, at most MAX_CHUNK_PIXELS.
std::size_t network_pixels(int32_t count) {
  const std::size_t groups = MEDIAN_SCRATCH_BYTES / (network_rows(count) * LANES * sizeof(double));
  return std::clamp<std::size_t>(groups, 1, MAX_CHUNK_PIXELS / LANES) * LANES;
}

// The network's medians of rows [from, to): a stretch of a row at a time, each input's values
// along it gathered in one sweep (one stream of its row, not one stream an input), group after
// group of LANES pixels, then each group sorted; T is double, or int32_t for counts.
template <typename T>
[[gnu::always_inline]] inline void network_medians(const PhaseMap* rows, const double* factors,
                                                   const InputLevel* levels, int32_t count,
                                                   int32_t width, int32_t from, int32_t to,
                                                   std::size_t minimum, T* v, int32_t* out) {
  constexpr T NONE = absent<T>();
  const std::size_t p = network_rows(count);
  const std::size_t group = p * LANES;  // doubles of a group
  const auto stretch = int32_t(network_pixels(count));
  double medians[LANES];
  uint32_t valid[MAX_CHUNK_PIXELS];
  for (int32_t y = from; y < to; ++y) {
    for (int32_t x0 = 0; x0 < width; x0 += stretch) {
      const int32_t end = std::min(width, x0 + stretch);
      const auto groups = std::size_t(end - x0 + int32_t(LANES) - 1) / LANES;
      std::fill_n(valid, groups * LANES, 0u);
      for (int32_t i = 0; i < count; ++i) {
        const Window& w = rows[i].window;
        const bool in_row = y >= w.y && y < w.y + w.height;
        const int32_t left = in_row ? std::max<int32_t>(x0, w.x) : end;
        const int32_t right = in_row ? std::min<int32_t>(end, w.x + w.width) : end;
        const InputRow r =
            in_row ? input_row(rows[i], factors[i], level_of(levels, i), y) : InputRow{};
        for (std::size_t g = 0; g < groups; ++g) {
          T* lane = v + g * group + std::size_t(i) * LANES;
          const int32_t g0 = x0 + int32_t(g * LANES);
          uint32_t* counted = valid + g * LANES;
          if (g0 >= left && g0 + int32_t(LANES) <= right) {
            // A whole group: a loop of fixed length, without a branch on the values.
            if (r.levelled)
              gather_lanes<true>(r, std::size_t(g0 - w.x), lane, counted);
            else
              gather_lanes<false>(r, std::size_t(g0 - w.x), lane, counted);
            continue;
          }
          std::fill_n(lane, LANES, NONE);
          const int32_t from_x = std::max(g0, left), to_x = std::min(g0 + int32_t(LANES), right);
          for (int32_t x = from_x; x < to_x; ++x) {
            const auto at = std::size_t(x - w.x);
            const bool ok = r.values[at] < PHASE_INVALID;
            const auto l = std::size_t(x - g0);
            value_into(r, at, &lane[l]);
            lane[l] = ok ? lane[l] : NONE;
            counted[l] += uint32_t(ok);
          }
        }
      }
      for (std::size_t g = 0; g < groups; ++g) {
        T* values = v + g * group;
        std::fill(values + std::size_t(count) * LANES, values + group, NONE);
        sort_lanes(values, p);
        const int32_t g0 = x0 + int32_t(g * LANES);
        const auto len = std::size_t(std::min(int32_t(LANES), end - g0));
        for (std::size_t l = 0; l < len; ++l) {
          const std::size_t c = valid[g * LANES + l];
          // Row k of lane l, as a double (a count is exact in one); the lower middle row is
          // read only for an even count of at least the minimum, so at least 2.
          auto row = [&](std::size_t k) { return static_cast<double>(values[k * LANES + l]); };
          medians[l] = c < minimum  ? REAL_INVALID
                       : c % 2 == 1 ? row(c / 2)
                                    : (row(c / 2 - 1) + row(c / 2)) / 2.0;
        }
        real_to_phase_span(medians, len,
                           out + std::size_t(y) * std::size_t(width) + std::size_t(g0));
      }
    }
  }
}

HARNIX_VECTOR_CLONES void network_rows_medians(const PhaseMap* rows, const double* factors,
                                               const InputLevel* levels, int32_t count,
                                               int32_t width, int32_t from, int32_t to,
                                               std::size_t minimum, double* v, int32_t* out) {
  network_medians(rows, factors, levels, count, width, from, to, minimum, v, out);
}

HARNIX_VECTOR_CLONES void network_rows_medians(const PhaseMap* rows, const double* factors,
                                               int32_t count, int32_t width, int32_t from,
                                               int32_t to, std::size_t minimum, int32_t* v,
                                               int32_t* out) {
  network_medians(rows, factors, nullptr, count, width, from, to, minimum, v, out);
}

// The scratch as `n` values of T: their lifetime begun over its storage (no code), whatever it
// held before.
template <typename T>
T* scratch_as(void* scratch, std::size_t n) {
  T* v = static_cast<T*>(scratch);
  std::uninitialized_default_construct_n(v, n);
  return std::launder(v);
}

// True when every input is taken as its counts: unscaled and unlevelled.
bool takes_counts(const double* factors, const InputLevel* levels, int32_t count) {
  if (levels != nullptr) return false;
  for (int32_t i = 0; i < count; ++i)
    if (std::fabs(factors[i] - 1.0) > SCALE_FACTOR_EPSILON) return false;
  return true;
}

// The selection's medians of rows [from, to).
void selection_rows_medians(const PhaseMap* rows, const double* factors, const InputLevel* levels,
                            int32_t count, int32_t width, int32_t from, int32_t to,
                            std::size_t minimum, double* scratch, int32_t* out) {
  const std::size_t chunk = chunk_pixels(count);
  const auto n = std::size_t(count);
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
        const InputRow r = input_row(rows[i], factors[i], level_of(levels, i), y);
        for (int32_t x = left; x < right; ++x) {
          const auto at = std::size_t(x - w.x);
          const auto q = std::size_t(x - x0);
          // Written always, kept by the count only when valid: no branch on the value.
          scratch[q * n + valid[q]] = value_at(r, at);
          valid[q] += uint32_t(r.values[at] < PHASE_INVALID);
        }
      }
      int32_t* at = out + std::size_t(y) * std::size_t(width) + std::size_t(x0);
      for (std::size_t q = 0; q < len; q += std::size(medians)) {
        const std::size_t part = std::min(std::size(medians), len - q);
        for (std::size_t j = 0; j < part; ++j) {
          const std::size_t c = valid[q + j];
          medians[j] = c >= minimum ? median_of(scratch + (q + j) * n, c, spare) : REAL_INVALID;
        }
        real_to_phase_span(medians, part, at + q);
      }
    }
  }
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
  // The network's rows, or the chunk's values and one pixel's spare room.
  if (inputs <= NETWORK_INPUTS)
    return network_rows(inputs) * network_pixels(inputs) * sizeof(double);
  return (chunk_pixels(inputs) + 1) * std::size_t(inputs) * sizeof(double);
}

int32_t median_band_rows(uint64_t budget_bytes, int32_t inputs, int32_t width, int32_t height) {
  if (inputs < 1 || width < 1 || height < 1) return 0;
  // At most 10000 x 32767 x 4 bytes a row: far inside 64 bits.
  const uint64_t row_bytes = uint64_t(inputs) * uint64_t(width) * 4;
  return int32_t(std::min<uint64_t>(budget_bytes / row_bytes, uint64_t(height)));
}

void median_rows(const PhaseMap* rows, const double* factors, const InputLevel* levels,
                 int32_t count, int32_t width, int32_t from, int32_t to, int16_t min_count,
                 void* scratch, int32_t* out) {
  const std::size_t minimum = std::size_t(std::max<int16_t>(min_count, 1));
  const std::size_t bytes = median_scratch_bytes(count);
  if (count <= NETWORK_INPUTS && takes_counts(factors, levels, count))
    network_rows_medians(rows, factors, count, width, from, to, minimum,
                         scratch_as<int32_t>(scratch, bytes / sizeof(int32_t)), out);
  else if (count <= NETWORK_INPUTS)
    network_rows_medians(rows, factors, levels, count, width, from, to, minimum,
                         scratch_as<double>(scratch, bytes / sizeof(double)), out);
  else
    selection_rows_medians(rows, factors, levels, count, width, from, to, minimum,
                           scratch_as<double>(scratch, bytes / sizeof(double)), out);
}

}  // namespace harnix
