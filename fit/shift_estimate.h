// The lateral offset of one height map from a reference map, from the overlap of their valid
// pixels.
//
// Each map has its least-squares plane taken off and is kept as a pyramid: level 0 the heights
// of its own window, each further level the mean of the valid pixels of 2 x 2 blocks (a block
// with fewer than two is invalid), every level anchored at camera pixel 0 so that a shift of s at
// level l is one of s * 2^l camera pixels. For a shift s the score is the correlation of the two
// maps over the pixels valid in both (reference pixel q against input pixel q + s), with a plane
// taken off each over that overlap:
//   r(s) = <A', B'> / sqrt(<A', A'> <B', B'>),  X' = X - (least-squares plane of X over the overlap)
// so that neither map's piston or tilt, nor the plane by which a curved form changes when it is
// moved, counts. Every shift within +-P is scored at the coarsest level (where P has shrunk to a
// few pixels); each finer level climbs from twice the coarser best to the highest neighbour, and
// level 0 (its rows thinned out to a bounded number of pixels) gives the integer shift. The
// sub-pixel rest is the vertex of the quadratic surface through the scores of the best shift and
// its eight neighbours; the whole shift is the one nearest that vertex.
//
// A shift is refused, not guessed, when the maps hold too few valid pixels, when they overlap too
// little, when the best score is low (a flat surface, or noise with nothing in common), when a
// shift three coarsest-level pixels or more from the best scores nearly as high (a periodic
// surface, a surface alike along one direction, or a peak beyond the bound: the misfit 1 - r
// there is less than PEAK_CONTRAST times the best's), or when the best lies beyond the bound.
#ifndef HARNIX_FIT_SHIFT_ESTIMATE_H_
#define HARNIX_FIT_SHIFT_ESTIMATE_H_

#include <cstddef>
#include <cstdint>

#include "base/error_codes.h"
#include "maps/map_types.h"

namespace harnix {

constexpr int32_t MAX_SHIFT_LEVELS = 8;
constexpr int32_t MAX_SHIFT_BOUND = 1024;    // pixels, the largest bound searched
constexpr int32_t MIN_SHIFT_PIXELS = 64;     // valid pixels a map needs at full resolution
constexpr double MIN_PEAK_SCORE = 0.5;       // r below this: nothing in common to align on
constexpr double PEAK_CONTRAST = 2.0;        // shifts away from the best misfit twice as much

// One level of a pyramid: a raster at 2^level camera pixels a pixel, columns x .. x + width - 1
// and rows y .. y + height - 1 of that level's grid. Invalid pixels have value 0 and weight 0,
// valid ones weight 1.
struct ShiftLevel {
  int32_t x;
  int32_t y;
  int32_t width;
  int32_t height;
  int64_t valid;  // pixels of weight 1
  float* value;
  float* weight;
};

// A map prepared for shift estimation. Start with shift_pyramid_init; owns one block from the
// allocation hooks, released by shift_pyramid_free.
struct ShiftPyramid {
  int32_t levels;  // 0 when empty
  ShiftLevel level[MAX_SHIFT_LEVELS];
  void* storage;
  std::size_t capacity;  // bytes of storage
};

void shift_pyramid_init(ShiftPyramid& p);
void shift_pyramid_free(ShiftPyramid& p);

// Levels a search within +-max_shift uses on maps of about width x height pixels: the fewest
// that bring the bound down to a few pixels, as long as the coarsest level keeps 32 pixels a
// side.
int32_t shift_levels(int32_t max_shift, int32_t width, int32_t height);

// Builds *p from the valid values of `map` (phase counts; any common scale of the two maps
// does not matter) with `levels` levels (1..MAX_SHIFT_LEVELS), reusing its storage when large
// enough. ERR_INVALID_PARAM (map without storage), ERR_PARAM_OUT_OF_RANGE (levels), ERR_NO_MEM;
// on failure *p is empty (levels 0) but may keep its storage. With fewer than three valid pixels
// no plane is taken off; the estimate then refuses the map for its few pixels.
ErrorCode shift_pyramid_build(const PhaseMap& map, int32_t levels, ShiftPyramid* p);

enum class ShiftVerdict : int32_t {
  FOUND = 0,
  TOO_FEW_PIXELS = 1,      // a map has fewer than MIN_SHIFT_PIXELS valid pixels
  TOO_LITTLE_OVERLAP = 2,  // no shift within the bound overlaps enough
  NO_PEAK = 3,             // best score below MIN_PEAK_SCORE: flat, or nothing in common
  SEVERAL_PEAKS = 4,       // no single peak: periodic, alike along a direction, or out of reach
  BEYOND_BOUND = 5,        // the best lies outside the bound
};

// The reason, for people: "too few valid pixels", "too little overlap", ... ("found" for FOUND).
const char* shift_verdict_text(ShiftVerdict v);

struct ShiftSearch {
  int32_t max_shift;    // 0..MAX_SHIFT_BOUND pixels in x and in y
  double min_overlap;   // share (0..1] of the input's valid pixels that must fall on valid
                        // reference pixels
};

struct ShiftEstimate {
  ShiftVerdict verdict;
  int32_t shift_x;  // whole pixels: input pixel q + shift shows reference pixel q
  int32_t shift_y;
  double rest_x;    // sub-pixel remainder, -0.5..0.5 (0 unless FOUND)
  double rest_y;
  double score;     // r at the whole shift (the best found, whatever the verdict)
  double overlap;   // share of the input's valid pixels on valid reference pixels there
};

// Estimates the shift of `input` from `reference`, both built with the same number of levels.
// Always NO_ERROR with *out filled (its verdict says whether the shift was found), except
// ERR_PARAM_OUT_OF_RANGE (search values, or pyramids of different levels) and ERR_NO_MEM
// (*out then zeroed with verdict FOUND unset: do not use it). Deterministic: the same maps give
// the same estimate to the bit.
ErrorCode estimate_shift(const ShiftPyramid& reference, const ShiftPyramid& input,
                         const ShiftSearch& search, ShiftEstimate* out);

}  // namespace harnix

#endif  // HARNIX_FIT_SHIFT_ESTIMATE_H_
