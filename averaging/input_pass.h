// One pass of an averaging run over its inputs: each read in turn (or ahead, with a team),
// checked, and handed to the pass's stage. Internal to the engine.
#ifndef HARNIX_AVERAGING_INPUT_PASS_H_
#define HARNIX_AVERAGING_INPUT_PASS_H_

#include <cstdint>

#include "averaging/pass_plan.h"
#include "averaging/run_state.h"

namespace harnix {

// Hands input `i`, read and checked (in run.input_map, its attributes in run.attributes), to the
// stage of `pass`; false after recording a failure.
using InputFeed = bool (*)(RunState& run, const PlannedPass& pass, int32_t i);

// Walks every input once for `pass`, telling the observer. A pass with first_read checks each
// input against the first, makes the run's maps from the first (and records each input's stamp
// when run.stamps has room for it); any other pass checks that the file each input's read had
// open was the one stamped then, unchanged before and after the read. In every pass an input
// that changed while it was read ends the run. Stops at the first failure, recorded in run.result, and returns
// false; inputs still queued then are dropped with the pass's reader.
bool input_pass(RunState& run, const PlannedPass& pass, InputFeed feed);

}  // namespace harnix

#endif  // HARNIX_AVERAGING_INPUT_PASS_H_
