// Savitzky-Golay line filters: fixed integer tables, applied as a correlation over each line.
//
// out[i] = (c[0] in[i-h] + ... + c[L-1] in[i+h]) / N, summed in single precision left to right.
// The first derivative of every length is c[m] = m - h with N = h (h + 1) (2h + 1) / 3, the
// least-squares slope of a line through the L samples. The other tables are those of the
// least-squares quadratic (smoothing, second derivative) and cubic (third derivative); smoothing
// of length 3 is the sharpening -1, 3, -1 rather than the identity the quadratic would give.
//
// Validity is tracked with the length of the run of valid samples ending at the window's right
// edge, so each line costs one pass however many samples are missing.
#include "fit/sg_filter.h"

#include <cmath>
#include <cstddef>

#include "maps/allocation.h"
#include "maps/storage.h"

namespace {

// First derivative: c[m] = m - h, filled in below for every length.
constexpr float kFirst3[] = {-1, 0, 1};
constexpr float kFirst5[] = {-2, -1, 0, 1, 2};
constexpr float kFirst7[] = {-3, -2, -1, 0, 1, 2, 3};
constexpr float kFirst9[] = {-4, -3, -2, -1, 0, 1, 2, 3, 4};
constexpr float kFirst11[] = {-5, -4, -3, -2, -1, 0, 1, 2, 3, 4, 5};
constexpr float kFirst13[] = {-6, -5, -4, -3, -2, -1, 0, 1, 2, 3, 4, 5, 6};
constexpr float kFirst15[] = {-7, -6, -5, -4, -3, -2, -1, 0, 1, 2, 3, 4, 5, 6, 7};

constexpr float kSmooth3[] = {-1, 3, -1};
constexpr float kSmooth5[] = {-3, 12, 17, 12, -3};
constexpr float kSmooth7[] = {-2, 3, 6, 7, 6, 3, -2};
constexpr float kSmooth9[] = {-21, 14, 39, 54, 59, 54, 39, 14, -21};
constexpr float kSmooth11[] = {-36, 9, 44, 69, 84, 89, 84, 69, 44, 9, -36};
constexpr float kSmooth13[] = {-11, 0, 9, 16, 21, 24, 25, 24, 21, 16, 9, 0, -11};
constexpr float kSmooth15[] = {-78, -13, 42,  87, 122, 147, 162, 167,
                               162, 147, 122, 87, 42,  -13, -78};

constexpr float kSecond3[] = {1, -2, 1};
constexpr float kSecond5[] = {2, -1, -2, -1, 2};
constexpr float kSecond7[] = {5, 0, -3, -4, -3, 0, 5};
constexpr float kSecond9[] = {28, 7, -8, -17, -20, -17, -8, 7, 28};
constexpr float kSecond11[] = {15, 6, -1, -6, -9, -10, -9, -6, -1, 6, 15};
constexpr float kSecond13[] = {22, 11, 2, -5, -10, -13, -14, -13, -10, -5, 2, 11, 22};
constexpr float kSecond15[] = {91, 52, 19, -8, -29, -44, -53, -56, -53, -44, -29, -8, 19, 52, 91};

constexpr float kThird5[] = {-1, 2, 0, -2, 1};
constexpr float kThird7[] = {-1, 1, 1, 0, -1, -1, 1};
constexpr float kThird9[] = {-14, 7, 13, 9, 0, -9, -13, -7, 14};
constexpr float kThird11[] = {-30, 6, 22, 23, 14, 0, -14, -23, -22, -6, 30};
constexpr float kThird13[] = {-11, 0, 6, 8, 7, 4, 0, -4, -7, -8, -6, 0, 11};
constexpr float kThird15[] = {-91, -13, 35, 58, 61, 49, 27, 0, -27, -49, -61, -58, -35, 13, 91};

// Indexed by kind, then by half-length h - 1 (lengths 3, 5, ..., 15). Third derivative of length
// 3 does not exist.
constexpr const float* kCoefficients[4][7] = {
    {kSmooth3, kSmooth5, kSmooth7, kSmooth9, kSmooth11, kSmooth13, kSmooth15},
    {kFirst3, kFirst5, kFirst7, kFirst9, kFirst11, kFirst13, kFirst15},
    {kSecond3, kSecond5, kSecond7, kSecond9, kSecond11, kSecond13, kSecond15},
    {nullptr, kThird5, kThird7, kThird9, kThird11, kThird13, kThird15},
};
constexpr float kNormalisers[4][7] = {
    {1, 35, 21, 231, 429, 143, 1105},
    {2, 10, 28, 60, 110, 182, 280},
    {1, 7, 42, 462, 429, 1001, 6188},
    {0, 2, 6, 198, 858, 572, 7956},
};

inline bool sample_valid(float v) {
  return v < SG_INVALID;
}

// Filters n > L samples of `in` into `out` (distinct buffers).
template <int L>
void filter_line_fixed(const float* in, float* out, int32_t n, const float* c, float norm) {
  constexpr int32_t h = (L - 1) / 2;
  for (int32_t i = 0; i < h; ++i) {
    out[i] = SG_INVALID;
    out[n - 1 - i] = SG_INVALID;
  }
  int32_t run = 0;  // valid samples ending at j
  for (int32_t j = 0; j < n; ++j) {
    run = sample_valid(in[j]) ? run + 1 : 0;
    if (j < L - 1) continue;
    const int32_t k = j - h;
    if (run < L) {
      out[k] = SG_INVALID;
      continue;
    }
    const float* window = in + (j - (L - 1));
    float s = 0.0f;
    for (int m = 0; m < L; ++m) s += c[m] * window[m];
    out[k] = s == SG_INVALID ? s : s / norm;
  }
}

// Filters n samples of `in` into `out`; a line no longer than the filter comes out all invalid.
void filter_line(const float* in, float* out, int32_t n, const SgTable& t) {
  if (n <= t.length) {
    for (int32_t i = 0; i < n; ++i) out[i] = SG_INVALID;
    return;
  }
  const float* c = t.coefficients;
  const float z = t.normaliser;
  switch (t.length) {
    case 3:
      filter_line_fixed<3>(in, out, n, c, z);
      break;
    case 5:
      filter_line_fixed<5>(in, out, n, c, z);
      break;
    case 7:
      filter_line_fixed<7>(in, out, n, c, z);
      break;
    case 9:
      filter_line_fixed<9>(in, out, n, c, z);
      break;
    case 11:
      filter_line_fixed<11>(in, out, n, c, z);
      break;
    case 13:
      filter_line_fixed<13>(in, out, n, c, z);
      break;
    default:
      filter_line_fixed<15>(in, out, n, c, z);
      break;
  }
}

// Columns are filtered in strips of this many neighbours so that each row is read and written a
// cache line at a time instead of one element per row.
constexpr int32_t kStripWidth = 16;

bool same_shape(const Window& a, const Window& b) {
  return a.width == b.width && a.height == b.height;
}

}  // namespace

