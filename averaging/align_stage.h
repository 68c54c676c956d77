// Lateral alignment (-Align Shift): each input's shift from the first input, estimated when the
// input is first read (fit/shift_estimate.h), and the input moved on the camera by minus its
// whole-pixel part in every pass before any stage sees it. Internal to the engine.
//
// Moving changes only where the values lie: an input pixel at camera (x, y) goes to
// (x - shift_x, y - shift_y) with its value untouched, and a pixel that leaves the camera is
// dropped. The sub-pixel remainder is estimated and reported, never applied: resampling would
// smooth each input by its own amount and bias the deviation low.
//
// With more than one thread the first pass holds its inputs back until a batch is read, and the
// team estimates them side by side, each input by one thread from the first input's pyramid
// alone: every estimate is the same to the bit whatever the team.
#ifndef HARNIX_AVERAGING_ALIGN_STAGE_H_
#define HARNIX_AVERAGING_ALIGN_STAGE_H_

#include <cstdint>

#include "averaging/input_report.h"
#include "averaging/input_sums.h"
#include "base/error_codes.h"
#include "datafile/attributes.h"
#include "fit/shift_estimate.h"
#include "maps/map_types.h"

namespace harnix {

struct RunState;
struct PlannedPass;

// Least share of an input's valid pixels that must fall on valid pixels of the first input.
constexpr double ALIGN_MIN_OVERLAP = 0.25;

// Bytes a camera pixel costs a pyramid: a value and a weight in single precision, the coarser
// levels adding at most a third.
constexpr uint64_t ALIGN_BYTES_PER_PYRAMID_PIXEL = 11;

// An input of the first pass waiting for its estimate, with what its stage needs once moved.
struct UnalignedInput {
  int32_t index;
  PhaseMap* map;  // in the reader's storage, until the stage gives it back
  DataAttributes attributes;
  ShiftEstimate estimate;
  ErrorCode code;  // of building its pyramid and estimating
};

struct AlignState {
  ShiftPyramid reference;  // the first input's
  ShiftPyramid* inputs;    // one per estimator; from the allocation hooks
  int32_t estimators;      // threads that estimate side by side: min(bands, batch)
  // The applied whole-pixel shift of every input, in input order (shifts[i] for
  // inputs.names[i]), with what the estimate said; nullptr without -Align. Filled by the first
  // pass (input 0's is 0, 0) and fixed from then on: in every later pass the value input i
  // holds at camera pixel (x, y) is the one its file holds at (x + shifts[i].x,
  // y + shifts[i].y), and none where that lies off the file's window or the camera. A reader of
  // bands of rows takes camera row r of input i from file row r + shifts[i].y, columns moved by
  // shifts[i].x the same way.
  InputShift* shifts;
  UnalignedInput waiting[MAX_BATCH_INPUTS];
  int32_t waiting_count;
  int32_t told;  // inputs whose shift the observer has been told, from the first on
};

void align_init(AlignState& a);
void align_free(AlignState& a);

// With -Align: the per-input records and one pyramid per estimator. False after recording
// ERR_NO_MEM.
bool align_prepare(RunState& run);

// Camera bytes a pixel the alignment takes, for the memory check: the first input's pyramid and
// one per estimator. 0 without -Align.
uint64_t align_bytes_per_pixel(const RunState& run);

// Moves `map` by (-dx, -dy) on a camera of width x height, dropping what leaves it. False when
// nothing is left on the camera (the map then unchanged).
bool move_on_camera(PhaseMap& map, int32_t dx, int32_t dy, int32_t width, int32_t height);

using AlignedFeed = bool (*)(RunState& run, const PlannedPass& pass, int32_t i);

// Input `i` (in run.input_map, its attributes in run.attributes) in a pass of the plan, moved by
// its shift and then handed to `feed` with run.input_map and run.attributes its own. In the pass
// that reads the inputs first, its shift is estimated first (the first input's is 0): with
// several threads the inputs wait until a batch is read (or the last input), and are then
// estimated side by side and fed in order. The observer hears every shift, in input order, once
// the last input's is known, or up to the input that cannot be aligned: the same words for every
// number of threads. Without -Align, feed(run, pass, i). False after recording the failure:
// ALIGN_INPUT with the reason when the shift cannot be told or the input lands wholly off the
// camera, ACCUMULATE with ERR_NO_MEM, or the stage's own.
bool align_feed(RunState& run, const PlannedPass& pass, int32_t i, AlignedFeed feed);

// The inputs still waiting for their estimate (after a later input failed to be read or
// checked), estimated and fed, so that a run stops at the same input whatever the number of
// threads. False after recording their failure.
bool align_flush(RunState& run, const PlannedPass& pass, AlignedFeed feed);

}  // namespace harnix

#endif  // HARNIX_AVERAGING_ALIGN_STAGE_H_
