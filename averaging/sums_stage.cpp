// The sums stage: each input read and checked goes to the result sums (averaging/input_sums.h).
#include "averaging/pass_stages.h"

namespace harnix {

namespace {

// Adds the queued inputs to the sums of the results and gives the inputs up to `i` back to the
// reader.
bool add_queued(RunState& run, int32_t i, const char* name) {
  const ErrorCode rc = add_batch(run.maps, run.batch, removal_of(*run.settings), *run.team);
  if (rc != NO_ERROR) return fail(run, RunStep::ACCUMULATE, rc, name);
  run.reader->release(std::size_t(i) + 1);
  return true;
}

}  // namespace

bool sums_add_map(RunState& run, PhaseMap& map, double f, int32_t i) {
  const auto count = int32_t(run.inputs->names.size());
  const char* name = run.inputs->names[std::size_t(i)].c_str();
  const RemovalMode removal = removal_of(*run.settings);
  const ErrorCode rc =
      queue_input(run.maps, run.batch, map, f, removal, *run.team, level_of(run, i));
  if (rc != NO_ERROR) return fail(run, RunStep::ACCUMULATE, rc, name);
  if (input_batch_full(run.batch) || i + 1 == count) return add_queued(run, i, name);
  return true;
}

bool sums_feed(RunState& run, int32_t i) {
  return sums_add_map(run, *run.input_map, input_factor(run), i);
}

}  // namespace harnix
