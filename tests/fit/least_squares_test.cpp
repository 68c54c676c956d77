#include "fit/least_squares.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "maps/storage.h"
#include "reference/fit_reference.h"
#include "support/failing_allocator.h"
#include "support/fit_calls.h"

namespace harnix {

namespace {

using enum FitType;

TEST(SquareSumTable, HoldsExactSumsOfSquaresAndIsFilledOnce) {
  const double* t = square_sum_table();
  EXPECT_EQ(t, square_sum_table());
  for (int64_t k : {0, 1, 2, 3, 1000, 16383, 32766, 32767}) {
    EXPECT_EQ(t[k], static_cast<double>(k * (k + 1) * (2 * k + 1) / 6)) << k;
  }
}

// The closed-form sums against a pixel-by-pixel accumulation. Values, windows and coordinates
// are chosen so that every sum is an integer below 2^53: both sides are then exact and must be
// equal, whatever order they add in.
struct SumsCase {
  FitType type;
  int16_t rows;
  int16_t cols;
  double invalid;  // share of invalid pixels
};

class ClosedFormSums : public testing::TestWithParam<SumsCase> {};

TEST_P(ClosedFormSums, EqualSlowAccumulation) {
  const SumsCase& c = GetParam();
  std::mt19937_64 rng(1000u * static_cast<unsigned>(c.type) + 31u * static_cast<unsigned>(c.rows) +
                      static_cast<unsigned>(c.cols));
  // The fitted window lies inside a larger map, so rows are a stride apart.
  TestMap t(Window{-7, 3, static_cast<int16_t>(c.cols + 5), static_cast<int16_t>(c.rows + 4)});
  fill_random(t, rng, -(1 << 20), 1 << 20, c.invalid);
  const Window w{-5, 4, c.cols, c.rows};

  ConstPhaseView view{};
  ASSERT_EQ(region_view(t.map, w, &view), NO_ERROR);
  SurfaceWorkspace ws;
  FitSums sums;
  ASSERT_EQ(accumulate_fit_sums(view, -((c.cols - 1) / 2), -((c.rows - 1) / 2), c.type,
                                FitOptions{}, ws, &sums),
            NO_ERROR);
  surface_workspace_free(ws);

  const ReferenceSums want = reference_sums(t.map, w, c.type);
  const int n = fit_term_count(c.type);
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      EXPECT_EQ(sums.m[i * MAX_FIT_TERMS + j],
                static_cast<double>(want.m[static_cast<size_t>(i * n + j)]))
          << "M[" << i << "][" << j << "]";
    }
    EXPECT_EQ(sums.b[i], static_cast<double>(want.b[static_cast<size_t>(i)])) << "b[" << i << "]";
  }
  EXPECT_EQ(sums.s, static_cast<double>(want.s));
}

