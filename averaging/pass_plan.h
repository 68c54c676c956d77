// The plan of an averaging run: which passes over the inputs it makes, in what order, and what
// each does with the inputs it reads. run_averaging makes the plan from the settings before the
// first input is read and then only walks it, pass after pass; a stage (averaging/pass_stages.h)
// may cut the rest of the plan short when its pass shows that the passes left would change
// nothing (a rejection round that rejects nothing).
//
//   pass                 reads                       gathers                   hands on
//   stack (-Level)       every input, checked        the plain average's sums  the average a
//   + levels             every input, unchanged      each input's level        levelled inputs
//   sums                 every input                 the result sums           the results
//   rejection gather     every input, checked        the sums of kept set 0    set 0 to round 1
//   rejection round k    every input, unchanged      set k (not the last)      set k to round k+1
//   rejection marking    every input, unchanged      the result sums, with     the results
//                                                    rejected values invalid
//   report               every input, unchanged      each input's figures      the report
//   median (band k)      every input's rows of band  the medians of band k     the average
//                        k, unchanged; a pass a band
//
// Without -Level the first pass is the sums' or the rejection gather; with it, the stack's, and
// the pass after it fits each input's level to a (averaging/levelling.h) before its stage sees
// it: every pass from then on sees the levelled values.
//
// The first pass of every plan reads the inputs for the first time: it checks each against the
// first, makes the run's maps once the first gives the camera, and records each input's stamp
// when a later pass will read it again; every later pass checks each input against its stamp.
#ifndef HARNIX_AVERAGING_PASS_PLAN_H_
#define HARNIX_AVERAGING_PASS_PLAN_H_

#include <cstdint>

#include "averaging/rejection.h"
#include "averaging/settings.h"

namespace harnix {

// What a pass does with each input it reads.
enum class PassStage : int32_t {
  STACK,      // adds the input's plain scaled values to the stack's average
  SUMS,       // adds the input to the result sums
  REJECTION,  // takes the input through rejection's `rejection` pass
  REPORT,     // compares the input with the final average, for the per-input report
  MEDIAN,     // reads every input band by band for the median (averaging/median.h)
};

struct PlannedPass {
  PassStage stage = PassStage::SUMS;
  bool first_read = false;  // the inputs are read here for the first time
  bool fit_levels = false;  // each input's level is fitted before the stage sees it
  RejectionPass rejection;  // with REJECTION
  int32_t round = 0;        // with REJECTION: the round this pass decides, 0 for none
};

// Most passes a plan holds: the stack's, the first, a pass for every rejection round, the
// report's and the median's (itself a pass a band).
constexpr int32_t MAX_PLANNED_PASSES = 3 + MAX_REJECT_ROUNDS;

struct PassPlan {
  int32_t count = 0;
  PlannedPass passes[MAX_PLANNED_PASSES];
};

// The passes `settings` ask for (Level, Reject, RejectIter, InputReportFile and Combine with
// AvgOutFile), in order.
PassPlan make_pass_plan(const RunSettings& settings);

// After pass `at`, a rejection round that rejected nothing: the rejection passes planned after it
// give way to one marking pass that replays the rounds before it (the same decisions), and the
// passes after those stay. Nothing when pass `at` is the last rejection pass.
void cut_rejection_rounds(PassPlan& plan, int32_t at);

}  // namespace harnix

#endif  // HARNIX_AVERAGING_PASS_PLAN_H_
