// The per-input report (-InputReport): how each input differs from the final average.
//
// At every pixel where the input is valid and the average a (unrounded: sum / count where count
// reaches the minimum) is valid, d = x - a with x the input's scaled value. Over those compared
// pixels, with X, Y the column and row (Y growing down the rows) about their means:
//   mean    = sum(d) / n
//   plane   d - mean = bx X + by Y by least squares (double precision)
//   rms     = sqrt(sum((d - mean - bx X - by Y)^2) / n) = sqrt((Cdd - bx CXd - by CYd) / n)
// with C the centred sums of products. One sweep over the input gathers sums shifted by the
// first d and by the camera's centre, which hold spreads rather than magnitudes, so the centred
// sums follow without losing the residual to rounding unless the plane explains all but about a
// part in 1e10 of the spread. A slope whose direction the pixels do not span (all in one row or
// column, or on one line) is not fitted and left out of the report. Heights are converted to
// metres by metres_per_count and slopes to metres per metre by metres_per_count / spacing_m.
#ifndef HARNIX_AVERAGING_INPUT_REPORT_H_
#define HARNIX_AVERAGING_INPUT_REPORT_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "averaging/band_team.h"
#include "averaging/levelling.h"
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
  LevelFigures level;  // with -Level
};

// An input's lateral alignment (-Align): the whole-pixel shift applied (the input moved by minus
// it on the camera) and what the estimate said about it.
struct InputShift {
  int32_t x;
  int32_t y;
  double rest_x;   // sub-pixel remainder, estimated and not applied
  double rest_y;
  double score;    // the correlation peak, -1..1
  double overlap;  // share of the input's valid pixels on valid pixels of the first input
};

struct ReportScale {
  double metres_per_count;  // IntfScaleFactor x WavelengthIn / counts per fringe of the output
  double spacing_m;         // CameraRes, or PixelWidth when CameraRes is 0
};

// The final average the report compares with, into pixels [from, from + count) of `average`
// (the caller's map over the camera of `maps`, with storage): sum_avg / count_avg where count_avg
// reaches max(1, min_count), NaN elsewhere. Made once, so that no pass over an input divides.
void average_for_report(const WorkingMaps& maps, int16_t min_count, std::size_t from,
                        std::size_t count, RealMap& average);

// One row's part of an input's comparison: its compared pixels' count, sums of the column index
// i and of i^2, sums of u = d - d0, of i u (in two halves) and of u^2, and its valid pixels.
struct ReportRowPart {
  double count, i1, ii, u, iu_low, iu_high, uu;
  int64_t valid;
};

// An input is compared with `average` (from average_for_report) as `input` (a phase map in its
// own window on the camera, host order, scaled by f as the average adds it, less `level` when
// given) in three steps: report_shift finds the shift d0 (the first compared d; false when no
// pixel is compared), report_row_parts forms the parts of any rows on their own, in any order
// and on any thread (parts[r] for row r of the input's window), and report_figures adds every
// row's part in row order and sets every figure but rejected_pixels and the level's. The
// figures are those of one sweep over the rows, bit for bit.
bool report_shift(const PhaseMap& input, double f, const RealMap& average,
                  const InputLevel* level, double* d0);
void report_row_parts(const PhaseMap& input, double f, const RealMap& average,
                      const InputLevel* level, double d0, RowRange rows, ReportRowPart* parts);
void report_figures(const PhaseMap& input, const RealMap& average, const ReportScale& scale,
                    bool found, double d0, const ReportRowPart* parts, InputFigures& figures);

// Writes the report to `stream`: a header row, then one row per input in order (`figures[i]`
// for inputs.names[i]), fields quoted as RFC 4180 asks, lines ending in CR LF, numbers with a
// dot. An input is an outlier when its rms is above 3 times the median rms of the inputs
// compared. With `levelled`, each row ends with the level taken off (level_piston_m,
// level_tilt_x, level_tilt_y, level_left_out; empty for an input left unlevelled). With `shifts`
// (one per input, from alignment) each row then ends in the shift applied, the remainder, the
// peak score and the overlap. ERR_NO_MEM (nothing written) or ERR_CANT_WRITE_FILE (the stream's
// error flag set).
ErrorCode write_input_report(std::FILE* stream, const InputList& inputs,
                             const InputFigures* figures, bool levelled = false,
                             const InputShift* shifts = nullptr);

}  // namespace harnix

#endif  // HARNIX_AVERAGING_INPUT_REPORT_H_
