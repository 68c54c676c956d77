#include "averaging/pass_plan.h"

#include "averaging/run_result.h"

namespace harnix {

namespace {

int32_t reject_rounds(const RunSettings& settings) {
  return settings.RejectIter == 0 ? 1 : settings.RejectIter;
}

void add(PassPlan& plan, const PlannedPass& pass) {
  if (plan.count < MAX_PLANNED_PASSES) plan.passes[plan.count++] = pass;
}

PlannedPass rejection_pass(const RejectionPass& rejection, int32_t round) {
  PlannedPass pass;
  pass.stage = PassStage::REJECTION;
  pass.rejection = rejection;
  pass.round = round;
  return pass;
}

}  // namespace

PassPlan make_pass_plan(const RunSettings& settings) {
  PassPlan plan;
  const bool levelling = settings.Level != LevelMode::NONE;
  if (levelling) {
    PlannedPass stack;
    stack.stage = PassStage::STACK;
    stack.first_read = true;
    add(plan, stack);
  }
  const bool rejecting = settings.Reject > 0.0;
  PlannedPass first = rejecting ? rejection_pass(RejectionPass{0, true, false}, 0) : PlannedPass{};
  first.first_read = !levelling;
  first.fit_levels = levelling;
  add(plan, first);
  if (rejecting) {
    // Round k's pass decides round k from the sums of the values kept before it and gathers
    // those kept after it for round k + 1; the last round's pass marks the rejected values and
    // adds every input to the result sums.
    const int32_t rounds = reject_rounds(settings);
    for (int32_t k = 1; k <= rounds; ++k) {
      const bool last = k == rounds;
      add(plan, rejection_pass(RejectionPass{k, !last, last}, k));
    }
  }
  if (figures_asked(settings)) {
    PlannedPass report;
    report.stage = PassStage::REPORT;
    add(plan, report);
  }
  if (settings.Combine == CombineMode::MEDIAN && output_asked(settings, OutputKind::AVERAGE)) {
    PlannedPass median;
    median.stage = PassStage::MEDIAN;
    add(plan, median);
  }
  return plan;
}

void cut_rejection_rounds(PassPlan& plan, int32_t at) {
  const PlannedPass& done = plan.passes[at];
  if (done.stage != PassStage::REJECTION || done.rejection.mark) return;
  int32_t end = at + 1;
  while (end < plan.count && plan.passes[end].stage == PassStage::REJECTION) ++end;
  // Round k rejected nothing: replaying rounds 1..k-1 makes the same decisions as 1..k.
  plan.passes[at + 1] =
      rejection_pass(RejectionPass{done.rejection.rounds_replayed - 1, false, true}, 0);
  const int32_t removed = end - (at + 2);
  for (int32_t p = at + 2; p + removed < plan.count; ++p) plan.passes[p] = plan.passes[p + removed];
  plan.count -= removed;
}

}  // namespace harnix
