// The report stage: every input compared with the final average (averaging/input_report.h),
// and the report written once the results are.
#include <atomic>
#include <string>

#include "averaging/input_sums.h"
#include "averaging/pass_stages.h"
#include "base/allocation.h"
#include "datafile/file_name.h"
#include "maps/storage.h"

namespace harnix {

bool report_begin(RunState& run) {
  run.average.window = run.maps.camera;
  const ErrorCode rc = map_alloc(run.average);
  if (rc != NO_ERROR) return fail(run, RunStep::ACCUMULATE, rc);
  const auto height = std::size_t(run.maps.camera.height);
  run.report_parts = static_cast<ReportRowPart*>(
      mem_allocate(height * std::size_t(run.batch.capacity) * sizeof(ReportRowPart)));
  if (run.report_parts == nullptr) return fail(run, RunStep::ACCUMULATE, ERR_NO_MEM);
  const int16_t min_count = min_count_of(*run.settings);
  run_on_band_elements(*run.team, run.maps.camera.width, run.maps.camera.height,
                       [&](int32_t, std::size_t first, std::size_t n) {
                         average_for_report(run.maps, min_count, first, n, run.average);
                       });
  run.pending_count = 0;
  return true;
}

bool report_feed(RunState& run, int32_t i) {
  const ReportScale scale = report_scale(run);
  const auto count = int32_t(run.inputs->names.size());
  run.pending[run.pending_count++] = PendingInput{i, run.input_map, input_factor(run)};
  if (run.pending_count < run.batch.capacity && i + 1 < count) return true;
  // The team shares the camera's rows: a band compares every input of the batch with a chunk
  // of the average's rows while the chunk is in the cache, into the inputs' row parts, and
  // takes the next chunk left (any band may form any row's part). Each input's figures then
  // add its parts in row order, as one sweep over its rows would.
  const auto height = std::size_t(run.maps.camera.height);
  double shifts[MAX_BATCH_INPUTS];
  bool found[MAX_BATCH_INPUTS];
  for (int32_t k = 0; k < run.pending_count; ++k) {
    const PendingInput& p = run.pending[k];
    found[k] = report_shift(*p.map, p.f, run.average, level_of(run, p.index), &shifts[k]);
  }
  std::atomic<int32_t> next_chunk{0};
  auto compare = [&](int32_t) {
    (void)for_claimed_chunks(run.maps.camera, next_chunk, [&](int32_t from, int32_t to) {
      for (int32_t k = 0; k < run.pending_count; ++k) {
        const PendingInput& p = run.pending[k];
        const RowRange within = rows_within(*p.map, from, to);
        if (within.count == 0) continue;
        report_row_parts(*p.map, p.f, run.average, level_of(run, p.index), shifts[k], within,
                         run.report_parts + std::size_t(k) * height);
      }
      return NO_ERROR;
    });
  };
  run.team->run(compare);
  for (int32_t k = 0; k < run.pending_count; ++k) {
    const PendingInput& p = run.pending[k];
    report_figures(*p.map, run.average, scale, found[k], shifts[k],
                   run.report_parts + std::size_t(k) * height, run.figures[p.index]);
  }
  run.pending_count = 0;
  run.reader->release(std::size_t(i) + 1);
  return true;
}

bool report_open(RunState& run) {
  const char* name = run.settings->InputReportFile;
  std::string platform_name, message;
  if (names_an_input(name, *run.inputs) || !platform_file_name(name, &platform_name) ||
      !output_open(platform_name.c_str(), &run.report, &message))
    return fail(run, RunStep::CREATE_OUTPUT, ERR_CANT_CREATE_FILE, name);
  return true;
}

bool report_write(RunState& run) {
  const char* name = run.settings->InputReportFile;
  const ErrorCode rc = write_input_report(run.report.stream, *run.inputs, run.figures,
                                          run.levels != nullptr, run.align.shifts);
  if (rc != NO_ERROR) return fail(run, RunStep::WRITE_OUTPUT, rc, name);
  std::string message;
  if (!output_commit(&run.report, &message))
    return fail(run, RunStep::WRITE_OUTPUT, ERR_CANT_WRITE_FILE, name);
  run.observer->output_written(name);
  return true;
}

}  // namespace harnix
