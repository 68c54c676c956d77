#include "averaging/working_maps.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "base/memory_limit.h"
#include "maps/storage.h"

namespace harnix {

void working_maps_init(WorkingMaps& maps) {
  maps.camera = Window{};
  map_init(maps.work);
  map_init(maps.sum_avg);
  map_init(maps.count_avg);
  map_init(maps.sum_dev);
  map_init(maps.count_dev);
  map_init(maps.sum_sq);
  map_init(maps.rejected);
  map_init(maps.low);
  map_init(maps.high);
  map_init(maps.median);
  maps.with_deviation = false;
  maps.extremes_in_counts = false;
  maps.deviation_type = DeviationType::POPULATION;
  maps.separate_deviation = false;
  maps.separate_count = false;
  maps.sum_bound = 0.0;
  for (SurfaceWorkspace& ws : maps.robust) ws = SurfaceWorkspace{};
}

namespace {

template <typename Map>
ErrorCode create_over(Map& map, const Window& window) {
  map.window = window;
  return map_alloc(map);
}

}  // namespace

uint64_t extreme_bytes_per_pixel(const SumsLayout& layout) {
  return EXTREME_BYTES_PER_CAMERA_PIXEL * (uint64_t(layout.low) + uint64_t(layout.high));
}

ErrorCode working_maps_create(WorkingMaps& maps, int16_t width, int16_t height,
                              const SumsLayout& layout, BandTeam& team) {
  // A camera of up to 32767 x 32767 pixels asks for tens of gigabytes: refuse it here rather
  // than be killed by the system part-way through filling the maps.
  ErrorCode rc = check_memory_bound(width, height, memory_limit_bytes(), layout.inputs_ahead,
                                    extreme_bytes_per_pixel(layout));
  if (rc != NO_ERROR) return rc;
  const Window camera{0, 0, width, height};
  maps.camera = camera;
  maps.with_deviation = layout.deviation;
  maps.deviation_type = layout.deviation_type;
  maps.sum_bound = 0.0;
  if ((rc = create_over(maps.work, camera)) != NO_ERROR) return rc;
  if ((rc = create_over(maps.sum_avg, camera)) != NO_ERROR) return rc;
  if ((rc = create_over(maps.count_avg, camera)) != NO_ERROR) return rc;
  if (layout.rejected_counts && (rc = create_over(maps.rejected, camera)) != NO_ERROR) return rc;
  if (layout.deviation && (rc = create_over(maps.sum_sq, camera)) != NO_ERROR) return rc;
  if (layout.low && (rc = create_over(maps.low, camera)) != NO_ERROR) return rc;
  if (layout.high && (rc = create_over(maps.high, camera)) != NO_ERROR) return rc;
  maps.extremes_in_counts = layout.low || layout.high;
  run_on_band_elements(team, width, height, [&](int32_t, std::size_t first, std::size_t n) {
    std::fill_n(maps.sum_avg.matrix + first, n, 0.0);
    std::fill_n(maps.count_avg.matrix + first, n, int16_t{0});
    if (layout.rejected_counts) std::fill_n(maps.rejected.matrix + first, n, int16_t{0});
    if (layout.deviation) std::fill_n(maps.sum_sq.matrix + first, n, 0.0);
    if (layout.low)
      std::fill_n(extremes_counts(maps.low) + first, n, std::numeric_limits<int32_t>::max());
    if (layout.high)
      std::fill_n(extremes_counts(maps.high) + first, n, std::numeric_limits<int32_t>::min());
  });
  if (!layout.deviation) return NO_ERROR;
  return layout.separate_deviation ? working_maps_separate_deviation(maps, team) : NO_ERROR;
}

ErrorCode working_maps_separate_deviation(WorkingMaps& maps, BandTeam& team, bool count) {
  const bool sum = !maps.separate_deviation;
  count = count && !maps.separate_count;
  if (!sum && !count) return NO_ERROR;
  ErrorCode rc = NO_ERROR;
  if (sum && (rc = create_over(maps.sum_dev, maps.camera)) != NO_ERROR) return rc;
  if (count && (rc = create_over(maps.count_dev, maps.camera)) != NO_ERROR) return rc;
  const Window& camera = maps.camera;
  run_on_band_elements(team, camera.width, camera.height,
                       [&](int32_t, std::size_t first, std::size_t n) {
    if (sum)
      std::memcpy(maps.sum_dev.matrix + first, maps.sum_avg.matrix + first, n * sizeof(double));
    if (count)
      std::memcpy(maps.count_dev.matrix + first, maps.count_avg.matrix + first,
                  n * sizeof(int16_t));
  });
  maps.separate_deviation = true;
  maps.separate_count = maps.separate_count || count;
  return NO_ERROR;
}

namespace {

// Pixels [first, first + n) of `extreme`'s counts as doubles over the same storage, `none` where
// the count is 0, for counts that lie wholly before or wholly after the doubles they become (or
// a single pixel). The bytes move by memcpy alone, which ends the counts' lifetime and begins
// the doubles'.
void counts_to_real(const RealMap& extreme, const int16_t* count, std::size_t first,
                    std::size_t n, double none) {
  constexpr std::size_t STRETCH = 512;
  unsigned char* const bytes = reinterpret_cast<unsigned char*>(extreme.matrix);
  int32_t counts[STRETCH];
  double values[STRETCH];
  for (std::size_t at = first; at < first + n; at += STRETCH) {
    const std::size_t m = std::min(STRETCH, first + n - at);
    std::memcpy(counts, bytes + at * sizeof(int32_t), m * sizeof(int32_t));
    for (std::size_t i = 0; i < m; ++i)
      values[i] = count[at + i] > 0 ? static_cast<double>(counts[i]) : none;
    std::memcpy(bytes + at * sizeof(double), values, m * sizeof(double));
  }
}

}  // namespace

void working_maps_extremes_to_real(WorkingMaps& maps, BandTeam& team) {
  if (!maps.extremes_in_counts) return;
  constexpr double INFINITE = std::numeric_limits<double>::infinity();
  const std::size_t total = std::size_t(maps.camera.width) * std::size_t(maps.camera.height);
  auto convert = [&](std::size_t first, std::size_t n) {
    if (maps.low.matrix != nullptr)
      counts_to_real(maps.low, maps.count_avg.matrix, first, n, INFINITE);
    if (maps.high.matrix != nullptr)
      counts_to_real(maps.high, maps.count_avg.matrix, first, n, -INFINITE);
  };
  // The counts fill the first half of the storage. Pixels [h/2, h) become doubles at bytes
  // [8(h/2), 8h), past the counts of every pixel still to come ([0, 4(h/2))) and past their own
  // ([4(h/2), 4h)) but for the last pixel's when h is odd: that pixel goes alone, first, and the
  // rest of the step goes to the bands in any order. Then the same for h/2, down to pixel 0.
  for (std::size_t end = total; end > 0;) {
    const std::size_t first = end / 2;
    if (end % 2 == 1) {
      convert(end - 1, 1);
      --end;
    }
    const std::size_t n = end - first;
    if (n > 0) {
      const auto bands = std::size_t(team.bands());
      auto step = [&](int32_t band) {
        const std::size_t from = first + n * std::size_t(band) / bands;
        const std::size_t to = first + n * (std::size_t(band) + 1) / bands;
        convert(from, to - from);
      };
      team.run(step);
    }
    end = first;
  }
  maps.extremes_in_counts = false;
}

RealMap& deviation_sum(WorkingMaps& maps) {
  return maps.separate_deviation ? maps.sum_dev : maps.sum_avg;
}

CountMap& deviation_count(WorkingMaps& maps) {
  return maps.separate_count ? maps.count_dev : maps.count_avg;
}

void working_maps_free(WorkingMaps& maps) {
  map_free(maps.work);
  map_free(maps.sum_avg);
  map_free(maps.count_avg);
  map_free(maps.sum_dev);
  map_free(maps.count_dev);
  map_free(maps.sum_sq);
  map_free(maps.rejected);
  map_free(maps.low);
  map_free(maps.high);
  map_free(maps.median);
  for (SurfaceWorkspace& ws : maps.robust) surface_workspace_free(ws);
  maps.separate_deviation = false;
  maps.separate_count = false;
  maps.extremes_in_counts = false;
}

ErrorCode check_memory_bound(int32_t width, int32_t height, uint64_t limit_bytes,
                             int32_t inputs_ahead, uint64_t extra_per_pixel) {
  if (width <= 0 || height <= 0) return NO_ERROR;
  const uint64_t ahead = uint64_t(std::clamp<int32_t>(inputs_ahead, 0, 1024));
  const uint64_t extra = std::min<uint64_t>(extra_per_pixel, 64);
  // At most 32767 x 32767 x (36 + 4 x 1024 + 64) bytes: far inside 64 bits.
  return check_memory_need(
      uint64_t(width) * uint64_t(height) * (RUN_BYTES_PER_CAMERA_PIXEL + 4 * ahead + extra),
      limit_bytes);
}

}  // namespace harnix
