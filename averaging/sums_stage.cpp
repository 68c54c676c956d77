// The sums stage: each input read and checked goes to the result sums (averaging/input_sums.h).
#include "averaging/pass_stages.h"

namespace harnix {

namespace {

// The name of input `i`.
const char* name_of(const RunState& run, int32_t i) {
  return run.inputs->names[std::size_t(i)].c_str();
}

// The name of the queued input a failure of the batch's is that of.
const char* failed_name(const RunState& run) {
  return name_of(run, run.batch_index[run.batch.failed > 0 ? run.batch.failed : 0]);
}

}  // namespace

bool sums_add_queued(RunState& run) {
  const ErrorCode rc = add_batch(run.maps, run.batch, removal_of(*run.settings), *run.team);
  return rc == NO_ERROR || fail(run, RunStep::ACCUMULATE, rc, failed_name(run));
}

bool sums_add_map(RunState& run, PhaseMap& map, double f, int32_t i) {
  const auto count = int32_t(run.inputs->names.size());
  const RemovalMode removal = removal_of(*run.settings);
  const ErrorCode rc =
      queue_input(run.maps, run.batch, map, f, removal, *run.team, level_of(run, i));
  if (rc != NO_ERROR) {
    // A failure of the inputs queued before names the one that failed.
    return fail(run, RunStep::ACCUMULATE, rc,
                run.batch.failed >= 0 ? failed_name(run) : name_of(run, i));
  }
  run.batch_index[run.batch.count - 1] = i;
  if (input_batch_full(run.batch) || i + 1 == count) {
    // The batch's inputs go back to the reader once added.
    if (!sums_add_queued(run)) return false;
    run.reader->release(std::size_t(i) + 1);
  }
  return true;
}

bool sums_feed(RunState& run, int32_t i) {
  return sums_add_map(run, *run.input_map, input_factor(run), i);
}

}  // namespace harnix
