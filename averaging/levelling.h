// Levelling every input to the stack (-Level Piston or Plane).
//
// A first pass forms the plain average a of the scaled values x = F v, unrounded, valid where
// at least max(MinValidCnt, ceil(N / 2)) of the N inputs are valid: where fewer meet (along
// window edges), a leans towards the few, whose differences from it would pull their fits. At an input's
// compared pixels, where the input and a are both valid, its difference d = x - a gets a
// least-squares piston p = c0 or plane p = c0 + cx X + cy Y, with X and Y the camera column and
// row less the camera's centre pixel (CameraWidth / 2, CameraHeight / 2). The common form of the
// surface cancels in d, so windows, curvature and steps of the surface do not enter the fit.
//
// The fit is made robust by refitting it LEVEL_REFITS times, each time over the compared pixels
// whose residual r = d - p from the fit before lies within LEVEL_CLIP s, where
// s = max(1.4826 MAD, LEVEL_SPREAD_FLOOR) and MAD is the median of |r| over up to
// LEVEL_SPREAD_SAMPLE compared pixels taken at a fixed stride through the input's window
// (1.4826 MAD is the standard deviation of Gaussian residuals; the floor keeps a noiseless stack,
// whose residuals are rounding alone, from leaving pixels out). The first fit and the refits
// are made over the compared pixels of every k-th row of the window from its first,
// k = max(1, floor(pixels of the window / LEVEL_REFIT_SAMPLE)): every row of a window of fewer
// than twice LEVEL_REFIT_SAMPLE pixels, and at least that many pixels of a larger one, whose
// fit that many points already fix far below the noise; should those rows not carry the first
// fit, every row is read instead. A spike, a dust particle or a defect in one input lies beyond
// the clip and leaves its fit. Every later step of the run sees x - p, formed in double
// precision, instead of x.
//
// An input with fewer than LEVEL_MIN_POINTS compared pixels, or (for the plane) whose compared
// pixels do not span both directions, is left unlevelled (p = 0) and the report and -Verbose say
// so; a refit that would keep too few pixels, or no longer spans the plane, keeps the fit before.
// Every fit is made by one thread in the one order of the input's pixels: the same bits whatever
// the team.
#ifndef HARNIX_AVERAGING_LEVELLING_H_
#define HARNIX_AVERAGING_LEVELLING_H_

#include <cstddef>
#include <cstdint>
#include <limits>

#include "averaging/band_team.h"
#include "averaging/settings.h"
#include "base/error_codes.h"
#include "maps/map_types.h"

