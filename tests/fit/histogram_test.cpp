#include "fit/histogram.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "fit/exact_histogram.h"
#include "maps/storage.h"
#include "support/test_maps.h"

namespace harnix {

namespace {

// A histogram or derivative that releases itself.
struct Bins {
  FloatPairArray a{};
  Bins() = default;
  explicit Bins(const std::vector<float>& weights) {
    a.count = static_cast<int32_t>(weights.size());
    EXPECT_EQ(NO_ERROR, array_alloc(a));
    for (std::size_t i = 0; i < weights.size(); ++i)
      a.data[i] = {static_cast<float>(i), weights[i]};
  }
  ~Bins() { array_free(a); }
  Bins(const Bins&) = delete;
  Bins& operator=(const Bins&) = delete;
  std::vector<float> weights() const {
    std::vector<float> w;
    for (int32_t i = 0; i < a.count; ++i) w.push_back(a.data[i].b);
    return w;
  }
};

constexpr int32_t X = PHASE_INVALID;
constexpr double NOT_A_NUMBER = std::numeric_limits<double>::quiet_NaN();

struct HistogramCase {
  const char* what;
  std::vector<int32_t> values;
  int32_t n, start;
  double w;
  std::vector<float> weights;
};

TEST(ValueHistogram, SharesEachValueBetweenItsTwoBins) {
  const HistogramCase cases[] = {
      {"a quarter past bin 2", {109}, 5, 100, 4.0, {0, 0, 0.75f, 0.25f, 0}},
      {"exactly on the last bin", {116}, 5, 100, 4.0, {0, 0, 0, 0, 1}},
      {"exactly on bin 0", {100, 100}, 3, 100, 4.0, {2, 0, 0}},
      {"invalid values left out", {101, X, 2147483647}, 3, 100, 2.0, {0.5f, 0.5f, 0}},
      {"width 0 leaves the histogram empty", {100, 101}, 3, 100, 0.0, {0, 0, 0}},
      {"a value past the last bin keeps only its share there",
       {117},
       5,
       100,
       4.0,
       {0, 0, 0, 0, 0.75f}},
      {"values whose bin falls outside are left out",
       {50, 120, 2000000000},
       5,
       100,
       4.0,
       {0, 0, 0, 0, 0}},
      {"a difference beyond 32 bits is not wrapped",
       {2147483000},
       4,
       -2147483000,
       2e9,
       {0, 0, 0.852517f, 0.147483f}},
      {"negative width counts downwards", {96}, 3, 100, -2.0, {0, 0, 1}},
      {"not-a-number width", {100}, 3, 100, NOT_A_NUMBER, {0, 0, 0}},
  };
  for (const HistogramCase& c : cases) {
    OwnedPhase map = OwnedPhase::row(c.values, -4, 6);
    Bins h;
    ASSERT_EQ(NO_ERROR, value_histogram(map.m, c.n, c.start, c.w, h.a)) << c.what;
    ASSERT_EQ(c.n, h.a.count) << c.what;
    for (int32_t i = 0; i < c.n; ++i) {
      EXPECT_EQ(static_cast<float>(i), h.a.data[i].a) << c.what;
      EXPECT_NEAR(c.weights[i], h.a.data[i].b, 1e-6) << c.what << ", bin " << i;
    }
  }
}

TEST(ValueHistogram, NoBinsIsOutOfRange) {
  OwnedPhase map = OwnedPhase::row({1, 2});
  Bins h;
  EXPECT_EQ(ERR_PARAM_OUT_OF_RANGE, value_histogram(map.m, 0, 0, 1.0, h.a));
  EXPECT_EQ(ERR_PARAM_OUT_OF_RANGE, value_histogram(map.m, -3, 0, 1.0, h.a));
  EXPECT_EQ(nullptr, h.a.data);
}

TEST(HistogramDerivative, StraightLineWindow) {
  Bins h({0, 0, 1, 2, 3, 2, 1, 0, 0});
  Bins d3, d4;
  ASSERT_EQ(NO_ERROR, histogram_derivative(h.a, d3.a, 3));
  EXPECT_EQ((std::vector<float>{0, 1, 2, 2, 0, -2, -2, -1, 0}), d3.weights());
  ASSERT_EQ(NO_ERROR, histogram_derivative(h.a, d4.a, 4));  // an even length acts one shorter
  EXPECT_EQ(d3.weights(), d4.weights());
  Bins d5;
  ASSERT_EQ(NO_ERROR, histogram_derivative(h.a, d5.a, 5));
  // Bins 2..6 only: -2 H[k-2] - H[k-1] + H[k+1] + 2 H[k+2].
  EXPECT_EQ((std::vector<float>{0, 0, 8, 6, 0, -6, -8, 0, 0}), d5.weights());
}

TEST(HistogramDerivative, LengthMustLieBetweenZeroAndTheBinCount) {
  Bins h({1, 2, 3, 2, 1});
  for (int32_t length : {5, 6, 0, -1}) {
    Bins d;
    EXPECT_EQ(ERR_PARAM_OUT_OF_RANGE, histogram_derivative(h.a, d.a, length)) << length;
    EXPECT_EQ(5, d.a.count) << length;  // allocated all the same, for the caller to release
  }
}

struct PeakCase {
  const char* what;
  std::vector<float> weights;
  int32_t length, low, high;
  int32_t index;
  float position;
};

TEST(PeakPosition, Table) {
  const PeakCase cases[] = {
      {"triangle: its top, exactly", {0, 0, 0, 0, 1, 2, 3, 2, 1, 0, 0, 0}, 3, -100, -78, 6, -88.0f},
      {"asymmetric peak: zero crossing interpolated",
       {0, 0, 0, 1, 3, 4, 2, 0, 0, 0},
       3,
       0,
       9,
       5,
       4.75f},
      {"two equal tops: the bin where D changes sign",
       {0, 0, 1, 4, 4, 1, 0, 0},
       3,
       10,
       17,
       3,
       13.0f},
      {"no weight: position 0", {0, 0, 0, 0, 0}, 3, 5, 9, 0, 0.0f},
      // Nothing falls below the steepest rise (bin 1): the top lies above it, not at bin 0.
      {"narrow peak beside the first bin", {0, 0, 6, 0, 0, 0, 0, 0, 0, 0}, 3, 0, 18, 2, 4.0f},
      {"no change of sign: the heaviest bin", {5, 4, 3, 2, 1, 0, 0, 0, 0, 0}, 3, 20, 29, 7, 20.0f},
      {"one bin", {0}, 1, 7, 7, 0, 7.0f},
      {"two bins, first heavier", {3, 2}, 1, 7, 9, 0, 7.0f},
      {"two bins, equal", {2, 2}, 1, 7, 9, 1, 9.0f},
  };
  for (const PeakCase& c : cases) {
    Bins h(c.weights);
    Bins d;
    if (c.weights.size() >= 3) {
      ASSERT_EQ(NO_ERROR, histogram_derivative(h.a, d.a, c.length));
    }
    int32_t index = -1;
    float position = -1.0f;
    ASSERT_EQ(NO_ERROR, peak_position(h.a, d.a, c.length, c.low, c.high, &index, &position))
        << c.what;
    EXPECT_EQ(c.index, index) << c.what;
    EXPECT_FLOAT_EQ(c.position, position) << c.what;
    if (c.weights.size() >= 3) {
      EXPECT_EQ(c.index, peak_index(d.a)) << c.what;
    }
  }
}

TEST(PeakPosition, WideHistogramFindsTheModeOfSharedValues) {
  // Values 40..60 with the most at 47: after linear sharing the peak lies near 47.
  std::vector<int32_t> values;
  for (int v = 40; v <= 60; ++v) {
    const int copies = 30 - 3 * std::abs(v - 47);
    for (int i = 0; i < copies; ++i) values.push_back(v);
  }
  OwnedPhase map = OwnedPhase::row(values);
  Bins h, d;
  ASSERT_EQ(NO_ERROR, value_histogram(map.m, 101, 0, 1.0, h.a));
  ASSERT_EQ(NO_ERROR, histogram_derivative(h.a, d.a, 5));
  int32_t index = 0;
  float position = 0.0f;
  ASSERT_EQ(NO_ERROR, peak_position(h.a, d.a, 5, 0, 100, &index, &position));
  EXPECT_EQ(47, index);
  EXPECT_NEAR(47.0f, position, 0.25f);
}

struct ExtentCase {
  const char* what;
  std::vector<float> weights;
  int32_t index;
  double k;
  int32_t first, last;
};

TEST(PeakExtent, Table) {
  std::vector<float> block(41, 0.0f);  // 21 bins of weight 1 about bin 20
  for (int i = 10; i <= 30; ++i) block[i] = 1.0f;
  const ExtentCase cases[] = {
      {"isolated bin", {0, 0, 4, 0, 0, 0}, 2, 2.0, 1, 3},
      // Uniform weight over [-d, d] has sigma^2 = d (d + 1) / 3, below d whenever d > 1/2.
      {"uniform block, one sigma", block, 20, 1.0, 19, 21},
      // Two sigma: the window outgrows the block, whose sigma is sqrt(110 / 3) = 6.06.
      {"uniform block, two sigma", block, 20, 2.0, 7, 33},
      {"clipped at the first bin", {3, 1, 0, 0}, 0, 1.0, 0, 1},
      {"clipped at both ends", {1, 1, 1, 1, 1}, 2, 2.0, 0, 4},
      {"every bin covered", {1, 1, 1, 1, 1}, 2, 3.0, 0, 4},
  };
  for (const ExtentCase& c : cases) {
    Bins h(c.weights);
    int32_t first = -1, last = -1;
    ASSERT_EQ(NO_ERROR, peak_extent(h.a, c.index, c.k, &first, &last)) << c.what;
    EXPECT_EQ(c.first, first) << c.what;
    EXPECT_EQ(c.last, last) << c.what;
  }
}

TEST(PeakExtent, PeakWithoutWeightOrOutsideIsRefused) {
  Bins h({0, 1, 0, 2});
  int32_t first = -1, last = -1;
  EXPECT_EQ(ERR_ALL_BAD_DATA, peak_extent(h.a, 2, 2.0, &first, &last));
  EXPECT_EQ(ERR_PARAM_OUT_OF_RANGE, peak_extent(h.a, 4, 2.0, &first, &last));
  EXPECT_EQ(ERR_PARAM_OUT_OF_RANGE, peak_extent(h.a, -1, 2.0, &first, &last));
  EXPECT_EQ(-1, first);
  EXPECT_EQ(-1, last);
}

// The weights the header describes, one value after the other, for those in [low, high].
std::vector<float> plain_weights(const std::vector<int32_t>& values, int32_t n, int32_t start,
                                 double w, int32_t low, int32_t high) {
  std::vector<float> bins(static_cast<std::size_t>(n), 0.0f);
  for (const int32_t v : values) {
    if (v >= PHASE_INVALID || v < low || v > high) continue;
    const float u = static_cast<float>(static_cast<double>(static_cast<int64_t>(v) - start) / w);
    if (!(u > -1.0f && static_cast<double>(u) < n)) continue;
    const auto b = static_cast<int32_t>(u);
    const float f = u - static_cast<float>(b);
    bins[static_cast<std::size_t>(b)] += 1.0f - f;
    if (b + 1 < n) bins[static_cast<std::size_t>(b) + 1] += f;
  }
  return bins;
}

struct SweepCase {
  const char* what;
  int32_t n, start;
  double w;
  int32_t low, high;
};

// Binned value by value, through a table of the range, or two histograms in one sweep, every
// weight is the same float: the sums of a bin keep their order.
TEST(HistogramAddValues, EveryWayOfBinningGivesTheSameWeights) {
  std::mt19937 rng(11);
  std::vector<int32_t> values(5000);
  for (int32_t& v : values) {
    v = static_cast<int32_t>(rng() % 700) - 350 + static_cast<int32_t>(rng() % 3);
    if (rng() % 50 == 0) v = PHASE_INVALID;
  }
  const SweepCase cases[] = {
      {"wide bins over the whole range", 300, -420, 2.9, -360, 360},
      {"unit bins", 500, -300, 1.0, -300, 199},
      {"a range cut short at both ends", 120, -100, 1.7, -60, 90},
      {"values past the last bin", 50, -350, 3.3, -350, 350},
      {"values below bin 0 within one bin", 40, -330, 9.5, -340, 340},
      {"a range reaching the marker", 80, -351, 9.0, -351, PHASE_INVALID},
      {"downwards", 90, 360, -8.1, -350, 350},
  };
  std::vector<unsigned char> scratch(2 * histogram_table_bytes(500, 800));
  for (const SweepCase& c : cases) {
    const std::vector<float> want = plain_weights(values, c.n, c.start, c.w, c.low, c.high);
    Bins plain(std::vector<float>(static_cast<std::size_t>(c.n), 0.0f));
    Bins table(std::vector<float>(static_cast<std::size_t>(c.n), 0.0f));
    histogram_add_values(values.data(), values.size(), c.start, c.w, c.low, c.high, plain.a);
    histogram_add_values(values.data(), values.size(), c.start, c.w, c.low, c.high, table.a,
                         scratch.data(), scratch.size() / 2);
    EXPECT_EQ(want, plain.weights()) << c.what;
    EXPECT_EQ(want, table.weights()) << c.what;
    // Paired with the first case, each sweeping its own values.
    const SweepCase& o = cases[0];
    std::vector<int32_t> other(values.rbegin(), values.rend());
    Bins a(std::vector<float>(static_cast<std::size_t>(c.n), 0.0f));
    Bins b(std::vector<float>(static_cast<std::size_t>(o.n), 0.0f));
    histogram_add_value_pairs(
        HistogramValues{values.data(), c.start, c.w, c.low, c.high, &a.a, scratch.data(),
                        scratch.size() / 2},
        HistogramValues{other.data(), o.start, o.w, o.low, o.high, &b.a,
                        scratch.data() + scratch.size() / 2, scratch.size() / 2},
        values.size());
    EXPECT_EQ(want, a.weights()) << c.what;
    EXPECT_EQ(plain_weights(other, o.n, o.start, o.w, o.low, o.high), b.weights()) << c.what;
  }
}

// The weights, from the shares value_histogram defines, summed in long double (exact here: the
// shares' last places and the totals span fewer than 64 bits) and rounded once.
std::vector<float> reference_weights(const std::vector<int32_t>& values, int32_t n, int32_t start,
                                     double w, int32_t low, int32_t high) {
  std::vector<long double> sums(static_cast<std::size_t>(n));
  for (const int32_t v : values) {
    if (v >= PHASE_INVALID || v < low || v > high) continue;
    const float u = static_cast<float>((static_cast<double>(v) - start) / w);
    if (!(u > -1.0f) || !(static_cast<double>(u) < n)) continue;
    const auto b = static_cast<int32_t>(u);
    const float f = u - static_cast<float>(b);
    sums[static_cast<std::size_t>(b)] += 1.0f - f;
    if (b + 1 < n) sums[static_cast<std::size_t>(b) + 1] += f;
  }
  return std::vector<float>(sums.begin(), sums.end());
}

struct ExactCase {
  const char* what;
  int32_t first, last;  // the values drawn
  int32_t n, start;
  double w;
  int32_t low, high;
  std::size_t count;
};

// Values one by one in two orders, and as counts of each value, all give the long double sums
// rounded once; single-precision additions one by one do not.
TEST(ExactHistogram, WeightsAreTheExactSumsRoundedOnce) {
  const ExactCase cases[] = {
      {"wide bins", -700, 900, 300, -760, 5.6, -700, 900, 200000},
      {"unit bins", 10, 400, 500, -40, 1.0, 10, 400, 100000},
      {"a part of the values, values before the start", -50, 50, 100, -20, 0.7, -30, 40, 50000},
      {"a million values on a few bins", 0, 3, 10, 0, 0.75, 0, 3, 1000000},
  };
  for (const ExactCase& c : cases) {
    std::mt19937 rng(5);
    std::vector<int32_t> values(c.count);
    const auto spread = static_cast<uint32_t>(int64_t(c.last) - c.first + 1);
    for (int32_t& v : values) v = rng() % 50 == 0 ? PHASE_INVALID : c.first + int32_t(rng() % spread);
    const std::vector<float> want = reference_weights(values, c.n, c.start, c.w, c.low, c.high);

    std::vector<unsigned char> scratch(exact_histogram_bytes(c.n) + 16);
    void* at = scratch.data() + (16 - reinterpret_cast<std::uintptr_t>(scratch.data()) % 16) % 16;
    const std::vector<float> unset(static_cast<std::size_t>(c.n), -1.0f);
    Bins by_value(unset), shuffled(unset), by_count(unset), one_by_one(unset);
    ExactHistogram h = exact_histogram_begin(c.n, c.start, c.w, c.low, c.high, at);
    exact_histogram_add_values(h, values.data(), values.size());
    exact_histogram_finish(h, by_value.a);
    EXPECT_EQ(want, by_value.weights()) << c.what;

    std::vector<int32_t> other = values;
    std::shuffle(other.begin(), other.end(), rng);
    h = exact_histogram_begin(c.n, c.start, c.w, c.low, c.high, at);
    exact_histogram_add_values(h, other.data(), other.size() / 3);
    exact_histogram_add_values(h, other.data() + other.size() / 3, other.size() - other.size() / 3);
    exact_histogram_finish(h, shuffled.a);
    EXPECT_EQ(want, shuffled.weights()) << c.what;

    std::vector<uint32_t> counts(spread);
    for (const int32_t v : values)
      if (v != PHASE_INVALID) ++counts[static_cast<std::size_t>(int64_t(v) - c.first)];
    h = exact_histogram_begin(c.n, c.start, c.w, c.low, c.high, at);
    exact_histogram_add_counts(h, counts.data(), c.first, c.last);
    exact_histogram_finish(h, by_count.a);
    EXPECT_EQ(want, by_count.weights()) << c.what;

    if (c.count < 1000000) continue;
    for (int32_t i = 0; i < c.n; ++i) one_by_one.a.data[i].b = 0.0f;
    histogram_add_values(values.data(), values.size(), c.start, c.w, c.low, c.high, one_by_one.a);
    EXPECT_NE(want, one_by_one.weights()) << c.what << ": single precision drifts";
  }
}

}  // namespace

}  // namespace harnix
