// The averaging run: one pass over the inputs, then up to four result maps.
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
//
// With rejection (averaging/rejection.h) the first pass gathers the sums of every value, each
// round one more pass over the inputs, and the last pass marks every input's rejected values
// invalid before it enters the sums above, so that every result comes from the same code and a
// stack without outliers gives the plain results. The per-input report takes one more pass.
// Between passes every input must keep its device, inode, size and modification time.
//
// With more than one thread each pass reads its inputs ahead (averaging/input_reader.h), adds
// them in batches (averaging/input_sums.h) and shares every other per-input step among the
// team (averaging/band_team.h); every sum, figure and byte is that of one thread.
#include "averaging/averaging_run.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "averaging/band_team.h"
#include "averaging/file_stamp.h"
#include "averaging/input_reader.h"
#include "averaging/input_report.h"
#include "averaging/input_sums.h"
#include "averaging/outputs.h"
#include "averaging/rejection.h"
#include "averaging/results.h"
#include "averaging/tolerance.h"
#include "averaging/working_maps.h"
#include "base/allocation.h"
#include "base/error_codes.h"
#include "base/memory_limit.h"
#include "datafile/attributes.h"
#include "datafile/data_file.h"
#include "datafile/file_name.h"
#include "datafile/output_file.h"
#include "datafile/validate.h"
#include "maps/element_ops.h"
#include "maps/map_view.h"
#include "maps/storage.h"

