#include "fit/remove.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "fit/least_squares.h"
#include "reference/fit_reference.h"
#include "support/fit_calls.h"

namespace harnix {

namespace {

using enum FitType;

// Each mode removes an exact surface of its type completely, from a window away from the
// origin with a few invalid pixels, and hands back exactly the record fit_surface makes.
class ExactRemoval : public testing::TestWithParam<int32_t> {};

TEST_P(ExactRemoval, LeavesZeroAndReportsTheFit) {
  const int32_t mode = GetParam();
  const auto type = static_cast<FitType>(mode);
  const Window w{37, -12, 64, 41};
  TestMap t(w);
  std::mt19937_64 rng(3);
  std::bernoulli_distribution bad(0.05);
  for (int py = w.y; py < w.y + w.height; ++py) {
    for (int px = w.x; px < w.x + w.width; ++px) {
      const int x = fit_x(w, px);
      const int y = fit_y(w, py);
      int32_t z = -500 + 4 * x + 9 * y;
      if (type == sphere) z += 3 * (x * x + y * y);
      if (type == cylinder) z += x * y - 2 * x * x + 5 * y * y;
      if (type == piston) z = 12345;
      t.at(px, py) = bad(rng) ? PHASE_INVALID + 1 : z;
    }
  }
  const TestMap before(t);
  SurfaceFit expected{};
  ASSERT_EQ(fit_region(t.map, nullptr, type, &expected), NO_ERROR);

  SurfaceFit fit{};
  ASSERT_EQ(remove_best_fit(t.map, mode, &fit), NO_ERROR);
  EXPECT_EQ(std::memcmp(&fit, &expected, sizeof fit), 0);  // every member, rms included
  for (size_t i = 0; i < t.values().size(); ++i) {
    const int32_t want = before.values()[i] >= PHASE_INVALID ? before.values()[i] : 0;
    ASSERT_EQ(t.values()[i], want) << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Fit, ExactRemoval, testing::Values(0, 1, 2, 3));

// Failures leave the map and fit_out as they were.
struct FailureCase {
  const char* name;
  int32_t mode;
  Window window;
  bool any_valid;
  ErrorCode rc;
};

class RemovalFailures : public testing::TestWithParam<FailureCase> {};

TEST_P(RemovalFailures, ChangeNothing) {
  const FailureCase& c = GetParam();
  TestMap t(Window{0, 0, 6, 5}, c.any_valid ? 7 : PHASE_INVALID);
  t.map.window = c.window;
  const std::vector<int32_t> before = t.values();
  SurfaceFit fit{};
  fit.offset = 42;
  EXPECT_EQ(remove_best_fit(t.map, c.mode, &fit), c.rc);
  EXPECT_EQ(t.values(), before);
  EXPECT_EQ(fit.offset, 42);
  EXPECT_EQ(fit.type, piston);
}

constexpr Window MAP{0, 0, 6, 5};

INSTANTIATE_TEST_SUITE_P(
    Fit, RemovalFailures,
    testing::Values(
        FailureCase{"no_valid_piston", 0, MAP, false, ERR_NO_UNIQUE_SOLUTION},
        FailureCase{"no_valid_plane", 1, MAP, false, ERR_NO_UNIQUE_SOLUTION},
        FailureCase{"no_valid_sphere", 2, MAP, false, ERR_NO_UNIQUE_SOLUTION},
        FailureCase{"no_valid_cylinder", 3, MAP, false, ERR_NO_UNIQUE_SOLUTION},
        FailureCase{"zero_width_piston", 0, Window{0, 0, 0, 5}, true, ERR_IMPROPER_WINDOW},
        FailureCase{"zero_height_plane", 1, Window{0, 0, 6, 0}, true, ERR_IMPROPER_WINDOW},
        FailureCase{"zero_height_sphere", 2, Window{0, 0, 6, 0}, true, ERR_IMPROPER_WINDOW},
        FailureCase{"zero_width_cylinder", 3, Window{0, 0, 0, 5}, true, ERR_IMPROPER_WINDOW},
        FailureCase{"mode_below_range", -1, MAP, true, ERR_PARAM_OUT_OF_RANGE},
        FailureCase{"mode_above_range", 5, MAP, true, ERR_PARAM_OUT_OF_RANGE}),
    [](const testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

// The whole removal against an independent fit: normal equations summed per pixel in long
// double, solved by Gauss-Jordan elimination, evaluated in double and rounded half away from
// zero. The two fits agree to rounding, so the maps agree except by one where the surface lies
// within a small tolerance of a half.
class IndependentFit : public testing::TestWithParam<int32_t> {};

TEST_P(IndependentFit, AgreesExceptByOneNearHalves) {
  const int32_t mode = GetParam();
  const auto type = static_cast<FitType>(mode);
  const Window w{5, 9, 1024, 771};
  TestMap t(w);
  std::mt19937_64 rng(static_cast<uint64_t>(40 + mode));
  std::uniform_int_distribution<int32_t> noise(-300, 300);
  std::bernoulli_distribution bad(0.02);
  for (int py = w.y; py < w.y + w.height; ++py) {
    for (int px = w.x; px < w.x + w.width; ++px) {
      const double x = px - 400.3;
      const double y = py - 250.8;
      const double z = 2e4 + 13.7 * x - 8.1 * y + 0.0123 * x * x + 0.0071 * y * y - 0.004 * x * y;
      t.at(px, py) = bad(rng) ? PHASE_INVALID : static_cast<int32_t>(z) + noise(rng);
    }
  }
  const TestMap before(t);
  const std::vector<long double> a = reference_solve(reference_sums(t.map, w, type));
  ASSERT_FALSE(a.empty());
  SurfaceFit ref{};
  ref.offset = static_cast<double>(a[0]);
  if (type != piston) {
    ref.y_coef = static_cast<double>(a[1]);
    ref.x_coef = static_cast<double>(a[2]);
  }
  if (type == sphere) ref.x2y2_coef = static_cast<double>(a[3]);
  if (type == cylinder) {
    ref.xy_coef = static_cast<double>(a[3]);
    ref.y2_coef = static_cast<double>(a[4]);
    ref.x2_coef = static_cast<double>(a[5]);
  }

  ASSERT_EQ(remove_best_fit(t.map, mode, nullptr), NO_ERROR);
  int64_t differ = 0;
  std::string fault;  // the first pixel that breaks the rule
  for (size_t k = 0; k < t.values().size() && fault.empty(); ++k) {
    const int32_t v = before.values()[k];
    const int32_t got = t.values()[k];
    const int px = w.x + static_cast<int>(k % static_cast<size_t>(w.width));
    const int py = w.y + static_cast<int>(k / static_cast<size_t>(w.width));
    if (v >= PHASE_INVALID) {
      if (got != v) fault = "invalid pixel changed";
      continue;
    }
    const double s = surface_at(ref, fit_x(w, px), fit_y(w, py));
    const int64_t want = v - round_half_away(s);
    if (got == want) continue;
    ++differ;
    if (std::llabs(got - want) != 1 || distance_to_half(s) > 1e-5) {
      fault = "got " + std::to_string(got) + " want " + std::to_string(want) + " surface " +
              std::to_string(s) + " at " + std::to_string(px) + "," + std::to_string(py);
    }
  }
  ASSERT_EQ(fault, "");
  EXPECT_LE(differ, 5);
}

INSTANTIATE_TEST_SUITE_P(Fit, IndependentFit, testing::Values(0, 1, 2, 3));

}  // namespace

}  // namespace harnix
