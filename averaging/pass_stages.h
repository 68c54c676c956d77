// The stages of an averaging run's passes: what a pass of each kind of averaging/pass_plan.h does
// before its first input, with each input once it is read and checked, and after its last
// input. Each returns false after recording the failure in run.result. Internal to the engine.
#ifndef HARNIX_AVERAGING_PASS_STAGES_H_
#define HARNIX_AVERAGING_PASS_STAGES_H_

#include <cstdint>

#include "averaging/pass_plan.h"
#include "averaging/run_state.h"

namespace harnix {

// Stack: adds input `i` (in run.input_map) to the stack's sums, then gives it back to the reader.
bool stack_feed(RunState& run, int32_t i);

// Turns the stack's sums into its average.
void stack_end(RunState& run);

// Levels: queues input `i` (in run.input_map) for its level's fit; when a batch is queued, and
// after the last input, their levels are fitted (each input by one thread of the team), told to
// the observer, and the inputs handed in order to the stage of `pass`.
bool levels_feed(RunState& run, const PlannedPass& pass, int32_t i);

// What the levels pass does with each input as it is read: fits its level then and there, by
// the thread that read it, while its values are in the cache (none when the inputs are moved
// before any stage sees them: their levels are fitted once moved).
ReadFollowUp levels_follow_up(RunState& run);

// Releases the stack's average once every level is fitted.
void levels_end(RunState& run);

// Sums: queues input `i` (in run.input_map) to be added to the result sums; the batch is added
// when full and after the pass's last input, and its inputs given back to the reader.
bool sums_feed(RunState& run, int32_t i);

// Queues input `i` (`map`, scaled by f) as sums_feed does.
bool sums_add_map(RunState& run, PhaseMap& map, double f, int32_t i);

// Adds the inputs queued for the sums (add_batch); a failure names the input that failed.
bool sums_add_queued(RunState& run);

// Rejection: clears the pass's tally.
void rejection_begin(RunState& run);

// Queues input `i` for `pass`; the queue goes through it when it holds a batch and after the
// pass's last input. Each input's counts join run.tally and the report's figures; a marking pass
// then adds the inputs to the result sums.
bool rejection_feed(RunState& run, const RejectionPass& pass, int32_t i);

// As rejection_feed, for input `i` in `map` scaled by f.
bool rejection_add(RunState& run, const RejectionPass& pass, PhaseMap& map, double f, int32_t i);

// Tells the observer of a round decided by pass `at`, and cuts the rounds planned after a round
// that rejected nothing (cut_rejection_rounds).
void rejection_end(RunState& run, PassPlan& plan, int32_t at);

// Report: forms the final average it compares with, and its scratch rows.
bool report_begin(RunState& run);

// Queues input `i` for the comparison; a batch is compared when full and after the last input,
// each input by one thread of the team, and then given back to the reader.
bool report_feed(RunState& run, int32_t i);

// Makes the report's temporary file beside it, before any input is read; refused like an output
// when it would replace an input.
bool report_open(RunState& run);

// Writes the report from run.figures and renames it into place.
bool report_write(RunState& run);

// Median: the median of every pixel into run.maps.median, a pass a band of rows (the camera cut
// into as many rows of every input as -MemoryLimit holds), each value that `marking` (the
// run's marking pass, nullptr without rejection) made invalid left out.
bool median_stage(RunState& run, const RejectionPass* marking);

}  // namespace harnix

#endif  // HARNIX_AVERAGING_PASS_STAGES_H_
