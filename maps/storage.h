// Storage management of map records.
//
// Records start zeroed (map_init) or hold storage obtained here; a record whose `matrix` is not
// nullptr owns at least `size` elements from the allocation hooks.
//
// map_alloc allocates storage for the window already in the record (element count width x height,
// times n_buckets for an IntensityMap, formed in 64-bit arithmetic, so it cannot overflow). The
// storage is not initialised. Storage the record already held is released first.
//   a dimension (or n_buckets) negative, a count of 0, or one above UINT32_MAX
//                     -> ERR_PARAM_OUT_OF_RANGE, record unchanged (a negative dimension never
//                        becomes a huge unsigned count)
//   allocation fails  -> ERR_NO_MEM; size 0 and matrix nullptr; PhaseMap/RealMap keep their
//                        window, CountMap gets width = height = 0, IntensityMap also n_buckets 0
//   success           -> size = element count
// map_free releases the storage (safe on a record without storage, and repeatedly): matrix
// nullptr, size 0, width 0, height 0; x and y stay; an IntensityMap also gets n_buckets 0.
#ifndef HARNIX_MAPS_STORAGE_H_
#define HARNIX_MAPS_STORAGE_H_

#include <cstdint>

#include "base/error_codes.h"
#include "maps/map_types.h"

namespace harnix {

// Element count width x height x planes. ERR_PARAM_OUT_OF_RANGE (and *n = 0) when any factor is
// negative, the count is 0, or it does not fit in 32 bits unsigned; else NO_ERROR with *n set.
ErrorCode element_count(int32_t width, int32_t height, int32_t planes, uint32_t* n);

void map_init(PhaseMap& m);
void map_init(RealMap& m);
void map_init(CountMap& m);
void map_init(IntensityMap& m);

ErrorCode map_alloc(PhaseMap& m);
ErrorCode map_alloc(RealMap& m);
ErrorCode map_alloc(CountMap& m);
ErrorCode map_alloc(IntensityMap& m);

void map_free(PhaseMap& m);
void map_free(RealMap& m);
void map_free(CountMap& m);
void map_free(IntensityMap& m);

// FloatPairArray: as map_alloc / map_free with `count` in place of the window (a negative or zero
// count is ERR_PARAM_OUT_OF_RANGE). On ERR_NO_MEM: size 0, data nullptr, count kept.
ErrorCode array_alloc(FloatPairArray& a);
void array_free(FloatPairArray& a);  // also zeroes size and count

// How map_resize treats storage larger than the new window needs.
struct ResizeOptions {
  bool reuse_larger = false;  // keep it (size stays) rather than replace it by storage of the size
};

// Gives a PhaseMap the window `w`. An element count of 0 releases the storage (size 0, matrix
// nullptr) and leaves the window as it was. A count above `size`, or below it without
// reuse_larger, replaces the storage (ERR_NO_MEM on failure: size 0, matrix nullptr, window
// unchanged); with reuse_larger larger storage is reused and `size` stays. A negative width or
// height is ERR_PARAM_OUT_OF_RANGE with the record unchanged. The contents are not kept either
// way.
ErrorCode map_resize(PhaseMap& m, const Window& w, const ResizeOptions& options);

// True when the record's storage covers its whole window: `matrix` set, width and height at
// least 1 and width x height <= `size`. Every element operation checks this before touching
// storage, so a record whose window outgrew its storage is refused rather than overrun.
bool map_holds_window(const PhaseMap& m);
bool map_holds_window(const RealMap& m);
bool map_holds_window(const CountMap& m);

// Sets every one of the width x height elements to `value`; nothing when a dimension is < 1.
// Never writes past the `size` elements the storage holds.
void map_fill(PhaseMap& m, int32_t value);
void map_fill(RealMap& m, double value);
void map_fill(CountMap& m, int16_t value);

// Address of the element at camera pixel (px, py). No bounds check: the caller guarantees the
// pixel lies in the map's window.
int32_t* map_point(const PhaseMap& m, int px, int py);
int16_t* map_point(const CountMap& m, int px, int py);

}  // namespace harnix

#endif  // HARNIX_MAPS_STORAGE_H_
