// Exact histogram weights in 128-bit fixed point.
//
// A share s of a value is a single-precision number below 2 in magnitude; for |u| >= 2^-39 its
// last place is at least 2^-62, so S = s 2^62 is an integer below 2^63 and is formed exactly.
// A bin's total is the sum of c S over the values it receives (c the value's count), at most
// 2^32 values of |S| < 2^63 each: below 2^95, held exactly in a signed 128-bit integer. Its
// conversion to single precision rounds once, to nearest, and the scaling back by 2^-62 is
// exact.
#include "fit/exact_histogram.h"

#include <algorithm>
#include <cstring>

#include "fit/histogram.h"

namespace harnix {

namespace {

__extension__ typedef __int128 Total;

// Units of a share: 2^62 of them make 1.
constexpr float SHARE_UNITS = 0x1p62f;
constexpr float SHARE_UNIT = 0x1p-62f;

// Values whose shares are formed a block at a time, on vector registers.
constexpr std::size_t SHARE_BLOCK = 256;

int64_t units(float share) {
  return static_cast<int64_t>(share * SHARE_UNITS);
}

Total* totals(const ExactHistogram& h) {
  return static_cast<Total*>(h.sums);
}

// Adds c times the shares of the m values whose bins and shares histogram_shares gave, to bins
// `bin` and `bin` + 1 (total n stands for nowhere: a value left out, or the bin above the last).
void add_block(Total* sums, int32_t n, const int32_t* bin, const float* share,
               const uint32_t* counts, std::size_t m) {
  for (std::size_t i = 0; i < m; ++i) {
    const int32_t b = bin[i];
    const Total c = counts != nullptr ? counts[i] : 1;
    const float f = share[i];
    const bool kept = b >= 0;
    sums[kept ? b : n] += c * units(1.0f - f);
    sums[kept && b + 1 < n ? b + 1 : n] += c * units(f);
  }
}

}  // namespace

std::size_t exact_histogram_bytes(int32_t bins) {
  return (static_cast<std::size_t>(std::max(bins, 0)) + 1) * sizeof(Total);
}

ExactHistogram exact_histogram_begin(int32_t bins, int32_t start, double w, int32_t low,
                                     int32_t high, void* scratch) {
  ExactHistogram h{bins, start, w, low, high, scratch};
  std::memset(scratch, 0, exact_histogram_bytes(bins));
  return h;
}

void exact_histogram_add_values(ExactHistogram& h, const int32_t* values, std::size_t count) {
  int32_t bin[SHARE_BLOCK];
  float share[SHARE_BLOCK];
  for (std::size_t first = 0; first < count; first += SHARE_BLOCK) {
    const std::size_t m = std::min(count - first, SHARE_BLOCK);
    histogram_shares(values + first, m, h.start, h.w, h.bins, h.low, h.high, bin, share);
    add_block(totals(h), h.bins, bin, share, nullptr, m);
  }
}

void exact_histogram_add_counts(ExactHistogram& h, const uint32_t* counts, int32_t first,
                                int32_t last) {
  int32_t v[SHARE_BLOCK];
  int32_t bin[SHARE_BLOCK];
  float share[SHARE_BLOCK];
  const auto span = static_cast<uint64_t>(int64_t(last) - first);
  for (uint64_t at = 0; at <= span; at += SHARE_BLOCK) {
    const auto m = static_cast<std::size_t>(std::min<uint64_t>(span - at + 1, SHARE_BLOCK));
    for (std::size_t i = 0; i < m; ++i) v[i] = static_cast<int32_t>(int64_t(first) + int64_t(at + i));
    histogram_shares(v, m, h.start, h.w, h.bins, h.low, h.high, bin, share);
    add_block(totals(h), h.bins, bin, share, counts + at, m);
  }
}

void exact_histogram_finish(const ExactHistogram& h, FloatPairArray& hist) {
  const Total* sums = totals(h);
  for (int32_t i = 0; i < h.bins && i < hist.count; ++i) {
    hist.data[i].b = static_cast<float>(sums[i]) * SHARE_UNIT;
  }
}

}  // namespace harnix
