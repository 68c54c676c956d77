#include "fit/solver.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "fit/fit_model.h"

namespace harnix {

namespace {

struct SolverCase {
  const char* name;
  int32_t n;
  std::vector<double> a;  // n x n, row by row
  std::vector<double> b;
  ErrorCode rc;
  std::vector<double> x;  // expected on success
};

class SolverCases : public testing::TestWithParam<SolverCase> {};

TEST_P(SolverCases, SolvesOrReportsSingular) {
  const SolverCase& c = GetParam();
  const std::vector<double> a = c.a;
  const std::vector<double> b = c.b;
  std::vector<double> x(static_cast<size_t>(c.n), -7.0);
  ASSERT_EQ(solve_linear_system(c.n, c.n, a.data(), x.data(), b.data()), c.rc);
  if (c.rc == NO_ERROR) {
    for (int32_t i = 0; i < c.n; ++i)
      EXPECT_DOUBLE_EQ(x[static_cast<size_t>(i)], c.x[static_cast<size_t>(i)]) << i;
  } else {
    for (double v : x) EXPECT_EQ(v, -7.0);  // x is not written on failure
  }
  // The caller's system is never changed (compared bitwise: one case holds a NaN).
  EXPECT_EQ(std::memcmp(a.data(), c.a.data(), a.size() * sizeof(double)), 0);
  EXPECT_EQ(std::memcmp(b.data(), c.b.data(), b.size() * sizeof(double)), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Fit, SolverCases,
    testing::Values(
        SolverCase{"one_unknown", 1, {4}, {8}, NO_ERROR, {2}},
        SolverCase{"interchange_first_column", 2, {0, 1, 1, 0}, {2, 3}, NO_ERROR, {3, 2}},
        SolverCase{
            "second_pivot_exactly_zero", 2, {1, 2, 2, 4}, {1, 2}, ERR_NO_UNIQUE_SOLUTION, {}},
        SolverCase{"absolute_threshold", 1, {1e-11}, {1}, ERR_NO_UNIQUE_SOLUTION, {}},
        SolverCase{"pivot_at_the_threshold_passes", 1, {1e-10}, {1e-10}, NO_ERROR, {1}},
        SolverCase{"last_column_tested", 2, {1, 0, 0, 5e-11}, {1, 1}, ERR_NO_UNIQUE_SOLUTION, {}},
        SolverCase{"nan_pivot", 1, {NAN}, {1}, ERR_NO_UNIQUE_SOLUTION, {}},
        SolverCase{"tie_in_first_column", 2, {1, 1, -1, 1}, {2, 0}, NO_ERROR, {1, 1}},
        SolverCase{"three_by_three",
                   3,
                   {2, 1, -1, -3, -1, 2, -2, 1, 2},
                   {8, -11, -3},
                   NO_ERROR,
                   {2, 3, -1}}),
    [](const testing::TestParamInfo<SolverCase>& info) { return std::string(info.param.name); });

TEST(Solver, HonoursTheRowStrideUpToFullCapacity) {
  // A diagonally dominant system of full size with a known solution, stored with spare columns.
  std::mt19937_64 rng(11);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  for (int32_t n : {6, MAX_FIT_TERMS}) {
    const int32_t stride = MAX_FIT_TERMS + 3;
    std::vector<double> a(static_cast<size_t>(n * stride), 1e300);  // spare columns hold junk
    std::vector<double> want(static_cast<size_t>(n));
    for (double& v : want) v = u(rng) * 100;
    std::vector<double> b(static_cast<size_t>(n), 0.0);
    for (int32_t i = 0; i < n; ++i) {
      for (int32_t j = 0; j < n; ++j) {
        const double v = (i == j ? n + 1.0 : 0.0) + u(rng);
        a[static_cast<size_t>(i * stride + j)] = v;
        b[static_cast<size_t>(i)] += v * want[static_cast<size_t>(j)];
      }
    }
    std::vector<double> x(static_cast<size_t>(n));
    ASSERT_EQ(solve_linear_system(n, stride, a.data(), x.data(), b.data()), NO_ERROR);
    for (int32_t i = 0; i < n; ++i)
      EXPECT_NEAR(x[static_cast<size_t>(i)], want[static_cast<size_t>(i)], 1e-10) << n << " " << i;
  }
}

TEST(Solver, RefusesSizesOutsideItsCapacity) {
  const double a[1] = {1};
  const double b[1] = {1};
  double x[1] = {0};
  EXPECT_EQ(solve_linear_system(0, 1, a, x, b), ERR_PARAM_OUT_OF_RANGE);
  EXPECT_EQ(solve_linear_system(MAX_FIT_TERMS + 1, MAX_FIT_TERMS + 1, a, x, b),
            ERR_PARAM_OUT_OF_RANGE);
  EXPECT_EQ(solve_linear_system(2, 1, a, x, b), ERR_PARAM_OUT_OF_RANGE);
}

}  // namespace

}  // namespace harnix
