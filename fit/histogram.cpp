// Value histograms with linear sharing between bins, and the main peak found from a derivative.
//
// A value at u = (v - start) / w bins adds 1 - frac(u) to bin floor(u) and frac(u) to the next,
// so the histogram is the data convolved with a triangle one bin wide on each side. Its
// derivative with the straight-line window m = -h..h is the least-squares slope of the histogram
// over 2h + 1 bins (times the constant sum of m^2), so its largest value marks the steep rising
// flank of the peak and its zero crossing just above marks the top. The extent of the peak grows a
// window about the top until it is wider than k standard deviations of the weight inside it.
#include "fit/histogram.h"

#include <cmath>
#include <cstddef>

#include "maps/storage.h"

namespace harnix {

namespace {

// Weights and derivatives at or above 2^31 do not take part in the maxima (nor do NaNs).
constexpr float HUGE_WEIGHT = 2147483648.0f;

ErrorCode alloc_bins(FloatPairArray& a, int32_t n) {
  if (n < 1) return ERR_PARAM_OUT_OF_RANGE;
  a.count = n;
  const ErrorCode rc = array_alloc(a);
  if (rc != NO_ERROR) return rc;
  for (int32_t i = 0; i < n; ++i) a.data[i] = FloatPair{static_cast<float>(i), 0.0f};
  return NO_ERROR;
}

}  // namespace

ErrorCode value_histogram(const PhaseMap& map, int32_t n, int32_t start, double w,
                          FloatPairArray& hist) {
  const int32_t width = map.window.width;
  const int32_t height = map.window.height;
  const std::size_t count = width > 0 && height > 0
                                ? static_cast<std::size_t>(width) * static_cast<std::size_t>(height)
                                : 0;
  if (n < 1) return ERR_PARAM_OUT_OF_RANGE;
  if (count > 0 && map.matrix == nullptr) return ERR_INVALID_PARAM;
  const ErrorCode rc = alloc_bins(hist, n);
  if (rc != NO_ERROR) return rc;
  if (w == 0.0) return NO_ERROR;

  FloatPair* bins = hist.data;
  const double last = n;
  for (std::size_t i = 0; i < count; ++i) {
    const int32_t v = map.matrix[i];
    if (!phase_valid(v)) continue;
    // The difference is exact in 64 bits, where 32 bits could overflow.
    const float u = static_cast<float>(static_cast<double>(static_cast<int64_t>(v) - start) / w);
    if (!(u > -1.0f && static_cast<double>(u) < last)) continue;  // bin outside, or NaN
    const int32_t b = static_cast<int32_t>(u);
    const float f = u - static_cast<float>(b);
    bins[b].b += 1.0f - f;
    if (b + 1 < n) bins[b + 1].b += f;
  }
  return NO_ERROR;
}

ErrorCode histogram_derivative(const FloatPairArray& hist, FloatPairArray& deriv, int32_t length) {
  const int32_t n = hist.count;
  ErrorCode rc = alloc_bins(deriv, n);
  if (rc != NO_ERROR) return rc;
  if (length <= 0 || length >= n) return ERR_PARAM_OUT_OF_RANGE;
  const int32_t h = (length - 1) / 2;
  if (h > n - h - 1) return ERR_PARAM_OUT_OF_RANGE;
  if (hist.data == nullptr) return ERR_INVALID_PARAM;
  const FloatPair* H = hist.data;
  for (int32_t k = h; k <= n - h - 1; ++k) {
    float s = 0.0f;
    for (int32_t m = -h; m <= h; ++m) s += static_cast<float>(m) * H[k + m].b;
    deriv.data[k].b = s;
  }
  return NO_ERROR;
}

int32_t peak_index(const FloatPairArray& deriv) {
  const int32_t n = deriv.count;
  if (n < 3 || deriv.data == nullptr) return 0;
  const FloatPair* D = deriv.data;
  const int32_t last = n - 1;

  int32_t f = 1;
  bool found = false;
  for (int32_t i = 1; i <= n - 2; ++i) {
    const float v = D[i].b;
    if (!(v < HUGE_WEIGHT)) continue;
    if (!found || v > D[f].b) {
      f = i;
      found = true;
    }
  }
  const float t = D[f].b / -3.0f;

  int32_t r = last;
  for (int32_t j = f; j <= last; ++j) {
    if (D[j].b < t) {
      r = j;
      break;
    }
  }
  int32_t l = -1;
  for (int32_t j = f; j >= 0; --j) {
    if (D[j].b < t) {
      l = j;
      break;
    }
  }
  // Without a falling edge below, the peak can only lie above the steepest rise: walking down
  // would end at its foot.
  const int32_t dir = l >= 0 && f - l < r - f ? -1 : 1;
  const int32_t end = dir < 0 ? 0 : last;

  int32_t d = 0;
  for (int32_t j = f;; j += dir) {
    if (D[j].b <= 0.0f) {
      d = j;
      break;
    }
    if (j == end) break;
  }
  const int32_t c = d - dir;
  if (d < 0 || c < 0) return 0;
  if (d > last || c > last) return last;
  return std::fabs(D[d].b) < std::fabs(D[c].b) ? d : c;
}

ErrorCode peak_position(const FloatPairArray& hist, const FloatPairArray& deriv, int32_t length,
                        int32_t low, int32_t high, int32_t* index, float* position) {
  const int32_t n = hist.count;
  if (n < 1 || hist.data == nullptr) return ERR_PARAM_OUT_OF_RANGE;
  const FloatPair* H = hist.data;
  if (n == 1) {
    *index = 0;
    *position = static_cast<float>(low);
    return NO_ERROR;
  }
  if (n == 2) {
    const bool first = H[0].b > H[1].b;
    *index = first ? 0 : 1;
    *position = static_cast<float>(first ? low : high);
    return NO_ERROR;
  }
  if (deriv.count != n || deriv.data == nullptr) return ERR_PARAM_OUT_OF_RANGE;
  const FloatPair* D = deriv.data;
  // The span is exact in 64 bits before it is rounded to float.
  const float s = static_cast<float>(static_cast<int64_t>(high) - low) / static_cast<float>(n - 1);
  const float base = static_cast<float>(low);

  const int32_t p = peak_index(deriv);
  *index = p;

  float hmax = 0.0f;
  int32_t heaviest = -1;  // first bin of the largest weight
  int32_t ties = 0;
  for (int32_t i = 0; i < n; ++i) {
    const float v = H[i].b;
    if (!(v < HUGE_WEIGHT)) continue;
    if (heaviest < 0 || v > hmax) {
      hmax = v;
      heaviest = i;
      ties = 1;
    } else if (v == hmax) {
      ++ties;
    }
  }
  if (heaviest < 0 || hmax <= 0.0f) {
    *position = 0.0f;
    return NO_ERROR;
  }

  // In 64 bits: a hostile length must not overflow the range.
  const int64_t h = (static_cast<int64_t>(length) - 1) / 2;
  const int64_t from = p - h > 0 ? p - h : 0;
  const int64_t to = p + h < n - 2 ? p + h : n - 2;
  for (int64_t j = from; j < to; ++j) {
    const float a = D[j].b;
    const float b = D[j + 1].b;
    if (a * b <= 0.0f && a != b) {
      const float x = ties > 1 ? static_cast<float>(j) : static_cast<float>(j) + a / (a - b);
      *position = x * s + base;
      return NO_ERROR;
    }
  }
  // No change of sign near the peak: the most frequent value is the heaviest bin's.
  *position = static_cast<float>(heaviest) * s + base;
  return NO_ERROR;
}

ErrorCode peak_extent(const FloatPairArray& hist, int32_t index, double k, int32_t* first,
                      int32_t* last) {
  const int32_t n = hist.count;
  if (n < 1 || hist.data == nullptr || index < 0 || index >= n) return ERR_PARAM_OUT_OF_RANGE;
  const FloatPair* H = hist.data;
  if (H[index].b <= 0.0f) return ERR_ALL_BAD_DATA;

  float s0 = H[index].b;
  float s1 = 0.0f;
  double s2 = 0.0;
  for (int32_t d = 1;; ++d) {
    const int64_t lo = static_cast<int64_t>(index) - d;
    const int64_t hi = static_cast<int64_t>(index) + d;
    if (lo >= 0) {
      const float q = H[lo].b;
      s0 += q;
      s1 += q * static_cast<float>(-d);
      s2 += static_cast<double>(d) * d * q;
    }
    if (hi < n) {
      const float q = H[hi].b;
      s0 += q;
      s1 += q * static_cast<float>(d);
      s2 += static_cast<double>(d) * d * q;
    }
    // Rounding can leave a tiny negative variance for weight that is all in one bin.
    double var = s2 / s0 - static_cast<double>((s1 * s1) / (s0 * s0));
    if (var < 0.0) var = 0.0;
    const double sigma = std::sqrt(var);
    if (d > sigma * k) {
      *first = lo > 0 ? static_cast<int32_t>(lo) : 0;
      *last = hi < n - 1 ? static_cast<int32_t>(hi) : n - 1;
      return NO_ERROR;
    }
    if (lo < 0 && hi >= n) {
      *first = 0;
      *last = n - 1;
      return NO_ERROR;
    }
  }
}

}  // namespace harnix
