// Levelling: the stack's average, and each input's robust least-squares piston or plane of its
// difference from it. With the compared (or kept) pixels' sums shifted by the first d (u = d - d0)
// and X, Y about the camera's centre, the centred sums C give
//   plane   [Cxx Cxy; Cxy Cyy] [cx; cy] = [Cxu; Cyu],  c0 = d0 + mean(u) - cx mean(X) - cy mean(Y)
//   piston  c0 = d0 + mean(u)
// (normal equations of the least-squares fit; see the header for the robust refits).
#include "averaging/levelling.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>

#include "averaging/input_sums.h"
#include "base/vector_clones.h"
#include "maps/fused_ops.h"
#include "maps/storage.h"

namespace harnix {

namespace {

struct FitSums {
  double n = 0, x = 0, y = 0, xx = 0, xy = 0, yy = 0, u = 0, xu = 0, yu = 0;
};

struct Fit {
  double c0 = 0, cx = 0, cy = 0;
};

// Four doubles, the lanes of the row sums: lane l takes the pixels i = l mod 4 (and the tail
// lane 0), combined as (0 + 1) + (2 + 3), the same bits with any instruction set.
typedef double Lanes __attribute__((vector_size(32)));
typedef int64_t LaneMask __attribute__((vector_size(32)));
typedef int32_t LaneInts __attribute__((vector_size(16)));

// Adds row y of an input (its values `v` and the average `a` over `width` pixels from column
// X = x0) to the sums: the compared pixels whose residual from `fit` lies within `clip` (every
// compared pixel with an infinite clip), u = d - d0. One pass, four pixels at a time: the count
// and the sums of i = X - x0 and i^2 are whole numbers below 2^53 (exact in any order), those of
// u and i u run in the four lanes.
template <bool CLIPPED>
[[gnu::always_inline]] inline void add_row_of(const int32_t* __restrict v,
                                              const double* __restrict a, int32_t width,
                                              double factor, double x0, double y, double d0,
                                              Fit fit, double clip, FitSums& s) {
  const double base = fit.c0 + fit.cy * y + fit.cx * x0;
  constexpr int32_t LANES = 4;
  const Lanes step = {0.0, 1.0, 2.0, 3.0};
  Lanes n = {}, si = {}, sii = {}, su = {}, siu = {};
  int32_t i = 0;
  const Lanes invalid = Lanes{} + double(PHASE_INVALID);
  const LaneMask magnitude = LaneMask{} + INT64_MAX;  // all bits but the sign
  const LaneMask ones = (LaneMask)(Lanes{} + 1.0);
  for (; i + LANES <= width; i += LANES) {
    LaneInts vi;
    Lanes ai;
    __builtin_memcpy(&vi, v + i, sizeof vi);
    __builtin_memcpy(&ai, a + i, sizeof ai);
    // Lane by lane, the conversion is one vector instruction (__builtin_convertvector is two
    // halves and a shuffle); the values are exact either way, and so is the comparison.
    const Lanes value = {double(vi[0]), double(vi[1]), double(vi[2]), double(vi[3])};
    const Lanes col = double(i) + step;
    const Lanes d = value * factor - ai;
    LaneMask k = (value < invalid) & (ai == ai);
    if constexpr (CLIPPED) {
      const Lanes r = d - (base + fit.cx * col);
      const Lanes ar = (Lanes)((LaneMask)r & magnitude);
      k &= ar <= clip;
    }
    // Masks instead of products by 1 and 0: the same values, fewer steps.
    n += (Lanes)(k & ones);
    si += (Lanes)(k & (LaneMask)col);
    sii += (Lanes)(k & (LaneMask)(col * col));
    const Lanes u = (Lanes)(k & (LaneMask)(d - d0));
    su += u;
    siu += col * u;
  }
  for (; i < width; ++i) {
    const double d = double(v[i]) * factor - a[i];
    const double r = d - (base + fit.cx * double(i));
    if ((v[i] < PHASE_INVALID) & (a[i] == a[i]) & (std::fabs(r) <= clip)) {
      n[0] += 1.0;
      si[0] += double(i);
      sii[0] += double(i) * double(i);
      su[0] += d - d0;
      siu[0] += double(i) * (d - d0);
    }
  }
  const auto total = [](const Lanes& l) { return (l[0] + l[1]) + (l[2] + l[3]); };
  const double count = total(n), row_i = total(si), row_ii = total(sii);
  const double row_u = total(su), row_iu = total(siu);
  const double x = count * x0 + row_i;  // sum of X over the row's kept pixels
  s.n += count;
  s.x += x;
  s.xx += count * x0 * x0 + 2.0 * x0 * row_i + row_ii;
  s.y += count * y;
  s.yy += count * y * y;
  s.xy += x * y;
  s.u += row_u;
  s.xu += x0 * row_u + row_iu;
  s.yu += y * row_u;
}

// Without a clip (infinite, the fit finite) every compared pixel's residual is a number within
// it: the clip's test is left out, with the same sums.
HARNIX_VECTOR_CLONES void add_row(const int32_t* __restrict v, const double* __restrict a,
                                  int32_t width, double factor, double x0, double y, double d0,
                                  Fit fit, double clip, FitSums& s) {
  if (clip == INFINITY && std::isfinite(fit.c0 + fit.cx + fit.cy))
    add_row_of<false>(v, a, width, factor, x0, y, d0, fit, clip, s);
  else
    add_row_of<true>(v, a, width, factor, x0, y, d0, fit, clip, s);
}

// The sums over the kept pixels of every `row_step`-th row of `input` from its first.
FitSums gather(const PhaseMap& input, double factor, const RealMap& average, int32_t xc,
               int32_t yc, double d0, const Fit& fit, double clip, int32_t row_step) {
  const Window& w = input.window;
  const auto stride = std::size_t(average.window.width);
  FitSums s;
  for (int32_t r = 0; r < w.height; r += row_step) {
    add_row(input.matrix + std::size_t(r) * std::size_t(w.width),
            average.matrix + std::size_t(w.y + r) * stride + std::size_t(w.x), w.width, factor,
            double(w.x - xc), double(w.y + r - yc), d0, fit, clip, s);
  }
  return s;
}

// The first compared d of `input`, in the order of its pixels; false when there is none.
bool first_compared(const PhaseMap& input, double factor, const RealMap& average, double* d0) {
  const Window& w = input.window;
  const auto stride = std::size_t(average.window.width);
  for (int32_t r = 0; r < w.height; ++r) {
    const int32_t* v = input.matrix + std::size_t(r) * std::size_t(w.width);
    const double* a = average.matrix + std::size_t(w.y + r) * stride + std::size_t(w.x);
    for (int32_t i = 0; i < w.width; ++i) {
      if (v[i] < PHASE_INVALID && a[i] == a[i]) {
        *d0 = double(v[i]) * factor - a[i];
        return true;
      }
    }
  }
  return false;
}

// The fit of `mode` from sums; false when the pixels cannot carry it.
bool solve(const FitSums& s, double d0, LevelMode mode, Fit& fit) {
  if (s.n < double(LEVEL_MIN_POINTS)) return false;
  const double mean_u = s.u / s.n, mean_x = s.x / s.n, mean_y = s.y / s.n;
  if (mode == LevelMode::PISTON) {
    fit = Fit{d0 + mean_u, 0.0, 0.0};
    return true;
  }
  const double cxx = s.xx - s.x * mean_x, cxy = s.xy - s.x * mean_y, cyy = s.yy - s.y * mean_y;
  const double cxu = s.xu - s.x * mean_u, cyu = s.yu - s.y * mean_u;
  // Pixel coordinates are whole numbers: a spread below a quarter means none (two pixels give
  // a half), and a determinant this small relative to its terms means one line (as the
  // per-input report judges its plane).
  const double det = cxx * cyy - cxy * cxy;
  if (!(cxx > 0.25 && cyy > 0.25 && det > 1e-9 * cxx * cyy)) return false;
  const double bx = (cyy * cxu - cxy * cyu) / det;
  const double by = (cxx * cyu - cxy * cxu) / det;
  const double c0 = d0 + mean_u - bx * mean_x - by * mean_y;
  if (!std::isfinite(c0) || !std::isfinite(bx) || !std::isfinite(by)) return false;
  fit = Fit{c0, bx, by};
  return true;
}

double residual(const Fit& fit, double x, double y, double d) {
  return d - (fit.c0 + fit.cy * y + fit.cx * x);
}

// A compared pixel of the spread's sample: its d and camera coordinates about the centre.
struct SamplePoint {
  double d;
  int32_t x;
  int32_t y;
};

// The spread's sample: the first LEVEL_SPREAD_SAMPLE compared pixels among every `stride`-th
// pixel of the input's window, in order; returns how many. Read once, for every refit's clip.
std::size_t spread_sample(const PhaseMap& input, double factor, const RealMap& average,
                          int32_t xc, int32_t yc, std::size_t stride, SamplePoint* points) {
  const Window& w = input.window;
  const auto width = std::size_t(w.width);
  const std::size_t pixels = width * std::size_t(w.height);
  const auto a_stride = std::size_t(average.window.width);
  std::size_t n = 0;
  for (std::size_t k = 0; k < pixels && n < std::size_t(LEVEL_SPREAD_SAMPLE); k += stride) {
    const std::size_t r = k / width, i = k % width;
    const int32_t v = input.matrix[k];
    const double a = average.matrix[(std::size_t(w.y) + r) * a_stride + std::size_t(w.x) + i];
    if (v >= PHASE_INVALID || a != a) continue;
    points[n++] = SamplePoint{double(v) * factor - a, w.x + int32_t(i) - xc, w.y + int32_t(r) - yc};
  }
  return n;
}

// The clip of the residuals of `fit`: LEVEL_CLIP times the robust spread of those of the n
// sample points.
double clip_of(const Fit& fit, const SamplePoint* points, std::size_t n, double* sample) {
  if (n == 0) return INFINITY;
  for (std::size_t j = 0; j < n; ++j) {
    const SamplePoint& p = points[j];
    sample[j] = std::fabs(residual(fit, double(p.x), double(p.y), p.d));
  }
  std::nth_element(sample, sample + n / 2, sample + n);
  const double mad = sample[n / 2];
  return LEVEL_CLIP * std::max(MAD_TO_SIGMA * mad, LEVEL_SPREAD_FLOOR);
}

}  // namespace

LevelFigures level_figures(const InputLevel& level, double metres_per_count, double spacing_m) {
  const double slope = spacing_m > 0.0 ? metres_per_count / spacing_m : 0.0;
  return LevelFigures{level.c0 * metres_per_count + 0.0, level.cx * slope + 0.0,
                      level.cy * slope + 0.0, level.compared, level.left_out,
                      level.levelled};
}

void stack_init(StackMaps& maps) {
  map_init(maps.average);
  map_init(maps.count);
}

ErrorCode stack_create(StackMaps& maps, int16_t width, int16_t height, BandTeam& team) {
  maps.average.window = Window{0, 0, width, height};
  maps.count.window = maps.average.window;
  ErrorCode rc = map_alloc(maps.average);
  if (rc == NO_ERROR) rc = map_alloc(maps.count);
  if (rc != NO_ERROR) return rc;
  run_on_band_elements(team, width, height, [&](int32_t, std::size_t first, std::size_t n) {
    std::fill_n(maps.average.matrix + first, n, 0.0);
    std::fill_n(maps.count.matrix + first, n, int16_t{0});
  });
  return NO_ERROR;
}

ErrorCode stack_check(const StackMaps& maps, const PhaseMap& input, double f) {
  const Window& w = input.window;
  if (w.width < 1 || w.height < 1 || !window_within(w, maps.average.window))
    return ERR_IMPROPER_WINDOW;
  if (!(f > 0.0) || !std::isfinite(f)) return ERR_PARAM_OUT_OF_RANGE;
  return NO_ERROR;
}

bool stack_adds_alone(double f) {
  return std::fabs(f - 1.0) > SCALE_FACTOR_EPSILON && f > SAFE_FACTOR;
}

ErrorCode stack_add_batch(StackMaps& maps, const PhaseMap* const* inputs, const double* factors,
                          int32_t count, BandTeam& team, ValueRange* ranges) {
  const Window& camera = maps.average.window;
  const auto stride = std::size_t(camera.width);
  // A chunk holds the stack's rows and the batch's rows over them while every input goes
  // through it; the chunks go to whichever thread is free.
  const int32_t rows =
      chunk_rows(camera, STACK_BYTES_PER_PIXEL + sizeof(int32_t) * std::size_t(count));
  std::atomic<int32_t> next{0};
  ErrorCode codes[MAX_BANDS] = {};
  // Each band's ranges of the inputs' values over the chunks it took, combined after.
  ValueRange parts[MAX_BANDS][MAX_BATCH_INPUTS];
  auto add_chunk = [&](int32_t band, int32_t from, int32_t to) {
    for (int32_t k = 0; k < count; ++k) {
      const PhaseMap& input = *inputs[k];
      const Window& w = input.window;
      const auto n = std::size_t(w.width);
      const bool scaled = std::fabs(factors[k] - 1.0) > SCALE_FACTOR_EPSILON;
      const RowRange within = rows_within(input, from, to);
      for (int32_t r = within.first; r < within.first + within.count; ++r) {
        const int32_t* row = input.matrix + std::size_t(r) * n;
        const std::size_t at = std::size_t(w.y + r) * stride + std::size_t(w.x);
        if (!scaled) {
          ValueRange& part = parts[band][k];
          accumulate_phase_span(row, n, maps.average.matrix + at, maps.count.matrix + at);
          valid_range_span(row, n, &part.low, &part.high);
          continue;
        }
        const ErrorCode rc = accumulate_scaled_span(row, n, factors[k], maps.average.matrix + at,
                                                    maps.count.matrix + at, nullptr);
        if (rc != NO_ERROR) return rc;
      }
    }
    return NO_ERROR;
  };
  auto add_band = [&](int32_t band) {
    auto add_band_chunk = [&](int32_t from, int32_t to) { return add_chunk(band, from, to); };
    codes[band] = for_claimed_chunks(camera, next, add_band_chunk, rows);
  };
  team.run(add_band);
  for (int32_t b = 0; b < team.bands(); ++b)
    if (codes[b] != NO_ERROR) return codes[b];
  for (int32_t k = 0; k < count; ++k) {
    ranges[k] = ValueRange{};
    for (int32_t b = 0; b < team.bands(); ++b) {
      ranges[k].low = std::min(ranges[k].low, parts[b][k].low);
      ranges[k].high = std::max(ranges[k].high, parts[b][k].high);
    }
  }
  return NO_ERROR;
}

int16_t stack_min_count(int16_t min_count, std::size_t inputs) {
  const std::size_t half = std::min<std::size_t>(INT16_MAX, inputs / 2 + inputs % 2);
  return std::max({int16_t{1}, min_count, int16_t(half)});
}

void stack_finish(StackMaps& maps, int16_t min_count, BandTeam& team) {
  const int16_t minimum = min_count < 1 ? int16_t{1} : min_count;
  const Window& camera = maps.average.window;
  run_on_band_elements(team, camera.width, camera.height,
                       [&](int32_t, std::size_t first, std::size_t n) {
                         double* sum = maps.average.matrix + first;
                         const int16_t* count = maps.count.matrix + first;
                         for (std::size_t i = 0; i < n; ++i)
                           sum[i] = count[i] >= minimum ? sum[i] / double(count[i]) : NAN;
                       });
  map_free(maps.count);
}

void stack_free(StackMaps& maps) {
  map_free(maps.average);
  map_free(maps.count);
}

double level_reach(const InputLevel& level, const Window& camera) {
  return std::fabs(level.c0) + std::fabs(level.cx) * double(camera.width) +
         std::fabs(level.cy) * double(camera.height);
}

bool level_in_range(const InputLevel& level, double f, const ValueRange& range,
                    const Window& camera) {
  if (range.low > range.high) return false;
  const bool scaled = std::fabs(f - 1.0) > SCALE_FACTOR_EPSILON;
  const double magnitude = std::max(std::fabs(double(range.low)), std::fabs(double(range.high)));
  return (scaled ? f : 1.0) * magnitude + level_reach(level, camera) <= LEVELLED_RANGE_BOUND;
}

void fit_level(const PhaseMap& input, double f, const RealMap& average, LevelMode mode,
               InputLevel& level) {
  // Unscaled values are multiplied by 1, which changes none.
  const double factor = std::fabs(f - 1.0) > SCALE_FACTOR_EPSILON ? f : 1.0;
  const int32_t xc = average.window.width / 2, yc = average.window.height / 2;
  level = InputLevel{0.0, 0.0, 0.0, xc, yc, 0, 0, false, true, false};
  double d0 = 0.0;  // the shift: the first compared d
  if (!first_compared(input, factor, average, &d0)) return;
  const std::size_t pixels = std::size_t(input.window.width) * std::size_t(input.window.height);
  const std::size_t stride =
      std::max<std::size_t>(1, pixels / std::size_t(LEVEL_SPREAD_SAMPLE));
  // Every fit reads every row_step-th row: at least LEVEL_REFIT_SAMPLE pixels of the window
  // (every row of a smaller one). Should those rows not carry the fit (the compared pixels
  // lying between them), every row is read instead.
  auto row_step = int32_t(std::max<std::size_t>(1, pixels / LEVEL_REFIT_SAMPLE));
  FitSums rows = gather(input, factor, average, xc, yc, d0, Fit{}, INFINITY, row_step);
  Fit fit;
  bool fitted = solve(rows, d0, mode, fit);
  if (!fitted && row_step > 1) {
    row_step = 1;
    rows = gather(input, factor, average, xc, yc, d0, Fit{}, INFINITY, row_step);
    fitted = solve(rows, d0, mode, fit);
  }
  level.compared = int64_t(rows.n);
  if (!fitted) return;
  SamplePoint points[LEVEL_SPREAD_SAMPLE];
  const std::size_t sampled = spread_sample(input, factor, average, xc, yc, stride, points);
  double sample[LEVEL_SPREAD_SAMPLE];
  for (int32_t k = 0; k < LEVEL_REFITS; ++k) {
    const double clip = clip_of(fit, points, sampled, sample);
    const FitSums kept = gather(input, factor, average, xc, yc, d0, fit, clip, row_step);
    Fit refit;
    if (!solve(kept, d0, mode, refit)) break;
    fit = refit;
    level.left_out = level.compared - int64_t(kept.n);
  }
  level.c0 = fit.c0;
  level.cx = fit.cx;
  level.cy = fit.cy;
  level.levelled = true;
}

}  // namespace harnix
