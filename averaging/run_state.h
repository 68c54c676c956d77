// What the passes of an averaging run share: the run's maps, the pass under way with its reader
// and queues, the per-input records and the result. Internal to the engine (averaging_run.cpp
// and the stages of averaging/pass_stages.h).
#ifndef HARNIX_AVERAGING_RUN_STATE_H_
#define HARNIX_AVERAGING_RUN_STATE_H_

#include <cstdint>

#include "averaging/align_stage.h"
#include "averaging/band_team.h"
#include "averaging/file_stamp.h"
#include "averaging/input_reader.h"
#include "averaging/input_report.h"
#include "averaging/input_sums.h"
#include "averaging/levelling.h"
#include "averaging/outputs.h"
#include "averaging/rejection.h"
#include "averaging/run_observer.h"
#include "averaging/run_result.h"
#include "averaging/settings.h"
#include "averaging/working_maps.h"
#include "datafile/attributes.h"
#include "datafile/output_file.h"
#include "maps/map_types.h"

namespace harnix {

// With more than one thread: inputs added together, and inputs read ahead of those (the next
// batch, read while one is added). A run that keeps the extremes adds four at a time as well:
// six would move fewer bytes of sums and extremes an input, but the two more input maps they
// hold cost more in fresh pages than those bytes save.
constexpr int32_t BATCH_INPUTS = 4;
constexpr int32_t READ_AHEAD_INPUTS = 4;

// Input maps kept from the end of a pass (with more than one thread), for the next pass's reader
// and for the results formed side by side: as many as a reader holds.
constexpr int32_t MAX_SPARE_MAPS = BATCH_INPUTS + READ_AHEAD_INPUTS;
static_assert(MAX_SPARE_MAPS >= int32_t(OUTPUT_COUNT), "a spare map for every result");

// An input waiting for the report's comparison, scaled by f.
struct PendingInput {
  int32_t index;
  PhaseMap* map;
  double f;
};

struct RunState {
  const RunSettings* settings;
  const InputList* inputs;
  WorkingMaps maps;
  RejectionMaps rejection;
  BandTeam* team;            // the threads of the passes
  InputReader* reader;       // the current pass's inputs, each in its own window, in order
  ReadFollowUp follow_up;    // the current pass's work on each input as it is read
  InputBatch batch;          // inputs read and checked, not yet added
  int32_t batch_index[MAX_BATCH_INPUTS];  // the index of each of them
  RejectionBatch rejecting;  // inputs read and checked, not yet through the rejection pass
  int32_t rejecting_index[MAX_BATCH_INPUTS];  // the index of each of them
  RejectionTally tally;                       // the current rejection pass's
  PendingInput pending[MAX_BATCH_INPUTS];     // inputs waiting for the report's comparison
  int32_t pending_count;
  StackMaps stack;                            // the stack's average, until the levels are fitted
  PendingInput stacking[MAX_BATCH_INPUTS];    // inputs checked, not yet added to the stack
  int32_t stacking_count;
  bool stack_alone;  // from an input whose scaled values could make the stack's sums overflow on
  InputLevel* levels;                         // each input's, with -Level
  ValueRange* ranges;                         // each input's values, found by the stack's pass
  PendingInput unlevelled[MAX_BATCH_INPUTS];  // inputs waiting for their level's fit
  int32_t unlevelled_count;
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
  ReportRowPart* report_parts;  // the row parts of each input of a batch, a camera height each
  OutputFile report;       // the report's temporary file
  // With -Align: align.shifts[i] is input i's applied whole-pixel shift (x, y), known once the
  // first pass is through and fixed after it. Every later pass sees input i moved by it: camera
  // pixel (x, y) holds the file's value at (x + shifts[i].x, y + shifts[i].y), none where that is
  // off the file's window; a band reader takes camera row r from file row r + shifts[i].y.
  AlignState align;
  PhaseMap spares[MAX_SPARE_MAPS];  // the last pass's input maps, for the next or the results
  RunObserver* observer;            // never null
  RunResult result;
};

// Records the failure of `step` (with `file` and `detail` when given) and returns false.
bool fail(RunState& run, RunStep step, ErrorCode code, const char* file = nullptr,
          const char* detail = nullptr);

// The factor F that brings an input with attributes `a` to the output's phase scale.
double phase_scale_factor(const DataAttributes& a, const DataAttributes& ref, int32_t out_counts);

// The current input's factor.
double input_factor(const RunState& run);

// Metres per count and the pixel spacing of the output, for the report and the levels.
ReportScale report_scale(const RunState& run);

// Input i's level, or nullptr without -Level.
const InputLevel* level_of(const RunState& run, int32_t i);

// The surface removed before the deviation sums: none without a deviation output.
RemovalMode removal_of(const RunSettings& settings);

bool rejecting(const RunSettings& settings);
int32_t reject_rounds(const RunSettings& settings);

// The resolved minimum count, clamped into the counts' range.
int16_t min_count_of(const RunSettings& settings);

}  // namespace harnix

#endif  // HARNIX_AVERAGING_RUN_STATE_H_
