// The averaging run: one pass over the inputs, then up to eight result maps.
//
// Every input is placed in the camera field and brought to the output's phase scale by
//   F = (S_i * R_out * O_i * L_i) / (R_i * S_ref * 1.0 * L_ref)
// (S the interferometric scale factor, O the obliquity factor, L the wavelength, R the counts per
// fringe; each product evaluated left to right), so that a count of every input stands for the
// height of a count of the output, whose obliquity factor is 1. Per pixel, with n valid values:
//   average   = sum(F v) / n                          (scaled values, before rounding)
//   deviation = sqrt((sum(x^2) - sum(x)^2 / n) / n)   (x: the rounded scaled values, after an
//                                                      optional best-fit surface is removed)
//   count     = n
//   minimum, maximum = min(F v), max(F v)             (the values the average adds)
//   range     = max(F v) - min(F v)
// each rounded half away from zero. With -SdevType Sample the deviation's last division is by
// n - 1, and the uncertainty of the mean is sqrt((sum(x^2) - sum(x)^2 / n) / (n - 1) / n): both
// need n >= 2. A pixel with fewer than max(1, MinValidCnt) values is a dropout in every result
// but the counts.
//
// Each input is read into one map kept from input to input and added to the sums over its own
// window only (averaging/input_sums.h); each result is formed in one pass over the camera field
// (maps/fused_ops.h). The values are those of the plain chain of element operations over
// camera-sized maps, bit for bit.
//
// The passes over the inputs follow one plan made from the settings (averaging/pass_plan.h);
// each kind of pass is a stage of its own (averaging/pass_stages.h). With rejection
// (averaging/rejection.h) the first pass gathers the sums of every value, each round one more
// pass over the inputs, and the last pass marks every input's rejected values invalid before it
// enters the sums above, so that every result comes from the same code and a stack without
// outliers gives the plain results. The per-input report takes one more pass. Between passes
// every input must keep its device, inode, size and modification time. With -Level every input
// is first levelled to the stack (averaging/levelling.h), which takes one pass more. With -Align
// every input is moved on the camera by its shift from the first (averaging/align_stage.h),
// estimated in the first pass, before any stage sees it.
//
// With more than one thread each pass reads its inputs ahead (averaging/input_reader.h), adds
// them in batches (averaging/input_sums.h) and shares every other per-input step among the
// team (averaging/band_team.h); every sum, figure and byte is that of one thread.
#include "averaging/averaging_run.h"

#include <cstdio>
#include <cstring>
#include <utility>

#include "averaging/input_pass.h"
#include "averaging/pass_plan.h"
#include "averaging/pass_stages.h"
#include "averaging/results.h"
#include "averaging/run_state.h"
#include "base/allocation.h"
#include "base/error_codes.h"
#include "datafile/output_file.h"
#include "maps/storage.h"

