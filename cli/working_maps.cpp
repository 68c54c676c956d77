#include "cli/working_maps.h"

#include "maps/memory_limit.h"
#include "maps/storage.h"

void working_maps_init(WorkingMaps& maps) {
  map_init(maps.work_phase);
  map_init(maps.work_height);
  map_init(maps.sum_avg);
  map_init(maps.count_avg);
  map_init(maps.sum_dev);
  map_init(maps.count_dev);
  map_init(maps.sum_sq);
  map_init(maps.count_sq);
}

template <typename Map>
static ErrorCode create_over(Map& map, const Window& window) {
  map.window = window;
  return map_alloc(map);
}

ErrorCode working_maps_create(WorkingMaps& maps, int16_t width, int16_t height) {
  // A camera of up to 32767 x 32767 pixels asks for tens of gigabytes: refuse it here rather
  // than be killed by the system part-way through filling the maps.
  ErrorCode rc = check_memory_bound(width, height, memory_limit_bytes());
  if (rc != NO_ERROR) return rc;
  const Window camera{0, 0, width, height};
  if ((rc = create_over(maps.work_phase, camera)) != NO_ERROR) return rc;
  if ((rc = create_over(maps.work_height, camera)) != NO_ERROR) return rc;
  if ((rc = create_over(maps.sum_avg, camera)) != NO_ERROR) return rc;
  if ((rc = create_over(maps.count_avg, camera)) != NO_ERROR) return rc;
  if ((rc = create_over(maps.sum_dev, camera)) != NO_ERROR) return rc;
  if ((rc = create_over(maps.count_dev, camera)) != NO_ERROR) return rc;
  if ((rc = create_over(maps.sum_sq, camera)) != NO_ERROR) return rc;
  if ((rc = create_over(maps.count_sq, camera)) != NO_ERROR) return rc;
  map_fill(maps.sum_avg, REAL_INVALID);
  map_fill(maps.sum_dev, REAL_INVALID);
  map_fill(maps.sum_sq, REAL_INVALID);
  map_fill(maps.count_avg, int16_t{0});
  map_fill(maps.count_dev, int16_t{0});
  map_fill(maps.count_sq, int16_t{0});
  return NO_ERROR;
}

void working_maps_free(WorkingMaps& maps) {
  map_free(maps.work_phase);
  map_free(maps.work_height);
  map_free(maps.sum_avg);
  map_free(maps.count_avg);
  map_free(maps.sum_dev);
  map_free(maps.count_dev);
  map_free(maps.sum_sq);
  map_free(maps.count_sq);
}

ErrorCode check_memory_bound(int32_t width, int32_t height, uint64_t physical_bytes) {
  if (physical_bytes == 0 || width <= 0 || height <= 0) return NO_ERROR;
  // At most 32767 x 32767 x 50 bytes: far inside 64 bits.
  return check_memory_need(uint64_t(width) * uint64_t(height) * RUN_BYTES_PER_CAMERA_PIXEL,
                           physical_bytes);
}
