// The robust plane from slope histograms.
//
// A derived map D is described by a histogram of B bins whose range is the data's [lo, hi]
// widened by g = (e - 1) (hi - lo) / (B - 2e + 1) at each end, so that the data fill the middle
// B - 2e + 1 bins and the derivative of length e has empty bins to work with at both ends. The
// peak of that histogram (the zero crossing of its derivative) is the most frequent value of D.
// First level: 300 bins, e = 19, and the main peak's extent at k = 2 standard deviations gives
// the slopes to keep. Second level: B bins and e = max(5, (B / 4) | 1) over the kept slopes give
// the slope of each axis. The offset and rms are those of a piston fit to the map de-tilted.
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

#include "base/vector_clones.h"
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
// The histograms bin through a table of their value range (histogram_add_values) when it holds
// at most as many values as the map, or MIN_TABLE_RANGE, up to MAX_TABLE_RANGE, and the bins
// are at most MAX_TABLE_BINS: two tables of at most 1 MiB each besides the slope maps.
constexpr std::size_t MIN_TABLE_RANGE = 4096;
constexpr std::size_t MAX_TABLE_RANGE = 65536;
constexpr int32_t MAX_TABLE_BINS = 4096;
// Values of a chunk of rows de-tilted and gathered for the offset at a time: 64 KiB.
constexpr std::size_t OFFSET_CHUNK_VALUES = 16384;

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

// The values of a slope map (window-sized, row after row) that take part in a histogram: the
// valid ones within [low, high].
struct SlopeValues {
  const int32_t* values;
  std::size_t count;
  int32_t low;
  int32_t high;
  void* scratch = nullptr;  // for histogram_add_values
  std::size_t scratch_bytes = 0;
};

// One histogram of slopes, from its bounds to its peak; it releases its arrays.
struct SlopeHistogram {
  SlopeValues d{};
  int32_t e = 0;
  int32_t wlo = 0;
  int32_t whi = 0;
  float w = 0.0f;
  FloatPairArray hist{};
  FloatPairArray deriv{};

  SlopeHistogram() = default;
  SlopeHistogram(const SlopeHistogram&) = delete;
  SlopeHistogram& operator=(const SlopeHistogram&) = delete;
  ~SlopeHistogram() {
    array_free(hist);
    array_free(deriv);
  }
};

// The histogram of the values of d over their range [lo, hi] widened for a derivative of length
// e, its bins made empty. Bins narrower than half a unit become unit bins centred on the data
// (see the top of the file).
ErrorCode histogram_begin(SlopeHistogram& h, const SlopeValues& d, int32_t lo, int32_t hi,
                          int32_t bins, int32_t e) {
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
  h.d = d;
  h.e = e;
  h.wlo = wlo;
  h.whi = whi;
  h.w = w;
  // value_histogram of a map without values: the bins, all empty.
  PhaseMap none;
  map_init(none);
  return value_histogram(none, bins, wlo, w, h.hist);
}

HistogramValues values_of(SlopeHistogram& h, void* scratch, std::size_t bytes) {
  return HistogramValues{h.d.values, h.wlo, h.w, h.d.low, h.d.high, &h.hist, scratch, bytes};
}

