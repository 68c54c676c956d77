// Adding the inputs to the averaging run's sums, a batch of them at a time.
#ifndef HARNIX_AVERAGING_INPUT_SUMS_H_
#define HARNIX_AVERAGING_INPUT_SUMS_H_

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "averaging/band_team.h"
#include "averaging/levelling.h"
#include "averaging/settings.h"
#include "averaging/working_maps.h"
#include "base/error_codes.h"
#include "fit/workspace.h"
#include "maps/map_types.h"

namespace harnix {

// Inputs are scaled when their factor lies farther than this from 1, so that inputs taken like
// the first are neither multiplied nor re-rounded.
constexpr double SCALE_FACTOR_EPSILON = 1e-10;

// Scaled inputs up to this factor can never make a sum overflow: each value stays below 2^91 in
// magnitude, and a sum of fewer than 2^36 of them below 2^127.
constexpr double SAFE_FACTOR = 1152921504606846976.0;  // 2^60

// Most inputs a batch holds.
constexpr int32_t MAX_BATCH_INPUTS = 16;

// Bytes of sums a band works on at a time, about: a chunk of rows stays in the cache while every
// input of the batch is added to it, and the fit and the deviation find its rows still there.
constexpr std::size_t CHUNK_SUM_BYTES = 384 * 1024;

// The rows of input `map` that lie in camera rows [from, to), as rows of the map.
inline RowRange rows_within(const PhaseMap& map, int32_t from, int32_t to) {
  const int32_t first = std::max<int32_t>(from, map.window.y);
  const int32_t end = std::min<int32_t>(to, map.window.y + map.window.height);
  return RowRange{first - map.window.y, std::max(0, end - first)};
}

// Camera rows in a chunk: about CHUNK_SUM_BYTES of sums (28 bytes a pixel), or of whatever a
// pass touches, `pixel_bytes` a pixel.
inline int32_t chunk_rows(const Window& camera, std::size_t pixel_bytes = 28) {
  const std::size_t row_bytes = static_cast<std::size_t>(camera.width) * pixel_bytes;
  return static_cast<int32_t>(
      std::clamp<std::size_t>(CHUNK_SUM_BYTES / std::max<std::size_t>(row_bytes, 1), 1, 64));
}

// Calls chunk(from, to) for the camera rows of `band`, a chunk at a time, until it returns an
// error; returns that error or NO_ERROR.
template <typename Chunk>
ErrorCode for_band_chunks(const Window& camera, int32_t bands, int32_t band, Chunk chunk) {
  const int32_t rows = chunk_rows(camera);
  const RowRange range = band_rows(camera.height, bands, band);
  for (int32_t r = range.first; r < range.first + range.count; r += rows) {
    const ErrorCode rc = chunk(r, std::min(r + rows, range.first + range.count));
    if (rc != NO_ERROR) return rc;
  }
  return NO_ERROR;
}

// Calls chunk(from, to) for chunks of the camera's rows claimed one at a time from `next` (0
// before the team's run, shared by its bands), until none is left or chunk returns an error;
// returns that error or NO_ERROR. For work whose rows may be done by any thread: the bands end
// within a chunk of each other whatever else delayed one of them. `rows` (when above 0) sets
// the rows of a chunk.
template <typename Chunk>
ErrorCode for_claimed_chunks(const Window& camera, std::atomic<int32_t>& next, Chunk chunk,
                             int32_t rows = 0) {
  if (rows < 1) rows = chunk_rows(camera);
  for (;;) {
    // Each band claims once past the end, so the count stays within the chunks and the bands.
    const int32_t r = next.fetch_add(1, std::memory_order_relaxed) * rows;
    if (r >= camera.height) return NO_ERROR;
    const ErrorCode rc = chunk(r, std::min<int32_t>(r + rows, camera.height));
    if (rc != NO_ERROR) return rc;
  }
}

// Inputs queued to be added together. Each input is added to the sums of `maps` exactly as this
// chain over camera-sized maps would: place it in the camera field (invalid outside its window);
// convert to heights; scale them by f when |f - 1| > SCALE_FACTOR_EPSILON; accumulate them into
// sum_avg/count_avg; and, with a deviation, round the scaled heights back to phase counts,
// remove the best-fit surface of the removal mode (removal_fit_mode) from the camera field with
// remove_best_fit, whose failure (but for a lack of memory) removes nothing, and accumulate the
// values and their squares into the deviation sums. Only the input's window is visited: the rest
// of the field is invalid for this input and changes nothing. The input's values become its
// deviation values, but for a levelled input with the deviation and no surface removed, whose
// values stay as read.
//
// A batch is added band by band of camera rows, each band by one thread of the team, and within
// a band input after input: every pixel's sums receive the inputs in input order, so the sums
// are the same, bit for bit, for any team and any batches. A band's sums stay in the cache while
// the batch's inputs are added to them.
//
// Everything that can fail is done when an input is queued, so a batch of several inputs is
// added without failing, but for the robust plane's working storage: an input whose scaled
// values could make a sum overflow is added on its own (and so is every input after the first
// such input), and may fail there. The robust planes of a batch are fitted side by side, each
// input by one thread with scratch of its own; a failure is that of the first input, in input
// order, that fails.
struct InputBatch {
  int32_t capacity = 1;  // inputs before the batch is full, 1 .. MAX_BATCH_INPUTS
  int32_t count = 0;
  bool one_at_a_time = false;  // from an input whose scaled sums could overflow on
  int32_t failed = -1;  // after a failure: the position of the input that failed, -1 for the
                        // input queue_input was given
  PhaseMap* inputs[MAX_BATCH_INPUTS] = {};
  double factors[MAX_BATCH_INPUTS] = {};
  const InputLevel* levels[MAX_BATCH_INPUTS] = {};  // each input's level, or nullptr
  SurfaceWorkspace workspaces[MAX_BATCH_INPUTS];  // each input's fit and subtraction
};

// Releases the batch's workspaces; safe repeatedly.
void input_batch_free(InputBatch& batch);

// True when the batch takes no more inputs: add it before queuing another.
bool input_batch_full(const InputBatch& batch);

// Checks `input` (a phase map in its own window, host order) and its factor, makes what adding it
// takes (the deviation's own sums, its fit's workspace), and queues it; when the sums must be
// brought up to date first (the deviation made separate, or an input to be added on its own),
// the inputs queued so far are added before. The input's storage must stay until the batch is
// added. With `level` (which must stay as long), the input is levelled: its values are
// x = v f - p (averaging/levelling.h) with f = 1 when unscaled, and it is added as a scaled input
// is.
//   ERR_IMPROPER_WINDOW     the input's window does not lie in the camera
//   ERR_PARAM_OUT_OF_RANGE  f is not a positive finite number (checked after the window)
//   ERR_NO_MEM              the deviation's own sums, or the working storage of the surface
//                           removal, cannot be had
//   and the codes of add_batch, for the inputs added before (batch.failed tells which)
ErrorCode queue_input(WorkingMaps& maps, InputBatch& batch, PhaseMap& input, double f,
                      RemovalMode remove_mode, BandTeam& team,
                      const InputLevel* level = nullptr);

// Adds every queued input and empties the batch. One input added on its own may fail, and a
// batch with the robust plane for want of its working storage:
//   ERR_FP_OVERFLOW         a scaled value or an average sum reaches +-REAL_INVALID
//   ERR_NO_MEM              the robust plane's working storage
// batch.failed then tells the position in the batch of the input that failed (the first of
// them, in input order); after a failure the sums are left part-way and only good for releasing.
ErrorCode add_batch(WorkingMaps& maps, InputBatch& batch, RemovalMode remove_mode, BandTeam& team);

// The largest magnitude of an unscaled value, for the sums' bound (WorkingMaps::sum_bound).
constexpr double PLAIN_VALUE_BOUND = 2147483648.0;

// True when an input with factor f goes to the sums plainly: no surface removed (remove_mode
// NONE or no deviation), |f - 1| <= SCALE_FACTOR_EPSILON and the deviation, if any, still on the
// average's sums. Such an input may be added row by row with add_plain_rows instead of through
// a batch, with the same additions.
bool adds_plainly(const WorkingMaps& maps, RemovalMode remove_mode, double f);

// Adds rows `rows` of `map` (a plain input, in its own window on the camera) to the sums, as
// add_batch adds them. Rows of several inputs may be added by several threads at once only
// where they cover different camera rows.
void add_plain_rows(WorkingMaps& maps, PhaseMap& map, RowRange rows);

// The mode of remove_best_fit (fit/remove.h) that removes the surface of `mode`: the FitType of
// the same shape, ROBUST_PLANE for the robust plane, -1 for RemovalMode::NONE.
int32_t removal_fit_mode(RemovalMode mode);

}  // namespace harnix

#endif  // HARNIX_AVERAGING_INPUT_SUMS_H_
