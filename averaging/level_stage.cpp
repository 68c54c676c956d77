// The stack and levels stages (-Level): the first pass forms the stack's plain average, the next
// fits each input's level to it before the input goes on to that pass's own stage.
#include "averaging/pass_stages.h"

namespace harnix {

bool stack_feed(RunState& run, int32_t i) {
  const char* name = run.inputs->names[std::size_t(i)].c_str();
  const ErrorCode rc = stack_add(run.stack, *run.input_map, input_factor(run), *run.team);
  if (rc != NO_ERROR) return fail(run, RunStep::ACCUMULATE, rc, name);
  run.reader->release(std::size_t(i) + 1);
  return true;
}

void stack_end(RunState& run) {
  stack_finish(run.stack, stack_min_count(min_count_of(*run.settings), run.inputs->names.size()),
               *run.team);
}

bool levels_feed(RunState& run, const PlannedPass& pass, int32_t i) {
  const auto count = int32_t(run.inputs->names.size());
  run.unlevelled[run.unlevelled_count++] = PendingInput{i, run.input_map, input_factor(run)};
  if (run.unlevelled_count < run.batch.capacity && i + 1 < count) return true;
  // Each level comes from one thread, in the one order of the input's pixels: the same bits
  // whatever the team.
  const LevelMode mode = run.settings->Level;
  auto fit = [&](int32_t band) {
    for (int32_t k = band; k < run.unlevelled_count; k += run.team->bands()) {
      const PendingInput& p = run.unlevelled[k];
      fit_level(*p.map, p.f, run.stack.average, mode, run.levels[p.index]);
    }
  };
  run.team->run(fit);
  const ReportScale scale = report_scale(run);
  const int32_t fitted = run.unlevelled_count;
  run.unlevelled_count = 0;
  for (int32_t k = 0; k < fitted; ++k) {
    const PendingInput& p = run.unlevelled[k];
    const LevelFigures figures =
        level_figures(run.levels[p.index], scale.metres_per_count, scale.spacing_m);
    if (run.figures != nullptr) run.figures[p.index].level = figures;
    run.observer->input_levelled(p.index + 1, figures);
    // The reader's storage of the inputs of this batch stays until the stage gives it back.
    const bool fed = pass.stage == PassStage::REJECTION
                         ? rejection_add(run, pass.rejection, *p.map, p.f, p.index)
                         : sums_add_map(run, *p.map, p.f, p.index);
    if (!fed) return false;
  }
  return true;
}

void levels_end(RunState& run) {
  stack_free(run.stack);
}

}  // namespace harnix
