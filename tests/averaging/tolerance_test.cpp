#include "averaging/tolerance.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace harnix {

namespace {

struct ToleranceCase {
  double reference, value;
  bool agree;
};

class ToleranceTest : public ::testing::TestWithParam<ToleranceCase> {};

TEST_P(ToleranceTest, FivePercentOfTheMean) {
  const ToleranceCase& c = GetParam();
  EXPECT_EQ(c.agree, within_tolerance(c.reference, c.value, GEOMETRY_TOLERANCE_PERCENT))
      << c.reference << " against " << c.value;
}

constexpr double NOT_A_NUMBER = std::numeric_limits<double>::quiet_NaN();
constexpr double INFINITE_VALUE = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Cases, ToleranceTest,
    ::testing::Values(ToleranceCase{1.05e-6, 1.0e-6, true},   // about 4.9 percent
                      ToleranceCase{1.06e-6, 1.0e-6, false},  // about 5.8 percent
                      ToleranceCase{39.0, 41.0, true},        // exactly 5 percent agrees
                      ToleranceCase{41.0, 39.0, true}, ToleranceCase{39.0, 41.01, false},
                      ToleranceCase{0.0, 0.0, true}, ToleranceCase{0.0, 1e-9, false},
                      ToleranceCase{1e-9, 0.0, false},
                      ToleranceCase{-39.0, -41.0, true},  // negative values keep their distance
                      ToleranceCase{-3.0, 1.0, false},    // opposite signs never agree by sign
                      ToleranceCase{NOT_A_NUMBER, 1.0, false}, ToleranceCase{1.0, NOT_A_NUMBER, false},
                      ToleranceCase{INFINITE_VALUE, 1.0, false}, ToleranceCase{INFINITE_VALUE, INFINITE_VALUE, true}));

}  // namespace

}  // namespace harnix
