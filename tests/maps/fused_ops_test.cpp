// Each fused operation against the chain of element operations it stands for, on random spans
// with markers, values at the limits, sums near REAL_INVALID and every count below and above
// the minimum. The chains start from sums filled with the marker, the fused spans from zeros;
// wherever a count is not 0 the two must agree bit for bit, and their results everywhere.
#include "maps/fused_ops.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "maps/element_ops.h"
#include "support/test_maps.h"

namespace harnix {

namespace {

constexpr double L = REAL_INVALID;
constexpr int16_t N = 997;  // elements of every span: not a multiple of any vector width
constexpr Window SPAN{0, 0, N, 1};

bool same_bits(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// Phase values: ordinary ones, markers of every kind and the extremes.
std::vector<int32_t> random_phase(std::mt19937_64& rng, double invalid, int32_t spread) {
  std::uniform_int_distribution<int32_t> value(-spread, spread);
  std::uniform_int_distribution<int32_t> marker(PHASE_INVALID, INT32_MAX);
  std::uniform_real_distribution<double> u(0, 1);
  std::vector<int32_t> v(N);
  for (int32_t& x : v) {
    const double r = u(rng);
    x = r < invalid ? marker(rng) : r < invalid + 0.01 ? INT32_MIN : value(rng);
  }
  v[0] = PHASE_INVALID - 1;
  v[1] = 0;
  return v;
}

// The state of the sums before a span is added: counts 0 to 3 and sums of earlier values.
struct Sums {
  std::vector<double> chain;  // REAL_INVALID where the count is 0
  std::vector<double> fused;  // 0.0 there
  std::vector<int16_t> count;
};

Sums random_sums(std::mt19937_64& rng, double magnitude) {
  std::uniform_int_distribution<int> c(0, 3);
  std::uniform_real_distribution<double> s(-magnitude, magnitude);
  Sums r{std::vector<double>(N), std::vector<double>(N), std::vector<int16_t>(N)};
  for (int i = 0; i < N; ++i) {
    r.count[i] = static_cast<int16_t>(c(rng));
    r.fused[i] = r.count[i] == 0 ? 0.0 : std::round(s(rng));
    r.chain[i] = r.count[i] == 0 ? L : r.fused[i];
  }
  return r;
}

// The sums after the chain and after the fused span agree wherever a value was counted.
void expect_same_sums(const std::vector<double>& chain, const std::vector<int16_t>& chain_count,
                      const std::vector<double>& fused, const std::vector<int16_t>& fused_count) {
  ASSERT_EQ(chain_count, fused_count);
  for (int i = 0; i < N; ++i) {
    if (chain_count[i] == 0) continue;
    ASSERT_TRUE(same_bits(chain[i], fused[i]))
        << "element " << i << ": " << chain[i] << " against " << fused[i];
  }
}

struct AddCase {
  const char* name;
  double factor;     // 1: the unscaled spans
  int32_t spread;    // of the phase values
  double magnitude;  // of the earlier sums
  bool overflows;    // the chain fails with ERR_FP_OVERFLOW
};

void PrintTo(const AddCase& c, std::ostream* os) {
  *os << c.name;
}

class FusedAccumulation : public ::testing::TestWithParam<AddCase> {};

TEST_P(FusedAccumulation, EqualsTheChainOfElementOperations) {
  const AddCase& c = GetParam();
  std::mt19937_64 rng(static_cast<uint64_t>(c.spread) + static_cast<uint64_t>(c.factor * 8));
  for (int trial = 0; trial < 20; ++trial) {
    const std::vector<int32_t> values = random_phase(rng, 0.1, c.spread);
    Sums avg = random_sums(rng, c.magnitude);
    Sums dev = random_sums(rng, 1e12);
    Sums sq = dev;  // counts of the squares follow those of the sums
    for (double& v : sq.fused) v = v * v;
    for (int i = 0; i < N; ++i) sq.chain[i] = sq.count[i] == 0 ? L : sq.fused[i];

    // The chain: placed, converted, scaled, accumulated; rounded back for the deviation, which
    // then adds the values and their squares.
    OwnedPhase phase(SPAN, values);
    OwnedReal height(SPAN, 0.0);
    OwnedReal sum_avg(SPAN, avg.chain), sum_dev(SPAN, dev.chain), sum_sq(SPAN, sq.chain);
    OwnedCount count_avg(SPAN, avg.count), count_dev(SPAN, dev.count), count_sq(SPAN, sq.count);
    ASSERT_EQ(NO_ERROR, phase_to_real(phase.m, height.m));
    ErrorCode chain_rc = NO_ERROR;
    if (c.factor != 1.0) {
      chain_rc = real_map_scale(height.m, c.factor);
      if (chain_rc == NO_ERROR) chain_rc = real_to_phase(height.m, phase.m);
    }
    if (chain_rc == NO_ERROR) chain_rc = real_map_accumulate(height.m, sum_avg.m, count_avg.m);
    ASSERT_EQ(c.overflows, chain_rc == ERR_FP_OVERFLOW) << "trial " << trial;

    std::vector<int32_t> rounded = values;
    std::vector<int16_t> fused_avg_count = avg.count;
    if (c.factor != 1.0) {
      const ErrorCode rc = accumulate_scaled_span(values.data(), N, c.factor, avg.fused.data(),
                                                  fused_avg_count.data(), rounded.data());
      ASSERT_EQ(chain_rc, rc);
      if (rc != NO_ERROR) continue;
      ASSERT_EQ(phase.values(), rounded);
    } else {
      accumulate_phase_span(values.data(), N, avg.fused.data(), fused_avg_count.data());
    }
    expect_same_sums(sum_avg.values(), count_avg.values(), avg.fused, fused_avg_count);

    ASSERT_EQ(NO_ERROR, phase_to_real(phase.m, height.m));
    ASSERT_EQ(NO_ERROR, real_map_accumulate(height.m, sum_dev.m, count_dev.m));
    ASSERT_EQ(NO_ERROR, real_map_square(height.m));
    ASSERT_EQ(NO_ERROR, real_map_accumulate(height.m, sum_sq.m, count_sq.m));
    accumulate_phase_squares_span(rounded.data(), N, dev.fused.data(), dev.count.data(),
                                  sq.fused.data());
    expect_same_sums(sum_dev.values(), count_dev.values(), dev.fused, dev.count);
    expect_same_sums(sum_sq.values(), count_sq.values(), sq.fused, dev.count);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Spans, FusedAccumulation,
    ::testing::Values(
        AddCase{"Unscaled", 1.0, 2000000000, 1e15, false},
        // Halves: with a factor of 1/8, every value that is 4 modulo 8 lands on one.
        AddCase{"EighthRoundsHalves", 0.125, 3000000, 1e9, false},
        // Products beyond +-2^26 stay in the average and become markers for the deviation.
        AddCase{"ScaledBeyondThePhaseRange", 32.0, 200000000, 1e9, false},
        AddCase{"IrregularFactor", 1.0000001234, 2000000000, 1e15, false},
        AddCase{"ProductReachesTheLimit", 1e30, 2000000000, 1e9, true},
        AddCase{"SumLeavesTheLimit", 1e29, 2000000000, 3.4e38, true}),
    [](const ::testing::TestParamInfo<AddCase>& info) { return std::string(info.param.name); });

struct LevelledCase {
  const char* name;
  double factor;
  double base, cx, dx;  // the level: base + cx (dx + i) at element i
  int32_t spread;       // of the phase values
  double magnitude;     // of the earlier average sums
  bool overflows;
  bool in_range;  // every levelled value rounds within the phase range
};

void PrintTo(const LevelledCase& c, std::ostream* os) {
  *os << c.name;
}

class FusedLevelledDeviation : public ::testing::TestWithParam<LevelledCase> {};

// The one pass of a levelled input with its deviation gives the bits of the two spans it
// stands for: the levelled average's sums, the rounded values written back, then their
// deviation sums. With out in place of the values, as a run adds them, and beside them.
TEST_P(FusedLevelledDeviation, EqualsTheLevelledSpanThenTheSquares) {
  const LevelledCase& c = GetParam();
  std::mt19937_64 rng(static_cast<uint64_t>(c.spread) + static_cast<uint64_t>(c.magnitude));
  for (int trial = 0; trial < 10; ++trial) {
    const std::vector<int32_t> values = random_phase(rng, 0.1, c.spread);
    const Sums avg = random_sums(rng, c.magnitude), dev = random_sums(rng, 1e12);
    std::vector<double> squares = dev.fused;
    for (double& v : squares) v = v * v;
    std::vector<double> want_sum = avg.fused, want_dev = dev.fused, want_sq = squares;
    std::vector<int16_t> want_count = avg.count, want_dev_count = dev.count;
    std::vector<int32_t> want_out = values;
    const ErrorCode want_rc =
        accumulate_levelled_span(values.data(), N, c.factor, c.base, c.cx, c.dx, want_sum.data(),
                                 want_count.data(), want_out.data());
    ASSERT_EQ(c.overflows, want_rc == ERR_FP_OVERFLOW) << "trial " << trial;
    accumulate_phase_squares_span(want_out.data(), N, want_dev.data(), want_dev_count.data(),
                                  want_sq.data());
    // Unchecked, as a run adds inputs whose sums' bound rules out an overflow: the same bits.
    for (int variant = 0; variant < 4; ++variant) {
      const bool checked = variant < 2, in_place = variant % 2 == 0;
      if (!checked && c.overflows) continue;
      std::vector<double> sum = avg.fused, dev_sum = dev.fused, sq = squares;
      std::vector<int16_t> count = avg.count, dev_count = dev.count;
      std::vector<int32_t> in = values, separate(N, 7);
      int32_t* out = in_place ? in.data() : separate.data();
      ASSERT_EQ(want_rc, accumulate_levelled_squares_span(in.data(), N, c.factor, c.base, c.cx,
                                                          c.dx, sum.data(), count.data(),
                                                          dev_sum.data(), dev_count.data(),
                                                          sq.data(), out, checked));
      if (want_rc != NO_ERROR) continue;
      EXPECT_EQ(want_out, std::vector<int32_t>(out, out + N)) << variant;
      expect_same_sums(want_sum, want_count, sum, count);
      expect_same_sums(want_dev, want_dev_count, dev_sum, dev_count);
      expect_same_sums(want_sq, want_dev_count, sq, dev_count);
    }
  }
}

// Without the rounded values (and unchecked where nothing overflows) the span goes a chunk at a
// time: over rows longer than several chunks it leaves the bits of the span that writes them,
// and the values as they were.
TEST_P(FusedLevelledDeviation, WithoutRoundedValuesGivesTheSameSumsOverLongRows) {
  const LevelledCase& c = GetParam();
  std::mt19937_64 rng(static_cast<uint64_t>(c.spread) + 7);
  std::vector<int32_t> values;
  std::vector<double> sum, dev_sum;
  std::vector<int16_t> count, dev_count;
  for (int part = 0; part < 3; ++part) {  // 3 x 997 elements: two whole chunks and a ragged one
    const std::vector<int32_t> v = random_phase(rng, 0.1, c.spread);
    const Sums avg = random_sums(rng, c.magnitude), dev = random_sums(rng, 1e12);
    values.insert(values.end(), v.begin(), v.end());
    sum.insert(sum.end(), avg.fused.begin(), avg.fused.end());
    count.insert(count.end(), avg.count.begin(), avg.count.end());
    dev_sum.insert(dev_sum.end(), dev.fused.begin(), dev.fused.end());
    dev_count.insert(dev_count.end(), dev.count.begin(), dev.count.end());
  }
  std::vector<double> sq = dev_sum;
  for (double& v : sq) v = v * v;
  const std::size_t n = values.size();
  std::vector<double> want_sum = sum, want_dev = dev_sum, want_sq = sq;
  std::vector<int16_t> want_count = count, want_dev_count = dev_count;
  std::vector<int32_t> written(n);
  const ErrorCode want_rc = accumulate_levelled_squares_span(
      values.data(), n, c.factor, c.base, c.cx, c.dx, want_sum.data(), want_count.data(),
      want_dev.data(), want_dev_count.data(), want_sq.data(), written.data());
  const std::vector<int32_t> read = values;
  ASSERT_EQ(want_rc, accumulate_levelled_squares_span(values.data(), n, c.factor, c.base, c.cx,
                                                      c.dx, sum.data(), count.data(),
                                                      dev_sum.data(), dev_count.data(),
                                                      sq.data(), nullptr, c.overflows));
  EXPECT_EQ(read, values);
  if (want_rc != NO_ERROR) return;
  EXPECT_EQ(want_count, count);
  EXPECT_EQ(want_dev_count, dev_count);
  EXPECT_EQ(0, std::memcmp(want_sum.data(), sum.data(), n * sizeof(double)));
  EXPECT_EQ(0, std::memcmp(want_dev.data(), dev_sum.data(), n * sizeof(double)));
  EXPECT_EQ(0, std::memcmp(want_sq.data(), sq.data(), n * sizeof(double)));
  if (!c.in_range) return;
  // Every value within the phase range (the spread's values, the others made invalid): one
  // count serves both, with the same sums.
  for (int32_t& v : values)
    if (v < PHASE_INVALID && (v > c.spread || v < -c.spread)) v = PHASE_INVALID;
  sum.assign(sum.size(), 0.0);
  dev_sum = sum;
  sq = sum;
  count.assign(n, 0);
  std::vector<int16_t> counted(n, 0), dev_counted(n, 0);
  std::vector<double> want_alone = sum, want_dev_alone = sum, want_sq_alone = sum;
  (void)accumulate_levelled_squares_span(values.data(), n, c.factor, c.base, c.cx, c.dx,
                                         want_alone.data(), counted.data(),
                                         want_dev_alone.data(), dev_counted.data(),
                                         want_sq_alone.data(), written.data());
  ASSERT_EQ(counted, dev_counted);
  for (const bool checked : {true, false}) {
    std::vector<double> s = sum, d = dev_sum, q = sq;
    std::vector<int16_t> k = count;
    EXPECT_EQ(NO_ERROR, accumulate_levelled_squares_span(values.data(), n, c.factor, c.base, c.cx,
                                                         c.dx, s.data(), k.data(), d.data(),
                                                         nullptr, q.data(), nullptr, checked));
    EXPECT_EQ(counted, k) << checked;
    EXPECT_EQ(0, std::memcmp(want_alone.data(), s.data(), n * sizeof(double))) << checked;
    EXPECT_EQ(0, std::memcmp(want_dev_alone.data(), d.data(), n * sizeof(double))) << checked;
    EXPECT_EQ(0, std::memcmp(want_sq_alone.data(), q.data(), n * sizeof(double))) << checked;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Spans, FusedLevelledDeviation,
    ::testing::Values(
        LevelledCase{"Unscaled", 1.0, -37.25, 0.0078125, -498.0, 3000000, 1e15, false, true},
        // A level of whole and half counts: levelled values land on halves of either sign.
        LevelledCase{"LevelOnHalves", 1.0, 0.5, -0.5, -12.0, 40, 1e9, false, true},
        LevelledCase{"ScaledAndTilted", 0.3071, 1234.567, -2.75, 3.0, 3000000, 1e9, false, true},
        // Levelled values beyond +-2^26 stay in the average and are markers for the deviation.
        LevelledCase{"BeyondThePhaseRange", 32.0, -6.5e7, 1e5, 0.0, 200000000, 1e9, false, false},
        LevelledCase{"LevelReachesTheLimit", 1.0, 0.0, 1e36, 100.0, 1000, 1e9, true, false},
        LevelledCase{"SumLeavesTheLimit", 1e29, 0.0, 0.0, 0.0, 2000000000, 3.4e38, true, false}),
    [](const ::testing::TestParamInfo<LevelledCase>& info) { return std::string(info.param.name); });

// Results: sums and counts as the run leaves them (marker-filled for the chain, zeros for the
// spans where nothing was counted), with counts on both sides of the minimum, sums exactly at
// the limit, and sums of squares that make the variance round below zero.
TEST(FusedResults, EqualTheChainsOfElementOperations) {
  std::mt19937_64 rng(31);
  std::uniform_int_distribution<int> c(0, 5);
  std::uniform_real_distribution<double> s(-1e7, 1e7);
  std::uniform_real_distribution<double> u(0, 1);
  for (int16_t k : {int16_t{-1}, int16_t{1}, int16_t{3}}) {
    for (int trial = 0; trial < 10; ++trial) {
      std::vector<int16_t> count(N);
      std::vector<double> sum_chain(N), sum_fused(N), sq_chain(N), sq_fused(N);
      for (int i = 0; i < N; ++i) {
        count[i] = static_cast<int16_t>(c(rng));
        const double total = std::round(s(rng));
        const double r = u(rng);
        // Squares: exact, a little less than the mean square allows (negative variance), or
        // larger; now and then a sum at the limit or one whose square overflows.
        double squares = r < 0.3 ? total * total / std::max<int16_t>(count[i], 1)
                                 : std::fabs(total) * std::fabs(total) * (1 + u(rng));
        if (r < 0.1) squares = std::nextafter(squares, 0.0);
        sum_fused[i] = count[i] == 0 ? 0.0 : r > 0.995 ? L : total;
        sq_fused[i] = count[i] == 0 ? 0.0 : squares;
        sum_chain[i] = count[i] == 0 ? L : sum_fused[i];
        sq_chain[i] = count[i] == 0 ? L : sq_fused[i];
      }
      const bool overflow_trial = trial == 9;
      if (overflow_trial) sum_fused[5] = sum_chain[5] = 2e19;
      if (overflow_trial) count[5] = 2;

      OwnedReal sum(SPAN, sum_chain), sum_sq(SPAN, sq_chain), out(SPAN, 0.0);
      OwnedCount cnt(SPAN, count);
      OwnedPhase want(SPAN, 0);
      std::vector<int32_t> got(N);

      ASSERT_EQ(NO_ERROR, real_map_average(out.m, sum.m, cnt.m, k));
      ASSERT_EQ(NO_ERROR, real_to_phase(out.m, want.m));
      average_to_phase_span(sum_fused.data(), count.data(), k, N, got.data());
      EXPECT_EQ(want.values(), got) << "average, k " << k;

      ErrorCode rc = real_map_square(sum.m);
      ASSERT_EQ(rc, deviation_to_phase_span(sum_fused.data(), sq_fused.data(), count.data(), k, N,
                                            got.data()));
      ASSERT_EQ(overflow_trial, rc == ERR_FP_OVERFLOW);
      if (rc == NO_ERROR) {
        ASSERT_EQ(NO_ERROR, real_map_average(out.m, sum.m, cnt.m, k));
        ASSERT_EQ(NO_ERROR, real_map_subtract(sum_sq.m, out.m, sum_sq.m));
        ASSERT_EQ(NO_ERROR, real_map_average(out.m, sum_sq.m, cnt.m, k));
        real_map_sqrt(out.m);
        ASSERT_EQ(NO_ERROR, real_to_phase(out.m, want.m));
        EXPECT_EQ(want.values(), got) << "deviation, k " << k;
      }

      count_to_phase_span(count.data(), N, got.data());
      for (int i = 0; i < N; ++i) EXPECT_EQ(count[i] != 0 ? count[i] : PHASE_INVALID, got[i]);
    }
  }
}

// Extremes kept in counts against the same values through extremes_span: the same extremes
// wherever a value was counted, and the same minimum, maximum and range results, for spans of
// small values and of values anywhere in 32 bits (beyond the results' range, INT32_MIN too).
TEST(ExtremesInCounts, EqualThoseHeldAsDoubles) {
  std::mt19937_64 rng(43);
  constexpr double INF = std::numeric_limits<double>::infinity();
  for (int32_t spread : {1000, INT32_MAX - 8}) {
    std::vector<int32_t> low(N, INT32_MAX), high(N, INT32_MIN);
    std::vector<double> low_real(N, INF), high_real(N, -INF);
    std::vector<int16_t> count(N, 0);
    for (int input = 0; input < 4; ++input) {
      const std::vector<int32_t> v = random_phase(rng, 0.3, spread);
      extremes_counts_span(v.data(), N, low.data(), high.data());
      extremes_span(v.data(), N, 1.0, low_real.data(), high_real.data());
      for (int i = 0; i < N; ++i) count[i] = int16_t(count[i] + (v[i] < PHASE_INVALID));
    }
    for (int i = 0; i < N; ++i) {
      if (count[i] == 0) continue;
      ASSERT_EQ(low_real[i], double(low[i])) << "element " << i;
      ASSERT_EQ(high_real[i], double(high[i])) << "element " << i;
    }
    for (int16_t k : {int16_t{0}, int16_t{1}, int16_t{3}}) {
      std::vector<int32_t> want(N), got(N);
      extreme_to_phase_span(low_real.data(), count.data(), k, N, want.data());
      extreme_counts_to_phase_span(low.data(), count.data(), k, N, got.data());
      EXPECT_EQ(want, got) << "minimum, spread " << spread << ", k " << k;
      extreme_to_phase_span(high_real.data(), count.data(), k, N, want.data());
      extreme_counts_to_phase_span(high.data(), count.data(), k, N, got.data());
      EXPECT_EQ(want, got) << "maximum, spread " << spread << ", k " << k;
      range_to_phase_span(low_real.data(), high_real.data(), count.data(), k, N, want.data());
      range_counts_to_phase_span(low.data(), high.data(), count.data(), k, N, got.data());
      EXPECT_EQ(want, got) << "range, spread " << spread << ", k " << k;
    }
  }
}

// The sums and extremes in one pass against the spans it stands for, with and without the
// squares and with either extreme left out, over several inputs (markers, INT32_MIN and values
// anywhere in 32 bits among them) and spans of every length modulo the vector width.
// The sums with the range of the valid values: the plain span's sums, and the least and
// greatest valid value over spans of whole vectors and ragged ones, mostly valid or not.
TEST(SumsAndRange, EqualThePlainSpanAndTheExtremesOfTheValidValues) {
  std::mt19937_64 rng(53);
  for (const double invalid : {0.3, 1.0}) {
    for (const std::size_t n : {std::size_t{N}, std::size_t{3}, std::size_t{8}, std::size_t{13}}) {
      std::vector<double> want_sum(N, 0.0), sum(N, 0.0);
      std::vector<int16_t> want_count(N, 0), count(N, 0);
      int32_t want_low = INT32_MAX, want_high = INT32_MIN, low = INT32_MAX, high = INT32_MIN;
      for (int input = 0; input < 3; ++input) {
        const std::vector<int32_t> v = random_phase(rng, invalid, INT32_MAX - 8);
        accumulate_phase_span(v.data(), n, want_sum.data(), want_count.data());
        for (std::size_t i = 0; i < n; ++i)
          if (v[i] < PHASE_INVALID) {
            want_low = std::min(want_low, v[i]);
            want_high = std::max(want_high, v[i]);
          }
        accumulate_phase_span(v.data(), n, sum.data(), count.data());
        valid_range_span(v.data(), n, &low, &high);
      }
      EXPECT_EQ(0, std::memcmp(want_sum.data(), sum.data(), N * sizeof(double))) << n;
      EXPECT_EQ(want_count, count) << n;
      EXPECT_EQ(want_low, low) << n;
      EXPECT_EQ(want_high, high) << n;
    }
  }
}

TEST(SumsAndExtremesInCounts, EqualTheSpansOneAfterAnother) {
  std::mt19937_64 rng(47);
  for (const bool squares : {false, true}) {
    for (const bool with_low : {false, true}) {
      for (const bool with_high : {false, true}) {
        for (const std::size_t n : {std::size_t{N}, std::size_t{3}, std::size_t{8}}) {
          std::vector<double> want_sum(N, 0.0), sum(N, 0.0), want_sq(N, 0.0), sq(N, 0.0);
          std::vector<int16_t> want_count(N, 0), count(N, 0);
          std::vector<int32_t> want_low(N, INT32_MAX), low(N, INT32_MAX);
          std::vector<int32_t> want_high(N, INT32_MIN), high(N, INT32_MIN);
          for (int input = 0; input < 5; ++input) {
            const std::vector<int32_t> v = random_phase(rng, 0.3, INT32_MAX - 8);
            if (squares) {
              accumulate_phase_squares_span(v.data(), n, want_sum.data(), want_count.data(),
                                            want_sq.data());
            } else {
              accumulate_phase_span(v.data(), n, want_sum.data(), want_count.data());
            }
            extremes_counts_span(v.data(), n, with_low ? want_low.data() : nullptr,
                                 with_high ? want_high.data() : nullptr);
            accumulate_phase_extremes_span(v.data(), n, sum.data(), count.data(),
                                           squares ? sq.data() : nullptr,
                                           with_low ? low.data() : nullptr,
                                           with_high ? high.data() : nullptr);
          }
          const std::string label = std::string(squares ? "squares" : "sums") +
                                    (with_low ? " low" : "") + (with_high ? " high" : "") +
                                    ", " + std::to_string(n) + " elements";
          for (std::size_t i = 0; i < std::size_t(N); ++i) {
            ASSERT_TRUE(same_bits(want_sum[i], sum[i])) << label << ", element " << i;
            ASSERT_TRUE(same_bits(want_sq[i], sq[i])) << label << ", element " << i;
          }
          EXPECT_EQ(want_count, count) << label;
          EXPECT_EQ(want_low, low) << label;
          EXPECT_EQ(want_high, high) << label;
        }
      }
    }
  }
}

}  // namespace

}  // namespace harnix