// Gathers the values of `a`, and of `b` when given, in one sweep (value_histogram: nothing for
// a zero bin width). b's values are as many as a's.
void histogram_gather(SlopeHistogram& a, SlopeHistogram* b) {
  const bool with_a = a.w != 0.0f;
  const bool with_b = b != nullptr && b->w != 0.0f;
  // Two histograms at once share the scratch, half each.
  const std::size_t half = a.d.scratch_bytes / 2;
  auto* upper = static_cast<unsigned char*>(a.d.scratch) + half;
  if (with_a && with_b) {
    histogram_add_value_pairs(values_of(a, a.d.scratch, half), values_of(*b, upper, half),
                              a.d.count);
  } else if (with_a || with_b) {
    SlopeHistogram& h = with_a ? a : *b;
    histogram_add_values(h.d.values, h.d.count, h.wlo, h.w, h.d.low, h.d.high, h.hist,
                         h.d.scratch, h.d.scratch_bytes);
  }
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

// The ranges of the values of `a` and of `b` (as many as a's), in one sweep over both.
HARNIX_VECTOR_CLONES void ranges_of(const SlopeValues& a, const SlopeValues& b, Slopes* a_range,
                                    Slopes* b_range) {
  int32_t a_lo = INT32_MAX;
  int32_t a_hi = INT32_MIN;
  int32_t b_lo = INT32_MAX;
  int32_t b_hi = INT32_MIN;
  const int32_t* p = a.values;
  const int32_t* q = b.values;
  const std::size_t n = a.count;
  const int32_t a_low = a.low;
  const int32_t a_high = a.high;
  const int32_t b_low = b.low;
  const int32_t b_high = b.high;
  for (std::size_t i = 0; i < n; ++i) {
    const int32_t v = p[i];
    const bool keep_a = (v >= a_low) & (v <= a_high) & (v < PHASE_INVALID);
    a_lo = std::min(a_lo, blend(keep_a, v, INT32_MAX));
    a_hi = std::max(a_hi, blend(keep_a, v, INT32_MIN));
    const int32_t u = q[i];
    const bool keep_b = (u >= b_low) & (u <= b_high) & (u < PHASE_INVALID);
    b_lo = std::min(b_lo, blend(keep_b, u, INT32_MAX));
    b_hi = std::max(b_hi, blend(keep_b, u, INT32_MIN));
  }
  *a_range = Slopes{a_lo, a_hi, a_lo <= a_hi};
  *b_range = Slopes{b_lo, b_hi, b_lo <= b_hi};
}

// The slope of one output sample from the three under the filter, and its validity.
inline int32_t slope(int32_t before, int32_t at, int32_t after) {
  const bool valid = (before < PHASE_INVALID) & (at < PHASE_INVALID) & (after < PHASE_INVALID);
  const float s = static_cast<float>(after) - static_cast<float>(before);
  return blend(valid, sample_to_phase(s / 2.0f), PHASE_INVALID);
}

// Per slope map: the smallest and largest valid slope so far.
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

HARNIX_VECTOR_CLONES int32_t count_valid_span(const int32_t* p, int32_t n) {
  int32_t valid = 0;
  for (int32_t i = 0; i < n; ++i) valid += p[i] < PHASE_INVALID;
  return valid;
}

// Both slope maps of `src` in `frame` into gx and gy (window-sized), their ranges and the valid
// pixels of src, in one pass over its rows.
void slope_maps(ConstPhaseView src, const Window& frame, int32_t* gx, int32_t* gy,
                SlopeRange* x_range, SlopeRange* y_range, int32_t* valid) {
  const int32_t width = src.window.width;
  const int32_t height = src.window.height;
  const auto w = static_cast<std::size_t>(width);
  const bool no_x = frame.width <= SLOPE_FILTER_LENGTH;
  const bool no_y = frame.height <= SLOPE_FILTER_LENGTH;
  int32_t count = 0;
  for (int32_t r = 0; r < height; ++r) {
    int32_t* ox = gx + static_cast<std::size_t>(r) * w;
    int32_t* oy = gy + static_cast<std::size_t>(r) * w;
    row_slopes(src.row(r), width, no_x, ox, *x_range);
    if (no_y || r == 0 || r == height - 1) {
      for (int32_t c = 0; c < width; ++c) oy[c] = PHASE_INVALID;
    } else {
      column_slopes(src.row(r - 1), src.row(r), src.row(r + 1), width, oy, *y_range);
    }
    count += count_valid_span(src.row(r), width);
  }
  *valid = count;
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
// begun (codes of histogram_begin; ERR_ALL_BAD_DATA without a valid slope, as
// phase_map_min_max).
ErrorCode begin_first_level(SlopeHistogram& h, const SlopeValues& g, const SlopeRange& range) {
  if (range.lo > range.hi) return ERR_ALL_BAD_DATA;
  SlopeValues all = g;  // every valid slope lies in its range
  all.low = range.lo;
  all.high = range.hi;
  return histogram_begin(h, all, range.lo, range.hi, LIMIT_BINS, LIMIT_DERIVATIVE);
}

// The slopes of one axis kept after its first level is gathered: those within the main peak.
ErrorCode kept_slopes(SlopeHistogram& h, SlopeValues* kept) {
  int32_t low = 0;
  int32_t high = 0;
  const ErrorCode rc = peak_limits(h, SLOPE_SIGMAS, &low, &high);
  if (rc != NO_ERROR) return rc;
  *kept = h.d;
  kept->low = low;
  kept->high = high;
  return NO_ERROR;
}

// The second level of one axis: the histogram of its kept slopes s (within [s.lo, s.hi]) of
// `bins` bins and a derivative of length e, begun; *single when every kept slope has one value
// (no histogram: that value is the slope).
ErrorCode begin_second_level(SlopeHistogram& h, const SlopeValues& g, const Slopes& s,
                             int32_t bins, int32_t e, bool* single) {
  *single = false;
  if (!s.found) return ERR_ALL_BAD_DATA;
  if (static_cast<int64_t>(bins) - 2 * static_cast<int64_t>(e) + 1 < 1) {
    return ERR_PARAM_OUT_OF_RANGE;
  }
  if (s.lo == s.hi) {  // one value only: the histogram would have no width
    *single = true;
    return NO_ERROR;
  }
  SlopeValues kept = g;
  kept.low = s.lo;
  kept.high = s.hi;
  return histogram_begin(h, kept, s.lo, s.hi, bins, e);
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
  rc = histogram_begin(h, SlopeValues{dst.matrix, count, lo, hi}, lo, hi, LIMIT_BINS,
                       LIMIT_DERIVATIVE);
  if (rc != NO_ERROR) return rc;
  histogram_gather(h, nullptr);
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

// The robust plane of the view's pixels in the coordinates of `frame`, which holds the view's
// window; the checks are the caller's.
ErrorCode fit_in_frame(ConstPhaseView src, const Window& frame, SurfaceFit* fit, int32_t bins,
                       SurfaceWorkspace& storage) {
  *fit = SurfaceFit{};
  fit->type = FitType::plane;
  window_center(frame, &fit->center_x, &fit->center_y);
  const Window& w = src.window;

  // The two slope maps and the histograms' tables lie in the caller's storage, kept from call to
  // call: maps of this size, made and released for every call, would cost their pages' first
  // touch every time.
  const std::size_t pixels = std::size_t(w.width) * std::size_t(w.height);
  const std::size_t table_bytes =
      bins <= MAX_TABLE_BINS
          ? 2 * histogram_table_bytes(std::max(bins, LIMIT_BINS),
                                      int64_t(std::clamp<std::size_t>(pixels, MIN_TABLE_RANGE,
                                                                      MAX_TABLE_RANGE)))
          : 0;
  ErrorCode rc = surface_workspace_reserve(storage, 2 * pixels * sizeof(int32_t) + table_bytes);
  if (rc != NO_ERROR) return rc;
  int32_t* gx = static_cast<int32_t*>(storage.storage);
  int32_t* gy = gx + pixels;
  void* table = gy + pixels;
  SlopeRange x_range;
  SlopeRange y_range;
  slope_maps(src, frame, gx, gy, &x_range, &y_range, &fit->npoints);

  float x_slope = 0.0f;
  float y_slope = 0.0f;
  Slopes xs{};
  Slopes ys{};
  const SlopeValues x_slopes{gx, pixels, INT32_MIN, INT32_MAX, table, table_bytes};
  const SlopeValues y_slopes{gy, pixels, INT32_MIN, INT32_MAX, table, table_bytes};
  // Each level gathers both axes in one sweep; the outcome is that of the x axis's first level,
  // the y axis's, then the x axis's second level and the y axis's, but that a refused request
  // for the y axis's bins, made before the x axis's outcome is known, is never hidden.
  {
    SlopeHistogram hx;
    SlopeHistogram hy;
    if ((rc = begin_first_level(hx, x_slopes, x_range)) != NO_ERROR) return rc;
    const ErrorCode y_begun = begin_first_level(hy, y_slopes, y_range);
    histogram_gather(hx, y_begun == NO_ERROR ? &hy : nullptr);
    if (y_begun == ERR_NO_MEM) return y_begun;
    SlopeValues x_kept{};
    SlopeValues y_kept{};
    if ((rc = kept_slopes(hx, &x_kept)) != NO_ERROR) return rc;
    if ((rc = y_begun) != NO_ERROR || (rc = kept_slopes(hy, &y_kept)) != NO_ERROR) return rc;
    ranges_of(x_kept, y_kept, &xs, &ys);
  }
  const int32_t e = final_derivative_length(bins);
  {
    SlopeHistogram hx;
    SlopeHistogram hy;
    bool x_single = false;
    bool y_single = false;
    if ((rc = begin_second_level(hx, x_slopes, xs, bins, e, &x_single)) != NO_ERROR) return rc;
    const ErrorCode y_begun = begin_second_level(hy, y_slopes, ys, bins, e, &y_single);
    histogram_gather(hx, y_begun == NO_ERROR && !y_single ? &hy : nullptr);
    if (y_begun == ERR_NO_MEM) return y_begun;
    if ((rc = most_frequent(hx, xs, x_single, &x_slope)) != NO_ERROR) return rc;
    if ((rc = y_begun) != NO_ERROR || (rc = most_frequent(hy, ys, y_single, &y_slope)) != NO_ERROR)
      return rc;
  }

  // The offset: a piston fitted to a copy of the map with the tilt taken off, in the slope maps'
  // storage. Each chunk of rows is copied, de-tilted and gathered while it is in the cache; the
  // fit's row totals and sum of squares are exact, so chunks give the fit of the whole copy.
  PhaseMap a;
  map_init(a);
  a.window = w;
  a.size = uint32_t(pixels);
  a.matrix = gx;
  SurfaceWorkspace tilt_ws;  // a plane: no tables
  SurfaceWorkspace ws;       // a piston: only the fit's row totals
  fit->x_coef = x_slope;
  fit->y_coef = y_slope;
  fit->offset = 0.0;
  SubtractionPlan tilt{};
  FitParts piston{};
  rc = subtraction_begin(map_view(a), frame, *fit, 1, tilt_ws, &tilt);
  if (rc == NO_ERROR) {
    rc = fit_parts_begin(map_view(a), frame, FitType::piston, FitOptions{}, 1, ws, &piston, fit);
  }
  if (rc == NO_ERROR) {
    const auto width = std::size_t(w.width);
    const int32_t chunk = std::max<int32_t>(1, int32_t(OFFSET_CHUNK_VALUES / width));
    for (int32_t r = 0; r < w.height; r += chunk) {
      const int32_t rows = std::min(chunk, w.height - r);
      for (int32_t k = r; k < r + rows; ++k) {
        std::memcpy(gx + std::size_t(k) * width, src.row(k), width * sizeof(int32_t));
      }
      subtract_rows(tilt, 0, r, rows);
      fit_parts_gather(piston, 0, r, rows);
    }
    rc = fit_parts_finish(piston, fit);
  }
  if (rc == NO_ERROR) {
    fit->type = FitType::plane;
    fit->x_coef = x_slope;
    fit->y_coef = y_slope;
  }
  surface_workspace_free(tilt_ws);
  surface_workspace_free(ws);
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
  return fit_in_frame(view, w, fit, bins, storage);
}

ErrorCode fit_robust_plane_in_frame(const PhaseMap& map, const Window& frame, SurfaceFit* fit,
                                    int32_t bins, SurfaceWorkspace& storage) {
  *fit = SurfaceFit{};
  fit->type = FitType::plane;
  const Window& w = map.window;
  if (w.width < 1 || w.height < 1 || !window_within(w, frame)) return ERR_IMPROPER_WINDOW;
  if (!map_holds_window(map)) return ERR_INVALID_PARAM;
  return fit_in_frame(map_view(map), frame, fit, bins, storage);
}

}  // namespace harnix
