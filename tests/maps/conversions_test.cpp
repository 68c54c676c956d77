#include <gtest/gtest.h>

#include <limits>
#include <random>
#include <vector>

#include "maps/element_ops.h"
#include "support/test_maps.h"

namespace harnix {

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double INF = std::numeric_limits<double>::infinity();

struct RoundCase {
  double v;
  int32_t expected;
};

TEST(RealToPhase, RoundsHalvesAwayFromZeroWithinTwoToThe26) {
  const RoundCase cases[] = {
      {2.5, 3},
      {-2.5, -3},
      {0.5, 1},
      {-0.5, -1},
      {1.4999, 1},
      {-1.4999, -1},
      {0.4, 0},
      {-0.4, 0},
      {-0.0, 0},
      {0.49999999999999994, 1},  // v + 0.5 rounds to 1.0 in double before truncation
      {67108863.0, 67108863},
      {67108862.6, 67108863},
      {67108863.4, PHASE_INVALID},  // above the upper limit, though it would round down
      {-67108864.0, -67108864},
      {-67108864.2, PHASE_INVALID},
      {1e300, PHASE_INVALID},  // would not fit in 32 bits at all
      {-1e300, PHASE_INVALID},
      {REAL_INVALID, PHASE_INVALID},
      {INF, PHASE_INVALID},
      {-INF, PHASE_INVALID},
      {NaN, PHASE_INVALID},
  };
  const int16_t n = static_cast<int16_t>(std::size(cases));
  std::vector<double> heights;
  for (const RoundCase& c : cases) heights.push_back(c.v);
  OwnedReal r({3, -2, n, 1}, heights);
  OwnedPhase p({3, -2, n, 1}, 0);
  ASSERT_EQ(NO_ERROR, real_to_phase(r.m, p.m));
  for (int16_t i = 0; i < n; ++i) EXPECT_EQ(cases[i].expected, p.m.matrix[i]) << cases[i].v;
}

TEST(PhaseToReal, ValidValuesAreExactAndEveryMarkerBecomesRealInvalid) {
  const std::vector<int32_t> phases = {2147483639, 2147483640, INT32_MAX, INT32_MIN, 0, -5};
  const std::vector<double> expected = {2147483639.0,  REAL_INVALID, REAL_INVALID,
                                        -2147483648.0, 0.0,          -5.0};
  OwnedPhase p({0, 0, 3, 2}, phases);
  OwnedReal r({0, 0, 3, 2}, 1.0);
  ASSERT_EQ(NO_ERROR, phase_to_real(p.m, r.m));
  EXPECT_EQ(expected, r.values());
}

TEST(Conversions, RoundTripOfPhaseCountsIsExact) {
  std::mt19937 random(7);
  std::uniform_int_distribution<int32_t> value(-67108864, 67108863);
  std::vector<int32_t> phases(37 * 23);
  for (int32_t& v : phases) v = random() % 5 == 0 ? PHASE_INVALID : value(random);
  OwnedPhase p({-10, 5, 37, 23}, phases);
  OwnedReal r({-10, 5, 37, 23}, 0.0);
  OwnedPhase back({-10, 5, 37, 23}, 0);
  ASSERT_EQ(NO_ERROR, phase_to_real(p.m, r.m));
  ASSERT_EQ(NO_ERROR, real_to_phase(r.m, back.m));
  EXPECT_EQ(phases, back.values());
}

}  // namespace

}  // namespace harnix
