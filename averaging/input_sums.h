// Adding the inputs to the averaging run's sums, a batch of them at a time.
#ifndef HARNIX_AVERAGING_INPUT_SUMS_H_
#define HARNIX_AVERAGING_INPUT_SUMS_H_

#include <cstdint>

#include "averaging/band_team.h"
#include "averaging/settings.h"
#include "averaging/working_maps.h"
#include "base/error_codes.h"
#include "fit/workspace.h"
#include "maps/map_types.h"

namespace harnix {

// Inputs are scaled when their factor lies farther than this from 1, so that inputs taken like
// the first are neither multiplied nor re-rounded.
constexpr double SCALE_FACTOR_EPSILON = 1e-10;

// Most inputs a batch holds.
constexpr int32_t MAX_BATCH_INPUTS = 16;

// Inputs queued to be added together. Each input is added to the sums of `maps` exactly as this
// chain over camera-sized maps would: place it in the camera field (invalid outside its window);
// convert to heights; scale them by f when |f - 1| > SCALE_FACTOR_EPSILON; accumulate them into
// sum_avg/count_avg; and, with a deviation, round the scaled heights back to phase counts,
// remove the best-fit surface of the removal mode (removal_fit_mode) from the camera field with
// remove_best_fit, whose failure (but for a lack of memory) removes nothing, and accumulate the
// values and their squares into the deviation sums. Only the input's window is visited: the rest
// of the field is invalid for this input and changes nothing. The input's values become its
// deviation values.
//
// A batch is added band by band of camera rows, each band by one thread of the team, and within
// a band input after input: every pixel's sums receive the inputs in input order, so the sums
// are the same, bit for bit, for any team and any batches. A band's sums stay in the cache while
// the batch's inputs are added to them.
//
// Everything that can fail is done when an input is queued, so a batch of several inputs is
// added without failing: an input whose scaled values could make a sum overflow, or one whose
// surface is the robust plane, is added on its own (and so is every input after the first such
// input), and may fail there.
struct InputBatch {
  int32_t capacity = 1;  // inputs before the batch is full, 1 .. MAX_BATCH_INPUTS
  int32_t count = 0;
  bool one_at_a_time = false;  // from an input whose scaled sums could overflow on
  PhaseMap* inputs[MAX_BATCH_INPUTS] = {};
  double factors[MAX_BATCH_INPUTS] = {};
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
// added.
//   ERR_IMPROPER_WINDOW     the input's window does not lie in the camera
//   ERR_PARAM_OUT_OF_RANGE  f is not a positive finite number (checked after the window)
//   ERR_NO_MEM              the deviation's own sums, or the working storage of the surface
//                           removal, cannot be had
//   and the codes of add_batch, for the inputs added before
ErrorCode queue_input(WorkingMaps& maps, InputBatch& batch, PhaseMap& input, double f,
                      RemovalMode remove_mode, BandTeam& team);

// Adds every queued input and empties the batch. A batch of several inputs cannot fail; one
// input added on its own may:
//   ERR_FP_OVERFLOW         a scaled value or an average sum reaches +-REAL_INVALID
//   ERR_NO_MEM              the robust plane's working storage
// After a failure the sums are left part-way and only good for releasing.
ErrorCode add_batch(WorkingMaps& maps, InputBatch& batch, RemovalMode remove_mode, BandTeam& team);

// The mode of remove_best_fit (fit/remove.h) that removes the surface of `mode`: the FitType of
// the same shape, ROBUST_PLANE for the robust plane, -1 for RemovalMode::NONE.
int32_t removal_fit_mode(RemovalMode mode);

}  // namespace harnix

#endif  // HARNIX_AVERAGING_INPUT_SUMS_H_
