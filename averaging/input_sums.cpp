// One input into the sums: one pass over the input's rows for the average and, when nothing
// comes between, the deviation; with a surface to remove, the fit and the removal over the
// input's window, then a second pass for the deviation. Row r of the input lies in the camera
// maps at offset (y + r) * CameraWidth + x.
#include "averaging/input_sums.h"

#include <cmath>
#include <cstddef>

#include "fit/least_squares.h"
#include "fit/remove.h"
#include "fit/subtract.h"
#include "maps/element_ops.h"
#include "maps/fused_ops.h"
#include "maps/map_view.h"
#include "maps/storage.h"

namespace harnix {

namespace {

// remove_best_fit over the camera field holding the input alone. The least-squares modes fit
// (without the residual, which nothing here reads) and subtract over the input's window with
// the camera field's coordinates; any other mode works on the field itself, placed in the
// scratch map. A fit that fails leaves the values as they were; only a lack of memory ends the
// run.
ErrorCode remove_best_fit_from(WorkingMaps& maps, PhaseMap& input, int32_t mode) {
  ErrorCode rc = NO_ERROR;
  if (mode >= 0 && mode < ROBUST_PLANE) {
    SurfaceFit fit{};
    const PhaseView view = map_view(input);
    rc = fit_surface(view, maps.camera, static_cast<FitType>(mode), FitOptions{.residual = false},
                     maps.surface, &fit);
    if (rc == NO_ERROR) rc = remove_surface(view, maps.camera, fit, maps.surface);
    return rc == ERR_NO_MEM ? rc : NO_ERROR;
  }
  PhaseMap& field = maps.work;
  map_fill(field, PHASE_INVALID);
  rc = phase_map_copy_window(input, input.window, field, input.window);
  if (rc == NO_ERROR) rc = remove_best_fit(field, mode, nullptr);
  if (rc == NO_ERROR) rc = phase_map_copy_window(field, input.window, input, input.window);
  return rc == ERR_NO_MEM ? rc : NO_ERROR;
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

ErrorCode add_input_to_sums(WorkingMaps& maps, PhaseMap& input, double f, RemovalMode remove_mode) {
  const Window& w = input.window;
  if (w.width < 1 || w.height < 1 || !window_within(w, maps.camera)) return ERR_IMPROPER_WINDOW;
  // Finite positive factors always give a finite positive F. Should a factor that is not a
  // number or infinite ever pass the attribute checks, F would turn every value into nonsense
  // (or, being NaN, fail the test below and skip the scaling unnoticed): end the run instead.
  if (!(f > 0.0) || !std::isfinite(f)) return ERR_PARAM_OUT_OF_RANGE;
  const bool scaled = std::fabs(f - 1.0) > SCALE_FACTOR_EPSILON;
  const bool deviation = maps.with_deviation;
  const bool removal = deviation && remove_mode != RemovalMode::NONE;
  if (deviation && (scaled || removal)) {
    const ErrorCode rc = working_maps_separate_deviation(maps);
    if (rc != NO_ERROR) return rc;
  }

  const std::size_t n = static_cast<std::size_t>(w.width);
  const std::size_t stride = static_cast<std::size_t>(maps.camera.width);
  const std::size_t first = static_cast<std::size_t>(w.y) * stride + static_cast<std::size_t>(w.x);
  double* const sum_avg = maps.sum_avg.matrix + first;
  int16_t* const count_avg = maps.count_avg.matrix + first;
  double* const sum_dev = deviation_sum(maps).matrix + first;
  int16_t* const count_dev = deviation_count(maps).matrix + first;
  double* const sum_sq = deviation ? maps.sum_sq.matrix + first : nullptr;
  // While the deviation shares the average's sums, one span adds the values to both.
  const bool shared = deviation && !maps.separate_deviation;

  for (int32_t r = 0; r < w.height; ++r) {
    int32_t* row = input.matrix + static_cast<std::size_t>(r) * n;
    const std::size_t at = static_cast<std::size_t>(r) * stride;
    if (scaled) {
      const ErrorCode rc = accumulate_scaled_span(row, n, f, sum_avg + at, count_avg + at,
                                                  deviation ? row : nullptr);
      if (rc != NO_ERROR) return rc;
    } else if (!shared) {
      accumulate_phase_span(row, n, sum_avg + at, count_avg + at);
    }
    if (deviation && !removal) {
      accumulate_phase_squares_span(row, n, sum_dev + at, count_dev + at, sum_sq + at);
    }
  }
  if (!removal) return NO_ERROR;

  const ErrorCode rc = remove_best_fit_from(maps, input, removal_fit_mode(remove_mode));
  if (rc != NO_ERROR) return rc;
  for (int32_t r = 0; r < w.height; ++r) {
    const int32_t* row = input.matrix + static_cast<std::size_t>(r) * n;
    const std::size_t at = static_cast<std::size_t>(r) * stride;
    accumulate_phase_squares_span(row, n, sum_dev + at, count_dev + at, sum_sq + at);
  }
  return NO_ERROR;
}

}  // namespace harnix
