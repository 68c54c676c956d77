// Map records: a raster on the camera field with its storage.
//
// All four map kinds share one shape: `size` (elements the storage holds, 0 when there is none),
// `window` (where the raster lies), `n_buckets` and `range` (IntensityMap only) and `matrix` (the
// element storage or nullptr). Storage is row-major: camera pixel (px, py) inside the window is
// element (py - y) * width + (px - x). A record is owned by whoever declares it; its storage is
// owned by the record, obtained through the allocation hooks and released only by map_free (or
// replaced by map_resize).
//
// Invalid points travel inside the maps as markers, never as a separate mask:
//   PhaseMap: any value >= PHASE_INVALID is invalid; the marker written is exactly 0x7FFFFFF8.
//   RealMap:  any value not strictly below REAL_INVALID is invalid (NaN included); the marker
//             written is exactly REAL_INVALID, the largest single-precision float as a double.
//   CountMap: no invalid value; 0 means no contribution.
#ifndef HARNIX_MAPS_MAP_TYPES_H_
#define HARNIX_MAPS_MAP_TYPES_H_

#include <cstdint>

#include "maps/window.h"

namespace harnix {

constexpr int32_t PHASE_INVALID = 0x7FFFFFF8;           // 2147483640
constexpr double REAL_INVALID = 3.4028234663852886e38;  // bit pattern 0x47EFFFFFE0000000

// Limits of real_to_phase: values outside [PHASE_MIN_VALUE, PHASE_MAX_VALUE] become invalid.
constexpr double PHASE_MIN_VALUE = -67108864.0;  // -2^26
constexpr double PHASE_MAX_VALUE = 67108863.0;   // 2^26 - 1

struct PhaseMap {
  uint32_t size;
  Window window;
  int16_t n_buckets;
  int16_t range;
  int32_t* matrix;  // phase in resolution counts
};

struct RealMap {
  uint32_t size;
  Window window;
  int16_t n_buckets;
  int16_t range;
  double* matrix;  // height as a double
};

struct CountMap {
  uint32_t size;
  Window window;
  int16_t n_buckets;
  int16_t range;
  int16_t* matrix;  // per-pixel count
};

struct IntensityMap {
  uint32_t size;
  Window window;
  int16_t n_buckets;  // number of intensity planes, stored plane after plane
  int16_t range;      // intensity range value, carried and not interpreted
  uint16_t* matrix;
};

// Counted pairs of single-precision floats (8 bytes a pair).
struct FloatPair {
  float a;
  float b;
};

struct FloatPairArray {
  uint32_t size;  // pairs allocated
  int32_t count;  // pairs wanted
  FloatPair* data;
};

// True for a valid phase value or height value.
inline bool phase_valid(int32_t v) {
  return v < PHASE_INVALID;
}
inline bool real_valid(double v) {
  return v < REAL_INVALID;
}  // false for NaN too

}  // namespace harnix

#endif  // HARNIX_MAPS_MAP_TYPES_H_
