// The camera-sized maps the averaging run keeps for the whole run.
//
// sum_avg/count_avg gather the average; sum_dev/count_dev and sum_sq the standard deviation
// (the squares are counted with the values, so count_dev serves both). Sums start at 0 with
// their counts, never at the marker: adding a value to a sum then needs no look at its count.
// While every input's deviation values are its average values (unscaled inputs, no surface
// removed), the deviation's sum and count are the average's very own, and sum_dev/count_dev
// hold no storage; working_maps_separate_deviation makes them copies when that ends. `work`
// holds each result in phase counts, and serves as camera-sized scratch before. `rejected`
// counts the values rejection took out at each pixel (with -RejectOut only). `low` and `high`
// hold the least and greatest value each pixel's average has received (each only when an output
// needs it), from +-infinity; while every input so far was added unscaled and unlevelled
// (extremes_in_counts), they hold the extremes of its counts as int32 instead (exact, a
// fraction of the traffic): pixel i's count is the i-th int32 of the storage, so that the
// counts touch only its first half, and working_maps_extremes_to_real turns them into doubles
// in place. `median` holds the median of -Combine Median, made by its own
// passes after the sums (averaging/median.h). Every map lies on the camera window (0, 0, CameraWidth,
// CameraHeight) of the first input.
#ifndef HARNIX_AVERAGING_WORKING_MAPS_H_
#define HARNIX_AVERAGING_WORKING_MAPS_H_

#include <cstddef>
#include <cstdint>

#include "averaging/band_team.h"
#include "averaging/settings.h"
#include "base/error_codes.h"
#include "fit/workspace.h"
#include "maps/map_types.h"

namespace harnix {

struct WorkingMaps {
  Window camera;
  PhaseMap work;
  RealMap sum_avg;
  CountMap count_avg;
  RealMap sum_dev;     // storage only once separate
  CountMap count_dev;  // storage only once separate
  RealMap sum_sq;      // storage only with a deviation output
  CountMap rejected;   // storage only with a rejection count output
  RealMap low;         // storage only with a minimum or range output
  RealMap high;        // storage only with a maximum or range output
  PhaseMap median;     // storage only with the median: the average output, in phase counts
  bool with_deviation;
  bool extremes_in_counts;  // low and high hold int32 counts (extremes_counts_row)
  DeviationType deviation_type;  // the deviation output's divisor
  bool separate_deviation;
  bool separate_count;  // count_dev has storage (else the deviation counts with count_avg)
  // No |sum_avg| exceeds this: the largest magnitudes of the values added, added up.
  double sum_bound;
  // The robust plane's slope maps, one workspace for each band of the team (the inputs of a
  // batch are fitted side by side), kept from input to input.
  SurfaceWorkspace robust[MAX_BANDS];
};

// Bytes the run holds at most per camera pixel: three double maps, two 16-bit count maps and
// one 32-bit result map, plus one 32-bit input (or output) map of the camera's size and 4 bytes
// kept in hand for the writer's buffer and the run's smaller records.
constexpr uint64_t RUN_BYTES_PER_CAMERA_PIXEL = 3 * 8 + 2 * 2 + 4 + 4 + 4;

// Bytes per camera pixel of each extreme kept (low, high) besides those.
constexpr uint64_t EXTREME_BYTES_PER_CAMERA_PIXEL = 8;

// Zeroes every record (no storage). Call before anything else so that working_maps_free is safe
// on every way out.
void working_maps_init(WorkingMaps& maps);

// Which sums a run keeps besides the average's.
struct SumsLayout {
  bool deviation = false;           // sum_sq, for a deviation output
  bool separate_deviation = false;  // sum_dev and count_dev from the start (a surface removed)
  bool rejected_counts = false;     // `rejected`, filled with 0
  int32_t inputs_ahead = 0;         // input maps read ahead besides the one in use, for the bound
  bool low = false;                 // `low`, for a minimum or range output
  bool high = false;                // `high`, for a maximum or range output
  DeviationType deviation_type = DeviationType::POPULATION;
};

// The bytes per camera pixel of the extremes `layout` keeps.
uint64_t extreme_bytes_per_pixel(const SumsLayout& layout);

// Creates the maps over (0, 0, width, height): work (unfilled), sum_avg and count_avg, and as
// `layout` asks sum_sq, sum_dev/count_dev, `rejected`, `low` and `high`; sums and counts filled
// with 0 (the extremes kept in counts, from INT32_MAX and INT32_MIN), band by
// band by the team, so that every page is first written by the thread that adds to it (a page
// first read would be copied again on its first write, which stops every thread).
// ERR_NO_MEM before any allocation when the run would not fit in the machine's physical memory
// (check_memory_bound), ERR_NO_MEM or ERR_PARAM_OUT_OF_RANGE from map_alloc. On failure the
// maps obtained so far are kept for working_maps_free.
ErrorCode working_maps_create(WorkingMaps& maps, int16_t width, int16_t height,
                              const SumsLayout& layout, BandTeam& team);

// Gives the deviation a sum of its own and, with `count`, a count of its own, copies of the
// average's; nothing for those it has already (copied band by band by the team). A deviation
// without a count of its own keeps counting with the average's: only inputs whose every valid
// value the deviation counts too may then be added. ERR_NO_MEM (maps unchanged but for storage
// kept for working_maps_free).
ErrorCode working_maps_separate_deviation(WorkingMaps& maps, BandTeam& team, bool count = true);

// The deviation's sum and count: its own once separate, else the average's.
RealMap& deviation_sum(WorkingMaps& maps);
CountMap& deviation_count(WorkingMaps& maps);

// The counts of an extreme map kept in counts (low or high, with storage, extremes_in_counts),
// pixel after pixel as the map's own.
inline int32_t* extremes_counts(const RealMap& extreme) {
  return reinterpret_cast<int32_t*>(extreme.matrix);
}

// Turns extremes kept in counts into doubles in place, band by band by the team: a pixel's counts
// become their values, +-infinity where the average has no value yet. Nothing when the extremes
// are doubles already. Cannot fail.
void working_maps_extremes_to_real(WorkingMaps& maps, BandTeam& team);

// Releases every map; safe on records without storage and repeatedly.
void working_maps_free(WorkingMaps& maps);

// ERR_NO_MEM when width x height camera pixels at RUN_BYTES_PER_CAMERA_PIXEL, plus 4 bytes for
// each of `inputs_ahead` input maps read ahead and `extra_per_pixel` bytes (the extremes, at
// most 64), exceed `limit_bytes` (memory_limit_bytes, base/memory_limit.h); NO_ERROR otherwise,
// and always when limit_bytes is 0 (unknown).
ErrorCode check_memory_bound(int32_t width, int32_t height, uint64_t limit_bytes,
                             int32_t inputs_ahead = 0, uint64_t extra_per_pixel = 0);

}  // namespace harnix

#endif  // HARNIX_AVERAGING_WORKING_MAPS_H_
