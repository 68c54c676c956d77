// The averaging run's progress report (printed only with -Verbose), on the standard output
// stream: the run's observer and the lines it prints. Every labelled line is the label
// left-aligned in a 20-character column, " = " and the value.
#ifndef HARNIX_CLI_PROGRESS_REPORT_H_
#define HARNIX_CLI_PROGRESS_REPORT_H_

#include <cstdint>

#include "averaging/run_observer.h"
#include "averaging/settings.h"
#include "datafile/attributes.h"
#include "maps/window.h"

namespace harnix {

constexpr int REPORT_LABEL_WIDTH = 20;

// Prints the report of a run as it goes: the settings (and the output PhaseRes when the command
// line chose it), each input's name and attributes, each result's window and each file written.
class VerboseReport : public RunObserver {
 public:
  void run_started(const RunSettings& settings) override;
  void input_started(int32_t index, const char* name) override;
  void input_read(const DataAttributes& attributes, const Window& valid) override;
  void result_formed(const OutputDescriptor& output, const Window& window) override;
  void output_written(const char* name) override;
  void rejection_round(int32_t round, int64_t rejected) override;
  void input_levelled(int32_t index, const LevelFigures& level) override;
  void input_aligned(int32_t index, const InputShift& shift) override;
};

// "Level[%04d]" and the level taken off input `index` (from 1), or that it was left as it was.
void report_level(int32_t index, const LevelFigures& level);

// The three output names (quoted, or None), the rejection count output and the per-input report
// when given, MinValidCnt and, with a deviation output, SdevRemove, then with levelling the
// Level, then with rejection the Reject and RejectIter values, and with -Align its mode and
// AlignMax.
void report_settings(const RunSettings& settings);

// "Output PhaseRes" and "Output OvikRes" of a phase resolution chosen on the command line.
void report_output_phase_res(int32_t code);

// An empty line and "InFile[%04d]" with the name; `index` counts from 1.
void report_input_name(int32_t index, const char* name);

// The sixteen lines TimeStamp .. ZoomMag of one input, with the bounding window of its valid
// values, then an empty line.
void report_input_attributes(const DataAttributes& attributes, const Window& valid_window);

// "<prefix> WindowX" .. "<prefix> WindowHeight" of a result map.
void report_result_window(const char* prefix, const Window& window);

// An empty line, "Wrote \"name\"" and an empty line.
void report_wrote(const char* name);

// The calendar text of a time stamp in local time, "Www Mmm dd hh:mm:ss yyyy\n" (the day
// space-padded), written into `text` (at least 64 bytes).
void local_time_text(int32_t stamp, char* text, int text_bytes);

}  // namespace harnix

#endif  // HARNIX_CLI_PROGRESS_REPORT_H_
