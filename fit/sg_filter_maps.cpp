// Line filters over phase maps: along each row, along each column, and the gradient length.
//
// Rows are filtered one at a time through a float line. Columns are filtered in one pass down the
// map: a ring of the last L rows as floats and, per column, the count of valid samples ending at
// the newest row; each output row is the filter across the ring, valid where that count reaches
// L. Both give exactly what filtering each line on its own gives, with every read and write
// along contiguous rows.
#include <cmath>
#include <cstddef>

#include "base/allocation.h"
#include "fit/sg_filter.h"
#include "fit/sg_kernel.h"
#include "maps/storage.h"

namespace harnix {

namespace {

bool same_shape(const Window& a, const Window& b) {
  return a.width == b.width && a.height == b.height;
}

int32_t* row_of(const PhaseMap& m, int32_t r) {
  return m.matrix + static_cast<std::size_t>(r) * static_cast<std::size_t>(m.window.width);
}

// Checks shared by the map filters; `along` is the line length, `across` the number of lines.
ErrorCode check(const PhaseMap& src, const PhaseMap& dst, int32_t along, int32_t length,
                SgKind kind, SgTable* t) {
  if (along < 1) return ERR_PARAM_OUT_OF_RANGE;
  if (!same_shape(src.window, dst.window)) return ERR_WINDOWS_MISMATCHED;
  const ErrorCode rc = sg_table(length, kind, t);
  if (rc != NO_ERROR) return rc;
  if (src.window.width > 0 && src.window.height > 0 &&
      (src.matrix == nullptr || dst.matrix == nullptr)) {
    return ERR_INVALID_PARAM;
  }
  return NO_ERROR;
}

}  // namespace

ErrorCode filter_rows(const PhaseMap& src, PhaseMap& dst, int32_t length, SgKind kind) {
  const int32_t width = src.window.width;
  const int32_t height = src.window.height;
  SgTable t;
  const ErrorCode rc = check(src, dst, width, length, kind, &t);
  if (rc != NO_ERROR || height < 1) return rc;

  float* in =
      static_cast<float*>(mem_allocate(2 * static_cast<std::size_t>(width) * sizeof(float)));
  if (in == nullptr) return ERR_NO_MEM;
  float* out = in + width;
  for (int32_t r = 0; r < height; ++r) {
    samples_from_phase(row_of(src, r), in, width);
    if (width > length) {
      sg_filter_samples(in, out, width, t);
    } else {
      for (int32_t i = 0; i < width; ++i) out[i] = SG_INVALID;
    }
    phase_from_samples(out, row_of(dst, r), width);
  }
  mem_release(in);
  return NO_ERROR;
}

ErrorCode filter_columns(const PhaseMap& src, PhaseMap& dst, int32_t length, SgKind kind) {
  const int32_t width = src.window.width;
  const int32_t height = src.window.height;
  SgTable t;
  const ErrorCode rc = check(src, dst, height, length, kind, &t);
  if (rc != NO_ERROR || width < 1) return rc;
  const int32_t h = (length - 1) / 2;
  if (height <= length) {  // columns too short for the filter come out all invalid
    for (int32_t r = 0; r < height; ++r) {
      int32_t* d = row_of(dst, r);
      for (int32_t i = 0; i < width; ++i) d[i] = PHASE_INVALID;
    }
    return NO_ERROR;
  }

  // The ring of `length` float rows, one output row, and the run counts.
  const std::size_t w = static_cast<std::size_t>(width);
  float* ring = static_cast<float*>(mem_allocate((length + 1) * w * sizeof(float)));
  int32_t* run = static_cast<int32_t*>(mem_allocate(w * sizeof(int32_t)));
  if (ring == nullptr || run == nullptr) {
    mem_release(ring);
    mem_release(run);
    return ERR_NO_MEM;
  }
  float* out = ring + length * w;
  for (std::size_t i = 0; i < w; ++i) run[i] = 0;
  const float* window[SG_MAX_LENGTH];
  for (int32_t r = 0; r < height; ++r) {
    // Row r is read before any row at or after r - h is written, so dst may be src.
    const int32_t* s = row_of(src, r);
    float* newest = ring + static_cast<std::size_t>(r % length) * w;
    for (std::size_t i = 0; i < w; ++i) {
      newest[i] = phase_to_sample(s[i]);
      run[i] = s[i] < PHASE_INVALID ? run[i] + 1 : 0;
    }
    if (r < length - 1) continue;
    for (int32_t m = 0; m < length; ++m) {
      window[m] = ring + static_cast<std::size_t>((r - length + 1 + m) % length) * w;
    }
    sg_filter_across(window, run, out, width, t);
    phase_from_samples(out, row_of(dst, r - h), width);
  }
  // The first and last h rows have no full window; the first were read long ago.
  for (int32_t i = 0; i < h; ++i) {
    int32_t* top = row_of(dst, i);
    int32_t* bottom = row_of(dst, height - 1 - i);
    for (std::size_t c = 0; c < w; ++c) top[c] = bottom[c] = PHASE_INVALID;
  }
  mem_release(ring);
  mem_release(run);
  return NO_ERROR;
}

ErrorCode gradient_magnitude(const PhaseMap& src, PhaseMap& dst, int32_t length, SgKind kind) {
  // 2147483640^2: a length at or above it would not fit below the marker.
  constexpr double LIMIT = 4.6116859840676495e18;
  if (src.window.width < 1 || src.window.height < 1) return ERR_PARAM_OUT_OF_RANGE;
  SgTable t;
  ErrorCode rc = check(src, dst, src.window.width, length, kind, &t);
  if (rc != NO_ERROR) return rc;

  PhaseMap gx;
  map_init(gx);
  gx.window = src.window;
  rc = map_alloc(gx);
  if (rc != NO_ERROR) return rc;
  rc = filter_rows(src, gx, length, kind);
  if (rc == NO_ERROR) rc = filter_columns(src, dst, length, kind);
  if (rc == NO_ERROR) {
    const std::size_t n = static_cast<std::size_t>(src.window.width) * src.window.height;
    for (std::size_t i = 0; i < n; ++i) {
      const int32_t a = gx.matrix[i];
      const int32_t b = dst.matrix[i];
      int32_t g = PHASE_INVALID;
      if (phase_valid(a) && phase_valid(b)) {
        const double s = static_cast<double>(a) * a + static_cast<double>(b) * b;
        if (s < LIMIT) g = static_cast<int32_t>(std::sqrt(s) + 0.5);
      }
      dst.matrix[i] = g;
    }
  }
  map_free(gx);
  return rc;
}

}  // namespace harnix
