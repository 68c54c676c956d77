// The robust plane from slope histograms.
//
// A derived map D is described by a histogram of B bins whose range is the data's [lo, hi]
// widened by g = (e - 1) (hi - lo) / (B - 2e + 1) at each end, so that the data fill the middle
// B - 2e + 1 bins and the derivative of length e has empty bins to work with at both ends. The
// peak of that histogram (the zero crossing of its derivative) is the most frequent value of D.
// First level: 300 bins, e = 19, and the main peak's extent at k = 2 standard deviations gives
// the slopes to keep. Second level: B bins and e = max(5, (B / 4) | 1) over the kept slopes give
// the slope of each axis. The offset and rms are those of a piston fit to the map de-tilted.
// The weights are exact (fit/exact_histogram.h): each axis's slopes are counted value by value
// in one sweep over the map, and both levels are formed from the counts.
//
// The slopes are whole numbers. In bins narrower than half a unit they fall into isolated teeth
// with empty bins between them: the derivative then turns into a saw whose many zero crossings
// bias the peak by whole units, and a peak bin between teeth has no extent at all. Such
// histograms use unit bins centred on the data instead; wider bins are left as they are.
//
// The slopes are those of the 3-sample first-derivative filter (fit/sg_filter.h), whose table
// -1, 0, 1 over N = 2 gives round_half_away(fl(x[i+1] - x[i-1]) / 2) in single precision where
// the three samples are valid and the line is longer than 3 samples; they are formed here for
// both axes in one pass over the map, with their ranges. A map in a larger frame gives the slopes
// of the frame-sized field holding it (invalid elsewhere): a slope needs its neighbours inside
// the map's window, and a line of the frame of 3 samples or fewer has none.
#include "fit/robust_plane.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "base/allocation.h"
#include "base/vector_clones.h"
#include "fit/exact_histogram.h"
#include "fit/histogram.h"
#include "fit/least_squares.h"
#include "fit/sg_filter.h"
#include "fit/subtract.h"
#include "maps/element_ops.h"
#include "maps/map_view.h"
#include "maps/storage.h"

namespace harnix {

namespace {

// The first level's histogram: bin count and derivative length.
constexpr int32_t LIMIT_BINS = 300;
constexpr int32_t LIMIT_DERIVATIVE = 19;
// The central difference that gives each pixel's slope, and the peak half-width kept.
constexpr int32_t SLOPE_FILTER_LENGTH = 3;
constexpr double SLOPE_SIGMAS = 2.0;
// Narrowest bin of the first level's histogram before it falls back to unit bins.
constexpr float MIN_UNIT_BIN_WIDTH = 0.5f;
// A widening margin beyond this spans every 32-bit value anyway.
constexpr double MAX_MARGIN = 4294967296.0;
// The robust plane counts each axis's slopes value by value in a window of COUNT_SPAN + 1
// values about the median slope of one row, and lists the few valid ones outside it, up to a
// quarter of the window's pixels (at least MIN_OUTLIERS): the counts and lists of both axes take
// about 2 bytes a pixel. An axis with more is gathered value by value in sweeps of its own. The
// counts of a value are spread over COUNT_LANES lanes, with both axes' counts taking turns as
// many as equal neighbours need not to wait on each other's counts, and few enough that the
// counts of widely spread slopes stay in the first-level cache. Lanes lie LANE_STRIDE counts apart,
// and the y axis's lanes AXIS_COUNTS after the x axis's: one slot of two lanes, or of both axes
// (whose slopes sit alike about their centres), is then never a multiple of 4 KiB away, where
// the processor takes a load for one of the store before and waits for it.
constexpr std::size_t COUNT_SLOTS = 4096;
constexpr uint32_t COUNT_SPAN = COUNT_SLOTS - 3;  // the window: [base, base + COUNT_SPAN]
constexpr uint32_t INVALID_SLOT = COUNT_SPAN + 1;
constexpr uint32_t OUTSIDE_SLOT = COUNT_SPAN + 2;
constexpr std::size_t COUNT_LANES = 4;
constexpr std::size_t LANE_STRIDE = COUNT_SLOTS + 16;  // 64 bytes more
constexpr std::size_t AXIS_COUNTS = COUNT_LANES * LANE_STRIDE + 512;  // 2 KiB more
constexpr std::size_t MIN_OUTLIERS = 4096;
// Rows whose totals the offset gathers at a time.
constexpr int32_t OFFSET_BLOCK_ROWS = 128;

int32_t clamp_to_int32(int64_t v) {
  if (v < INT32_MIN) return INT32_MIN;
  if (v > INT32_MAX) return INT32_MAX;
  return static_cast<int32_t>(v);
}

// The value of bin i, lo + i w in single precision, rounded half away from zero.
int32_t bin_value(int32_t lo, int32_t i, float w) {
  const double v = static_cast<float>(lo) + static_cast<float>(i) * w;
  if (!(v > -2147483648.5)) return INT32_MIN;  // also NaN
  if (!(v < 2147483647.5)) return INT32_MAX;
  return static_cast<int32_t>(v < 0.0 ? v - 0.5 : v + 0.5);
}

struct Peak {
  int32_t lo;      // value of bin 0 after widening
  float width;     // bin width
  int32_t index;   // peak bin
  float position;  // peak position in value units
};

// The values of a map (window-sized, row after row) that take part in derivative_limits's
// histogram: the valid ones within [low, high].
struct SlopeValues {
  const int32_t* values;
  std::size_t count;
  int32_t low;
  int32_t high;
};

// One histogram, from its bounds to its peak; it releases its arrays. The robust plane's
// weights are exact (fit/exact_histogram.h), gathered in `totals`.
struct SlopeHistogram {
  int32_t e = 0;
  int32_t wlo = 0;
  int32_t whi = 0;
  float w = 0.0f;
  FloatPairArray hist{};
  FloatPairArray deriv{};
  void* totals = nullptr;
  ExactHistogram exact{};

