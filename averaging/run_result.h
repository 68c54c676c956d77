// What a run ended with: the record run_averaging returns instead of printing. The command line
// turns it into the operator's messages.
#ifndef HARNIX_AVERAGING_RUN_RESULT_H_
#define HARNIX_AVERAGING_RUN_RESULT_H_

#include <vector>

#include "averaging/input_report.h"
#include "averaging/outputs.h"
#include "base/error_codes.h"
#include "datafile/attributes.h"
#include "maps/map_types.h"

namespace harnix {

// Room for the detail text, the attribute check's explanation among them.
constexpr int RUN_DETAIL_BYTES = 512;

// The step at which a run stopped. `file` is the input or output concerned where there is one.
enum class RunStep {
  DONE,              // every requested output was written; code NO_ERROR
  CREATE_OUTPUT,     // an output could not be created empty (or names an input)
  READ_INPUT,        // the reader failed on an input; code from the reader
  CHECK_ATTRIBUTES,  // an input's attributes are refused; detail: the check's explanation
  NO_HEIGHT_DATA,    // an input has no phase map
  NO_VALID_DATA,     // an input has no valid value
  MISMATCHED_INPUT,  // an input's camera disagrees with the first's; detail: the attribute
  INPUT_CHANGED,     // an input vanished or changed (size, time, identity) between passes
  ACCUMULATE,        // making the sums or adding an input to them failed; code says why
  EMPTY_AVERAGE,     // the average has no valid value
  EMPTY_RESULT,      // an extreme, range, uncertainty or sample deviation has no valid value
  MEDIAN_BUDGET,     // the median's budget holds no row of every input; detail: MiB a row takes
  WRITE_OUTPUT,      // forming or writing an output failed; code says why
  ALIGN_INPUT,       // an input's shift from the first cannot be told; detail: the reason
  STOPPED,           // RunSettings::Stop was set; code NO_ERROR, nothing more written
};

struct RunResult {
  ErrorCode code = NO_ERROR;
  RunStep step = RunStep::DONE;
  const char* file = nullptr;          // points into the run's settings or inputs
  char detail[RUN_DETAIL_BYTES] = "";  // text for CHECK_ATTRIBUTES, MISMATCHED_INPUT,
                                       // MEDIAN_BUDGET and ALIGN_INPUT

  bool ok() const { return step == RunStep::DONE; }
};

// A result handed over in memory: its window of the camera and the attributes its file carries.
struct KeptResult {
  bool formed = false;
  PhaseMap map{};  // storage the sink's, released by its destructor
  DataAttributes attributes{};
};

// What the caller asks to keep in memory (RunSettings::Sink) and what the run leaves there. A
// result or the figures asked for are formed whether or not a file is named for them; the
// deviation follows -SdevRemove as its file would. Formed results are those a run writing every
// file would have written before it stopped.
struct ResultSink {
  bool want[OUTPUT_COUNT] = {};  // by the order of output_descriptors()
  bool want_figures = false;     // the per-input report's figures
  KeptResult results[OUTPUT_COUNT];
  std::vector<InputFigures> figures;  // one per input once the report's pass is done
  bool levelled = false;              // with figures: the report tells each input's level
  std::vector<InputShift> shifts;     // with figures and alignment: one per input, else empty

  ResultSink() = default;
  ResultSink(const ResultSink&) = delete;
  ResultSink& operator=(const ResultSink&) = delete;
  ~ResultSink();
};

// Whether the run forms `output`: its file is named or the sink asks for it.
bool output_asked(const RunSettings& settings, const OutputDescriptor& output);
bool output_asked(const RunSettings& settings, OutputKind kind);

// Whether the run forms the per-input figures: the report is named or the sink asks for them.
inline bool figures_asked(const RunSettings& settings) {
  return settings.InputReportFile != nullptr ||
         (settings.Sink != nullptr && settings.Sink->want_figures);
}

// True once another thread has asked the run to stop.
inline bool stop_asked(const RunSettings& settings) {
  return settings.Stop != nullptr && settings.Stop->load(std::memory_order_relaxed);
}

}  // namespace harnix

#endif  // HARNIX_AVERAGING_RUN_RESULT_H_
