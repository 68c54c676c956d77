// The camera-sized maps the averaging run keeps for the whole run.
//
// work_phase holds the current input placed in the camera field (later each result in phase
// counts), work_height the same as doubles; sum_avg/count_avg gather the average, sum_dev/
// count_dev and sum_sq/count_sq the standard deviation. Every map lies on the camera window
// (0, 0, CameraWidth, CameraHeight) of the first input.
#ifndef HARNIX_CLI_WORKING_MAPS_H_
#define HARNIX_CLI_WORKING_MAPS_H_

#include <cstdint>

#include "cli/error_codes.h"
#include "maps/map_types.h"

struct WorkingMaps {
  PhaseMap work_phase;
  RealMap work_height;
  RealMap sum_avg;
  CountMap count_avg;
  RealMap sum_dev;
  CountMap count_dev;
  RealMap sum_sq;
  CountMap count_sq;
};

// Bytes the run holds per camera pixel at its peak: one 32-bit phase map, four double maps and
// three 16-bit count maps, plus up to one 32-bit input (or output) map of the camera's size and,
// while an output is written, the writer's big-endian copy of it.
constexpr uint64_t RUN_BYTES_PER_CAMERA_PIXEL = 4 + 4 * 8 + 3 * 2 + 4 + 4;

// Zeroes every record (no storage). Call before anything else so that working_maps_free is safe
// on every way out.
void working_maps_init(WorkingMaps& maps);

// Creates every map over (0, 0, width, height): the three sums filled with REAL_INVALID, the
// three counts with 0, the work maps left unfilled. ERR_NO_MEM before any allocation when the
// run would not fit in the memory it can count on (check_memory_bound against
// memory_limit_bytes, maps/memory_limit.h), ERR_NO_MEM or
// ERR_PARAM_OUT_OF_RANGE from map_alloc. On failure the maps obtained so far are kept for
// working_maps_free.
ErrorCode working_maps_create(WorkingMaps& maps, int16_t width, int16_t height);

// Releases every map; safe on records without storage and repeatedly.
void working_maps_free(WorkingMaps& maps);

// ERR_NO_MEM when width x height camera pixels at RUN_BYTES_PER_CAMERA_PIXEL exceed
// `physical_bytes`; NO_ERROR otherwise, and always when physical_bytes is 0 (unknown).
ErrorCode check_memory_bound(int32_t width, int32_t height, uint64_t physical_bytes);

#endif  // HARNIX_CLI_WORKING_MAPS_H_
