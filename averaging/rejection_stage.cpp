// The rejection stage: each input read and checked goes through one pass of the rejection rounds
// (averaging/rejection.h); the marking pass then adds it to the result sums.
#include "averaging/pass_stages.h"

namespace harnix {

void rejection_begin(RunState& run) {
  run.tally = RejectionTally{};
}

bool rejection_feed(RunState& run, const RejectionPass& pass, int32_t i) {
  return rejection_add(run, pass, *run.input_map, input_factor(run), i);
}

bool rejection_add(RunState& run, const RejectionPass& pass, PhaseMap& map, double f, int32_t i) {
  const InputList& inputs = *run.inputs;
  const auto count = int32_t(inputs.names.size());
  const char* name = inputs.names[std::size_t(i)].c_str();
  const RemovalMode removal = removal_of(*run.settings);
  RejectionBatch& queue = run.rejecting;
  const ErrorCode rc =
      rejection_queue(run.rejection, queue, map, f, pass, *run.team, level_of(run, i));
  if (rc != NO_ERROR) return fail(run, RunStep::ACCUMULATE, rc, name);
  run.rejecting_index[queue.count - 1] = i;
  if (queue.count < run.batch.capacity && i + 1 < count) return true;
  // A marking pass over a batch of several plain inputs adds each chunk of their rows to the
  // sums as soon as it is marked, while it is in the cache (the batch's maps would not be by the
  // time a pass of their own came to them; one input's map still is, and a pass of its own
  // sweeps it faster). Any other input takes the batch like every input of a plain run.
  bool plain = pass.mark && run.batch.count == 0 && queue.count > 1 && run.levels == nullptr;
  for (int32_t m = 0; m < queue.count && plain; ++m)
    plain = adds_plainly(run.maps, removal, queue.factors[m]);
  rejection_batch_pass(run.rejection, queue, pass, run.maps.rejected, *run.team,
                       plain ? &run.maps : nullptr);
  const int32_t queued = queue.count;
  queue.count = 0;
  // Every input of the batch is added before the next batch, so that the reader's storage is
  // never held twice.
  for (int32_t m = 0; m < queued; ++m) {
    const int32_t index = run.rejecting_index[m];
    run.tally.last_round += queue.tallies[m].last_round;
    run.tally.marked += queue.tallies[m].marked;
    if (run.figures != nullptr) run.figures[index].rejected_pixels = queue.tallies[m].marked;
    if (pass.mark && !plain && !sums_add_map(run, *queue.inputs[m], queue.factors[m], index))
      return false;
  }
  if (run.batch.count > 0 && !sums_add_queued(run)) return false;
  run.reader->release(std::size_t(i) + 1);
  return true;
}

void rejection_end(RunState& run, PassPlan& plan, int32_t at) {
  const PlannedPass& done = plan.passes[at];
  if (done.round == 0) return;
  run.observer->rejection_round(done.round, run.tally.last_round);
  if (!done.rejection.mark && run.tally.last_round == 0) cut_rejection_rounds(plan, at);
}

}  // namespace harnix