std::vector<SumsCase> sums_cases() {
  std::vector<SumsCase> cases;
  const int16_t sizes[][2] = {{1, 1}, {1, 9}, {8, 1}, {2, 2}, {7, 9}, {10, 12}, {33, 40}, {40, 31}};
  for (FitType type : ALL_FIT_TYPES) {
    for (const auto& s : sizes) {
      for (double invalid : {0.0, 0.1, 0.5, 0.97}) cases.push_back({type, s[0], s[1], invalid});
    }
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Fit, ClosedFormSums, testing::ValuesIn(sums_cases()),
                         [](const testing::TestParamInfo<SumsCase>& info) {
                           const SumsCase& c = info.param;
                           return "type" + std::to_string(static_cast<int>(c.type)) + "_" +
                                  std::to_string(c.rows) + "x" + std::to_string(c.cols) +
                                  "_invalid" + std::to_string(static_cast<int>(c.invalid * 100));
                         });

// Long runs of extreme values over the widest window: the integer run and column sums must not
// overflow, and every sum stays within rounding of the reference. Sums of terms of both signs
// (odd powers of x, b) round on the scale of their terms, which Cauchy-Schwarz bounds by
// sqrt(M[i][i] M[j][j]) and sqrt(M[i][i] S).
TEST(ClosedFormSumsExtremes, LongRunsOfExtremeValuesStayWithinRounding) {
  std::mt19937_64 rng(5);
  TestMap t(Window{0, 0, 32767, 3});
  fill_random(t, rng, INT32_MIN, PHASE_INVALID - 1, 0.001);
  for (int px = 0; px < 32767; ++px) t.at(px, 1) = px % 2 ? INT32_MIN : PHASE_INVALID - 1;
  for (FitType type : ALL_FIT_TYPES) {
    SurfaceWorkspace ws;
    FitSums sums;
    ASSERT_EQ(accumulate_fit_sums(map_view(t.map), -16383, -1, type, FitOptions{}, ws, &sums),
              NO_ERROR);
    surface_workspace_free(ws);
    const ReferenceSums want = reference_sums(t.map, t.map.window, type);
    const int n = fit_term_count(type);
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) {
        const long double scale = std::sqrt(want.m[static_cast<size_t>(i * n + i)] *
                                            want.m[static_cast<size_t>(j * n + j)]);
        EXPECT_NEAR(sums.m[i * MAX_FIT_TERMS + j], want.m[static_cast<size_t>(i * n + j)],
                    1e-13 * scale)
            << type << " M" << i << j;
      }
      const long double scale = std::sqrt(want.m[static_cast<size_t>(i * n + i)] * want.s);
      EXPECT_NEAR(sums.b[i], want.b[static_cast<size_t>(i)], 1e-13 * scale) << type << " b" << i;
    }
    EXPECT_NEAR(sums.s, want.s, 1e-13 * want.s);
  }
}

// Exactly representable surfaces: integer coefficients on every pixel, some pixels invalid.
struct ExactCase {
  FitType type;
  Window map_window;
  Window fit_window;
};

class ExactSurfaces : public testing::TestWithParam<ExactCase> {};

TEST_P(ExactSurfaces, RecoverCoefficientsWithZeroResidual) {
  const ExactCase& c = GetParam();
  SurfaceFit want{};
  want.type = c.type;
  want.offset = -1234;
  if (c.type != piston) {
    want.x_coef = 7;
    want.y_coef = -3;
  }
  if (c.type == sphere) want.x2y2_coef = 2;
  if (c.type == cylinder) {
    want.xy_coef = -1;
    want.x2_coef = 3;
    want.y2_coef = 5;
  }
  TestMap t(c.map_window, PHASE_INVALID);
  const Window& w = c.fit_window;
  std::mt19937_64 rng(77);
  std::bernoulli_distribution bad(0.1);
  int32_t valid = 0;
  for (int py = w.y; py < w.y + w.height; ++py) {
    for (int px = w.x; px < w.x + w.width; ++px) {
      if (bad(rng)) continue;
      t.at(px, py) = static_cast<int32_t>(surface_at(want, fit_x(w, px), fit_y(w, py)));
      ++valid;
    }
  }
  SurfaceFit fit{};
  ASSERT_EQ(fit_region(t.map, &w, c.type, &fit), NO_ERROR);
  EXPECT_EQ(fit.type, c.type);
  EXPECT_EQ(fit.npoints, valid);
  EXPECT_EQ(fit.center_x, w.x + (w.width - 1) / 2);
  EXPECT_EQ(fit.center_y, w.y + (w.height - 1) / 2);
  const double tol = 1e-9;
  EXPECT_NEAR(fit.offset, want.offset, tol);
  EXPECT_NEAR(fit.x_coef, want.x_coef, tol);
  EXPECT_NEAR(fit.y_coef, want.y_coef, tol);
  EXPECT_NEAR(fit.x2y2_coef, want.x2y2_coef, tol);
  EXPECT_NEAR(fit.xy_coef, want.xy_coef, tol);
  EXPECT_NEAR(fit.x2_coef, want.x2_coef, tol);
  EXPECT_NEAR(fit.y2_coef, want.y2_coef, tol);
  // S and a.b cancel to rounding: the residual is zero to well below a phase count.
  EXPECT_LT(fit.rms, 1e-3);
}