namespace harnix {

namespace {

// With more than one thread: inputs added together, and inputs read ahead of those (the next
// batch, read while one is added).
constexpr int32_t BATCH_INPUTS = 4;
constexpr int32_t READ_AHEAD_INPUTS = 4;

// Input maps kept from the end of a pass (with more than one thread), for the next pass's reader
// and for the results formed side by side: as many as a reader holds.
constexpr int32_t MAX_SPARE_MAPS = BATCH_INPUTS + READ_AHEAD_INPUTS;
static_assert(MAX_SPARE_MAPS >= int32_t(OUTPUT_COUNT), "a spare map for every result");

struct RunState {
  WorkingMaps maps;
  RejectionMaps rejection;
  BandTeam* team;            // the threads of the passes
  InputReader* reader;       // the current pass's inputs, each in its own window, in order
  InputBatch batch;          // inputs read and checked, not yet added
  RejectionBatch rejecting;  // inputs read and checked, not yet through the rejection pass
  int32_t rejecting_index[MAX_BATCH_INPUTS];  // the index of each of them
  PhaseMap* input_map;        // the current input's phase map, in the reader's storage
  DataAttributes attributes;  // the current input's
  DataAttributes reference;   // the first input's
  bool have_reference;
  int32_t out_code;    // output PhaseRes code
  int32_t out_counts;  // output counts per fringe
  int32_t latest_stamp;
  int32_t pass;            // the pass over the inputs under way, from 1
  FileStamp* stamps;       // each input's after the first pass; only with more than one pass
  InputFigures* figures;   // each input's, for the report
  RealMap average;         // the report's average, over the camera
  ReportRows report_rows;  // its scratch rows, a pair for each band
  OutputFile report;       // the report's temporary file
  PhaseMap spares[MAX_SPARE_MAPS];  // the last pass's input maps, for the next or the results
  RunObserver* observer;            // never null
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

// Reads one input and checks it; on success input_map holds its phase map. Only the first pass
// tells the observer (with the bounding window of its valid values).
bool read_input(int32_t index, const char* name, RunState& run) {
  const bool first_pass = run.pass == 1;
  if (first_pass) run.observer->input_started(index, name);
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
  rc = input.valid_code;  // phase_map_valid_window, found when the input was read
  if (rc == ERR_ALL_BAD_DATA) return fail(run, RunStep::NO_VALID_DATA, rc, name);
  if (rc != NO_ERROR) return fail(run, RunStep::ACCUMULATE, rc, name);
  if (!first_pass) return true;
  const DataAttributes& a = run.attributes;
  if (a.TimeStamp > run.latest_stamp) run.latest_stamp = a.TimeStamp;
  run.observer->input_read(a, input.valid);
  return true;
}

// The surface removed before the deviation sums: none without a deviation output.
RemovalMode removal_of(const RunSettings& settings) {
  return settings.SdevOutFile != nullptr ? settings.SdevRemove : RemovalMode::NONE;
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

// The maps of the run, once the first input has given the camera.
bool create_maps(const RunSettings& settings, RunState& run) {
  const int16_t width = run.reference.CameraWidth;
  const int16_t height = run.reference.CameraHeight;
  // Rejection and the report are refused before any allocation, as working_maps_create does for
  // the plain run: the rejection counts and sums, the report's average and the inputs read ahead.
  uint64_t per_pixel = RUN_BYTES_PER_CAMERA_PIXEL + 4 * uint64_t(run.reader->maps_ahead());
  if (rejecting(settings))
    per_pixel += sizeof(int16_t) + rejection_bytes_per_pixel(reject_rounds(settings));
  if (settings.InputReportFile != nullptr) per_pixel += sizeof(double);
  ErrorCode rc = NO_ERROR;
  if (width > 0 && height > 0)
    rc = check_memory_need(uint64_t(width) * uint64_t(height) * per_pixel, memory_limit_bytes());
  if (rc == NO_ERROR && rejecting(settings))
    rc = rejection_create(run.rejection, width, height, settings.Reject, reject_rounds(settings),
                          *run.team);
  if (rc == NO_ERROR) {
    const SumsLayout layout{settings.SdevOutFile != nullptr,
                            removal_of(settings) != RemovalMode::NONE,
                            settings.RejectOutFile != nullptr, run.reader->maps_ahead()};
    rc = working_maps_create(run.maps, width, height, layout, *run.team);
  }
  return rc == NO_ERROR || fail(run, RunStep::ACCUMULATE, rc);
}

// Adds the queued inputs to the sums of the results and gives the inputs up to `i` back to the
// reader.
bool add_queued(const RunSettings& settings, RunState& run, int32_t i, const char* name) {
  const ErrorCode rc = add_batch(run.maps, run.batch, removal_of(settings), *run.team);
  if (rc != NO_ERROR) return fail(run, RunStep::ACCUMULATE, rc, name);
  run.reader->release(std::size_t(i) + 1);
  return true;
}

// Queues input `i` (`map`, scaled by f) to be added to the sums of the results; the batch is
// added when full and after the pass's last input, while the reader reads the next batch. Its
// inputs are then given back to the reader.
bool add_map(const RunSettings& settings, RunState& run, PhaseMap& map, double f, int32_t i,
             int32_t count, const char* name) {
  const ErrorCode rc = queue_input(run.maps, run.batch, map, f, removal_of(settings), *run.team);
  if (rc != NO_ERROR) return fail(run, RunStep::ACCUMULATE, rc, name);
  if (input_batch_full(run.batch) || i + 1 == count) return add_queued(settings, run, i, name);
  return true;
}

// add_map for the input in input_map.
bool add_input(const RunSettings& settings, RunState& run, int32_t i, int32_t count,
               const char* name) {
  const double f = phase_scale_factor(run.attributes, run.reference, run.out_counts);
  return add_map(settings, run, *run.input_map, f, i, count, name);
}

// Queues input `i` (in input_map) for the rejection rounds of `pass`; the queue goes through
// them when it holds a batch and after the pass's last input. Each input's counts join `tally`
// and the report's figures; with `mark`, the inputs then go to the sums of the results, every
// one of them added before the next batch (so that the reader's storage is never held twice).
bool reject_input(const RunSettings& settings, const InputList& inputs, RunState& run,
                  const RejectionPass& pass, RejectionTally& tally, int32_t i) {
  const auto count = int32_t(inputs.names.size());
  const char* name = inputs.names[std::size_t(i)].c_str();
  RejectionBatch& queue = run.rejecting;
  const double f = phase_scale_factor(run.attributes, run.reference, run.out_counts);
  const ErrorCode rc = rejection_queue(run.rejection, queue, *run.input_map, f, pass, *run.team);
  if (rc != NO_ERROR) return fail(run, RunStep::ACCUMULATE, rc, name);
  run.rejecting_index[queue.count - 1] = i;
  if (queue.count < run.batch.capacity && i + 1 < count) return true;
  // A marking pass over a batch of several plain inputs adds each chunk of their rows to the
  // sums as soon as it is marked, while it is in the cache (the batch's maps would not be by the
  // time a pass of their own came to them; one input's map still is, and a pass of its own
  // sweeps it faster). Any other input takes the batch like every input of a plain run.
  bool plain = pass.mark && run.batch.count == 0 && queue.count > 1;
  for (int32_t m = 0; m < queue.count && plain; ++m)
    plain = adds_plainly(run.maps, removal_of(settings), queue.factors[m]);
  rejection_batch_pass(run.rejection, queue, pass, run.maps.rejected, *run.team,
                       plain ? &run.maps : nullptr);
  const int32_t queued = queue.count;
  queue.count = 0;
  for (int32_t m = 0; m < queued; ++m) {
    const int32_t index = run.rejecting_index[m];
    tally.last_round += queue.tallies[m].last_round;
    tally.marked += queue.tallies[m].marked;
    if (run.figures != nullptr) run.figures[index].rejected_pixels = queue.tallies[m].marked;
    if (pass.mark && !plain &&
        !add_map(settings, run, *queue.inputs[m], queue.factors[m], index, count,
                 inputs.names[std::size_t(index)].c_str()))
      return false;
  }
  if (run.batch.count > 0) return add_queued(settings, run, i, name);
  run.reader->release(std::size_t(i) + 1);
  return true;
}

// A pass's reader: with more than one thread, with room for the inputs read ahead.
InputReader pass_reader(const InputList& inputs, const RunState& run) {
  const bool together = run.team->bands() > 1;
  return InputReader(inputs, run.batch.capacity + (together ? READ_AHEAD_INPUTS : 0));
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

// One pass over the inputs, each read in turn (or ahead): before(i, name) runs before input i is
// read, after(i, name) once it is, then feed(i, name); the first that returns false ends it.
template <typename Before, typename After, typename Feed>
bool pass_over(const InputList& inputs, RunState& run, Before before, After after, Feed feed) {
  ++run.pass;
  run.observer->pass_started(run.pass);
  InputReader reader = pass_reader(inputs, run);
  // A pass holds no more than its own reader's maps.
  (void)reader.take_storage(run.spares, MAX_SPARE_MAPS);
  for (PhaseMap& m : run.spares) map_free(m);
  run.reader = &reader;
  // With several threads, every run of the team reads the next inputs once a band is done, and
  // the first inputs are read by all of them at once before the pass begins.
  auto read_ahead = [&reader](int32_t) { reader.read_ahead(); };
  const Ending ending{run};
  if (run.team->bands() > 1) {
    run.team->set_side_job(read_ahead);
    auto nothing = [](int32_t) {};
    run.team->run(nothing);
  }
  const auto count = int32_t(inputs.names.size());
  for (int32_t i = 0; i < count; ++i) {
    const char* name = inputs.names[std::size_t(i)].c_str();
    if (!before(i, name) || !read_input(i + 1, name, run) || !after(i, name) || !feed(i, name))
      return false;
    run.observer->input_passed(run.pass, i + 1, count);
  }
  return true;
}

// The first pass: every input read and checked against the first; its values go to `feed`.
template <typename Feed>
bool first_pass(const RunSettings& settings, const InputList& inputs, RunState& run, Feed feed) {
  const auto nothing = [](int32_t, const char*) { return true; };
  const auto check = [&](int32_t i, const char* name) {
    if (!run.have_reference) {
      run.reference = run.attributes;
      run.have_reference = true;
      if (settings.PhaseRes == PHASE_RES_FROM_INPUT) {
        run.out_code = run.attributes.PhaseRes;
        run.out_counts = phase_res_counts(run.out_code);
      }
      if (!create_maps(settings, run)) return false;
    } else if (!check_geometry(run, name)) {
      return false;
    }
    if (run.stamps != nullptr && !file_stamp(name, &run.stamps[i]))
      return fail(run, RunStep::INPUT_CHANGED, ERR_CANT_OPEN_FILE, name);
    return true;
  };
  return pass_over(inputs, run, nothing, check, feed);
}

// One more pass: every input read again, unchanged since the first pass (before and after it is
// read), then fed to `feed`.
template <typename Feed>
bool next_pass(const InputList& inputs, RunState& run, Feed feed) {
  const auto unchanged = [&](int32_t i, const char* name) {
    FileStamp now;
    return (file_stamp(name, &now) && same_contents_stamp(now, run.stamps[i])) ||
           fail(run, RunStep::INPUT_CHANGED, ERR_CORRUPT_DATA_FILE, name);
  };
  return pass_over(inputs, run, unchanged, unchanged, feed);
}

// The rounds after the first pass. Round k's pass decides round k from the sums of the values
// kept before it and gathers those kept after it for round k + 1; the last round's pass (or,
// when a round rejects nothing, one more pass) marks the rejected values and adds every input
// to the result sums.
bool rejection_rounds(const RunSettings& settings, const InputList& inputs, RunState& run) {
  // One pass deciding with `pass`; a marking pass also adds every input to the result sums.
  const auto decide = [&](const RejectionPass& pass, RejectionTally& tally) {
    return next_pass(inputs, run, [&](int32_t i, const char*) {
      return reject_input(settings, inputs, run, pass, tally, i);
    });
  };
  const int32_t rounds = reject_rounds(settings);
  for (int32_t k = 1; k <= rounds; ++k) {
    const bool last = k == rounds;
    RejectionTally tally;
    if (!decide(RejectionPass{k, !last, last}, tally)) return false;
    run.observer->rejection_round(k, tally.last_round);
    if (!last && tally.last_round == 0) {
      RejectionTally final_tally;
      return decide(RejectionPass{k - 1, false, true}, final_tally);
    }
  }
  return true;
}

// The report's pass: every input against the final average.
bool compare_inputs(const RunSettings& settings, const InputList& inputs, RunState& run) {
  const DataAttributes& ref = run.reference;
  ReportScale scale{};
  scale.metres_per_count =
      double(ref.IntfScaleFactor) * double(ref.WavelengthIn) / double(run.out_counts);
  scale.spacing_m = ref.CameraRes != 0.0f ? double(ref.CameraRes) : double(ref.PixelWidth);
  run.average.window = run.maps.camera;
  const ErrorCode rc = map_alloc(run.average);
  if (rc != NO_ERROR) return fail(run, RunStep::ACCUMULATE, rc);
  const auto width = std::size_t(run.maps.camera.width);
  const auto bands = std::size_t(run.team->bands());
  run.report_rows.u = static_cast<double*>(mem_allocate(width * bands * sizeof(double)));
  run.report_rows.skip = static_cast<uint8_t*>(mem_allocate(width * bands));
  if (run.report_rows.u == nullptr || run.report_rows.skip == nullptr)
    return fail(run, RunStep::ACCUMULATE, ERR_NO_MEM);
  const int16_t min_count = min_count_of(settings);
  run_on_band_elements(*run.team, run.maps.camera.width, run.maps.camera.height,
                       [&](int32_t, std::size_t first, std::size_t n) {
                         average_for_report(run.maps, min_count, first, n, run.average);
                       });
  // Each input's figures come from one thread, in the one order of its pixels; the inputs of a
  // batch are shared among the team, each thread with scratch rows of its own, so the figures
  // are those of one thread.
  struct Pending {
    int32_t index;
    const PhaseMap* map;
    double f;
  };
  Pending pending[MAX_BATCH_INPUTS];
  int32_t waiting = 0;
  const auto count = int32_t(inputs.names.size());
  return next_pass(inputs, run, [&](int32_t i, const char*) {
    pending[waiting++] = Pending{i, run.input_map,
                                 phase_scale_factor(run.attributes, run.reference, run.out_counts)};
    if (waiting < run.batch.capacity && i + 1 < count) return true;
    auto compare = [&](int32_t band) {
      ReportRows rows{run.report_rows.u + std::size_t(band) * width,
                      run.report_rows.skip + std::size_t(band) * width};
      for (int32_t k = band; k < waiting; k += run.team->bands()) {
        const Pending& p = pending[k];
        compare_with_average(*p.map, p.f, run.average, scale, rows, run.figures[p.index]);
      }
    };
    run.team->run(compare);
    waiting = 0;
    run.reader->release(std::size_t(i) + 1);
    return true;
  });
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
  return write_results(settings, run.maps, *run.team, out, n, min_count_of(settings), *run.observer,
                       &run.result, run.spares, kept);
}

// Makes the report's temporary file beside it, before any input is read. A report that would
// replace an input is refused like an output.
bool open_report(const RunSettings& settings, const InputList& inputs, RunState& run) {
  const char* name = settings.InputReportFile;
  std::string platform_name, message;
  if (names_an_input(name, inputs) || !platform_file_name(name, &platform_name) ||
      !output_open(platform_name.c_str(), &run.report, &message))
    return fail(run, RunStep::CREATE_OUTPUT, ERR_CANT_CREATE_FILE, name);
  return true;
}

bool write_report(const RunSettings& settings, const InputList& inputs, RunState& run) {
  const char* name = settings.InputReportFile;
  const ErrorCode rc = write_input_report(run.report.stream, inputs, run.figures);
  if (rc != NO_ERROR) return fail(run, RunStep::WRITE_OUTPUT, rc, name);
  std::string message;
  if (!output_commit(&run.report, &message))
    return fail(run, RunStep::WRITE_OUTPUT, ERR_CANT_WRITE_FILE, name);
  run.observer->output_written(name);
  return true;
}

// Per-input records through the allocation hooks, zeroed; nullptr when none are wanted.
template <typename T>
bool allocate_records(RunState& run, bool wanted, std::size_t count, T** records) {
  *records = nullptr;
  if (!wanted || count == 0) return true;
  *records = static_cast<T*>(mem_allocate_zeroed(count, sizeof(T)));
  return *records != nullptr || fail(run, RunStep::ACCUMULATE, ERR_NO_MEM);
}

bool run_passes(const RunSettings& settings, const InputList& inputs, RunState& run) {
  const bool report = settings.InputReportFile != nullptr;
  const std::size_t count = inputs.names.size();
  if (!allocate_records(run, rejecting(settings) || report, count, &run.stamps) ||
      !allocate_records(run, report, count, &run.figures))
    return false;
  const RejectionPass gather{0, true, false};
  RejectionTally tally;
  const bool ok = first_pass(settings, inputs, run, [&](int32_t i, const char* name) {
    if (!rejecting(settings)) return add_input(settings, run, i, int32_t(count), name);
    return reject_input(settings, inputs, run, gather, tally, i);
  });
  if (!ok) return false;
  // No input at all leaves nothing to write; the command line never calls with an empty list.
  if (!run.have_reference) return fail(run, RunStep::ACCUMULATE, ERR_INVALID_PARAM);
  if (rejecting(settings) && !rejection_rounds(settings, inputs, run)) return false;
  if (report && !compare_inputs(settings, inputs, run)) return false;
  if (!write_results(settings, int32_t(count), run)) return false;
  return !report || write_report(settings, inputs, run);
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
  if (settings.InputReportFile != nullptr && !open_report(settings, inputs, run)) return run.result;
  run.observer->run_started(settings);

  working_maps_init(run.maps);
  rejection_init(run.rejection);
  for (PhaseMap& m : run.spares) map_init(m);
  map_init(run.average);
  run.out_code = settings.PhaseRes;
  if (settings.PhaseRes != PHASE_RES_FROM_INPUT)
    run.out_counts = phase_res_counts(settings.PhaseRes);

  // One thread: no other is started, and each input is read when its turn comes and added on
  // its own.
  BandTeam team(settings.Threads > 0 ? settings.Threads : usable_cores());
  run.team = &team;
  run.batch.capacity = team.bands() > 1 ? BATCH_INPUTS : 1;
  run_passes(settings, inputs, run);

  output_discard(&run.report);
  working_maps_free(run.maps);
  rejection_free(run.rejection);
  for (PhaseMap& m : run.spares) map_free(m);
  input_batch_free(run.batch);
  map_free(run.average);
  mem_release(run.report_rows.u);
  mem_release(run.report_rows.skip);
  mem_release(run.stamps);
  mem_release(run.figures);
  return run.result;
}

}  // namespace harnix