ErrorCode sg_table(int32_t length, int32_t kind, SgTable* table) {
  if (length % 2 == 0) return ERR_INVALID_PARAM;
  if (length < SG_MIN_LENGTH || length > SG_MAX_LENGTH) return ERR_PARAM_OUT_OF_RANGE;
  if (kind < SG_SMOOTH || kind > SG_THIRD_DERIVATIVE) return ERR_PARAM_OUT_OF_RANGE;
  if (length == 3 && kind == SG_THIRD_DERIVATIVE) return ERR_PARAM_OUT_OF_RANGE;
  const int32_t row = (length - 1) / 2 - 1;
  *table = SgTable{length, kCoefficients[kind][row], kNormalisers[kind][row]};
  return NO_ERROR;
}

ErrorCode sg_filter(FloatPairArray& line, int32_t length, int32_t kind) {
  SgTable t;
  const ErrorCode rc = sg_table(length, kind, &t);
  if (rc != NO_ERROR) return rc;
  const int32_t n = line.count;
  if (n <= 0) return NO_ERROR;
  if (line.data == nullptr) return ERR_INVALID_PARAM;
  if (n <= length) {
    for (int32_t i = 0; i < n; ++i) line.data[i].b = SG_INVALID;
    return NO_ERROR;
  }
  float* in = static_cast<float*>(mem_allocate(2 * static_cast<std::size_t>(n) * sizeof(float)));
  if (in == nullptr) return ERR_NO_MEM;
  float* out = in + n;
  for (int32_t i = 0; i < n; ++i) in[i] = line.data[i].b;
  filter_line(in, out, n, t);
  for (int32_t i = 0; i < n; ++i) line.data[i].b = out[i];
  mem_release(in);
  return NO_ERROR;
}

