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
#include "fit/robust_plane.h"

#include <cstddef>
#include <initializer_list>

#include "fit/histogram.h"
#include "fit/least_squares.h"
#include "fit/map_trim.h"
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

// Histogram of d over the data range [lo, hi] widened for a derivative of length e, with its
// derivative and peak. Bins narrower than half a unit become unit bins centred on the data (see
// the top of the file). hist and deriv are the caller's to release whatever the outcome.
ErrorCode histogram_peak(const PhaseMap& d, int32_t lo, int32_t hi, int32_t bins, int32_t e,
                         FloatPairArray& hist, FloatPairArray& deriv, Peak* peak) {
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

  ErrorCode rc = value_histogram(d, bins, wlo, w, hist);
  if (rc != NO_ERROR) return rc;
  rc = histogram_derivative(hist, deriv, e);
  if (rc != NO_ERROR) return rc;
  *peak = Peak{wlo, w, 0, 0.0f};
  return peak_position(hist, deriv, e, wlo, whi, &peak->index, &peak->position);
}

// The slopes of one axis: the map of a's central differences in g with the slopes outside the
// main peak made invalid, and the range [lo, hi] of those left (found false when none is).
struct Slopes {
  int32_t lo;
  int32_t hi;
  bool found;
};

// Trims g to [low, high] and finds the range of what is left in the same pass: what
// invalidate_below, invalidate_above and phase_map_min_max give one after the other.
Slopes trim_to(PhaseMap& g, int32_t low, int32_t high) {
  int32_t lo = INT32_MAX;
  int32_t hi = INT32_MIN;
  const std::size_t n = static_cast<std::size_t>(g.window.width) * g.window.height;
  int32_t* p = g.matrix;
  for (std::size_t i = 0; i < n; ++i) {
    const int32_t v = p[i];
    const bool keep = v >= low && v <= high && v < PHASE_INVALID;
    p[i] = keep ? v : PHASE_INVALID;
    lo = keep && v < lo ? v : lo;
    hi = keep && v > hi ? v : hi;
  }
  return Slopes{lo, hi, lo <= hi};
}

ErrorCode trimmed_slopes(const PhaseMap& a, PhaseMap& g, DerivativeDirection direction,
                         Slopes* slopes) {
  int32_t low = 0;
  int32_t high = 0;
  const ErrorCode rc = derivative_limits(a, g, SgKind::FIRST_DERIVATIVE, direction,
                                         SLOPE_FILTER_LENGTH, SLOPE_SIGMAS, &low, &high);
  if (rc != NO_ERROR) return rc;
  *slopes = trim_to(g, low, high);
  return NO_ERROR;
}

// The most frequent of the slopes left in g, from a histogram of `bins` bins and a derivative of
// length e.
ErrorCode most_frequent(const PhaseMap& g, const Slopes& s, int32_t bins, int32_t e, float* value) {
  if (!s.found) return ERR_ALL_BAD_DATA;
  if (static_cast<int64_t>(bins) - 2 * static_cast<int64_t>(e) + 1 < 1) {
    return ERR_PARAM_OUT_OF_RANGE;
  }
  if (s.lo == s.hi) {  // one value only: the histogram would have no width
    *value = static_cast<float>(s.lo);
    return NO_ERROR;
  }
  FloatPairArray hist{};
  FloatPairArray deriv{};
  Peak peak{};
  const ErrorCode rc = histogram_peak(g, s.lo, s.hi, bins, e, hist, deriv, &peak);
  if (rc == NO_ERROR) *value = peak.position;
  array_free(hist);
  array_free(deriv);
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
  FloatPairArray hist{};
  FloatPairArray deriv{};
  Peak peak{};
  rc = histogram_peak(dst, lo, hi, LIMIT_BINS, LIMIT_DERIVATIVE, hist, deriv, &peak);
  int32_t first = 0;
  int32_t last = 0;
  if (rc == NO_ERROR) rc = peak_extent(hist, peak.index, k, &first, &last);
  if (rc == NO_ERROR) {
    *low = bin_value(peak.lo, first, peak.width);
    *high = bin_value(peak.lo, last, peak.width);
  }
  array_free(hist);
  array_free(deriv);
  return rc;
}

ErrorCode fit_robust_plane(const PhaseMap& map, const Window* window, SurfaceFit* fit,
                           int32_t bins) {
  SurfaceWorkspace storage;
  const ErrorCode rc = fit_robust_plane(map, window, fit, bins, storage);
  surface_workspace_free(storage);
  return rc;
}

ErrorCode fit_robust_plane(const PhaseMap& map, const Window* window, SurfaceFit* fit,
                           int32_t bins, SurfaceWorkspace& storage) {
  *fit = SurfaceFit{};
  fit->type = FitType::plane;
  const Window w = window != nullptr ? *window : map.window;
  if (w.width < 1 || w.height < 1 || !window_within(w, map.window)) return ERR_IMPROPER_WINDOW;
  if (map.matrix == nullptr) return ERR_INVALID_PARAM;
  window_center(w, &fit->center_x, &fit->center_y);
  ErrorCode rc = count_valid(map, &w, &fit->npoints);
  if (rc != NO_ERROR) return rc;

  // The three scratch maps lie in the caller's storage, kept from call to call: maps of this
  // size, made and released for every call, would cost their pages' first touch every time.
  const std::size_t pixels = std::size_t(w.width) * std::size_t(w.height);
  if ((rc = surface_workspace_reserve(storage, 3 * pixels * sizeof(int32_t))) != NO_ERROR)
    return rc;
  PhaseMap a;
  PhaseMap gx;
  PhaseMap gy;
  int32_t* next = static_cast<int32_t*>(storage.storage);
  for (PhaseMap* m : {&a, &gx, &gy}) {
    map_init(*m);
    m->window = w;
    m->size = uint32_t(pixels);
    m->matrix = next;
    next += pixels;
  }
  SurfaceWorkspace ws;  // a plane and a piston: only the fit's row totals
  float x_slope = 0.0f;
  float y_slope = 0.0f;
  Slopes xs{};
  Slopes ys{};
  rc = phase_map_copy_window(map, w, a, w);
  if (rc == NO_ERROR) rc = trimmed_slopes(a, gx, DerivativeDirection::ROWS, &xs);
  if (rc == NO_ERROR) rc = trimmed_slopes(a, gy, DerivativeDirection::COLUMNS, &ys);
  const int32_t e = final_derivative_length(bins);
  if (rc == NO_ERROR) rc = most_frequent(gx, xs, bins, e, &x_slope);
  if (rc == NO_ERROR) rc = most_frequent(gy, ys, bins, e, &y_slope);
  if (rc == NO_ERROR) {
    fit->x_coef = x_slope;
    fit->y_coef = y_slope;
    fit->offset = 0.0;
    rc = remove_surface(map_view(a), w, *fit, ws);
  }
  if (rc == NO_ERROR) rc = fit_surface(map_view(a), w, FitType::piston, FitOptions{}, ws, fit);
  if (rc == NO_ERROR) {
    fit->type = FitType::plane;
    fit->x_coef = x_slope;
    fit->y_coef = y_slope;
  }
  surface_workspace_free(ws);
  return rc;
}

}  // namespace harnix
