// The stack and levels stages (-Level): the first pass forms the stack's plain average, the next
// fits each input's level to it before the input goes on to that pass's own stage: as the input
// is read, by the thread that reads it, or (an input moved first) by the team, a batch at a time.
#include "averaging/pass_stages.h"

#include "datafile/validate.h"

namespace harnix {

namespace {

// Adds the inputs queued for the stack, then gives them back to the reader.
ErrorCode stack_add_queued(RunState& run) {
  const PhaseMap* maps[MAX_BATCH_INPUTS];
  double factors[MAX_BATCH_INPUTS];
  const int32_t queued = run.stacking_count;
  for (int32_t k = 0; k < queued; ++k) {
    maps[k] = run.stacking[k].map;
    factors[k] = run.stacking[k].f;
  }
  run.stacking_count = 0;
  if (queued == 0) return NO_ERROR;
  ValueRange ranges[MAX_BATCH_INPUTS];
  const ErrorCode rc = stack_add_batch(run.stack, maps, factors, queued, *run.team, ranges);
  for (int32_t k = 0; k < queued && rc == NO_ERROR; ++k)
    run.ranges[run.stacking[k].index] = ranges[k];
  if (rc == NO_ERROR) run.reader->release(std::size_t(run.stacking[queued - 1].index) + 1);
  return rc;
}

// Fits the level of input `index` as soon as it is read. Only an input the pass's checks will let
// through is fitted here (any other ends the run when its turn comes, unfitted): read, with
// valid values, attributes that pass, its window on the camera and a factor that scales.
void fit_on_read(void* context, std::size_t index, ReadInput& input) {
  RunState& run = *static_cast<RunState*>(context);
  if (input.code != NO_ERROR || input.valid_code != NO_ERROR) return;
  DataAttributes attributes = input.attributes;
  char text[VALIDATION_MESSAGE_BYTES];
  if (validate_attributes(&attributes, nullptr, &input.map, true, text) != NO_ERROR) return;
  const double f = phase_scale_factor(attributes, run.reference, run.out_counts);
  if (stack_check(run.stack, input.map, f) != NO_ERROR) return;
  fit_level(input.map, f, run.stack.average, run.settings->Level, run.levels[index]);
}

}  // namespace

ReadFollowUp levels_follow_up(RunState& run) {
  if (run.settings->Align != AlignMode::NONE) return ReadFollowUp{};
  return ReadFollowUp{fit_on_read, &run};
}

bool stack_feed(RunState& run, int32_t i) {
  const char* name = run.inputs->names[std::size_t(i)].c_str();
  const double f = input_factor(run);
  ErrorCode rc = stack_check(run.stack, *run.input_map, f);
  if (rc != NO_ERROR) return fail(run, RunStep::ACCUMULATE, rc, name);
  // Inputs go to the stack a batch at a time, so that its sums are gone through once a batch
  // and the batch's slots are read again by the whole team. An input that could make the sums
  // overflow is added on its own, and so is every input after it: only such an input can fail,
  // and it is the one named. The inputs queued before it cannot fail.
  if (stack_adds_alone(f) && !run.stack_alone) {
    run.stack_alone = true;
    (void)stack_add_queued(run);
  }
  const auto count = int32_t(run.inputs->names.size());
  run.stacking[run.stacking_count++] = PendingInput{i, run.input_map, f};
  const int32_t capacity = run.stack_alone ? 1 : run.batch.capacity;
  if (run.stacking_count < capacity && i + 1 < count) return true;
  rc = stack_add_queued(run);
  return rc == NO_ERROR || fail(run, RunStep::ACCUMULATE, rc, name);
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
  // whatever the team, and whether it was fitted when read or here.
  const LevelMode mode = run.settings->Level;
  bool unfitted = false;
  for (int32_t k = 0; k < run.unlevelled_count; ++k)
    unfitted |= !run.levels[run.unlevelled[k].index].fitted;
  auto fit = [&](int32_t band) {
    for (int32_t k = band; k < run.unlevelled_count; k += run.team->bands()) {
      const PendingInput& p = run.unlevelled[k];
      // An input off the camera (changed since the first pass, its stamps kept) is not fitted:
      // its fit would read the stack beyond its maps, and the pass's stage refuses it.
      if (!run.levels[p.index].fitted && stack_check(run.stack, *p.map, p.f) == NO_ERROR)
        fit_level(*p.map, p.f, run.stack.average, mode, run.levels[p.index]);
    }
  };
  if (unfitted) run.team->run(fit);
  const ReportScale scale = report_scale(run);
  const int32_t fitted = run.unlevelled_count;
  run.unlevelled_count = 0;
  for (int32_t k = 0; k < fitted; ++k) {
    const PendingInput& p = run.unlevelled[k];
    InputLevel& level = run.levels[p.index];
    // A moved input's values are no longer those whose range the stack's pass found.
    level.in_range = run.settings->Align == AlignMode::NONE &&
                     level_in_range(level, p.f, run.ranges[p.index], run.maps.camera);
    const LevelFigures figures = level_figures(level, scale.metres_per_count, scale.spacing_m);
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