ErrorCode filter_rows(const PhaseMap& src, PhaseMap& dst, int32_t length, int32_t kind) {
  const int32_t width = src.window.width;
  const int32_t height = src.window.height;
  if (width < 1) return ERR_PARAM_OUT_OF_RANGE;
  if (!same_shape(src.window, dst.window)) return ERR_WINDOWS_MISMATCHED;
  SgTable t;
  const ErrorCode rc = sg_table(length, kind, &t);
  if (rc != NO_ERROR) return rc;
  if (height < 1) return NO_ERROR;
  if (src.matrix == nullptr || dst.matrix == nullptr) return ERR_INVALID_PARAM;

  float* in =
      static_cast<float*>(mem_allocate(2 * static_cast<std::size_t>(width) * sizeof(float)));
  if (in == nullptr) return ERR_NO_MEM;
  float* out = in + width;
  for (int32_t r = 0; r < height; ++r) {
    const int32_t* s = src.matrix + static_cast<std::size_t>(r) * width;
    for (int32_t i = 0; i < width; ++i) in[i] = phase_to_sample(s[i]);
    filter_line(in, out, width, t);
    int32_t* d = dst.matrix + static_cast<std::size_t>(r) * width;
    for (int32_t i = 0; i < width; ++i) d[i] = sample_to_phase(out[i]);
  }
  mem_release(in);
  return NO_ERROR;
}

ErrorCode filter_columns(const PhaseMap& src, PhaseMap& dst, int32_t length, int32_t kind) {
  const int32_t width = src.window.width;
  const int32_t height = src.window.height;
  if (height < 1) return ERR_PARAM_OUT_OF_RANGE;
  if (!same_shape(src.window, dst.window)) return ERR_WINDOWS_MISMATCHED;
  SgTable t;
  const ErrorCode rc = sg_table(length, kind, &t);
  if (rc != NO_ERROR) return rc;
  if (width < 1) return NO_ERROR;
  if (src.matrix == nullptr || dst.matrix == nullptr) return ERR_INVALID_PARAM;

  // in and out hold one strip each, column after column.
  const std::size_t strip = static_cast<std::size_t>(kStripWidth) * height;
  float* in = static_cast<float*>(mem_allocate(2 * strip * sizeof(float)));
  if (in == nullptr) return ERR_NO_MEM;
  float* out = in + strip;
  for (int32_t c0 = 0; c0 < width; c0 += kStripWidth) {
    const int32_t sw = width - c0 < kStripWidth ? width - c0 : kStripWidth;
    for (int32_t r = 0; r < height; ++r) {
      const int32_t* s = src.matrix + static_cast<std::size_t>(r) * width + c0;
      for (int32_t i = 0; i < sw; ++i)
        in[static_cast<std::size_t>(i) * height + r] = phase_to_sample(s[i]);
    }
    for (int32_t i = 0; i < sw; ++i) {
      const std::size_t at = static_cast<std::size_t>(i) * height;
      filter_line(in + at, out + at, height, t);
    }
    for (int32_t r = 0; r < height; ++r) {
      int32_t* d = dst.matrix + static_cast<std::size_t>(r) * width + c0;
      for (int32_t i = 0; i < sw; ++i)
        d[i] = sample_to_phase(out[static_cast<std::size_t>(i) * height + r]);
    }
  }
  mem_release(in);
  return NO_ERROR;
}

ErrorCode gradient_magnitude(const PhaseMap& src, PhaseMap& dst, int32_t length, int32_t kind) {
  // 2147483640^2: a length at or above it would not fit below the marker.
  constexpr double kLimit = 4.6116859840676495e18;
  if (src.window.width < 1 || src.window.height < 1) return ERR_PARAM_OUT_OF_RANGE;
  if (!same_shape(src.window, dst.window)) return ERR_WINDOWS_MISMATCHED;
  SgTable t;
  ErrorCode rc = sg_table(length, kind, &t);
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
        if (s < kLimit) g = static_cast<int32_t>(std::sqrt(s) + 0.5);
      }
      dst.matrix[i] = g;
    }
  }
  map_free(gx);
  return rc;
}
