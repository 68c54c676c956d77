// The per-input report (-InputReport): how each input differs from the final average.
//
// At every pixel where the input is valid and the average a (unrounded: sum / count where count
// reaches the minimum) is valid, d = x - a with x the input's scaled value. Over those compared
// pixels, with X, Y the column and row (Y growing down the rows) about their means:
//   mean    = sum(d) / n
//   plane   d - mean = bx X + by Y by least squares (centred sums, double precision)
//   rms     = sqrt(sum((d - mean - bx X - by Y)^2) / n)
// The first sweep gathers sums shifted by the first d and by the camera's centre (spreads, not
// magnitudes) for the mean and the plane; the second sums the residuals themselves. A slope whose
// direction the pixels do not span (all in one row or column, or on one line) is not fitted and
// left out of the report. Heights are converted to metres by metres_per_count and slopes to metres
// per metre by metres_per_count / spacing_m.
#ifndef HARNIX_AVERAGING_INPUT_REPORT_H_
#define HARNIX_AVERAGING_INPUT_REPORT_H_

#include <cstdint>
#include <cstdio>

#include "averaging/settings.h"
#include "averaging/working_maps.h"
#include "base/error_codes.h"
#include "maps/map_types.h"

namespace harnix {

struct InputFigures {
  int64_t valid_pixels;
  int64_t rejected_pixels;
  int64_t compared_pixels;  // 0: the figures below are empty
  double mean_diff_m;
  double tilt_x;  // metres per metre; when has_tilt_x
  double tilt_y;  // metres per metre; when has_tilt_y
  double rms_diff_m;
  bool has_tilt_x;
  bool has_tilt_y;
};

struct ReportScale {
  double metres_per_count;  // IntfScaleFactor x WavelengthIn / counts per fringe of the output
  double spacing_m;         // CameraRes, or PixelWidth when CameraRes is 0
};

// Compares `input` (a phase map in its own window on the camera, host order, scaled by f as the
// average adds it) with the average in `maps` (sum_avg / count_avg where count_avg reaches
// max(1, min_count)) and sets every figure but valid_pixels and rejected_pixels.
void compare_with_average(const PhaseMap& input, double f, const WorkingMaps& maps,
                          int16_t min_count, const ReportScale& scale, InputFigures& figures);

// Writes the report to `stream`: a header row, then one row per input in order (`figures[i]`
// for inputs.names[i]), fields quoted as RFC 4180 asks, lines ending in CR LF, numbers with a
// dot. An input is an outlier when its rms is above 3 times the median rms of the inputs
// compared. ERR_NO_MEM (nothing written) or ERR_CANT_WRITE_FILE (the stream's error flag set).
ErrorCode write_input_report(std::FILE* stream, const InputList& inputs,
                             const InputFigures* figures);

}  // namespace harnix

#endif  // HARNIX_AVERAGING_INPUT_REPORT_H_
