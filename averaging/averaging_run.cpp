// The averaging run: one pass over the inputs, then up to three result maps.
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
// A pixel with fewer than max(1, MinValidCnt) values is a dropout in the average and deviation.
//
// Each input is read into one map kept from input to input and added to the sums over its own
// window only (averaging/input_sums.h); each result is formed in one pass over the camera field
// (maps/fused_ops.h). The values are those of the plain chain of element operations over
// camera-sized maps, bit for bit.
#include "averaging/averaging_run.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "averaging/band_team.h"
#include "averaging/input_reader.h"
#include "averaging/input_sums.h"
#include "averaging/outputs.h"
#include "averaging/tolerance.h"
#include "averaging/working_maps.h"
#include "base/error_codes.h"
#include "datafile/attributes.h"
#include "datafile/data_file.h"
#include "datafile/validate.h"
#include "maps/element_ops.h"
#include "maps/map_view.h"
#include "maps/storage.h"

namespace harnix {

namespace {

// With more than one thread: inputs added together, and inputs read ahead of those.
constexpr int32_t BATCH_INPUTS = 4;
constexpr int32_t READ_AHEAD_INPUTS = 2;

struct RunState {
  WorkingMaps maps;
  InputReader* reader;        // the inputs, each in its own window, in order
  BandTeam* team;             // the threads that add them
  InputBatch batch;           // the inputs read and checked, not yet added
  PhaseMap* input_map;        // the current input's phase map, in the reader's storage
  DataAttributes attributes;  // the current input's
  DataAttributes reference;   // the first input's
  bool have_reference;
  int32_t out_code;    // output PhaseRes code
  int32_t out_counts;  // output counts per fringe
  int32_t latest_stamp;
  RunObserver* observer;  // never null
  RunResult result;
};

// Records the failure of `step` and returns false.
bool fail(RunState& run, RunStep step, ErrorCode code, const char* file = nullptr,
          const char* detail = nullptr) {
  run.result.step = step;
  run.result.code = code;
  run.result.file = file;
  if (detail != nullptr) std::snprintf(run.result.detail, sizeof run.result.detail, "%s", detail);
  return false;
}

// Camera size, CameraRes and ZoomMag of a later input against the first.
bool check_geometry(RunState& run, const char* name) {
  const DataAttributes& ref = run.reference;
  const DataAttributes& a = run.attributes;
  const char* mismatched = nullptr;
  if (a.CameraWidth != ref.CameraWidth || a.CameraHeight != ref.CameraHeight)
    mismatched = "CameraWidth or CameraHeight";
  else if (!within_tolerance(ref.CameraRes, a.CameraRes, GEOMETRY_TOLERANCE_PERCENT))
    mismatched = "CameraRes";
  else if (!within_tolerance(ref.ZoomMag, a.ZoomMag, GEOMETRY_TOLERANCE_PERCENT))
    mismatched = "ZoomMag";
  if (mismatched == nullptr) return true;
  return fail(run, RunStep::MISMATCHED_INPUT, ERR_INVALID_PARAM, name, mismatched);
}

double phase_scale_factor(const DataAttributes& a, const DataAttributes& ref, int32_t out_counts) {
  const double numerator = double(a.IntfScaleFactor) * double(out_counts) *
                           double(a.ObliquityFactor) * double(a.WavelengthIn);
  const double denominator = double(phase_res_counts(a.PhaseRes)) * double(ref.IntfScaleFactor) *
                             1.0 * double(ref.WavelengthIn);
  return numerator / denominator;
}

// Reads one input and checks it; on success input_map holds its phase map and `valid` the
// bounding window of its valid values.
bool read_input(int32_t index, const char* name, RunState& run, Window* valid) {
  run.observer->input_started(index, name);
  ReadInput& input = run.reader->next();
  run.attributes = input.attributes;
  run.input_map = &input.map;
  ErrorCode rc = input.code;
  if (rc != NO_ERROR) return fail(run, RunStep::READ_INPUT, rc, name);
  // A file without a phase block leaves the record with an empty window (and the storage of
  // earlier inputs, which must not take part in the checks).
  const PhaseMap& map = input.map;
  const bool has_phase = map.window.width > 0 && map.window.height > 0;
  char text[RUN_DETAIL_BYTES] = "";
  rc = validate_attributes(&run.attributes, nullptr, has_phase ? &map : nullptr, true, text);
  if (rc != NO_ERROR) return fail(run, RunStep::CHECK_ATTRIBUTES, rc, name, text);
  if (!has_phase) return fail(run, RunStep::NO_HEIGHT_DATA, ERR_INVALID_PARAM, name);
  rc = phase_map_valid_window(map, nullptr, valid);
  if (rc == ERR_ALL_BAD_DATA) return fail(run, RunStep::NO_VALID_DATA, rc, name);
  if (rc != NO_ERROR) return fail(run, RunStep::ACCUMULATE, rc, name);
  const DataAttributes& a = run.attributes;
  if (a.TimeStamp > run.latest_stamp) run.latest_stamp = a.TimeStamp;
  run.observer->input_read(a, *valid);
  return true;
}

// The surface removed before the deviation sums: none without a deviation output.
RemovalMode removal_of(const RunSettings& settings) {
  return settings.SdevOutFile != nullptr ? settings.SdevRemove : RemovalMode::NONE;
}

bool accumulate_inputs(const RunSettings& settings, const InputList& inputs, RunState& run) {
  for (std::size_t i = 0; i < inputs.names.size(); ++i) {
    const char* name = inputs.names[i].c_str();
    Window valid{};
    if (!read_input(int32_t(i + 1), name, run, &valid)) return false;
    if (!run.have_reference) {
      run.reference = run.attributes;
      run.have_reference = true;
      if (settings.PhaseRes == PHASE_RES_FROM_INPUT) {
        run.out_code = run.attributes.PhaseRes;
        run.out_counts = phase_res_counts(run.out_code);
      }
      const SumsLayout layout{settings.SdevOutFile != nullptr,
                              removal_of(settings) != RemovalMode::NONE, run.reader->maps_ahead()};
      const ErrorCode rc = working_maps_create(run.maps, run.reference.CameraWidth,
                                               run.reference.CameraHeight, layout);
      if (rc != NO_ERROR) return fail(run, RunStep::ACCUMULATE, rc);
    } else if (!check_geometry(run, name)) {
      return false;
    }
    const double f = phase_scale_factor(run.attributes, run.reference, run.out_counts);
    ErrorCode rc =
        queue_input(run.maps, run.batch, *run.input_map, f, removal_of(settings), *run.team);
    if (rc != NO_ERROR) return fail(run, RunStep::ACCUMULATE, rc, name);
    // The batch is added when full, after the last input, and when the next input is not read
    // yet, so that the team works while the reader catches up. Its inputs are then given back.
    if (input_batch_full(run.batch) || i + 1 == inputs.names.size() || !run.reader->ready(i + 1)) {
      rc = add_batch(run.maps, run.batch, removal_of(settings), *run.team);
      if (rc != NO_ERROR) return fail(run, RunStep::ACCUMULATE, rc, name);
      run.reader->release(i + 1);
    }
  }
  return true;
}

void set_comment(DataAttributes& out, const char* format, int32_t n_inputs) {
  char text[256];
  std::snprintf(text, sizeof text, format, int(n_inputs));
  // At most 81 characters and a terminating zero.
  const std::size_t length = std::min(std::strlen(text), sizeof out.comment - 1);
  std::memset(out.comment, 0, sizeof out.comment);
  std::memcpy(out.comment, text, length);
}

// Cuts the result in the work map to the bounding window of its valid values and writes it. A
// result without any valid value is EMPTY_AVERAGE for the average, ERR_ALL_BAD_DATA otherwise.
bool write_result(const OutputDescriptor& output, const char* name, int32_t n_inputs,
                  DataAttributes& out, RunState& run) {
  const PhaseMap& work = run.maps.work;
  Window w{};
  ErrorCode rc = phase_map_valid_window(work, nullptr, &w);
  if (rc == ERR_ALL_BAD_DATA && output.kind == OutputKind::AVERAGE)
    return fail(run, RunStep::EMPTY_AVERAGE, rc, name);
  if (rc != NO_ERROR) return fail(run, RunStep::WRITE_OUTPUT, rc, name);
  // The window is written straight from the work map, its rows a camera row apart.
  ConstPhaseView cut{};
  if ((rc = region_view(work, w, &cut)) != NO_ERROR)
    return fail(run, RunStep::WRITE_OUTPUT, rc, name);
  run.observer->result_formed(output, w);
  set_comment(out, output.comment_format, n_inputs);
  if ((rc = write_data_file(name, nullptr, &out, nullptr, cut)) != NO_ERROR)
    return fail(run, RunStep::WRITE_OUTPUT, rc, name);
  run.observer->output_written(name);
  return true;
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

bool write_results(const RunSettings& settings, int32_t n, RunState& run) {
  DataAttributes out;
  build_output_attributes(run, out);
  // The resolved minimum lies in [1, N], N at most 10000; clamp anything else into the counts'
  // range (a minimum of 0 or less counts as 1).
  const int32_t min_valid = settings.MinValidCnt > INT16_MAX ? INT16_MAX : settings.MinValidCnt;
  const int16_t min_count = int16_t(min_valid < 0 ? 0 : min_valid);
  for (const OutputDescriptor& output : output_descriptors()) {
    const char* name = output_file(settings, output);
    if (name == nullptr) continue;
    const ErrorCode rc = output.form(run.maps, min_count);
    if (rc != NO_ERROR) return fail(run, RunStep::WRITE_OUTPUT, rc, name);
    if (!write_result(output, name, n, out, run)) return false;
  }
  return true;
}

}  // namespace

RunResult run_averaging(const RunSettings& settings, const InputList& inputs,
                        RunObserver* observer) {
  RunObserver silent;
  RunState run{};
  run.observer = observer != nullptr ? observer : &silent;
  if (const char* name = create_empty_outputs(settings, inputs)) {
    fail(run, RunStep::CREATE_OUTPUT, ERR_CANT_CREATE_FILE, name);
    return run.result;
  }
  run.observer->run_started(settings);

  working_maps_init(run.maps);
  run.out_code = settings.PhaseRes;
  if (settings.PhaseRes != PHASE_RES_FROM_INPUT)
    run.out_counts = phase_res_counts(settings.PhaseRes);

  // One thread: no other is started, and each input is read when its turn comes and added on
  // its own.
  const int32_t threads = settings.Threads > 0 ? settings.Threads : usable_cores();
  BandTeam team(threads);
  const bool together = team.bands() > 1;
  run.batch.capacity = together ? BATCH_INPUTS : 1;
  InputReader reader(inputs, run.batch.capacity + (together ? READ_AHEAD_INPUTS : 0), together);
  run.team = &team;
  run.reader = &reader;

  bool ok = accumulate_inputs(settings, inputs, run);
  // No input at all leaves nothing to write; the command line never calls with an empty list.
  if (ok && !run.have_reference) ok = fail(run, RunStep::ACCUMULATE, ERR_INVALID_PARAM);
  if (ok) write_results(settings, int32_t(inputs.names.size()), run);

  working_maps_free(run.maps);
  input_batch_free(run.batch);
  return run.result;
}

}  // namespace harnix
