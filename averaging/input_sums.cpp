// A batch into the sums: one pass over the inputs' rows for the average and, when nothing comes
// between, the deviation; with a surface to remove, the fits gathered in the same pass, then a
// second pass that removes each surface and adds the deviation (the robust plane, which needs
// the whole input, is fitted between the two, the inputs side by side on the team's threads).
// Row r of an input lies in the camera maps at offset (y + r) * CameraWidth + x.
//
// Each pass is cut into chunks of camera rows, every input of the batch added to a chunk before
// the next chunk. A pass that gathers a fit gives each thread of the team a band of rows of its
// own, chunk after chunk; otherwise each thread takes the next chunk left, so that none waits
// for another that the reading, or the system, held up. Every pixel's sums receive the inputs
// in input order whatever the bands and batches, the fit's parts are exact and combined in a
// fixed order (fit/least_squares.h), and the subtraction gives every row the same integers in
// any range (fit/subtract.h): the sums are the same, bit for bit, for any team.
#include "averaging/input_sums.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>

#include "fit/least_squares.h"
#include "fit/remove.h"
#include "fit/robust_plane.h"
#include "fit/subtract.h"
#include "maps/element_ops.h"
#include "maps/fused_ops.h"
#include "maps/map_view.h"
#include "maps/storage.h"

