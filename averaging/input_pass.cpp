// A pass over the inputs. Between passes every input must keep its device, inode, size and
// modification time. Each is stamped by the thread that reads it, from the file it has open,
// before and after reading it: an input read ahead and rewritten before its turn comes is then
// the file read, not the one its name leads to by the time it is used. With more than one
// thread each pass reads its inputs ahead (averaging/input_reader.h), and the first inputs are
// read by the whole team before the pass begins.
#include "averaging/input_pass.h"

#include <algorithm>
#include <cstdio>

#include "averaging/align_stage.h"
#include "averaging/tolerance.h"
#include "base/memory_limit.h"
#include "datafile/validate.h"
#include "maps/storage.h"

namespace harnix {

namespace {

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

// The stamps of input i's read: steady through the read and, after the first pass, those the
// first pass recorded (a change explains a read that failed, so it is told first).
bool stamps_hold(RunState& run, int32_t i, const char* name, const ReadStamps& stamps,
                 bool first_pass) {
  const bool held =
      read_was_steady(stamps) && (first_pass || read_unchanged(name, stamps, run.stamps[i]));
  return held || fail(run, RunStep::INPUT_CHANGED, ERR_CORRUPT_DATA_FILE, name);
}

// Reads one input and checks it; on success input_map holds its phase map. The first pass
// records its stamp (when run.stamps has room for it) and tells the observer (with the bounding
// window of its valid values).
bool read_input(int32_t index, const char* name, RunState& run, bool first_pass) {
  if (first_pass) run.observer->input_started(index, name);
  ReadInput& input = run.reader->next();
  run.attributes = input.attributes;
  run.input_map = &input.map;
  if (!stamps_hold(run, index - 1, name, input.stamps, first_pass)) return false;
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
  rc = input.valid_code;  // phase_map_valid_window, found when the input was read
  if (rc == ERR_ALL_BAD_DATA) return fail(run, RunStep::NO_VALID_DATA, rc, name);
  if (rc != NO_ERROR) return fail(run, RunStep::ACCUMULATE, rc, name);
  if (!first_pass) return true;
  if (run.stamps != nullptr) {
    if (!input.stamps.stamped) return fail(run, RunStep::INPUT_CHANGED, ERR_CANT_OPEN_FILE, name);
    run.stamps[index - 1] = input.stamps.before;
  }
  const DataAttributes& a = run.attributes;
  if (a.TimeStamp > run.latest_stamp) run.latest_stamp = a.TimeStamp;
  run.observer->input_read(a, input.valid);
  return true;
}

// The maps of the run, once the first input has given the camera.
bool create_maps(RunState& run) {
  const RunSettings& settings = *run.settings;
  const int16_t width = run.reference.CameraWidth;
  const int16_t height = run.reference.CameraHeight;
  // Rejection and the report are refused before any allocation, as working_maps_create does for
  // the plain run: the rejection counts and sums, the report's average and the inputs read ahead.
  SumsLayout layout{keeps_deviation(settings), removal_of(settings) != RemovalMode::NONE,
                    output_asked(settings, OutputKind::REJECTED), run.reader->maps_ahead()};
  layout.low = keeps_low(settings);
  layout.high = keeps_high(settings);
  layout.deviation_type = settings.SdevType;
  uint64_t per_pixel = RUN_BYTES_PER_CAMERA_PIXEL + 4 * uint64_t(run.reader->maps_ahead()) +
                       extreme_bytes_per_pixel(layout);
  if (rejecting(settings))
    per_pixel += sizeof(int16_t) + rejection_bytes_per_pixel(reject_rounds(settings));
  if (figures_asked(settings)) per_pixel += sizeof(double);
  const bool levelling = settings.Level != LevelMode::NONE;
  if (levelling) per_pixel += STACK_BYTES_PER_PIXEL;
  per_pixel += align_bytes_per_pixel(run);
  ErrorCode rc = NO_ERROR;
  if (width > 0 && height > 0)
    rc = check_memory_need(uint64_t(width) * uint64_t(height) * per_pixel, memory_limit_bytes());
  if (rc == NO_ERROR && rejecting(settings))
    rc = rejection_create(run.rejection, width, height, settings.Reject, reject_rounds(settings),
                          *run.team);
  if (rc == NO_ERROR && levelling) rc = stack_create(run.stack, width, height, *run.team);
  if (rc == NO_ERROR) rc = working_maps_create(run.maps, width, height, layout, *run.team);
  return rc == NO_ERROR || fail(run, RunStep::ACCUMULATE, rc);
}

// The first reading of an input: checked against the first input (which gives the camera and
// the maps).
bool check_first_read(RunState& run, const char* name) {
  if (!run.have_reference) {
    run.reference = run.attributes;
    run.have_reference = true;
    if (run.settings->PhaseRes == PHASE_RES_FROM_INPUT) {
      run.out_code = run.attributes.PhaseRes;
      run.out_counts = phase_res_counts(run.out_code);
    }
    if (!create_maps(run)) return false;
  } else if (!check_geometry(run, name)) {
    return false;
  }
  return true;
}

// A pass's reader: with more than one thread, with room for the inputs read ahead.
InputReader pass_reader(const RunState& run) {
  const bool together = run.team->bands() > 1;
  return InputReader(*run.inputs, run.batch.capacity + (together ? READ_AHEAD_INPUTS : 0));
}

// At the end of a pass, its reader goes: inputs still queued after a failure are dropped with
// it (the run ends without adding them).
struct Ending {
  RunState& run;
  ~Ending() {
    run.team->clear_side_job();
    // With several threads the next pass's reader, and the results formed side by side in maps
    // of their own, take the input maps this pass has touched, where new ones would be handed
    // out page by page.
    if (run.team->bands() > 1) (void)run.reader->give_storage(run.spares, MAX_SPARE_MAPS);
    run.batch.count = 0;
    run.rejecting.count = 0;
    run.reader = nullptr;
  }
};

}  // namespace

bool input_pass(RunState& run, const PlannedPass& pass, InputFeed feed) {
  ++run.pass;
  run.observer->pass_started(run.pass);
  InputReader reader = pass_reader(run);
  reader.set_follow_up(run.follow_up);
  // A pass holds no more than its own reader's maps.
  (void)reader.take_storage(run.spares, MAX_SPARE_MAPS);
  for (PhaseMap& m : run.spares) map_free(m);
  run.reader = &reader;
  // With several threads, every run of the team reads the next inputs before its own work, and
  // the first inputs are read by all of them at once before the pass begins.
  auto read_ahead = [&reader](int32_t) { reader.read_ahead(); };
  const Ending ending{run};
  if (run.team->bands() > 1) {
    run.team->set_side_job(read_ahead);
    auto nothing = [](int32_t) {};
    run.team->run(nothing);
  }
  const auto count = int32_t(run.inputs->names.size());
  for (int32_t i = 0; i < count; ++i) {
    const char* name = run.inputs->names[std::size_t(i)].c_str();
    if (!read_input(i + 1, name, run, pass.first_read) ||
        (pass.first_read && !check_first_read(run, name))) {
      // An earlier input still waiting for its shift fails first, as it would on one thread.
      const RunResult failed = run.result;
      if (align_flush(run, pass, feed)) run.result = failed;
      return false;
    }
    if (!align_feed(run, pass, i, feed)) return false;
    run.observer->input_passed(run.pass, i + 1, count);
    if (stop_asked(*run.settings)) return fail(run, RunStep::STOPPED, NO_ERROR);
  }
  return true;
}

}  // namespace harnix