namespace harnix {

constexpr int32_t LEVEL_REFITS = 2;
constexpr double LEVEL_CLIP = 3.0;
constexpr double LEVEL_SPREAD_FLOOR = 0.5;  // counts: half the rounding step
constexpr int32_t LEVEL_SPREAD_SAMPLE = 4096;
constexpr std::size_t LEVEL_REFIT_SAMPLE = 65536;
constexpr int64_t LEVEL_MIN_POINTS = 16;
constexpr double MAD_TO_SIGMA = 1.4826;

// What levelling takes off one input: p = c0 + cx (X - xc) + cy (Y - yc), in counts of the
// output and counts per pixel (cx = cy = 0 for a piston, or an input left unlevelled).
struct InputLevel {
  double c0;
  double cx;
  double cy;
  int32_t xc;         // the camera's centre pixel
  int32_t yc;
  int64_t compared;   // compared pixels of the rows the fits read (every row if unlevelled)
  int64_t left_out;   // of those, the pixels the last refit left out
  bool levelled;      // false: too few points, p = 0
  bool fitted;        // set by fit_level (an input's level is fitted once)
  bool in_range;      // every levelled value rounds within the phase range (level_in_range)
};

// The least and greatest valid value of an input, as the stack's pass finds them.
struct ValueRange {
  int32_t low = std::numeric_limits<int32_t>::max();
  int32_t high = std::numeric_limits<int32_t>::min();
};

// At least the largest |p| the level takes anywhere on `camera`: |c0| + |cx| W + |cy| H.
double level_reach(const InputLevel& level, const Window& camera);

// Levelled values beyond this magnitude might not round within the phase range.
constexpr double LEVELLED_RANGE_BOUND = 67108862.0;  // 2^26 - 2

// True when every valid value of `range`, scaled by f and less `level` anywhere on `camera`,
// is at most LEVELLED_RANGE_BOUND in magnitude: all of them round within the phase range, and
// the deviation counts exactly the values the average counts. False for a range the stack's
// pass did not find (a scaled input's).
bool level_in_range(const InputLevel& level, double f, const ValueRange& range,
                    const Window& camera);

// The plane along a row of an input: at column x0 + i of camera row y, base + cx (dx + i). Every
// step forms p with level_row and level_at, so that each sees the same bits.
struct LevelRow {
  double base;
  double cx;
  double dx;
};

inline LevelRow level_row(const InputLevel& level, int32_t x0, int32_t y) {
  return LevelRow{level.c0 + level.cy * double(y - level.yc), level.cx, double(x0 - level.xc)};
}

inline double level_at(const LevelRow& row, std::size_t i) {
  return row.base + row.cx * (row.dx + double(i));
}

// The level taken off an input, in metres and metres per metre, for the report and -Verbose.
struct LevelFigures {
  double piston_m;  // the level at the camera's centre pixel
  double tilt_x;
  double tilt_y;
  int64_t compared;  // compared pixels of the rows the fits read (every row if unlevelled)
  int64_t left_out;  // of those, the pixels the robust fit left out
  bool levelled;     // false: too few points for its fit, left as it was
};

// `level` in metres: heights by metres_per_count, slopes by metres_per_count / spacing_m (0 when
// the spacing is not positive).
LevelFigures level_figures(const InputLevel& level, double metres_per_count, double spacing_m);

// The stack's average over the camera: its sums, then (after stack_finish) a itself.
struct StackMaps {
  RealMap average;  // the sums, then a (NaN where too few inputs are valid)
  CountMap count;
};

// Bytes per camera pixel the stack's maps hold at most.
constexpr uint64_t STACK_BYTES_PER_PIXEL = sizeof(double) + sizeof(int16_t);

// Zeroes the records (no storage), so that stack_free is safe on every way out.
void stack_init(StackMaps& maps);

// Makes the sums over (0, 0, width, height), filled with 0 band by band by the team.
// ERR_NO_MEM or ERR_PARAM_OUT_OF_RANGE from map_alloc (what was obtained kept for stack_free).
ErrorCode stack_create(StackMaps& maps, int16_t width, int16_t height, BandTeam& team);

// Checks `input` (its own window on the camera) and its factor f for stack_add_batch:
// ERR_IMPROPER_WINDOW, then ERR_PARAM_OUT_OF_RANGE for a factor that is not positive and finite.
ErrorCode stack_check(const StackMaps& maps, const PhaseMap& input, double f);

// True when the scaled values of an input with factor f could make a sum overflow: such an input,
// and every input after it, is added to the stack on its own.
bool stack_adds_alone(double f);

// Adds the valid values of inputs[0 .. count) (each passed by stack_check; several only when
// none adds alone), each scaled by its factor when |f - 1| > SCALE_FACTOR_EPSILON, to the sums,
// chunk of camera rows by chunk, each chunk taking the inputs in order: the sums of adding them
// one after the other, bit for bit, whatever the team. Sets ranges[k] to the range of input k's
// valid values (left as ValueRange{} for a scaled input). ERR_FP_OVERFLOW for a value or sum
// reaching REAL_INVALID (sums then only good for releasing).
ErrorCode stack_add_batch(StackMaps& maps, const PhaseMap* const* inputs, const double* factors,
                          int32_t count, BandTeam& team, ValueRange* ranges);

// The count stack_finish needs for a stack of `inputs`: max(1, min_count, ceil(inputs / 2)).
int16_t stack_min_count(int16_t min_count, std::size_t inputs);

// Turns the sums into a: sum / count where count >= max(1, min_count), NaN elsewhere; releases
// the counts.
void stack_finish(StackMaps& maps, int16_t min_count, BandTeam& team);

void stack_free(StackMaps& maps);

// Fits the level of `input` (scaled by f as stack_add scales it) to the stack average `average`
// with `mode` (PISTON or PLANE) and sets every field of `level`. Cannot fail.
void fit_level(const PhaseMap& input, double f, const RealMap& average, LevelMode mode,
               InputLevel& level);

}  // namespace harnix

#endif  // HARNIX_AVERAGING_LEVELLING_H_