namespace harnix {

namespace {

// What a batch adds: every pointer is to row 0 of the camera maps.
struct Sums {
  std::size_t stride;  // the camera's width
  double* sum_avg;
  int16_t* count_avg;
  double* sum_dev;
  int16_t* count_dev;
  double* sum_sq;
  double* low;   // nullptr when not kept
  double* high;  // nullptr when not kept
  bool extremes_in_counts;  // low and high hold int32 counts (averaging/working_maps.h)
  bool deviation;
  bool shared;  // the deviation shares the average's sums: one span adds the values to both
  bool removal;
  bool checked;  // levelled sums checked against overflow: their bound does not rule it out
  bool counted_alike;  // the deviation's own sums, but the average's count
};

// What a batch adds to, with or without a surface removed before the deviation.
Sums sums_of(WorkingMaps& maps, bool removal) {
  const bool deviation = maps.with_deviation;
  return Sums{static_cast<std::size_t>(maps.camera.width),
              maps.sum_avg.matrix,
              maps.count_avg.matrix,
              deviation_sum(maps).matrix,
              deviation_count(maps).matrix,
              deviation ? maps.sum_sq.matrix : nullptr,
              maps.low.matrix,
              maps.high.matrix,
              maps.extremes_in_counts,
              deviation,
              deviation && !maps.separate_deviation,
              removal,
              true,
              deviation && maps.separate_deviation && !maps.separate_count};
}

// The largest magnitude an input with factor f (and `level`, if any) can add to the average's
// sums: a value below 2^31 in magnitude, scaled, less the level anywhere on the camera.
double value_bound(const WorkingMaps& maps, double f, const InputLevel* level) {
  const bool scaled = std::fabs(f - 1.0) > SCALE_FACTOR_EPSILON;
  const double bound = (scaled ? f : 1.0) * PLAIN_VALUE_BOUND;
  return level != nullptr ? bound + level_reach(*level, maps.camera) : bound;
}

// The first error of the bands, in band order.
ErrorCode first_error(const ErrorCode* codes, int32_t bands) {
  for (int32_t b = 0; b < bands; ++b) {
    if (codes[b] != NO_ERROR) return codes[b];
  }
  return NO_ERROR;
}

// The first pass over rows `rows` of an input: the average's sums, and the deviation's when no
// surface comes between.
ErrorCode add_rows(const Sums& s, PhaseMap& map, double f, RowRange rows,
                   const InputLevel* level = nullptr) {
  const auto n = static_cast<std::size_t>(map.window.width);
  const bool scaled = std::fabs(f - 1.0) > SCALE_FACTOR_EPSILON;
  for (int32_t r = rows.first; r < rows.first + rows.count; ++r) {
    int32_t* row = map.matrix + static_cast<std::size_t>(r) * n;
    const std::size_t at = static_cast<std::size_t>(map.window.y + r) * s.stride +
                           static_cast<std::size_t>(map.window.x);
    if (s.extremes_in_counts) {
      // Only unscaled, unlevelled inputs come here while the extremes are counts (queue_input):
      // the average's sums, with the squares when the deviation shares them, and the extremes
      // in one pass over the row.
      accumulate_phase_extremes_span(
          row, n, s.sum_avg + at, s.count_avg + at, s.shared ? s.sum_sq + at : nullptr,
          s.low != nullptr ? reinterpret_cast<int32_t*>(s.low) + at : nullptr,
          s.high != nullptr ? reinterpret_cast<int32_t*>(s.high) + at : nullptr);
      if (s.deviation && !s.shared && !s.removal) {
        accumulate_phase_squares_span(row, n, s.sum_dev + at, s.count_dev + at, s.sum_sq + at);
      }
      continue;
    }
    // The extremes of the values the average adds, before a scaled row is rounded in place.
    const LevelRow p = level != nullptr ? level_row(*level, map.window.x, map.window.y + r)
                                        : LevelRow{};
    double* const low = s.low != nullptr ? s.low + at : nullptr;
    double* const high = s.high != nullptr ? s.high + at : nullptr;
    if ((low != nullptr || high != nullptr) && level != nullptr) {
      extremes_levelled_span(row, n, scaled ? f : 1.0, p.base, p.cx, p.dx, low, high);
    } else if (low != nullptr || high != nullptr) {
      extremes_span(row, n, scaled ? f : 1.0, low, high);
    }
    if (level != nullptr && s.deviation && !s.removal) {
      // Nothing comes between: the deviation's sums in the same pass, the row only read (its
      // rounded values, wanted by nothing after, would send it back to memory).
      const ErrorCode rc = accumulate_levelled_squares_span(
          row, n, scaled ? f : 1.0, p.base, p.cx, p.dx, s.sum_avg + at, s.count_avg + at,
          s.sum_dev + at, s.counted_alike ? nullptr : s.count_dev + at, s.sum_sq + at, nullptr,
          s.checked);
      if (rc != NO_ERROR) return rc;
      continue;
    }
    if (level != nullptr) {
      const ErrorCode rc =
          accumulate_levelled_span(row, n, scaled ? f : 1.0, p.base, p.cx, p.dx, s.sum_avg + at,
                                   s.count_avg + at, s.deviation ? row : nullptr);
      if (rc != NO_ERROR) return rc;
    } else if (scaled) {
      const ErrorCode rc = accumulate_scaled_span(row, n, f, s.sum_avg + at, s.count_avg + at,
                                                  s.deviation ? row : nullptr);
      if (rc != NO_ERROR) return rc;
    } else if (!s.shared) {
      accumulate_phase_span(row, n, s.sum_avg + at, s.count_avg + at);
    }
    if (s.deviation && !s.removal) {
      accumulate_phase_squares_span(row, n, s.sum_dev + at, s.count_dev + at, s.sum_sq + at);
    }
  }
  return NO_ERROR;
}

// The deviation's sums of rows `rows` of an input.
void add_squares(const Sums& s, const PhaseMap& map, RowRange rows) {
  const auto n = static_cast<std::size_t>(map.window.width);
  for (int32_t r = rows.first; r < rows.first + rows.count; ++r) {
    const std::size_t at = static_cast<std::size_t>(map.window.y + r) * s.stride +
                           static_cast<std::size_t>(map.window.x);
    accumulate_phase_squares_span(map.matrix + static_cast<std::size_t>(r) * n, n, s.sum_dev + at,
                                  s.count_dev + at, s.sum_sq + at);
  }
}

// The robust plane of the input in the camera field holding it alone, in the scratch of `band`:
// it works on the input's own window. *fitted tells whether there is a plane to take off (a fit
// that fails leaves the values as they were); only a lack of memory ends the run.
ErrorCode fit_robust_plane_of(WorkingMaps& maps, PhaseMap& input, int32_t band, SurfaceFit* fit,
                              bool* fitted) {
  const ErrorCode rc =
      fit_robust_plane_in_frame(input, maps.camera, fit, ROBUST_PLANE_BINS, maps.robust[band],
                                FitOptions{.residual = false});
  *fitted = rc == NO_ERROR;
  return rc == ERR_NO_MEM ? rc : NO_ERROR;
}

// Fits the robust plane of every input of the batch, the inputs shared among the team one at a
// time; the first failure in input order, with its position. The planes are taken off in the
// pass that adds the squares, a chunk of rows at a time while it is in the cache.
ErrorCode fit_robust_planes(WorkingMaps& maps, InputBatch& batch, int32_t count, BandTeam& team,
                            SurfaceFit* fits, bool* fitted) {
  ErrorCode codes[MAX_BATCH_INPUTS];
  std::atomic<int32_t> next{0};
  auto fit = [&](int32_t band) {
    for (int32_t k = next.fetch_add(1, std::memory_order_relaxed); k < count;
         k = next.fetch_add(1, std::memory_order_relaxed)) {
      codes[k] = fit_robust_plane_of(maps, *batch.inputs[k], band, &fits[k], &fitted[k]);
    }
  };
  team.run(fit);
  for (int32_t k = 0; k < count; ++k) {
    if (codes[k] != NO_ERROR) {
      batch.failed = k;
      return codes[k];
    }
  }
  return NO_ERROR;
}

bool least_squares_mode(int32_t mode) {
  return mode >= 0 && mode < ROBUST_PLANE;
}

}  // namespace

int32_t removal_fit_mode(RemovalMode mode) {
  switch (mode) {
    case RemovalMode::PISTON:
      return static_cast<int32_t>(FitType::piston);
    case RemovalMode::PLANE:
      return static_cast<int32_t>(FitType::plane);
    case RemovalMode::SPHERE:
      return static_cast<int32_t>(FitType::sphere);
    case RemovalMode::CYLINDER:
      return static_cast<int32_t>(FitType::cylinder);
    case RemovalMode::ROBUST:
      return ROBUST_PLANE;
    case RemovalMode::NONE:
      break;
  }
  return -1;
}

void input_batch_free(InputBatch& batch) {
  for (SurfaceWorkspace& ws : batch.workspaces) surface_workspace_free(ws);
  batch.count = 0;
}

bool input_batch_full(const InputBatch& batch) {
  return batch.count >= (batch.one_at_a_time ? 1 : batch.capacity);
}

ErrorCode queue_input(WorkingMaps& maps, InputBatch& batch, PhaseMap& input, double f,
                      RemovalMode remove_mode, BandTeam& team, const InputLevel* level) {
  batch.failed = -1;
  const Window& w = input.window;
  if (w.width < 1 || w.height < 1 || !window_within(w, maps.camera)) return ERR_IMPROPER_WINDOW;
  // Finite positive factors always give a finite positive F. Should a factor that is not a
  // number or infinite ever pass the attribute checks, F would turn every value into nonsense
  // (or, being NaN, fail the test below and skip the scaling unnoticed): end the run instead.
  if (!(f > 0.0) || !std::isfinite(f)) return ERR_PARAM_OUT_OF_RANGE;
  // A levelled input's values are no longer its phase values: it is added as a scaled one.
  const bool scaled = std::fabs(f - 1.0) > SCALE_FACTOR_EPSILON || level != nullptr;
  const bool deviation = maps.with_deviation;
  const bool removal = deviation && remove_mode != RemovalMode::NONE;
  const int32_t mode = removal ? removal_fit_mode(remove_mode) : -1;
  if (scaled && f > SAFE_FACTOR) batch.one_at_a_time = true;
  // Extremes of values that are no longer counts are kept as doubles from here on; the inputs
  // queued so far are added to those too, with the same result.
  if (scaled) working_maps_extremes_to_real(maps, team);
  // The deviation's sums go apart from the average's at the first scaled or levelled input, or
  // with a surface removed; its count too, but for a levelled input whose every value rounds
  // within the phase range (the deviation counts just what the average counts): that count
  // goes apart at the first input that is not so.
  const bool counted_alike = level != nullptr && level->in_range && !removal;
  const bool sums_apart = maps.separate_deviation || scaled || removal;
  const bool count_apart = maps.separate_count || (sums_apart && !counted_alike);
  const bool separate = deviation && ((sums_apart && !maps.separate_deviation) ||
                                      (count_apart && !maps.separate_count));
  if (batch.count > 0 && (separate || input_batch_full(batch))) {
    const ErrorCode rc = add_batch(maps, batch, remove_mode, team);
    if (rc != NO_ERROR) return rc;
  }
  if (separate) {
    const ErrorCode rc = working_maps_separate_deviation(maps, team, count_apart);
    if (rc != NO_ERROR) return rc;
  }
  const int32_t k = batch.count;
  if (least_squares_mode(mode)) {
    const auto type = static_cast<FitType>(mode);
    const std::size_t bytes = std::max(fit_parts_bytes(type, w.height, w.width, team.bands()),
                                       subtraction_bytes(type, w.width, team.bands()));
    const ErrorCode rc = surface_workspace_reserve(batch.workspaces[k], bytes);
    if (rc != NO_ERROR) return rc;
  }
  batch.inputs[k] = &input;
  batch.factors[k] = f;
  batch.levels[k] = level;
  batch.count = k + 1;
  return NO_ERROR;
}

bool adds_plainly(const WorkingMaps& maps, RemovalMode remove_mode, double f) {
  const bool deviation = maps.with_deviation;
  return std::fabs(f - 1.0) <= SCALE_FACTOR_EPSILON &&
         (!deviation || (remove_mode == RemovalMode::NONE && !maps.separate_deviation));
}

void add_plain_rows(WorkingMaps& maps, PhaseMap& map, RowRange rows) {
  (void)add_rows(sums_of(maps, false), map, 1.0, rows);  // unscaled: cannot fail
}

ErrorCode add_batch(WorkingMaps& maps, InputBatch& batch, RemovalMode remove_mode, BandTeam& team) {
  const int32_t count = batch.count;
  batch.count = 0;
  batch.failed = -1;
  if (count == 0) return NO_ERROR;
  static_assert(MAX_BANDS <= MAX_FIT_PARTS, "a fit part for every band");
  const int32_t bands = team.bands();
  const bool deviation = maps.with_deviation;
  const bool removal = deviation && remove_mode != RemovalMode::NONE;
  Sums sums = sums_of(maps, removal);
  const int32_t mode = removal ? removal_fit_mode(remove_mode) : -1;
  // The levelled step checks its sums against overflow only while their bound cannot rule it
  // out: the same sums and the same failure, with fewer steps a pixel.
  double batch_bound = 0.0;
  for (int32_t k = 0; k < count; ++k)
    batch_bound += value_bound(maps, batch.factors[k], batch.levels[k]);
  sums.checked = !(maps.sum_bound + batch_bound < LEVELLED_SUMS_BOUND);
  maps.sum_bound += batch_bound;

  // A least-squares surface is gathered in the same pass as the average, band by band. The
  // workspaces were reserved when the inputs were queued, so nothing here can run out.
  FitParts fits[MAX_BATCH_INPUTS];
  SurfaceFit surfaces[MAX_BATCH_INPUTS];
  bool fitting[MAX_BATCH_INPUTS] = {};
  for (int32_t k = 0; k < count && least_squares_mode(mode); ++k) {
    const ErrorCode rc = fit_parts_begin(map_view(*batch.inputs[k]), maps.camera,
                                         static_cast<FitType>(mode), FitOptions{.residual = false},
                                         bands, batch.workspaces[k], &fits[k], &surfaces[k]);
    if (rc == ERR_NO_MEM) {
      batch.failed = k;
      return rc;
    }
    fitting[k] = rc == NO_ERROR;  // a fit that cannot be made removes nothing
  }

  ErrorCode codes[MAX_BANDS];
  // Without a fit, whose parts are a band's, the chunks go to whichever band is free. Levelled
  // inputs with the deviation touch all five sums and their own rows in the one pass: the chunk
  // holds those rows too, so that the sums stay in the cache while the batch goes through them.
  std::atomic<int32_t> next_chunk{0};
  bool levelled = false;
  for (int32_t k = 0; k < count; ++k) levelled |= batch.levels[k] != nullptr;
  const int32_t claimed_rows =
      levelled && deviation && !removal
          ? chunk_rows(maps.camera, 28 + sizeof(int32_t) * std::size_t(count))
          : 0;
  auto first_pass = [&](int32_t band) {
    auto add_chunk = [&](int32_t from, int32_t to) {
      for (int32_t k = 0; k < count; ++k) {
        PhaseMap& map = *batch.inputs[k];
        const RowRange rows = rows_within(map, from, to);
        if (rows.count == 0) continue;
        const ErrorCode rc = add_rows(sums, map, batch.factors[k], rows, batch.levels[k]);
        if (rc != NO_ERROR) return rc;
        if (fitting[k]) fit_parts_gather(fits[k], band, rows.first, rows.count);
      }
      return NO_ERROR;
    };
    codes[band] = least_squares_mode(mode) ? for_band_chunks(maps.camera, bands, band, add_chunk)
                                           : for_claimed_chunks(maps.camera, next_chunk, add_chunk,
                                                                claimed_rows);
  };
  team.run(first_pass);
  ErrorCode rc = first_error(codes, bands);
  if (rc != NO_ERROR) batch.failed = 0;  // only an input added on its own can fail here
  if (rc != NO_ERROR || !removal) return rc;

  SubtractionPlan subtractions[MAX_BATCH_INPUTS];
  bool subtracting[MAX_BATCH_INPUTS] = {};
  const bool robust = !least_squares_mode(mode);
  if (robust && (rc = fit_robust_planes(maps, batch, count, team, surfaces, fitting)) != NO_ERROR) {
    return rc;
  }
  for (int32_t k = 0; k < count; ++k) {
    if (fitting[k] && (robust || fit_parts_finish(fits[k], &surfaces[k]) == NO_ERROR)) {
      rc = subtraction_begin(map_view(*batch.inputs[k]), maps.camera, surfaces[k], bands,
                             batch.workspaces[k], &subtractions[k]);
      if (rc == ERR_NO_MEM) {
        batch.failed = k;
        return rc;
      }
      subtracting[k] = rc == NO_ERROR;
    }
  }
  auto second_pass = [&](int32_t band) {
    (void)for_band_chunks(maps.camera, bands, band, [&](int32_t from, int32_t to) {
      for (int32_t k = 0; k < count; ++k) {
        const PhaseMap& map = *batch.inputs[k];
        const RowRange rows = rows_within(map, from, to);
        if (rows.count == 0) continue;
        if (subtracting[k]) subtract_rows(subtractions[k], band, rows.first, rows.count);
        add_squares(sums, map, rows);
      }
      return NO_ERROR;
    });
  };
  team.run(second_pass);
  return NO_ERROR;
}

}  // namespace harnix
