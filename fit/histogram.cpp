// Value histograms with linear sharing between bins, and the main peak found from a derivative.
//
// A value at u = (v - start) / w bins adds 1 - frac(u) to bin floor(u) and frac(u) to the next,
// so the histogram is the data convolved with a triangle one bin wide on each side. Its
// derivative with the straight-line window m = -h..h is the least-squares slope of the histogram
// over 2h + 1 bins (times the constant sum of m^2), so its largest value marks the steep rising
// flank of the peak and its zero crossing just above marks the top. The extent of the peak grows a
// window about the top until it is wider than k standard deviations of the weight inside it.
#include "fit/histogram.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "base/vector_clones.h"
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

// Values binned a block at a time: the divisions and conversions of a block run on vector
// registers, and only the additions to the bins, which must keep their order, one at a time.
constexpr std::size_t HISTOGRAM_BLOCK = 256;

}  // namespace

// (v - start) is exact in double, as it is in 64-bit integers.
HARNIX_VECTOR_CLONES void histogram_shares(const int32_t* values, std::size_t m, int32_t start,
                                           double w, int32_t n, int32_t low, int32_t high,
                                           int32_t* bin, float* share) {
  const double last = n;
  const double origin = start;
  for (std::size_t i = 0; i < m; ++i) {
    const int32_t v = values[i];
    const float u = static_cast<float>((static_cast<double>(v) - origin) / w);
    const bool keep = (v < PHASE_INVALID) & (v >= low) & (v <= high) & (u > -1.0f) &
                      (static_cast<double>(u) < last);
    const float g = keep ? u : 0.0f;  // only bins in range are converted
    const int32_t b = static_cast<int32_t>(g);
    bin[i] = keep ? b : -1;
    share[i] = g - static_cast<float>(b);
  }
}

