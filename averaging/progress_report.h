// The averaging run's progress report (printed only with -Verbose), on the standard output
// stream. Every labelled line is the label left-aligned in a 20-character column, " = " and the
// value.
#ifndef HARNIX_AVERAGING_PROGRESS_REPORT_H_
#define HARNIX_AVERAGING_PROGRESS_REPORT_H_

#include <cstdint>

#include "averaging/settings.h"
#include "datafile/attributes.h"
#include "maps/window.h"

namespace harnix {

constexpr int REPORT_LABEL_WIDTH = 20;

// "None", "Piston", "Plane" or "Sphere" for an SdevRemove setting (-1, 0, 1, 2).
const char* sdev_remove_label(int32_t mode);

// The three output names (quoted, or None), MinValidCnt and, with a deviation output,
// SdevRemove.
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

#endif  // HARNIX_AVERAGING_PROGRESS_REPORT_H_
