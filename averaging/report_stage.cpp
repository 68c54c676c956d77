// The report stage: every input compared with the final average (averaging/input_report.h),
// and the report written once the results are.
#include <string>

#include "averaging/pass_stages.h"
#include "base/allocation.h"
#include "datafile/file_name.h"
#include "maps/storage.h"

namespace harnix {

bool report_begin(RunState& run) {
  run.average.window = run.maps.camera;
  const ErrorCode rc = map_alloc(run.average);
  if (rc != NO_ERROR) return fail(run, RunStep::ACCUMULATE, rc);
  const auto width = std::size_t(run.maps.camera.width);
  const auto bands = std::size_t(run.team->bands());
  run.report_rows.u = static_cast<double*>(mem_allocate(width * bands * sizeof(double)));
  run.report_rows.skip = static_cast<uint8_t*>(mem_allocate(width * bands));
  if (run.report_rows.u == nullptr || run.report_rows.skip == nullptr)
    return fail(run, RunStep::ACCUMULATE, ERR_NO_MEM);
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
  // Each input's figures come from one thread, in the one order of its pixels; the inputs of a
  // batch are shared among the team, each thread with scratch rows of its own, so the figures
  // are those of one thread.
  const auto width = std::size_t(run.maps.camera.width);
  auto compare = [&](int32_t band) {
    ReportRows rows{run.report_rows.u + std::size_t(band) * width,
                    run.report_rows.skip + std::size_t(band) * width};
    for (int32_t k = band; k < run.pending_count; k += run.team->bands()) {
      const PendingInput& p = run.pending[k];
      compare_with_average(*p.map, p.f, run.average, scale, rows, run.figures[p.index],
                           level_of(run, p.index));
    }
  };
  run.team->run(compare);
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
  run.observer->inputs_compared(run.figures, int32_t(run.inputs->names.size()));
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
