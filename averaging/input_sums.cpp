// One input into the sums: one pass over the input's rows for the average and, when nothing
// comes between, the deviation; with a surface to remove, the fit gathered in the same pass, then
// a second pass that removes the surface and adds the deviation. Row r of the input lies in the
// camera maps at offset (y + r) * CameraWidth + x.
//
// Each pass is cut into bands of the input's rows, one per thread of the team. Every pixel's
// sums receive the inputs in input order whatever the bands, the fit's parts are exact and
// combined in a fixed order (fit/least_squares.h), and the subtraction gives every row the same
// integers in any range (fit/subtract.h): the sums are the same, bit for bit, for any team.
#include "averaging/input_sums.h"

#include <algorithm>
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

namespace {

// Rows a band works on at a time: the fit gathers, and the deviation adds, rows the pass before
// it has just left in the cache.
constexpr int32_t CHUNK_ROWS = 16;

// Where the input's rows go in the camera-sized sums: row r at offset r * stride.
struct Spans {
  std::size_t n;       // values a row
  std::size_t stride;  // the camera's width
  double* sum_avg;
  int16_t* count_avg;
  double* sum_dev;
  int16_t* count_dev;
  double* sum_sq;
};

// Calls chunk(first, count) for the band's rows of `rows`, CHUNK_ROWS at a time, until it
// returns an error; returns that error or NO_ERROR.
template <typename Chunk>
ErrorCode for_band_chunks(int32_t rows, int32_t bands, int32_t band, Chunk chunk) {
  const RowRange range = band_rows(rows, bands, band);
  for (int32_t r = range.first; r < range.first + range.count; r += CHUNK_ROWS) {
    const ErrorCode rc = chunk(r, std::min(CHUNK_ROWS, range.first + range.count - r));
    if (rc != NO_ERROR) return rc;
  }
  return NO_ERROR;
}

// The first error of the bands, in band order.
ErrorCode first_error(const ErrorCode* codes, int32_t bands) {
  for (int32_t b = 0; b < bands; ++b) {
    if (codes[b] != NO_ERROR) return codes[b];
  }
  return NO_ERROR;
}

}  // namespace

ErrorCode add_input_to_sums(WorkingMaps& maps, PhaseMap& input, double f, RemovalMode remove_mode,
                            BandTeam& team) {
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

  const std::size_t stride = static_cast<std::size_t>(maps.camera.width);
  const std::size_t first = static_cast<std::size_t>(w.y) * stride + static_cast<std::size_t>(w.x);
  const Spans spans{static_cast<std::size_t>(w.width),
                    stride,
                    maps.sum_avg.matrix + first,
                    maps.count_avg.matrix + first,
                    deviation_sum(maps).matrix + first,
                    deviation_count(maps).matrix + first,
                    deviation ? maps.sum_sq.matrix + first : nullptr};
  // While the deviation shares the average's sums, one span adds the values to both.
  const bool shared = deviation && !maps.separate_deviation;
  static_assert(MAX_BANDS <= MAX_FIT_PARTS, "a fit part for every band");
  const int32_t bands = team.bands();
  const PhaseView view = map_view(input);
  auto row_of = [&](int32_t r) { return input.matrix + static_cast<std::size_t>(r) * spans.n; };
  auto add_squares = [&](int32_t r) {
    const std::size_t at = static_cast<std::size_t>(r) * stride;
    accumulate_phase_squares_span(row_of(r), spans.n, spans.sum_dev + at, spans.count_dev + at,
                                  spans.sum_sq + at);
  };

  // A least-squares surface is gathered in the same pass as the average, band by band.
  const int32_t mode = removal ? removal_fit_mode(remove_mode) : -1;
  const bool least_squares = mode >= 0 && mode < ROBUST_PLANE;
  FitParts fit_plan{};
  SurfaceFit fit{};
  bool fitting = false;
  if (least_squares) {
    const ErrorCode rc =
        fit_parts_begin(view, maps.camera, static_cast<FitType>(mode),
                        FitOptions{.residual = false}, bands, maps.surface, &fit_plan, &fit);
    if (rc == ERR_NO_MEM) return rc;
    fitting = rc == NO_ERROR;  // a fit that cannot be made removes nothing
  }

  ErrorCode codes[MAX_BANDS];
  auto first_pass = [&](int32_t band) {
    codes[band] = for_band_chunks(w.height, bands, band, [&](int32_t from, int32_t count) {
      for (int32_t r = from; r < from + count; ++r) {
        int32_t* row = row_of(r);
        const std::size_t at = static_cast<std::size_t>(r) * stride;
        if (scaled) {
          const ErrorCode rc = accumulate_scaled_span(
              row, spans.n, f, spans.sum_avg + at, spans.count_avg + at, deviation ? row : nullptr);
          if (rc != NO_ERROR) return rc;
        } else if (!shared) {
          accumulate_phase_span(row, spans.n, spans.sum_avg + at, spans.count_avg + at);
        }
        if (deviation && !removal) add_squares(r);
      }
      if (fitting) fit_parts_gather(fit_plan, band, from, count);
      return NO_ERROR;
    });
  };
  team.run(first_pass);
  ErrorCode rc = first_error(codes, bands);
  if (rc != NO_ERROR || !removal) return rc;

  SubtractionPlan subtraction{};
  bool subtracting = false;
  if (!least_squares) {
    if ((rc = remove_best_fit_from(maps, input, mode)) != NO_ERROR) return rc;
  } else if (fitting && fit_parts_finish(fit_plan, &fit) == NO_ERROR) {
    rc = subtraction_begin(view, maps.camera, fit, bands, maps.surface, &subtraction);
    if (rc == ERR_NO_MEM) return rc;
    subtracting = rc == NO_ERROR;
  }
  auto second_pass = [&](int32_t band) {
    (void)for_band_chunks(w.height, bands, band, [&](int32_t from, int32_t count) {
      if (subtracting) subtract_rows(subtraction, band, from, count);
      for (int32_t r = from; r < from + count; ++r) add_squares(r);
      return NO_ERROR;
    });
  };
  team.run(second_pass);
  return NO_ERROR;
}

}  // namespace harnix
