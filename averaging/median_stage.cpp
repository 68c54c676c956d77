// The median stage: the camera a band of rows at a time, as many rows as the budget holds of
// every input. Each band is read from every input (its rows only, the team reading different
// inputs at once) into one block taken once for every band, each file unchanged since the first
// pass before and after; the values the marking pass took out are taken out again by the same
// decisions; then the medians of the band's rows, shared among the team (averaging/median.h),
// of the levelled values with -Level, and with -Align each input's rows read from the file rows
// that land in the band and moved by its shift as every pass moves it. Every pixel's median is its
// own, so the result is the same for any budget and any team.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "averaging/median.h"
#include "averaging/pass_stages.h"
#include "base/allocation.h"
#include "base/memory_limit.h"
#include "base/platform.h"
#include "datafile/data_file.h"
#include "maps/storage.h"
#include "maps/window.h"

namespace harnix {

namespace {

// How reading an input's rows of a band went: DONE, or the step and code of the failure.
struct BandRead {
  RunStep step;
  ErrorCode code;
};

// The storage of the stage, released on every way out.
struct MedianStorage {
  std::size_t count = 0;
  int32_t* block = nullptr;   // the inputs' rows the run's spare maps do not hold
  PhaseMap* rows = nullptr;   // each input's rows of the band under way, in a spare or the block
  double* factors = nullptr;  // their factors
  BandRead* reads = nullptr;  // how reading each went
  double* scratch = nullptr;  // each thread's
  // Input i's rows go to `storage`, `size` values.
  void placed_in(std::size_t i, int32_t* storage, uint32_t size) {
    map_init(rows[i]);
    rows[i].matrix = storage;
    rows[i].size = size;
  }
  MedianStorage() = default;
  MedianStorage(const MedianStorage&) = delete;
  MedianStorage& operator=(const MedianStorage&) = delete;
  ~MedianStorage() {
    mem_release(block);
    mem_release(rows);
    mem_release(factors);
    mem_release(reads);
    mem_release(scratch);
  }
};

// The bytes the bands may hold: -MemoryLimit, else a share of the memory.
uint64_t median_budget(const RunSettings& settings) {
  if (settings.MemoryLimit > 0.0) return uint64_t(settings.MemoryLimit * 1048576.0);
  const uint64_t limit = memory_limit_bytes();
  return limit > 0 ? std::min(limit / MEDIAN_MEMORY_SHARE, MEDIAN_DEFAULT_BYTES)
                   : MEDIAN_DEFAULT_BYTES;
}

// Input i's camera rows [first, first + count) and its factor; run by any thread of the team.
BandRead read_band(RunState& run, MedianStorage& s, int32_t i, int32_t first, int32_t count) {
  const char* name = run.inputs->names[std::size_t(i)].c_str();
  DataAttributes a;
  PhaseMap& rows = s.rows[i];
  // Aligned, camera row r holds the file's row r + shift y: the band's rows come from there.
  const InputShift shift = run.align.shifts != nullptr ? run.align.shifts[i] : InputShift{};
  const int32_t from = std::max(0, first + shift.y);
  const int32_t end = std::max(from, first + count + shift.y);
  ReadStamps stamps;  // of the file this thread had open
  const ErrorCode rc = read_phase_rows_into(name, &a, from, end - from, &rows, &stamps);
  if (!read_unchanged(name, stamps, run.stamps[i]))
    return {RunStep::INPUT_CHANGED, ERR_CORRUPT_DATA_FILE};
  if (rc != NO_ERROR) return {RunStep::READ_INPUT, rc};
  if (rows.window.height > 0 && (shift.x != 0 || shift.y != 0) &&
      !move_on_camera(rows, shift.x, shift.y, run.maps.camera.width, run.maps.camera.height))
    rows.window.height = 0;  // what it holds of these rows lands off the camera
  // The first pass took this very file; a window or factor it would have refused ends the run.
  const double f = phase_scale_factor(a, run.reference, run.out_counts);
  if (rows.window.height > 0 && !window_within(rows.window, run.maps.camera))
    return {RunStep::ACCUMULATE, ERR_IMPROPER_WINDOW};
  if (!(f > 0.0) || !std::isfinite(f)) return {RunStep::ACCUMULATE, ERR_PARAM_OUT_OF_RANGE};
  s.factors[i] = f;
  return {RunStep::DONE, NO_ERROR};
}

// The rejected values of the band's rows made invalid, as `marking` made them.
bool mark_band(RunState& run, MedianStorage& s, const RejectionPass& marking) {
  const auto count = int32_t(s.count);
  RejectionBatch& queue = run.rejecting;
  queue.count = 0;
  CountMap uncounted;  // the marking pass counted them
  map_init(uncounted);
  for (int32_t i = 0; i < count; ++i) {
    PhaseMap& rows = s.rows[i];
    if (rows.window.height > 0) {
      const ErrorCode rc = rejection_queue(run.rejection, queue, rows, s.factors[i], marking,
                                           *run.team, level_of(run, i));
      if (rc != NO_ERROR)
        return fail(run, RunStep::ACCUMULATE, rc, run.inputs->names[std::size_t(i)].c_str());
    }
    if (queue.count == MAX_BATCH_INPUTS || (i + 1 == count && queue.count > 0)) {
      rejection_batch_pass(run.rejection, queue, marking, uncounted, *run.team);
      queue.count = 0;
    }
  }
  return true;
}

}  // namespace

bool median_stage(RunState& run, const RejectionPass* marking) {
  const Window& camera = run.maps.camera;
  const auto count = int32_t(run.inputs->names.size());
  const int32_t bands = run.team->bands();
  const int32_t rows =
      median_band_rows(median_budget(*run.settings), count, camera.width, camera.height);
  if (rows == 0) {
    char needed[32];
    std::snprintf(needed, sizeof needed, "%.6g",
                  double(count) * double(camera.width) * 4.0 / 1048576.0);
    return fail(run, RunStep::MEDIAN_BUDGET, ERR_NO_MEM, nullptr, needed);
  }
  const std::size_t scratch = median_scratch_bytes(count) / sizeof(double);
  // Refused before any allocation, as the run's other maps are: the median, the bands' rows and
  // the scratch of every thread.
  const uint64_t pixels = uint64_t(camera.width) * uint64_t(camera.height);
  const uint64_t band = uint64_t(count) * uint64_t(rows) * uint64_t(camera.width) * 4;
  ErrorCode rc =
      check_memory_need(4 * pixels + band + uint64_t(bands) * scratch * 8, memory_limit_bytes());
  run.maps.median.window = camera;
  if (rc == NO_ERROR) rc = map_alloc(run.maps.median);
  if (rc != NO_ERROR) return fail(run, RunStep::ACCUMULATE, rc);
  MedianStorage s;
  s.count = std::size_t(count);
  s.rows = static_cast<PhaseMap*>(mem_allocate_zeroed(s.count, sizeof(PhaseMap)));
  if (s.rows == nullptr) return fail(run, RunStep::ACCUMULATE, ERR_NO_MEM);
  // Every band's rows go where the first pass's input maps were (their pages already taken),
  // as many inputs as each holds, and the rest into one block taken once for every band (large
  // pages where the system offers them): fresh pages cost a fault and their clearing each, a
  // fair part of the whole stage when taken a band or a small page at a time.
  const auto per_input = uint32_t(rows) * uint32_t(camera.width);
  std::size_t placed = 0;
  for (PhaseMap& spare : run.spares) {
    for (uint32_t used = 0;
         spare.matrix != nullptr && spare.size - used >= per_input && placed < s.count;
         used += per_input)
      s.placed_in(placed++, spare.matrix + used, per_input);
  }
  const std::size_t block_bytes = (s.count - placed) * per_input * sizeof(int32_t);
  if (placed < s.count) s.block = static_cast<int32_t*>(mem_allocate(block_bytes));
  s.factors = static_cast<double*>(mem_allocate_zeroed(s.count, sizeof(double)));
  s.reads = static_cast<BandRead*>(mem_allocate_zeroed(s.count, sizeof(BandRead)));
  s.scratch = static_cast<double*>(mem_allocate(std::size_t(bands) * scratch * 8));
  if ((placed < s.count && s.block == nullptr) || s.factors == nullptr || s.reads == nullptr ||
      s.scratch == nullptr)
    return fail(run, RunStep::ACCUMULATE, ERR_NO_MEM);
  if (s.block != nullptr) advise_large_pages(s.block, block_bytes);
  for (std::size_t i = placed; i < s.count; ++i)
    s.placed_in(i, s.block + (i - placed) * per_input, per_input);
  const int16_t min_count = min_count_of(*run.settings);
  for (int32_t first = 0; first < camera.height; first += rows) {
    const int32_t n = std::min(rows, camera.height - first);
    ++run.pass;
    run.observer->pass_started(run.pass);
    auto read = [&](int32_t b) {
      for (int32_t i = b; i < count; i += bands) s.reads[i] = read_band(run, s, i, first, n);
    };
    run.team->run(read);
    for (int32_t i = 0; i < count; ++i) {
      const BandRead& r = s.reads[i];
      if (r.step != RunStep::DONE)
        return fail(run, r.step, r.code, run.inputs->names[std::size_t(i)].c_str());
    }
    if (marking != nullptr && !mark_band(run, s, *marking)) return false;
    auto medians = [&](int32_t b) {
      const RowRange part = band_rows(n, bands, b);
      median_rows(s.rows, s.factors, run.levels, count, camera.width, first + part.first,
                  first + part.first + part.count, min_count, s.scratch + std::size_t(b) * scratch,
                  run.maps.median.matrix);
    };
    run.team->run(medians);
    run.observer->input_passed(run.pass, count, count);
  }
  return true;
}

}  // namespace harnix