namespace harnix {

bool fail(RunState& run, RunStep step, ErrorCode code, const char* file, const char* detail) {
  run.result.step = step;
  run.result.code = code;
  run.result.file = file;
  if (detail != nullptr) std::snprintf(run.result.detail, sizeof run.result.detail, "%s", detail);
  return false;
}

double phase_scale_factor(const DataAttributes& a, const DataAttributes& ref, int32_t out_counts) {
  const double numerator = double(a.IntfScaleFactor) * double(out_counts) *
                           double(a.ObliquityFactor) * double(a.WavelengthIn);
  const double denominator = double(phase_res_counts(a.PhaseRes)) * double(ref.IntfScaleFactor) *
                             1.0 * double(ref.WavelengthIn);
  return numerator / denominator;
}

double input_factor(const RunState& run) {
  return phase_scale_factor(run.attributes, run.reference, run.out_counts);
}

ReportScale report_scale(const RunState& run) {
  const DataAttributes& ref = run.reference;
  ReportScale scale{};
  scale.metres_per_count =
      double(ref.IntfScaleFactor) * double(ref.WavelengthIn) / double(run.out_counts);
  scale.spacing_m = ref.CameraRes != 0.0f ? double(ref.CameraRes) : double(ref.PixelWidth);
  return scale;
}

const InputLevel* level_of(const RunState& run, int32_t i) {
  return run.levels != nullptr ? &run.levels[i] : nullptr;
}

RemovalMode removal_of(const RunSettings& settings) {
  return keeps_deviation(settings) ? settings.SdevRemove : RemovalMode::NONE;
}

bool rejecting(const RunSettings& settings) {
  return settings.Reject > 0.0;
}

int32_t reject_rounds(const RunSettings& settings) {
  return settings.RejectIter == 0 ? 1 : settings.RejectIter;
}

// The resolved minimum lies in [1, N], N at most 10000; clamp anything else into the counts'
// range (a minimum of 0 or less counts as 1).
int16_t min_count_of(const RunSettings& settings) {
  const int32_t min_valid = settings.MinValidCnt > INT16_MAX ? INT16_MAX : settings.MinValidCnt;
  return int16_t(min_valid < 0 ? 0 : min_valid);
}

namespace {

// Each stage's work with an input of its pass.
bool feed_stage(RunState& run, const PlannedPass& pass, int32_t i) {
  if (pass.fit_levels) return levels_feed(run, pass, i);
  switch (pass.stage) {
    case PassStage::STACK:
      return stack_feed(run, i);
    case PassStage::SUMS:
      return sums_feed(run, i);
    case PassStage::REJECTION:
      return rejection_feed(run, pass.rejection, i);
    case PassStage::REPORT:
      return report_feed(run, i);
    case PassStage::MEDIAN:
      break;  // reads bands of the inputs, not whole inputs
  }
  return false;
}

// The decisions of the plan's marking pass, or nullptr without rejection.
const RejectionPass* marking_of(const PassPlan& plan) {
  for (int32_t p = plan.count - 1; p >= 0; --p) {
    const PlannedPass& pass = plan.passes[p];
    if (pass.stage == PassStage::REJECTION && pass.rejection.mark) return &pass.rejection;
  }
  return nullptr;
}

bool begin_stage(RunState& run, const PlannedPass& pass) {
  if (pass.stage == PassStage::REJECTION) rejection_begin(run);
  run.unlevelled_count = 0;
  run.stacking_count = 0;
  run.follow_up = pass.fit_levels ? levels_follow_up(run) : ReadFollowUp{};
  return pass.stage != PassStage::REPORT || report_begin(run);
}

void end_stage(RunState& run, PassPlan& plan, int32_t at) {
  const PlannedPass& pass = plan.passes[at];
  if (pass.stage == PassStage::STACK) stack_end(run);
  if (pass.fit_levels) levels_end(run);
  if (pass.stage == PassStage::REJECTION) rejection_end(run, plan, at);
}

void build_output_attributes(const RunState& run, DataAttributes& out) {
  std::memset(&out, 0, sizeof out);
  const DataAttributes& ref = run.reference;
  out.TimeStamp = run.latest_stamp;
  out.CameraWidth = ref.CameraWidth;
  out.CameraHeight = ref.CameraHeight;
  out.PixelWidth = ref.PixelWidth;
  out.PixelHeight = ref.PixelHeight;
  out.CameraRes = ref.CameraRes;
  out.IntfScaleFactor = ref.IntfScaleFactor;
  out.WavelengthIn = ref.WavelengthIn;
  out.ObliquityFactor = 1.0f;
  out.PhaseRes = int16_t(run.out_code);
  out.ZoomMag = ref.ZoomMag;
}

bool write_results(int32_t n, RunState& run) {
  DataAttributes out;
  build_output_attributes(run, out);
  // The results take at most one spare each, those that hold the camera: the others are freed
  // first, so that maps the results must still obtain do not add to them.
  const std::size_t camera =
      std::size_t(run.maps.camera.width) * std::size_t(run.maps.camera.height);
  int32_t kept = 0;
  for (PhaseMap& m : run.spares) {
    if (m.matrix != nullptr && m.size >= camera && kept < int32_t(OUTPUT_COUNT))
      std::swap(m, run.spares[kept++]);
    else
      map_free(m);
  }
  const RunSettings& settings = *run.settings;
  return write_results(settings, run.maps, *run.team, out, n, min_count_of(settings), *run.observer,
                       &run.result, run.spares, kept);
}

// Per-input records through the allocation hooks, zeroed; nullptr when none are wanted.
template <typename T>
bool allocate_records(RunState& run, bool wanted, std::size_t count, T** records) {
  *records = nullptr;
  if (!wanted || count == 0) return true;
  *records = static_cast<T*>(mem_allocate_zeroed(count, sizeof(T)));
  return *records != nullptr || fail(run, RunStep::ACCUMULATE, ERR_NO_MEM);
}

// Walks the plan, pass after pass, then writes the results and the report.
bool run_passes(RunState& run) {
  const RunSettings& settings = *run.settings;
  const bool report = figures_asked(settings);
  const std::size_t count = run.inputs->names.size();
  PassPlan plan = make_pass_plan(settings);
  // Inputs are read again after the first pass only when the plan holds more than one.
  if (!allocate_records(run, plan.count > 1, count, &run.stamps) ||
      !allocate_records(run, report, count, &run.figures) ||
      !allocate_records(run, settings.Level != LevelMode::NONE, count, &run.levels) ||
      !allocate_records(run, settings.Level != LevelMode::NONE, count, &run.ranges) ||
      !align_prepare(run))
    return false;
  for (int32_t p = 0; p < plan.count; ++p) {
    const PlannedPass& pass = plan.passes[p];
    if (pass.stage == PassStage::MEDIAN) {
      if (!median_stage(run, marking_of(plan))) return false;
      continue;
    }
    if (!begin_stage(run, pass) || !input_pass(run, pass, feed_stage)) return false;
    // No input at all leaves nothing to write; the command line never calls with an empty list.
    if (pass.first_read && !run.have_reference) return fail(run, RunStep::ACCUMULATE, ERR_INVALID_PARAM);
    end_stage(run, plan, p);
  }
  if (!write_results(int32_t(count), run)) return false;
  if (report) run.observer->inputs_compared(run.figures, int32_t(count));
  if (report && settings.Sink != nullptr && settings.Sink->want_figures) {
    settings.Sink->figures.assign(run.figures, run.figures + count);
    settings.Sink->levelled = run.levels != nullptr;
    if (run.align.shifts != nullptr)
      settings.Sink->shifts.assign(run.align.shifts, run.align.shifts + count);
  }
  return settings.InputReportFile == nullptr || report_write(run);
}

}  // namespace

RunResult run_averaging(const RunSettings& settings, const InputList& inputs,
                        RunObserver* observer) {
  RunObserver silent;
  RunState run{};
  run.settings = &settings;
  run.inputs = &inputs;
  run.observer = observer != nullptr ? observer : &silent;
  if (const char* name = create_empty_outputs(settings, inputs)) {
    fail(run, RunStep::CREATE_OUTPUT, ERR_CANT_CREATE_FILE, name);
    return run.result;
  }
  if (settings.InputReportFile != nullptr && !report_open(run)) return run.result;
  run.observer->run_started(settings);

  working_maps_init(run.maps);
  rejection_init(run.rejection);
  stack_init(run.stack);
  for (PhaseMap& m : run.spares) map_init(m);
  map_init(run.average);
  align_init(run.align);
  run.out_code = settings.PhaseRes;
  if (settings.PhaseRes != PHASE_RES_FROM_INPUT)
    run.out_counts = phase_res_counts(settings.PhaseRes);

  // One thread: no other is started, and each input is read when its turn comes and added on
  // its own.
  BandTeam team(settings.Threads > 0 ? settings.Threads : usable_cores());
  run.team = &team;
  run.batch.capacity = team.bands() <= 1 ? 1 : BATCH_INPUTS;
  run_passes(run);

  output_discard(&run.report);
  working_maps_free(run.maps);
  rejection_free(run.rejection);
  stack_free(run.stack);
  for (PhaseMap& m : run.spares) map_free(m);
  input_batch_free(run.batch);
  map_free(run.average);
  align_free(run.align);
  mem_release(run.report_parts);
  mem_release(run.stamps);
  mem_release(run.figures);
  mem_release(run.levels);
  mem_release(run.ranges);
  return run.result;
}

}  // namespace harnix
