// Savitzky-Golay line filters: fixed integer tables, applied as a correlation over each line.
//
// out[i] = (c[0] in[i-h] + ... + c[L-1] in[i+h]) / N, summed in single precision left to right.
// The first derivative of every length is c[m] = m - h with N = h (h + 1) (2h + 1) / 3, the
// least-squares slope of a line through the L samples. The other tables are those of the
// least-squares quadratic (smoothing, second derivative) and cubic (third derivative); smoothing
// of length 3 is the sharpening -1, 3, -1 rather than the identity the quadratic would give.
#include "fit/sg_filter.h"

#include <cstddef>

#include "base/allocation.h"
#include "fit/sg_kernel.h"

namespace harnix {

namespace {

// First derivative: c[m] = m - h, filled in below for every length.
constexpr float FIRST_3[] = {-1, 0, 1};
constexpr float FIRST_5[] = {-2, -1, 0, 1, 2};
constexpr float FIRST_7[] = {-3, -2, -1, 0, 1, 2, 3};
constexpr float FIRST_9[] = {-4, -3, -2, -1, 0, 1, 2, 3, 4};
constexpr float FIRST_11[] = {-5, -4, -3, -2, -1, 0, 1, 2, 3, 4, 5};
constexpr float FIRST_13[] = {-6, -5, -4, -3, -2, -1, 0, 1, 2, 3, 4, 5, 6};
constexpr float FIRST_15[] = {-7, -6, -5, -4, -3, -2, -1, 0, 1, 2, 3, 4, 5, 6, 7};

constexpr float SMOOTH_3[] = {-1, 3, -1};
constexpr float SMOOTH_5[] = {-3, 12, 17, 12, -3};
constexpr float SMOOTH_7[] = {-2, 3, 6, 7, 6, 3, -2};
constexpr float SMOOTH_9[] = {-21, 14, 39, 54, 59, 54, 39, 14, -21};
constexpr float SMOOTH_11[] = {-36, 9, 44, 69, 84, 89, 84, 69, 44, 9, -36};
constexpr float SMOOTH_13[] = {-11, 0, 9, 16, 21, 24, 25, 24, 21, 16, 9, 0, -11};
constexpr float SMOOTH_15[] = {-78, -13, 42,  87, 122, 147, 162, 167,
                               162, 147, 122, 87, 42,  -13, -78};

constexpr float SECOND_3[] = {1, -2, 1};
constexpr float SECOND_5[] = {2, -1, -2, -1, 2};
constexpr float SECOND_7[] = {5, 0, -3, -4, -3, 0, 5};
constexpr float SECOND_9[] = {28, 7, -8, -17, -20, -17, -8, 7, 28};
constexpr float SECOND_11[] = {15, 6, -1, -6, -9, -10, -9, -6, -1, 6, 15};
constexpr float SECOND_13[] = {22, 11, 2, -5, -10, -13, -14, -13, -10, -5, 2, 11, 22};
constexpr float SECOND_15[] = {91, 52, 19, -8, -29, -44, -53, -56, -53, -44, -29, -8, 19, 52, 91};

constexpr float THIRD_5[] = {-1, 2, 0, -2, 1};
constexpr float THIRD_7[] = {-1, 1, 1, 0, -1, -1, 1};
constexpr float THIRD_9[] = {-14, 7, 13, 9, 0, -9, -13, -7, 14};
constexpr float THIRD_11[] = {-30, 6, 22, 23, 14, 0, -14, -23, -22, -6, 30};
constexpr float THIRD_13[] = {-11, 0, 6, 8, 7, 4, 0, -4, -7, -8, -6, 0, 11};
constexpr float THIRD_15[] = {-91, -13, 35, 58, 61, 49, 27, 0, -27, -49, -61, -58, -35, 13, 91};

// Indexed by kind, then by half-length h - 1 (lengths 3, 5, ..., 15). Third derivative of length
// 3 does not exist.
constexpr const float* COEFFICIENTS[4][7] = {
    {SMOOTH_3, SMOOTH_5, SMOOTH_7, SMOOTH_9, SMOOTH_11, SMOOTH_13, SMOOTH_15},
    {FIRST_3, FIRST_5, FIRST_7, FIRST_9, FIRST_11, FIRST_13, FIRST_15},
    {SECOND_3, SECOND_5, SECOND_7, SECOND_9, SECOND_11, SECOND_13, SECOND_15},
    {nullptr, THIRD_5, THIRD_7, THIRD_9, THIRD_11, THIRD_13, THIRD_15},
};
constexpr float NORMALISERS[4][7] = {
    {1, 35, 21, 231, 429, 143, 1105},
    {2, 10, 28, 60, 110, 182, 280},
    {1, 7, 42, 462, 429, 1001, 6188},
    {0, 2, 6, 198, 858, 572, 7956},
};

template <int L>
void filter_samples_fixed(const float* in, float* out, int32_t n, const float* c, float norm) {
  constexpr int32_t h = (L - 1) / 2;
  for (int32_t k = h; k < n - h; ++k) {
    const float* x = in + (k - h);
    float s = 0.0f;
#pragma GCC unroll 16
    for (int m = 0; m < L; ++m) s += c[m] * x[m];
    out[k] = blend(s == SG_INVALID, s, s / norm);
  }
  for (int32_t i = 0; i < h; ++i) {
    out[i] = SG_INVALID;
    out[n - 1 - i] = SG_INVALID;
  }
  // A missing sample voids every output whose window holds it. The sums above may have met it
  // (as an overflow to infinity at worst), and are overwritten here.
  for (int32_t i = 0; i < n; ++i) {
    if (in[i] < SG_INVALID) continue;
    const int32_t first = i - h > h ? i - h : h;
    const int32_t last = i + h < n - 1 - h ? i + h : n - 1 - h;
    for (int32_t k = first; k <= last; ++k) out[k] = SG_INVALID;
  }
}

template <int L>
void filter_across_fixed(const float* const* rows, const int32_t* run, float* out, int32_t width,
                         const float* c, float norm) {
  const float* r[L];
  for (int m = 0; m < L; ++m) r[m] = rows[m];
  for (int32_t i = 0; i < width; ++i) {
    float s = 0.0f;
#pragma GCC unroll 16
    for (int m = 0; m < L; ++m) s += c[m] * r[m][i];
    out[i] = blend(run[i] >= L, blend(s == SG_INVALID, s, s / norm), SG_INVALID);
  }
}

// Calls f.template operator()<L>() with the filter length as a constant.
template <typename F>
void with_length(int32_t length, F&& f) {
  switch (length) {
    case 3:
      f.template operator()<3>();
      break;
    case 5:
      f.template operator()<5>();
      break;
    case 7:
      f.template operator()<7>();
      break;
    case 9:
      f.template operator()<9>();
      break;
    case 11:
      f.template operator()<11>();
      break;
    case 13:
      f.template operator()<13>();
      break;
    default:
      f.template operator()<15>();
      break;
  }
}

}  // namespace

void sg_filter_samples(const float* in, float* out, int32_t n, const SgTable& t) {
  with_length(t.length,
              [&]<int L>() { filter_samples_fixed<L>(in, out, n, t.coefficients, t.normaliser); });
}

void sg_filter_across(const float* const* rows, const int32_t* run, float* out, int32_t width,
                      const SgTable& t) {
  with_length(t.length, [&]<int L>() {
    filter_across_fixed<L>(rows, run, out, width, t.coefficients, t.normaliser);
  });
}

void samples_from_phase(const int32_t* in, float* out, int32_t n) {
  for (int32_t i = 0; i < n; ++i) out[i] = phase_to_sample(in[i]);
}

void phase_from_samples(const float* in, int32_t* out, int32_t n) {
  for (int32_t i = 0; i < n; ++i) out[i] = sample_to_phase(in[i]);
}

ErrorCode sg_table(int32_t length, SgKind kind, SgTable* table) {
  const auto k = static_cast<int32_t>(kind);
  if (length % 2 == 0) return ERR_INVALID_PARAM;
  if (length < SG_MIN_LENGTH || length > SG_MAX_LENGTH) return ERR_PARAM_OUT_OF_RANGE;
  if (k < 0 || k > 3) return ERR_PARAM_OUT_OF_RANGE;
  if (length == 3 && kind == SgKind::THIRD_DERIVATIVE) return ERR_PARAM_OUT_OF_RANGE;
  const int32_t row = (length - 1) / 2 - 1;
  *table = SgTable{length, COEFFICIENTS[k][row], NORMALISERS[k][row]};
  return NO_ERROR;
}

ErrorCode sg_filter(FloatPairArray& line, int32_t length, SgKind kind) {
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
  sg_filter_samples(in, out, n, t);
  for (int32_t i = 0; i < n; ++i) line.data[i].b = out[i];
  mem_release(in);
  return NO_ERROR;
}

}  // namespace harnix