std::vector<ExactCase> exact_cases() {
  std::vector<ExactCase> cases;
  const Window windows[][2] = {
      {{0, 0, 9, 7}, {0, 0, 9, 7}},         // odd sizes, whole map
      {{0, 0, 10, 8}, {0, 0, 10, 8}},       // even sizes
      {{-20, 5, 60, 50}, {-3, 9, 31, 24}},  // a window inside the map, mixed parity
      {{100, 200, 300, 257}, {100, 200, 300, 257}},
  };
  for (FitType type : ALL_FIT_TYPES) {
    for (const auto& w : windows) cases.push_back({type, w[0], w[1]});
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Fit, ExactSurfaces, testing::ValuesIn(exact_cases()));

TEST(FitSurface, PistonOfThreeValues) {
  TestMap t(Window{0, 0, 2, 2}, PHASE_INVALID);
  t.at(0, 0) = 10;
  t.at(1, 0) = 20;
  t.at(1, 1) = 30;
  SurfaceFit fit{};
  ASSERT_EQ(fit_region(t.map, nullptr, piston, &fit), NO_ERROR);
  EXPECT_DOUBLE_EQ(fit.offset, 20);
  EXPECT_EQ(fit.npoints, 3);
  EXPECT_NEAR(fit.rms, std::sqrt(200.0 / 3.0), 1e-12);
}

TEST(FitSurface, SingleCellWindowHasItsOriginThere) {
  TestMap t(Window{3, 4, 5, 5}, 9);
  const Window w{5, 6, 1, 1};
  SurfaceFit fit{};
  ASSERT_EQ(fit_region(t.map, &w, piston, &fit), NO_ERROR);
  EXPECT_EQ(fit.center_x, 5);
  EXPECT_EQ(fit.center_y, 6);
  EXPECT_EQ(fit.offset, 9);
  EXPECT_EQ(fit.npoints, 1);
}

// Failures: each with the state the record is left in.
struct FailureCase {
  const char* name;
  FitType type;
  Window window;      // fitted region of the map (0, 0, 5, 5), also the frame
  const char* valid;  // 25 characters, row by row: '#' valid, '.' invalid
  ErrorCode rc;
};

class FitFailures : public testing::TestWithParam<FailureCase> {};

TEST_P(FitFailures, LeaveTheRecordAsDocumented) {
  const FailureCase& c = GetParam();
  TestMap t(Window{0, 0, 5, 5});
  for (int i = 0; i < 25; ++i)
    t.at(i % 5, i / 5) = c.valid[i] == '#' ? 3 * i : PHASE_INVALID + i % 8;
  SurfaceFit fit{};
  fit.offset = 99;
  fit.npoints = 99;
  ASSERT_EQ(fit_region(t.map, &c.window, c.type, &fit), c.rc);
  if (c.rc == ERR_PARAM_OUT_OF_RANGE || c.rc == ERR_IMPROPER_WINDOW) {
    EXPECT_EQ(fit.offset, 99);  // not touched: the type, or the region (region_view), refused
    return;
  }
  EXPECT_EQ(fit.type, c.type);
  EXPECT_EQ(fit.offset, 0);
  EXPECT_EQ(fit.npoints, 0);
  EXPECT_EQ(fit.rms, 0);
  if (c.rc == ERR_NO_UNIQUE_SOLUTION && c.window.width > 0 && c.window.height > 0) {
    EXPECT_EQ(fit.center_x, c.window.x + (c.window.width - 1) / 2);
    EXPECT_EQ(fit.center_y, c.window.y + (c.window.height - 1) / 2);
  }
}

constexpr Window WHOLE{0, 0, 5, 5};
constexpr const char* ALL = "#########################";

INSTANTIATE_TEST_SUITE_P(
    Fit, FitFailures,
    testing::Values(
        FailureCase{"no_valid_piston", piston, WHOLE, ".........................",
                    ERR_NO_UNIQUE_SOLUTION},
        FailureCase{"no_valid_cylinder", cylinder, WHOLE, ".........................",
                    ERR_NO_UNIQUE_SOLUTION},
        FailureCase{"centre_row_plane", plane, WHOLE, "..........#####..........",
                    ERR_NO_UNIQUE_SOLUTION},
        FailureCase{"centre_row_sphere", sphere, WHOLE, "..........#####..........",
                    ERR_NO_UNIQUE_SOLUTION},
        FailureCase{"centre_column_cylinder", cylinder, WHOLE, "..#....#....#....#....#..",
                    ERR_NO_UNIQUE_SOLUTION},
        FailureCase{"window_larger_than_map", plane, Window{0, 0, 6, 5}, ALL, ERR_IMPROPER_WINDOW},
        FailureCase{"window_outside_map", plane, Window{5, 0, 1, 1}, ALL, ERR_IMPROPER_WINDOW},
        FailureCase{"zero_width_inside_map", piston, Window{2, 2, 0, 2}, ALL,
                    ERR_NO_UNIQUE_SOLUTION},
        FailureCase{"negative_height_inside_map", piston, Window{2, 3, 2, -2}, ALL,
                    ERR_NO_UNIQUE_SOLUTION},
        FailureCase{"type_below_range", FitType{-1}, WHOLE, ALL, ERR_PARAM_OUT_OF_RANGE},
        FailureCase{"type_above_range", FitType{4}, WHOLE, ALL, ERR_PARAM_OUT_OF_RANGE}),
    [](const testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

TEST(FitSurface, MapWindowWithoutPixelsHasNoSolution) {
  for (int16_t width : {0, -3}) {
    TestMap t(Window{0, 0, 3, 3});
    t.map.window.width = width;
    SurfaceFit fit{};
    EXPECT_EQ(fit_region(t.map, nullptr, cylinder, &fit), ERR_NO_UNIQUE_SOLUTION);
  }
}

// The frame's own refusals: a view that sticks out of it, and a frame beyond the 16-bit field,
// whose centre would not be its own. The record holds the type and zeros.
TEST(FitSurface, RefusesAViewOutsideItsFrameOrAFrameBeyondTheField) {
  TestMap t(Window{32000, 0, 1000, 2}, 7);
  const struct {
    Window view;
    Window frame;
  } cases[] = {{{32000, 0, 500, 2}, {32001, 0, 500, 2}},
               {{32000, 0, 500, 2}, {32000, 0, 500, 1}},
               {{32000, 0, 1000, 2}, {32000, 0, 1000, 2}}};
  for (const auto& c : cases) {
    ConstPhaseView view{};
    ASSERT_EQ(region_view(t.map, c.view, &view), NO_ERROR);
    SurfaceWorkspace ws;
    SurfaceFit fit{};
    fit.offset = 99;
    EXPECT_EQ(fit_surface(view, c.frame, plane, FitOptions{}, ws, &fit), ERR_IMPROPER_WINDOW);
    EXPECT_EQ(fit.type, plane);
    EXPECT_EQ(fit.offset, 0);
    EXPECT_EQ(fit.center_x, 0);
  }
}

// A fit over a frame of which only a part holds values is the fit over the whole frame with
// invalid values around that part: the same record, bit for bit, and the same codes.
class FitInFrame : public testing::TestWithParam<FitType> {};

TEST_P(FitInFrame, EqualsTheFitOverThePaddedMap) {
  const FitType type = GetParam();
  std::mt19937_64 rng(static_cast<uint64_t>(type) + 40);
  auto draw = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  SurfaceWorkspace ws;  // one workspace for every trial, as the run keeps one
  for (int trial = 0; trial < 25; ++trial) {
    const Window w{static_cast<int16_t>(draw(-30, 30)), static_cast<int16_t>(draw(-30, 30)),
                   static_cast<int16_t>(draw(1, 200)), static_cast<int16_t>(draw(1, 150))};
    const int16_t pw = static_cast<int16_t>(draw(1, w.width));
    const int16_t ph = static_cast<int16_t>(draw(1, w.height));
    const Window part{static_cast<int16_t>(w.x + draw(0, w.width - pw)),
                      static_cast<int16_t>(w.y + draw(0, w.height - ph)), pw, ph};
    TestMap inner(part);
    // Every fifth trial is all invalid, or has large values that make the sums round.
    const double invalid = trial % 5 == 0 ? 1.0 : 0.2;
    fill_random(inner, rng, trial % 5 == 1 ? -2000000000 : -300000,
                trial % 5 == 1 ? 2000000000 : 300000, invalid);
    TestMap whole(w, PHASE_INVALID);
    for (int py = part.y; py < part.y + part.height; ++py)
      for (int px = part.x; px < part.x + part.width; ++px) whole.at(px, py) = inner.at(px, py);

    SurfaceFit want{};
    SurfaceFit got{};
    const ErrorCode want_rc = fit_region(whole.map, &w, type, &want);
    ASSERT_EQ(fit_surface(map_view(inner.map), w, type, FitOptions{}, ws, &got), want_rc) << trial;
    EXPECT_EQ(std::memcmp(&got, &want, sizeof got), 0) << trial;
    // Without the residual: the same record but for its rms, which stays 0.
    SurfaceFit surface_only{};
    ASSERT_EQ(
        fit_surface(map_view(inner.map), w, type, FitOptions{.residual = false}, ws, &surface_only),
        want_rc);
    EXPECT_EQ(surface_only.rms, 0.0);
    surface_only.rms = want.rms;
    EXPECT_EQ(std::memcmp(&surface_only, &want, sizeof want), 0) << trial;
  }
  surface_workspace_free(ws);
}

INSTANTIATE_TEST_SUITE_P(Fit, FitInFrame, testing::ValuesIn(ALL_FIT_TYPES));

TEST(FitInFrame, RefusesFramesTheViewDoesNotFit) {
  TestMap t(Window{2, 2, 3, 3}, 7);
  SurfaceWorkspace ws;
  SurfaceFit fit{};
  const ConstPhaseView view = map_view(t.map);
  EXPECT_EQ(fit_surface(view, Window{0, 0, 4, 8}, plane, FitOptions{}, ws, &fit),
            ERR_IMPROPER_WINDOW);
  EXPECT_EQ(fit_surface(view, Window{2, 2, 3, 0}, plane, FitOptions{}, ws, &fit),
            ERR_IMPROPER_WINDOW);
  EXPECT_EQ(fit_surface(view, Window{0, 0, 9, 9}, FitType{7}, FitOptions{}, ws, &fit),
            ERR_PARAM_OUT_OF_RANGE);
  EXPECT_EQ(fit_surface(view, Window{0, 0, 9, 9}, plane, FitOptions{}, ws, &fit), NO_ERROR);
  EXPECT_EQ(fit.center_x, 4);
  EXPECT_EQ(fit.npoints, 9);
  surface_workspace_free(ws);
}

// A workspace that cannot grow fails the fit, with the record holding the type and origin.
TEST(FitSurface, WorkspaceThatCannotGrowIsReported) {
  TestMap t(Window{0, 0, 40, 30}, 7);
  for (FitType type : ALL_FIT_TYPES) {
    FailingAllocator fail(1);
    SurfaceWorkspace ws;
    SurfaceFit fit{};
    EXPECT_EQ(fit_surface(map_view(t.map), t.map.window, type, FitOptions{}, ws, &fit), ERR_NO_MEM);
    EXPECT_EQ(fit.type, type);
    EXPECT_EQ(fit.center_x, 19);
    EXPECT_EQ(ws.bytes, 0u);
  }
}

}  // namespace

}  // namespace harnix