namespace {

// What one value of a table's range adds: `lower` to bin `first`, `upper` to bin `second`. Bins n
// and n + 1 stand for "nowhere" (a value left out, or the bin above the last), so that every
// value takes the same steps.
struct BinShares {
  int32_t first;
  int32_t second;
  float lower;
  float upper;
};

// The table of the range [low, high] (high below PHASE_INVALID) in `scratch`, after n + 2
// floats: each value's bins and shares as histogram_shares gives them, and one more entry for every
// value outside the range.
const BinShares* make_table(int32_t start, double w, int32_t low, int32_t high, int32_t n,
                            void* scratch) {
  const auto span = static_cast<uint32_t>(int64_t(high) - low);
  BinShares* table = reinterpret_cast<BinShares*>(static_cast<float*>(scratch) + n + 2);
  int32_t v[HISTOGRAM_BLOCK];
  int32_t bin[HISTOGRAM_BLOCK];
  float share[HISTOGRAM_BLOCK];
  for (uint64_t first = 0; first <= span; first += HISTOGRAM_BLOCK) {
    const auto m = static_cast<std::size_t>(std::min<uint64_t>(span - first + 1, HISTOGRAM_BLOCK));
    for (std::size_t i = 0; i < m; ++i) v[i] = static_cast<int32_t>(int64_t(low) + int64_t(first + i));
    histogram_shares(v, m, start, w, n, low, high, bin, share);
    for (std::size_t i = 0; i < m; ++i) {
      const int32_t b = bin[i];
      const float f = share[i];
      table[first + i] = b < 0 ? BinShares{n, n + 1, 0.0f, 0.0f}
                               : BinShares{b, b + 1 < n ? b + 1 : n + 1, 1.0f - f, f};
    }
  }
  table[std::size_t(span) + 1] = BinShares{n, n + 1, 0.0f, 0.0f};
  return table;
}

// The weights of `weights` as n + 2 floats in `scratch` (the last two taking what goes
// nowhere), to add to in the order of the values and give back with give_sums.
float* take_sums(const FloatPair* weights, int32_t n, void* scratch) {
  float* sums = static_cast<float*>(scratch);
  for (int32_t i = 0; i < n; ++i) sums[i] = weights[i].b;
  sums[n] = 0.0f;
  sums[n + 1] = 0.0f;
  return sums;
}

void give_sums(const float* sums, int32_t n, FloatPair* weights) {
  for (int32_t i = 0; i < n; ++i) weights[i].b = sums[i];
}

// The entry of value v in the table of [base, base + span]: unsigned, values below the range
// wrap round above it.
inline const BinShares& entry(const BinShares* table, uint32_t base, uint32_t span, int32_t v) {
  const uint32_t k = static_cast<uint32_t>(v) - base;
  return table[k <= span ? k : span + 1];
}

// histogram_add_values through a table of the range [low, high] (high below PHASE_INVALID).
void add_through_table(const int32_t* values, std::size_t count, int32_t start, double w,
                       int32_t low, int32_t high, int32_t n, FloatPair* weights, void* scratch) {
  const BinShares* table = make_table(start, w, low, high, n, scratch);
  float* sums = take_sums(weights, n, scratch);
  const auto base = static_cast<uint32_t>(low);
  const auto span = static_cast<uint32_t>(int64_t(high) - low);
  for (std::size_t i = 0; i < count; ++i) {
    const BinShares& e = entry(table, base, span, values[i]);
    sums[e.first] += e.lower;
    sums[e.second] += e.upper;
  }
  give_sums(sums, n, weights);
}

// Whether h bins through a table: its range, clipped below the marker, in its scratch.
bool through_table(HistogramValues& h) {
  if (h.high >= PHASE_INVALID) h.high = PHASE_INVALID - 1;
  return h.low <= h.high && h.scratch != nullptr &&
         histogram_table_bytes(h.hist->count, int64_t(h.high) - h.low + 1) <= h.scratch_bytes;
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

  histogram_add_values(map.matrix, count, start, w, INT32_MIN, INT32_MAX, hist);
  return NO_ERROR;
}

std::size_t histogram_table_bytes(int32_t bins, int64_t range) {
  if (bins < 1 || range < 1) return 0;
  return (std::size_t(bins) + 2) * sizeof(float) + (std::size_t(range) + 1) * sizeof(BinShares);
}

void histogram_add_value_pairs(const HistogramValues& first, const HistogramValues& second,
                               std::size_t count) {
  HistogramValues a = first;
  HistogramValues b = second;
  if (!through_table(a) || !through_table(b)) {
    histogram_add_values(first.values, count, first.start, first.w, first.low, first.high,
                         *first.hist, first.scratch, first.scratch_bytes);
    histogram_add_values(second.values, count, second.start, second.w, second.low, second.high,
                         *second.hist, second.scratch, second.scratch_bytes);
    return;
  }
  const int32_t na = a.hist->count;
  const int32_t nb = b.hist->count;
  const BinShares* ta = make_table(a.start, a.w, a.low, a.high, na, a.scratch);
  const BinShares* tb = make_table(b.start, b.w, b.low, b.high, nb, b.scratch);
  float* sa = take_sums(a.hist->data, na, a.scratch);
  float* sb = take_sums(b.hist->data, nb, b.scratch);
  const auto base_a = static_cast<uint32_t>(a.low);
  const auto span_a = static_cast<uint32_t>(int64_t(a.high) - a.low);
  const auto base_b = static_cast<uint32_t>(b.low);
  const auto span_b = static_cast<uint32_t>(int64_t(b.high) - b.low);
  for (std::size_t i = 0; i < count; ++i) {
    const BinShares& ea = entry(ta, base_a, span_a, a.values[i]);
    const BinShares& eb = entry(tb, base_b, span_b, b.values[i]);
    sa[ea.first] += ea.lower;
    sb[eb.first] += eb.lower;
    sa[ea.second] += ea.upper;
    sb[eb.second] += eb.upper;
  }
  give_sums(sa, na, a.hist->data);
  give_sums(sb, nb, b.hist->data);
}

void histogram_add_values(const int32_t* values, std::size_t count, int32_t start, double w,
                          int32_t low, int32_t high, FloatPairArray& hist, void* scratch,
                          std::size_t scratch_bytes) {
  const int32_t n = hist.count;
  FloatPair* weights = hist.data;
  // Values at or above the marker are never valid: a range ending below it bins the same.
  HistogramValues h{values, start, w, low, high, &hist, scratch, scratch_bytes};
  if (through_table(h)) {
    add_through_table(values, count, start, w, h.low, h.high, n, weights, scratch);
    return;
  }
  int32_t bin[HISTOGRAM_BLOCK];
  float share[HISTOGRAM_BLOCK];
  for (std::size_t first = 0; first < count; first += HISTOGRAM_BLOCK) {
    const std::size_t m = count - first < HISTOGRAM_BLOCK ? count - first : HISTOGRAM_BLOCK;
    histogram_shares(values + first, m, start, w, n, low, high, bin, share);
    // Each bin receives its weights in the order of the values, as one loop over them gives.
    for (std::size_t i = 0; i < m; ++i) {
      const int32_t b = bin[i];
      if (b < 0) continue;
      const float f = share[i];
      weights[b].b += 1.0f - f;
      if (b + 1 < n) weights[b + 1].b += f;
    }
  }
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