  SlopeHistogram() = default;
  SlopeHistogram(const SlopeHistogram&) = delete;
  SlopeHistogram& operator=(const SlopeHistogram&) = delete;
  ~SlopeHistogram() {
    array_free(hist);
    array_free(deriv);
    mem_release(totals);
  }
};

// The histogram of values over their range [lo, hi] widened for a derivative of length e, its
// bins made empty. Bins narrower than half a unit become unit bins centred on the data (see the
// top of the file).
ErrorCode histogram_begin(SlopeHistogram& h, int32_t lo, int32_t hi, int32_t bins, int32_t e) {
  const int64_t middle = static_cast<int64_t>(bins) - 2 * static_cast<int64_t>(e) + 1;
  if (middle < 1 || bins < 2 || e < 1) return ERR_PARAM_OUT_OF_RANGE;
  const float q = static_cast<float>(static_cast<int64_t>(hi) - lo) / static_cast<float>(middle);
  double margin = static_cast<double>(static_cast<float>(e - 1) * q) + 0.5;
  if (!(margin < MAX_MARGIN)) margin = MAX_MARGIN;
  const int64_t g = static_cast<int64_t>(margin);
  // Clamped so that data near the ends of the 32-bit range cannot overflow the bounds.
  int32_t wlo = clamp_to_int32(static_cast<int64_t>(lo) - g);
  int32_t whi = clamp_to_int32(static_cast<int64_t>(hi) + g);
  float w = static_cast<float>(static_cast<int64_t>(whi) - wlo) / static_cast<float>(bins - 1);
  if (hi > lo && w < MIN_UNIT_BIN_WIDTH) {
    const int64_t span = static_cast<int64_t>(bins) - 1;
    int64_t first = lo - (span - (static_cast<int64_t>(hi) - lo)) / 2;
    if (first + span > INT32_MAX) first = INT32_MAX - span;
    wlo = clamp_to_int32(first);
    whi = clamp_to_int32(static_cast<int64_t>(wlo) + span);
    w = 1.0f;
  }
  h.e = e;
  h.wlo = wlo;
  h.whi = whi;
  h.w = w;
  // value_histogram of a map without values: the bins, all empty.
  PhaseMap none;
  map_init(none);
  return value_histogram(none, bins, wlo, w, h.hist);
}

// histogram_begin for the values in [lo, hi], with exact totals for them (ERR_NO_MEM).
ErrorCode exact_begin(SlopeHistogram& h, int32_t lo, int32_t hi, int32_t bins, int32_t e) {
  ErrorCode rc = histogram_begin(h, lo, hi, bins, e);
  if (rc != NO_ERROR) return rc;
  h.totals = mem_allocate(exact_histogram_bytes(bins));
  if (h.totals == nullptr) return ERR_NO_MEM;
  h.exact = exact_histogram_begin(bins, h.wlo, h.w, lo, hi, h.totals);
  return NO_ERROR;
}

// Whether the values are gathered at all: value_histogram gathers nothing for a zero bin width.
bool gathers(const SlopeHistogram& h) {
  return h.w != 0.0f;
}

// The derivative and the peak of a gathered histogram.
ErrorCode histogram_finish(SlopeHistogram& h, Peak* peak) {
  const ErrorCode rc = histogram_derivative(h.hist, h.deriv, h.e);
  if (rc != NO_ERROR) return rc;
  *peak = Peak{h.wlo, h.w, 0, 0.0f};
  return peak_position(h.hist, h.deriv, h.e, h.wlo, h.whi, &peak->index, &peak->position);
}

// The value range [lo, hi] of one axis's slopes (found false when there is none).
struct Slopes {
  int32_t lo;
  int32_t hi;
  bool found;
};

// The slope of one output sample from the three under the filter, and its validity.
inline int32_t slope(int32_t before, int32_t at, int32_t after) {
  const bool valid = (before < PHASE_INVALID) & (at < PHASE_INVALID) & (after < PHASE_INVALID);
  const float s = static_cast<float>(after) - static_cast<float>(before);
  return blend(valid, sample_to_phase(s / 2.0f), PHASE_INVALID);
}

// Per axis: the smallest and largest valid slope so far.
struct SlopeRange {
  int32_t lo = INT32_MAX;
  int32_t hi = INT32_MIN;
};

// Slopes of the x direction along one row of `width` values (nothing valid when `none`).
HARNIX_VECTOR_CLONES void row_slopes(const int32_t* row, int32_t width, bool none, int32_t* out,
                                     SlopeRange& range) {
  int32_t lo = range.lo;
  int32_t hi = range.hi;
  out[0] = PHASE_INVALID;
  out[width - 1] = PHASE_INVALID;
  if (!none) {
    for (int32_t c = 1; c < width - 1; ++c) {
      const int32_t g = slope(row[c - 1], row[c], row[c + 1]);
      out[c] = g;
      lo = std::min(lo, g);  // PHASE_INVALID is above every slope
      hi = std::max(hi, blend(g < PHASE_INVALID, g, INT32_MIN));
    }
  }
  range.lo = lo;
  range.hi = hi;
}

// Slopes of the y direction at one row from the rows above and below it.
HARNIX_VECTOR_CLONES void column_slopes(const int32_t* above, const int32_t* row,
                                        const int32_t* below, int32_t width, int32_t* out,
                                        SlopeRange& range) {
  int32_t lo = range.lo;
  int32_t hi = range.hi;
  for (int32_t c = 0; c < width; ++c) {
    const int32_t g = slope(above[c], row[c], below[c]);
    out[c] = g;
    lo = std::min(lo, g);  // PHASE_INVALID is above every slope
    hi = std::max(hi, blend(g < PHASE_INVALID, g, INT32_MIN));
  }
  range.lo = lo;
  range.hi = hi;
}

// The range of the valid values of one row that lie in [low, high], added to *range.
HARNIX_VECTOR_CLONES void kept_row_range(const int32_t* p, int32_t n, int32_t low, int32_t high,
                                         SlopeRange& range) {
  int32_t lo = range.lo;
  int32_t hi = range.hi;
  for (int32_t i = 0; i < n; ++i) {
    const int32_t v = p[i];
    const bool keep = (v >= low) & (v <= high) & (v < PHASE_INVALID);
    lo = std::min(lo, blend(keep, v, INT32_MAX));
    hi = std::max(hi, blend(keep, v, INT32_MIN));
  }
  range.lo = lo;
  range.hi = hi;
}

HARNIX_VECTOR_CLONES int32_t count_valid_span(const int32_t* p, int32_t n) {
  int32_t valid = 0;
  for (int32_t i = 0; i < n; ++i) valid += p[i] < PHASE_INVALID;
  return valid;
}

// The slopes of `src` in `frame`, row after row: each row's x slopes into `x` and y slopes into
// `y` (window-wide), their ranges added to *x_range and *y_range, then f(row, has_x, has_y),
// has_x and has_y telling whether the row has slopes of that direction at all (else the row
// buffer's contents are not the row's). The slopes are formed anew in every sweep, from the map
// alone: cheaper than keeping maps of them.
template <typename F>
void sweep_slopes(ConstPhaseView src, const Window& frame, int32_t* x, int32_t* y,
                  SlopeRange* x_range, SlopeRange* y_range, F&& f) {
  const int32_t width = src.window.width;
  const int32_t height = src.window.height;
  const bool no_x = frame.width <= SLOPE_FILTER_LENGTH;
  const bool no_y = frame.height <= SLOPE_FILTER_LENGTH;
  for (int32_t r = 0; r < height; ++r) {
    row_slopes(src.row(r), width, no_x, x, *x_range);
    const bool has_y = !no_y && r > 0 && r < height - 1;
    if (has_y) column_slopes(src.row(r - 1), src.row(r), src.row(r + 1), width, y, *y_range);
    f(r, !no_x, has_y);
  }
}

// One axis's slopes counted value by value in the window [base, base + COUNT_SPAN] (slot
// INVALID_SLOT takes the invalid slopes, OUTSIDE_SLOT the others), the valid ones outside the
// window listed in `outliers`. Counts are integers, exact whatever their order, so the lanes
// take values in turn and are added afterwards.
struct SlopeCounts {
  uint32_t* lanes;  // COUNT_LANES lanes of COUNT_SLOTS counts, LANE_STRIDE apart
  int32_t base;
  int32_t* outliers;
  std::size_t outside;   // slopes listed
  std::size_t capacity;  // of the list
  bool full;             // the list could not hold them all: the axis is not counted
};

// The slot of each of the n slopes of a row in lane i mod COUNT_LANES, as an index into the
// lanes, and the number of valid slopes outside the window.
HARNIX_VECTOR_CLONES uint32_t slots_of(const int32_t* s, int32_t n, uint32_t base,
                                       uint32_t* slots) {
  uint32_t outside = 0;
  for (int32_t i = 0; i < n; ++i) {
    const int32_t v = s[i];
    const uint32_t k = static_cast<uint32_t>(v) - base;  // values below the base wrap round above
    const bool inside = k <= COUNT_SPAN;
    const bool invalid = v >= PHASE_INVALID;  // never inside: the window stops below
    const auto other = static_cast<int32_t>(invalid ? INVALID_SLOT : OUTSIDE_SLOT);
    const auto slot = static_cast<uint32_t>(blend(inside, static_cast<int32_t>(k), other));
    slots[i] = (static_cast<uint32_t>(i) % COUNT_LANES) * LANE_STRIDE + slot;
    outside += static_cast<uint32_t>(!inside & !invalid);
  }
  return outside;
}

// Counts the n slopes of one row: their slots formed on vector registers, then one addition to
// memory each, without a branch on the values. A row with slopes outside the window (rare) is
// read again for them. `slots` is a row buffer.
// Lists the `outside` valid slopes of s[0..n) outside the window of c, or marks the axis not
// counted when the list cannot hold them.
void list_outside(const int32_t* s, int32_t n, uint32_t outside, SlopeCounts& c) {
  if (outside > c.capacity - c.outside) {
    c.full = true;
    return;
  }
  const auto base = static_cast<uint32_t>(c.base);
  for (int32_t i = 0; i < n; ++i) {
    const int32_t v = s[i];
    if (static_cast<uint32_t>(v) - base > COUNT_SPAN && v < PHASE_INVALID) {
      c.outliers[c.outside++] = v;
    }
  }
}

void count_row(const int32_t* s, int32_t n, SlopeCounts& c, uint32_t* slots) {
  if (c.full) return;
  const uint32_t outside = slots_of(s, n, static_cast<uint32_t>(c.base), slots);
  uint32_t* lanes = c.lanes;
  for (int32_t i = 0; i < n; ++i) ++lanes[slots[i]];
  if (outside != 0) list_outside(s, n, outside, c);
}

// Samples within +-SMALL_SAMPLE are floats exactly, and so are their differences (below 2^24)
// and the halves of those: there the single-precision slope is the integer one below.
constexpr uint32_t SMALL_SAMPLE = 1u << 23;

// 1 for a valid sample beyond +-SMALL_SAMPLE.
inline int32_t beyond_small(int32_t v) {
  return static_cast<int32_t>(v < PHASE_INVALID) &
         static_cast<int32_t>(static_cast<uint32_t>(v) + SMALL_SAMPLE >= 2 * SMALL_SAMPLE);
}

// slope() for samples within +-SMALL_SAMPLE, in integers: (d + [d >= 0]) >> 1 is d / 2 rounded
// half away from zero. Wrapping arithmetic, so that samples of other sizes give some number
// (unused) rather than an overflow.
inline int32_t small_slope(int32_t before, int32_t at, int32_t after) {
  const bool valid = (before < PHASE_INVALID) & (at < PHASE_INVALID) & (after < PHASE_INVALID);
  const uint32_t d = static_cast<uint32_t>(after) - static_cast<uint32_t>(before);
  const uint32_t up = d + 1u + static_cast<uint32_t>(static_cast<int32_t>(d) >> 31);
  return blend(valid, static_cast<int32_t>(up) >> 1, PHASE_INVALID);
}

// The slot of slope g in lane `lane` (slots_of), the valid ones outside the window counted.
inline uint32_t slot_in_lane(int32_t g, uint32_t base, uint32_t lane, uint32_t& outside) {
  const uint32_t k = static_cast<uint32_t>(g) - base;
  const bool inside = k <= COUNT_SPAN;
  const bool invalid = g >= PHASE_INVALID;
  const auto other = static_cast<int32_t>(invalid ? INVALID_SLOT : OUTSIDE_SLOT);
  outside += static_cast<uint32_t>(!inside & !invalid);
  return lane * LANE_STRIDE + static_cast<uint32_t>(blend(inside, static_cast<int32_t>(k), other));
}

// What the slot sweeps found in a row, for one axis.
struct RowSlots {
  uint32_t outside;  // valid slopes outside the window
  int32_t wide;      // x_slots: a valid sample of the row beyond +-SMALL_SAMPLE
};

// The x slopes of a row of at least 3 values as the slots of their counts, right while no valid
// sample of the row lies beyond +-SMALL_SAMPLE (out->wide tells); the edge columns have none.
// Returns the valid pixels.
HARNIX_VECTOR_CLONES int32_t x_slots(const int32_t* row, int32_t width, uint32_t base,
                                     uint32_t* xs, RowSlots* out) {
  uint32_t outside = 0;
  const int32_t wide = beyond_small(row[0]) | beyond_small(row[width - 1]);
  int32_t valid = (row[0] < PHASE_INVALID) + (row[width - 1] < PHASE_INVALID);
  // The valid samples in between, moved up by SMALL_SAMPLE, all lie below 2 SMALL_SAMPLE when
  // their bits above it stay clear.
  uint32_t moved = 0;
  xs[0] = slot_in_lane(PHASE_INVALID, base, 0, outside);
  for (int32_t c = 1; c < width - 1; ++c) {
    const int32_t m = row[c];
    const bool here = m < PHASE_INVALID;
    valid += here;
    moved |= (static_cast<uint32_t>(m) + SMALL_SAMPLE) & (0u - static_cast<uint32_t>(here));
    const int32_t g = small_slope(row[c - 1], m, row[c + 1]);
    xs[c] = slot_in_lane(g, base, static_cast<uint32_t>(c) % COUNT_LANES, outside);
  }
  xs[width - 1] = slot_in_lane(PHASE_INVALID, base, uint32_t(width - 1) % COUNT_LANES, outside);
  *out = RowSlots{outside, wide | static_cast<int32_t>(moved >= 2 * SMALL_SAMPLE)};
  return valid;
}

// The y slopes of a row from the rows above and below it, as x_slots: right while neither of
// those has a wide sample.
HARNIX_VECTOR_CLONES void y_slots(const int32_t* above, const int32_t* row, const int32_t* below,
                                  int32_t width, uint32_t base, uint32_t* ys, RowSlots* out) {
  uint32_t outside = 0;
  for (int32_t c = 0; c < width; ++c) {
    const int32_t g = small_slope(above[c], row[c], below[c]);
    ys[c] = slot_in_lane(g, base, static_cast<uint32_t>(c) % COUNT_LANES, outside);
  }
  *out = RowSlots{outside, 0};
}

// Counts the slots of one row of both axes: one addition to memory each, the axes taking turns.
// Not inlined: the loop then has the registers to itself.
[[gnu::noinline]] void add_slots(const uint32_t* xs, const uint32_t* ys, int32_t n,
                                 SlopeCounts& x, SlopeCounts& y) {
  uint32_t* const lx = x.lanes;
  uint32_t* const ly = y.lanes;
  if (!x.full && !y.full) {
    for (int32_t i = 0; i < n; ++i) {
      ++lx[xs[i]];
      ++ly[ys[i]];
    }
    return;
  }
  if (!x.full) for (int32_t i = 0; i < n; ++i) ++lx[xs[i]];
  if (!y.full) for (int32_t i = 0; i < n; ++i) ++ly[ys[i]];
}

// The lanes added into the first.
void merge_lanes(const SlopeCounts& c) {
  uint32_t* a = c.lanes;
  for (std::size_t l = 1; l < COUNT_LANES; ++l) {
    const uint32_t* b = c.lanes + l * LANE_STRIDE;
    for (std::size_t k = 0; k < COUNT_SLOTS; ++k) a[k] += b[k];
  }
}

// The part [from, to] of [low, high] within the window (from > to: none).
struct WindowPart {
  int64_t from;
  int64_t to;
};

WindowPart window_part(const SlopeCounts& c, int32_t low, int32_t high) {
  return WindowPart{std::max<int64_t>(low, c.base),
                    std::min<int64_t>(high, int64_t(c.base) + COUNT_SPAN)};
}

// The range of the counted and listed values that lie in [low, high] (merged lanes).
Slopes counted_range(const SlopeCounts& c, int32_t low, int32_t high) {
  SlopeRange r;
  kept_row_range(c.outliers, int32_t(c.outside), low, high, r);
  const WindowPart part = window_part(c, low, high);
  int64_t first = part.from;
  while (first <= part.to && c.lanes[first - c.base] == 0) ++first;
  if (first <= part.to) {
    int64_t last = part.to;
    while (c.lanes[last - c.base] == 0) --last;
    r.lo = std::min(r.lo, clamp_to_int32(first));
    r.hi = std::max(r.hi, clamp_to_int32(last));
  }
  return Slopes{r.lo, r.hi, r.lo <= r.hi};
}

// One axis of the fit: the range of all its slopes, and their counts.
struct Axis {
  SlopeRange range;
  SlopeCounts counts{};
  bool counted() const { return !counts.full; }
};

// The median of the valid slopes of the first row from the middle down, then from the top, that
// has any (0 when none has): the window's centre, about which nearly every slope of a surface
// lies. `s` is a row buffer, `x` whether the axis is x.
int32_t central_slope(ConstPhaseView src, const Window& frame, bool x, int32_t* s) {
  const int32_t width = src.window.width;
  const int32_t height = src.window.height;
  if ((x ? frame.width : frame.height) <= SLOPE_FILTER_LENGTH) return 0;
  for (int32_t k = 0; k < height; ++k) {
    const int32_t r = (height / 2 + k) % height;
    SlopeRange range;
    if (x) {
      row_slopes(src.row(r), width, false, s, range);
    } else if (r > 0 && r < height - 1) {
      column_slopes(src.row(r - 1), src.row(r), src.row(r + 1), width, s, range);
    }
    if (range.lo > range.hi) continue;
    int32_t* end = std::remove(s, s + width, PHASE_INVALID);
    int32_t* mid = s + (end - s) / 2;
    std::nth_element(s, mid, end);
    return *mid;
  }
  return 0;
}

// Counts for the axis in `lanes` (AXIS_COUNTS counts, made 0) in a window
// about `centre` that stops below PHASE_INVALID, and a list of `capacity` slopes.
void place_counts(Axis& a, uint32_t* lanes, int32_t centre, int32_t* list, std::size_t capacity) {
  const int64_t top = int64_t(PHASE_INVALID) - 1 - COUNT_SPAN;
  const int64_t base = std::clamp<int64_t>(int64_t(centre) - COUNT_SPAN / 2, INT32_MIN, top);
  a.counts = SlopeCounts{lanes, int32_t(base), list, 0, capacity, false};
  std::fill(lanes, lanes + AXIS_COUNTS, 0u);
}

// The extent [low, high] of the main peak of a gathered first-level histogram at k standard
// deviations: its bins' values rounded (derivative_limits).
ErrorCode peak_limits(SlopeHistogram& h, double k, int32_t* low, int32_t* high) {
  Peak peak{};
  ErrorCode rc = histogram_finish(h, &peak);
  int32_t first = 0;
  int32_t last = 0;
  if (rc == NO_ERROR) rc = peak_extent(h.hist, peak.index, k, &first, &last);
  if (rc == NO_ERROR) {
    *low = bin_value(peak.lo, first, peak.width);
    *high = bin_value(peak.lo, last, peak.width);
  }
  return rc;
}

// The first level of one axis: its histogram over all its valid slopes, whose range is `range`,
// begun (codes of exact_begin; ERR_ALL_BAD_DATA without a valid slope, as phase_map_min_max).
ErrorCode begin_first_level(SlopeHistogram& h, const SlopeRange& range) {
  if (range.lo > range.hi) return ERR_ALL_BAD_DATA;
  return exact_begin(h, range.lo, range.hi, LIMIT_BINS, LIMIT_DERIVATIVE);
}

// The second level of one axis: the histogram of its kept slopes s (within [s.lo, s.hi]) of
// `bins` bins and a derivative of length e, begun; *single when every kept slope has one value
// (no histogram: that value is the slope).
ErrorCode begin_second_level(SlopeHistogram& h, const Slopes& s, int32_t bins, int32_t e,
                             bool* single) {
  *single = false;
  if (!s.found) return ERR_ALL_BAD_DATA;
  if (static_cast<int64_t>(bins) - 2 * static_cast<int64_t>(e) + 1 < 1) {
    return ERR_PARAM_OUT_OF_RANGE;
  }
  if (s.lo == s.hi) {  // one value only: the histogram would have no width
    *single = true;
    return NO_ERROR;
  }
  return exact_begin(h, s.lo, s.hi, bins, e);
}

// The most frequent slope: the peak of the gathered second level, or the one value.
ErrorCode most_frequent(SlopeHistogram& h, const Slopes& s, bool single, float* value) {
  if (single) {
    *value = static_cast<float>(s.lo);
    return NO_ERROR;
  }
  Peak peak{};
  const ErrorCode rc = histogram_finish(h, &peak);
  if (rc == NO_ERROR) *value = peak.position;
  return rc;
}

// Derivative length of the final histograms: a quarter of the bins, odd, at least 5.
int32_t final_derivative_length(int32_t bins) {
  const int32_t e = (bins / 4) | 1;
  return e > 5 ? e : 5;
}

// The sweeps of a fit over its map: the map, its frame, two window-wide row buffers.
struct SlopeSweep {
  ConstPhaseView src;
  const Window& frame;
  int32_t* x;
  int32_t* y;
};

// Gathers one level of both axes into hx and hy (nullptr: that axis not at all; a histogram of
// zero bin width gathers nothing): from the counts and the list of a counted axis, from one
// sweep over the map for the others.
void gather_level(const SlopeSweep& s, const Axis& x, SlopeHistogram* hx, const Axis& y,
                  SlopeHistogram* hy) {
  const bool with_x = hx != nullptr && gathers(*hx);
  const bool with_y = hy != nullptr && gathers(*hy);
  const bool direct_x = with_x && !x.counted();
  const bool direct_y = with_y && !y.counted();
  if (direct_x || direct_y) {
    const auto width = static_cast<std::size_t>(s.src.window.width);
    SlopeRange xr;
    SlopeRange yr;
    sweep_slopes(s.src, s.frame, s.x, s.y, &xr, &yr, [&](int32_t, bool has_x, bool has_y) {
      if (direct_x && has_x) exact_histogram_add_values(hx->exact, s.x, width);
      if (direct_y && has_y) exact_histogram_add_values(hy->exact, s.y, width);
    });
  }
  // The counts of the histogram's own range [low, high] within the window, and the list.
  const auto add_counts = [](SlopeHistogram& h, const SlopeCounts& c) {
    const WindowPart part = window_part(c, h.exact.low, h.exact.high);
    if (part.from <= part.to) {
      exact_histogram_add_counts(h.exact, c.lanes + (part.from - c.base), int32_t(part.from),
                                 int32_t(part.to));
    }
    exact_histogram_add_values(h.exact, c.outliers, c.outside);
  };
  if (with_x) {
    if (x.counted()) add_counts(*hx, x.counts);
    exact_histogram_finish(hx->exact, hx->hist);
  }
  if (with_y) {
    if (y.counted()) add_counts(*hy, y.counts);
    exact_histogram_finish(hy->exact, hy->hist);
  }
}

// The ranges of the slopes of each axis within its [low, high]: from the counts and list of a
// counted axis, from one sweep over the map for the others.
void kept_ranges(const SlopeSweep& s, const Axis& x, int32_t x_low, int32_t x_high,
                 const Axis& y, int32_t y_low, int32_t y_high, Slopes* xs, Slopes* ys) {
  SlopeRange xr;
  SlopeRange yr;
  if (!x.counted() || !y.counted()) {
    const int32_t width = s.src.window.width;
    SlopeRange ux;
    SlopeRange uy;
    sweep_slopes(s.src, s.frame, s.x, s.y, &ux, &uy, [&](int32_t, bool has_x, bool has_y) {
      if (!x.counted() && has_x) kept_row_range(s.x, width, x_low, x_high, xr);
      if (!y.counted() && has_y) kept_row_range(s.y, width, y_low, y_high, yr);
    });
  }
  *xs = x.counted() ? counted_range(x.counts, x_low, x_high)
                    : Slopes{xr.lo, xr.hi, xr.lo <= xr.hi};
  *ys = y.counted() ? counted_range(y.counts, y_low, y_high)
                    : Slopes{yr.lo, yr.hi, yr.lo <= yr.hi};
}

}  // namespace

ErrorCode derivative_limits(const PhaseMap& src, PhaseMap& dst, SgKind kind,
                            DerivativeDirection direction, int32_t length, double k, int32_t* low,
                            int32_t* high) {
  *low = 0;
  *high = 0;
  if (window_relation(src.window, dst.window) != WindowRelation::WN_EQUAL)
    return ERR_IMPROPER_WINDOW;
  ErrorCode rc = NO_ERROR;
  switch (direction) {
    case DerivativeDirection::COPY:
      rc = phase_map_copy(src, dst);
      break;
    case DerivativeDirection::ROWS:
      rc = filter_rows(src, dst, length, kind);
      break;
    case DerivativeDirection::COLUMNS:
      rc = filter_columns(src, dst, length, kind);
      break;
    case DerivativeDirection::GRADIENT:
      rc = gradient_magnitude(src, dst, length, kind);
      break;
    default:
      return ERR_PARAM_OUT_OF_RANGE;
  }
  if (rc != NO_ERROR) return rc;

  int32_t lo = 0;
  int32_t hi = 0;
  rc = phase_map_min_max(dst, &lo, &hi);
  if (rc != NO_ERROR) return rc;
  const std::size_t count = std::size_t(dst.window.width) * std::size_t(dst.window.height);
  SlopeHistogram h;
  rc = histogram_begin(h, lo, hi, LIMIT_BINS, LIMIT_DERIVATIVE);
  if (rc != NO_ERROR) return rc;
  if (gathers(h)) histogram_add_values(dst.matrix, count, h.wlo, h.w, lo, hi, h.hist);
  return peak_limits(h, k, low, high);
}

ErrorCode fit_robust_plane(const PhaseMap& map, const Window* window, SurfaceFit* fit,
                           int32_t bins) {
  SurfaceWorkspace storage;
  const ErrorCode rc = fit_robust_plane(map, window, fit, bins, storage);
  surface_workspace_free(storage);
  return rc;
}

namespace {

// Row r of the counting sweep in single precision: its slopes into the row buffers, their
// ranges, their counts (`slots` a row buffer); returns the row's valid pixels.
int32_t count_row_slopes(const SlopeSweep& s, int32_t r, Axis& x, Axis& y, uint32_t* slots) {
  const ConstPhaseView& src = s.src;
  const int32_t width = src.window.width;
  const bool no_x = s.frame.width <= SLOPE_FILTER_LENGTH;
  const bool has_y =
      s.frame.height > SLOPE_FILTER_LENGTH && r > 0 && r < src.window.height - 1;
  row_slopes(src.row(r), width, no_x, s.x, x.range);
  if (has_y) column_slopes(src.row(r - 1), src.row(r), src.row(r + 1), width, s.y, y.range);
  if (!no_x) count_row(s.x, width, x.counts, slots);
  if (has_y) count_row(s.y, width, y.counts, slots);
  return count_valid_span(src.row(r), width);
}

// The one sweep that counts: every row's slopes of both axes counted (or listed), and the
// valid pixels, returned; then each axis's range. The rows between the first and the last go
// through the integer slopes while they and their neighbours have only small samples (each row's
// x slots formed a row ahead, to know), the others through the slopes in single precision.
// `rows` holds three row buffers of 4 bytes a column.
int32_t count_slopes(const SlopeSweep& s, Axis& x, Axis& y, uint32_t* rows) {
  const ConstPhaseView& src = s.src;
  const int32_t width = src.window.width;
  const int32_t height = src.window.height;
  uint32_t* const slots = rows;
  uint32_t* const xb[2] = {rows + width, rows + 2 * width};
  // The y slots in the row buffer of the y slopes, which are formed there again only once the
  // slots are counted.
  auto* const ys = reinterpret_cast<uint32_t*>(s.y);
  int32_t valid = 0;
  const bool integers = s.frame.width > SLOPE_FILTER_LENGTH &&
                        s.frame.height > SLOPE_FILTER_LENGTH && width >= 3 && height >= 3;
  if (!integers) {
    for (int32_t r = 0; r < height; ++r) valid += count_row_slopes(s, r, x, y, slots);
  } else {
    const auto x_base = static_cast<uint32_t>(x.counts.base);
    const auto y_base = static_cast<uint32_t>(y.counts.base);
    valid += count_row_slopes(s, 0, x, y, slots);
    RowSlots xt[2] = {};
    int32_t xv[2] = {};
    xv[0] = x_slots(src.row(0), width, x_base, xb[0], &xt[0]);  // only its wideness is used
    xv[1] = x_slots(src.row(1), width, x_base, xb[1], &xt[1]);
    int32_t wide_above = xt[0].wide;
    for (int32_t r = 1; r < height - 1; ++r) {
      const int32_t here = r & 1;
      const int32_t next = here ^ 1;
      const RowSlots this_row = xt[here];
      const int32_t this_valid = xv[here];
      xv[next] = x_slots(src.row(r + 1), width, x_base, xb[next], &xt[next]);
      const int32_t wide = wide_above | this_row.wide | xt[next].wide;
      wide_above = this_row.wide;
      if (wide != 0) {
        valid += count_row_slopes(s, r, x, y, slots);
        continue;
      }
      RowSlots yt{};
      y_slots(src.row(r - 1), src.row(r), src.row(r + 1), width, y_base, ys, &yt);
      valid += this_valid;
      add_slots(xb[here], ys, width, x.counts, y.counts);
      // Rare: slopes outside a window, formed again to be listed.
      SlopeRange unused;
      if (this_row.outside != 0 && !x.counts.full) {
        row_slopes(src.row(r), width, false, s.x, unused);
        list_outside(s.x, width, this_row.outside, x.counts);
      }
      if (yt.outside != 0 && !y.counts.full) {
        column_slopes(src.row(r - 1), src.row(r), src.row(r + 1), width, s.y, unused);
        list_outside(s.y, width, yt.outside, y.counts);
      }
    }
    valid += count_row_slopes(s, height - 1, x, y, slots);
  }
  // The ranges: of the counts and the list of a counted axis, which hold every valid slope, from
  // a sweep of their own for the others.
  merge_lanes(x.counts);
  merge_lanes(y.counts);
  if (!x.counted() || !y.counted()) {
    SlopeRange xr;
    SlopeRange yr;
    sweep_slopes(src, s.frame, s.x, s.y, &xr, &yr, [](int32_t, bool, bool) {});
    if (!x.counted()) x.range = xr;
    if (!y.counted()) y.range = yr;
  }
  const auto counted = [](const SlopeCounts& c) {
    const Slopes k = counted_range(c, INT32_MIN, INT32_MAX);
    return SlopeRange{k.lo, k.hi};
  };
  if (x.counted()) x.range = counted(x.counts);
  if (y.counted()) y.range = counted(y.counts);
  return valid;
}

// The robust plane of the view's pixels in the coordinates of `frame`, which holds the view's
// window; the checks are the caller's.
ErrorCode fit_in_frame(ConstPhaseView src, const Window& frame, SurfaceFit* fit, int32_t bins,
                       SurfaceWorkspace& storage, const FitOptions& options) {
  *fit = SurfaceFit{};
  fit->type = FitType::plane;
  window_center(frame, &fit->center_x, &fit->center_y);
  const Window& w = src.window;

  // The counts and lists of both axes lie in the caller's storage, kept from call to call:
  // storage of this size, made and released for every call, would cost its pages' first touch
  // every time. Five row buffers follow: the slopes of both axes, then those of the counting
  // sweep (count_slopes).
  const std::size_t pixels = std::size_t(w.width) * std::size_t(w.height);
  const auto width = std::size_t(w.width);
  const std::size_t lanes = AXIS_COUNTS;
  const std::size_t capacity = std::max(MIN_OUTLIERS, pixels / 4);
  const std::size_t area = 2 * (lanes + capacity) * sizeof(int32_t);
  ErrorCode rc = surface_workspace_reserve(storage, area + 5 * width * sizeof(int32_t));
  if (rc != NO_ERROR) return rc;
  int32_t* gx = static_cast<int32_t*>(storage.storage);
  auto* counts = static_cast<uint32_t*>(storage.storage);
  int32_t* lists = gx + 2 * lanes;
  const SlopeSweep sweep{src, frame, gx + area / sizeof(int32_t),
                         gx + area / sizeof(int32_t) + width};
  auto* slots = reinterpret_cast<uint32_t*>(sweep.y + width);
  Axis x;
  Axis y;
  place_counts(x, counts, central_slope(src, frame, true, sweep.x), lists, capacity);
  place_counts(y, counts + lanes, central_slope(src, frame, false, sweep.y), lists + capacity,
               capacity);
  fit->npoints = count_slopes(sweep, x, y, slots);

  float x_slope = 0.0f;
  float y_slope = 0.0f;
  Slopes xs{};
  Slopes ys{};
  // Each level gathers both axes together; the outcome is that of the x axis's first level, the
  // y axis's, then the x axis's second level and the y axis's, but that a refused request for
  // the y axis's bins, made before the x axis's outcome is known, is never hidden.
  {
    SlopeHistogram hx;
    SlopeHistogram hy;
    if ((rc = begin_first_level(hx, x.range)) != NO_ERROR) return rc;
    const ErrorCode y_begun = begin_first_level(hy, y.range);
    gather_level(sweep, x, &hx, y, y_begun == NO_ERROR ? &hy : nullptr);
    if (y_begun == ERR_NO_MEM) return y_begun;
    int32_t x_low = 0;
    int32_t x_high = 0;
    int32_t y_low = 0;
    int32_t y_high = 0;
    if ((rc = peak_limits(hx, SLOPE_SIGMAS, &x_low, &x_high)) != NO_ERROR) return rc;
    if ((rc = y_begun) != NO_ERROR ||
        (rc = peak_limits(hy, SLOPE_SIGMAS, &y_low, &y_high)) != NO_ERROR)
      return rc;
    kept_ranges(sweep, x, x_low, x_high, y, y_low, y_high, &xs, &ys);
  }
  const int32_t e = final_derivative_length(bins);
  {
    SlopeHistogram hx;
    SlopeHistogram hy;
    bool x_single = false;
    bool y_single = false;
    if ((rc = begin_second_level(hx, xs, bins, e, &x_single)) != NO_ERROR) return rc;
    const ErrorCode y_begun = begin_second_level(hy, ys, bins, e, &y_single);
    gather_level(sweep, x, x_single ? nullptr : &hx, y,
                 y_begun == NO_ERROR && !y_single ? &hy : nullptr);
    if (y_begun == ERR_NO_MEM) return y_begun;
    if ((rc = most_frequent(hx, xs, x_single, &x_slope)) != NO_ERROR) return rc;
    if ((rc = y_begun) != NO_ERROR || (rc = most_frequent(hy, ys, y_single, &y_slope)) != NO_ERROR)
      return rc;
  }

  // The offset: a piston fitted to the map with the tilt taken off. The tilt is not written
  // anywhere: each row's totals are those of the integers the subtraction would leave in it,
  // and the piston's row totals and sum of squares are exact, so they give the fit of the whole
  // de-tilted map. Rows go a block at a time, each block's row pair stepped from the frame's
  // first row.
  SurfaceWorkspace tilt_ws;  // a plane: no tables
  fit->x_coef = x_slope;
  fit->y_coef = y_slope;
  fit->offset = 0.0;
  SubtractionPlan tilt{};
  rc = reading_plan_begin(src, frame, *fit, tilt_ws, &tilt);
  PistonTotals piston;
  ValueTotals rows[OFFSET_BLOCK_ROWS];
  for (int32_t r = 0; rc == NO_ERROR && r < w.height; r += OFFSET_BLOCK_ROWS) {
    const int32_t n = std::min(OFFSET_BLOCK_ROWS, w.height - r);
    subtracted_totals(tilt, r, n, options.residual, rows);
    for (int32_t k = 0; k < n; ++k) piston_totals_add_row(piston, rows[k]);
  }
  surface_workspace_free(tilt_ws);
  if (rc != NO_ERROR) return rc;
  rc = fit_piston_totals(frame, piston, options, fit);
  if (rc == NO_ERROR) {
    fit->type = FitType::plane;
    fit->x_coef = x_slope;
    fit->y_coef = y_slope;
  }
  return rc;
}

}  // namespace

ErrorCode fit_robust_plane(const PhaseMap& map, const Window* window, SurfaceFit* fit,
                           int32_t bins, SurfaceWorkspace& storage) {
  *fit = SurfaceFit{};
  fit->type = FitType::plane;
  const Window w = window != nullptr ? *window : map.window;
  if (w.width < 1 || w.height < 1 || !window_within(w, map.window)) return ERR_IMPROPER_WINDOW;
  if (map.matrix == nullptr) return ERR_INVALID_PARAM;
  ConstPhaseView view{};
  const ErrorCode rc = region_view(map, w, &view);
  if (rc != NO_ERROR) return rc;
  return fit_in_frame(view, w, fit, bins, storage, FitOptions{});
}

ErrorCode fit_robust_plane_in_frame(const PhaseMap& map, const Window& frame, SurfaceFit* fit,
                                    int32_t bins, SurfaceWorkspace& storage,
                                    const FitOptions& options) {
  *fit = SurfaceFit{};
  fit->type = FitType::plane;
  const Window& w = map.window;
  if (w.width < 1 || w.height < 1 || !window_within(w, frame)) return ERR_IMPROPER_WINDOW;
  if (!map_holds_window(map)) return ERR_INVALID_PARAM;
  return fit_in_frame(map_view(map), frame, fit, bins, storage, options);
}

}  // namespace harnix
