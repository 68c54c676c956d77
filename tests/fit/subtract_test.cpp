#include "fit/subtract.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "fit/least_squares.h"
#include "reference/fit_reference.h"
#include "reference/subtract_reference.h"
#include "support/failing_allocator.h"
#include "support/fit_calls.h"

namespace harnix {

namespace {

using enum FitType;

SurfaceFit make_fit(FitType type, int16_t cx, int16_t cy) {
  SurfaceFit f{};
  f.type = type;
  f.center_x = cx;
  f.center_y = cy;
  return f;
}

TEST(RemoveSurface, PistonRoundsHalvesAwayFromZero) {
  const struct {
    double offset;
    int32_t change;
  } cases[] = {{2.5, -3}, {-2.5, 3}, {0.49, 0}, {-0.49, 0}, {1e6 + 0.5, -1000001}};
  for (const auto& c : cases) {
    TestMap t(Window{0, 0, 3, 2}, 100);
    t.at(1, 1) = PHASE_INVALID + 3;
    SurfaceFit f = make_fit(piston, 1, 0);
    f.offset = c.offset;
    ASSERT_EQ(remove_region(t.map, t.map.window, f), NO_ERROR);
    for (int i = 0; i < 6; ++i) {
      const int32_t want = i == 4 ? PHASE_INVALID + 3 : 100 + c.change;
      EXPECT_EQ(t.values()[static_cast<size_t>(i)], want) << c.offset << " " << i;
    }
  }
}

// Halves are rounded away from the integer part of the fixed-point pair, after the carries:
// pinned on surfaces whose pairs are known exactly. The window is one row, x = 0, 1, 2, ...
TEST(RemoveSurface, HalvesFollowThePairsNotTheSignOfTheValue) {
  const struct {
    FitType type;
    double offset;
    double x_coef;
    std::vector<int32_t> loss;
  } cases[] = {
      // Values -1, -0.5, 0, 0.5: at x = 1 the pair is (-1, +1/2), which rounds up to 0.
      {plane, -1, 0.5, {-1, 0, 0, 1}},
      {sphere, -1, 0.5, {-1, 0, 0, 1}},
      {cylinder, -1, 0.5, {-1, 0, 0, 1}},
      // Value -0.5 at x = 1 from the row pair (-1, -1/4) and the column pair (0, 3/4).
      {sphere, -1.25, 0.75, {-1, 0}},
      {cylinder, -1.25, 0.75, {-1, 0}},
      // The fractions add to 3/2: the carry makes (1, 1/2), which rounds to 2, not 1.
      {sphere, 0.75, 0.75, {1, 2}},
      {cylinder, -0.75, -0.75, {-1, -2}},
      // The plane carries only past one: (0, 2^30) at x = 2 still rounds to 1.
      {plane, 0, 0.5, {0, 1, 1, 2}},
      {plane, 0, -0.5, {0, -1, -1, -2}},
  };
  for (const auto& c : cases) {
    const int16_t width = static_cast<int16_t>(c.loss.size());
    TestMap t(Window{0, 0, width, 1}, 0);
    SurfaceFit f = make_fit(c.type, 0, 0);
    f.offset = c.offset;
    f.x_coef = c.x_coef;
    ASSERT_EQ(remove_region(t.map, t.map.window, f), NO_ERROR);
    for (int16_t x = 0; x < width; ++x) {
      EXPECT_EQ(-t.at(x, 0), c.loss[static_cast<size_t>(x)])
          << "type " << c.type << " offset " << c.offset << " x " << x;
    }
  }
}

TEST(RemoveSurface, NegativeCentreStandsForTheWindowsOwnCentre) {
  for (FitType type : ALL_FIT_TYPES) {
    TestMap a(Window{2, 3, 7, 6}, 50);
    TestMap b(Window{2, 3, 7, 6}, 50);
    SurfaceFit own = make_fit(type, -1, -1);
    own.offset = 3.25;
    own.x_coef = 1.5;
    own.y_coef = -2.25;
    own.x2y2_coef = type == sphere ? 0.75 : 0;
    own.xy_coef = type == cylinder ? 0.5 : 0;
    own.x2_coef = type == cylinder ? -0.25 : 0;
    own.y2_coef = type == cylinder ? 1.25 : 0;
    SurfaceFit explicit_centre = own;
    explicit_centre.center_x = 5;  // window_center of (2, 3, 7, 6)
    explicit_centre.center_y = 5;
    ASSERT_EQ(remove_region(a.map, a.map.window, own), NO_ERROR);
    ASSERT_EQ(remove_region(b.map, b.map.window, explicit_centre), NO_ERROR);
    EXPECT_EQ(a.values(), b.values()) << type;
    own.center_x = 5;  // only the row centre from the window
    TestMap c(Window{2, 3, 7, 6}, 50);
    ASSERT_EQ(remove_region(c.map, c.map.window, own), NO_ERROR);
    EXPECT_EQ(a.values(), c.values()) << type;
  }
}

TEST(RemoveSurface, FitOverOneWindowContinuesOverALargerOne) {
  // An exact sphere over the whole map; the fit sees only a corner of it.
  TestMap t(Window{0, 0, 40, 30});
  for (int py = 0; py < 30; ++py) {
    for (int px = 0; px < 40; ++px) {
      const int x = px - 20;
      const int y = py - 10;
      t.at(px, py) = 1000 + 3 * x - 4 * y + 2 * (x * x + y * y);
    }
  }
  const Window corner{2, 1, 12, 9};
  SurfaceFit fit{};
  ASSERT_EQ(fit_region(t.map, &corner, sphere, &fit), NO_ERROR);
  ASSERT_EQ(remove_region(t.map, t.map.window, fit), NO_ERROR);
  for (int32_t v : t.values()) EXPECT_EQ(v, 0);
}

// Refusals, and an empty window, leave the map unchanged.
struct RefusalCase {
  const char* name;
  SurfaceFit fit;
  Window window;  // the map is (0, 0, 8, 8)
  ErrorCode rc;
};

SurfaceFit with(FitType type, double offset, double linear, double quadratic) {
  SurfaceFit f = make_fit(type, 4, 4);
  f.offset = offset;
  f.x_coef = f.y_coef = linear;
  f.x2y2_coef = f.xy_coef = f.x2_coef = f.y2_coef = quadratic;
  return f;
}

class Refusals : public testing::TestWithParam<RefusalCase> {};

TEST_P(Refusals, LeaveTheMapUnchanged) {
  const RefusalCase& c = GetParam();
  TestMap t(Window{0, 0, 8, 8}, 5);
  ASSERT_EQ(remove_region(t.map, c.window, c.fit), c.rc);
  const bool unchanged = c.rc != NO_ERROR || c.window.width < 1;
  for (int32_t v : t.values()) EXPECT_EQ(v == 5, unchanged);
}

constexpr Window MAP{0, 0, 8, 8};
constexpr double INFINITE_VALUE = std::numeric_limits<double>::infinity();
constexpr double NOT_A_NUMBER = std::numeric_limits<double>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(
    Fit, Refusals,
    testing::Values(
        RefusalCase{"type_below_range", with(FitType{-1}, 1, 0, 0), MAP, ERR_PARAM_OUT_OF_RANGE},
        RefusalCase{"type_above_range", with(FitType{4}, 1, 0, 0), MAP, ERR_PARAM_OUT_OF_RANGE},
        RefusalCase{"window_beyond_map", with(piston, 1, 0, 0), Window{1, 0, 8, 8},
                    ERR_IMPROPER_WINDOW},
        RefusalCase{"empty_window_changes_nothing", with(piston, 1, 0, 0), Window{1, 1, 0, 3},
                    NO_ERROR},
        RefusalCase{"huge_offset", with(piston, 1e300, 0, 0), MAP, ERR_FP_OVERFLOW},
        RefusalCase{"nan_offset", with(plane, NOT_A_NUMBER, 0, 0), MAP, ERR_FP_OVERFLOW},
        RefusalCase{"infinite_slope", with(plane, 0, INFINITE_VALUE, 0), MAP, ERR_FP_OVERFLOW},
        RefusalCase{"huge_curvature", with(sphere, 0, 0, 1e40), MAP, ERR_FP_OVERFLOW},
        RefusalCase{"nan_curvature", with(cylinder, 0, 0, NOT_A_NUMBER), MAP, ERR_FP_OVERFLOW},
        RefusalCase{"unused_terms_ignored", with(piston, 1, NOT_A_NUMBER, INFINITE_VALUE), MAP, NO_ERROR},
        RefusalCase{"unused_quadratic_ignored", with(plane, 1, 2, NOT_A_NUMBER), MAP, NO_ERROR}),
    [](const testing::TestParamInfo<RefusalCase>& info) { return std::string(info.param.name); });

// A difference that would leave the 32-bit range or reach the invalid marker leaves the pixel
// as it was; surfaces beyond 32 bits still subtract where the difference fits.
TEST(RemoveSurface, DifferencesOutsideTheValidRangeKeepThePixel) {
  const struct {
    FitType type;
    double offset;
    double x_coef;
    int32_t value;
    int32_t want;
  } cases[] = {
      {piston, 10, 0, INT32_MIN + 5, INT32_MIN + 5},
      {piston, 10, 0, INT32_MIN + 10, INT32_MIN},
      {piston, -10, 0, PHASE_INVALID - 5, PHASE_INVALID - 5},
      {piston, -10, 0, PHASE_INVALID - 11, PHASE_INVALID - 1},
      {piston, 3e9, 0, 2000000000, -1000000000},
      {piston, -3e9, 0, -2000000000, 1000000000},
      {plane, 3e9, 0.25, 2000000000, -1000000000},
      {sphere, -3e9, 0, -2000000000, 1000000000},
      {cylinder, 1e12, 0, 7, 7},
  };
  for (const auto& c : cases) {
    TestMap t(Window{0, 0, 1, 1}, c.value);
    SurfaceFit f = make_fit(c.type, 0, 0);
    f.offset = c.offset;
    f.x_coef = c.x_coef;
    ASSERT_EQ(remove_region(t.map, t.map.window, f), NO_ERROR);
    EXPECT_EQ(t.values()[0], c.want) << c.type << " " << c.offset << " " << c.value;
  }
}

// The fixed-point removal against a plain double evaluation rounded half away from zero over
// large windows. The pairs lose less than 2^-30 per split and per step, so a value may round
// the other way only within (4 + width + height) 2^-30, plus the double evaluation's own
// rounding, of a half; exact halves may go either way (they move away from the pair's integer
// part). Everywhere else the two must agree exactly.
struct LargeCase {
  FitType type;
  bool dyadic;  // coefficients with few fraction bits: no split loses anything
  int16_t center_x;
  int16_t center_y;
};

class FixedPointRemoval : public testing::TestWithParam<LargeCase> {};

TEST_P(FixedPointRemoval, AgreesWithDoubleEvaluationExceptNearHalves) {
  const LargeCase& c = GetParam();
  std::mt19937_64 rng(static_cast<uint64_t>(static_cast<int>(c.type) * 10 + c.dyadic + c.center_y));
  const Window map_window{-40, 30, 2000, 1100};
  TestMap t(map_window);
  fill_random(t, rng, -1000000, 1000000, 0.05);
  const std::vector<int32_t> before_values = t.values();
  const Window w{-31, 37, 1990, 1090};

  std::uniform_real_distribution<double> u(-1, 1);
  auto coef = [&](double scale, int bits) {
    const double v = u(rng) * scale;
    return c.dyadic ? std::round(std::ldexp(v, bits)) / std::ldexp(1.0, bits) : v;
  };
  SurfaceFit f = make_fit(c.type, c.center_x, c.center_y);
  f.offset = coef(1e5, 1);
  if (c.type != piston) {
    f.x_coef = coef(50, 3);
    f.y_coef = coef(50, 4);
  }
  if (c.type == sphere) f.x2y2_coef = coef(5e-3, 12);
  if (c.type == cylinder) {
    f.xy_coef = coef(5e-3, 12);
    f.x2_coef = coef(5e-3, 11);
    f.y2_coef = coef(5e-3, 13);
  }
  ASSERT_EQ(remove_region(t.map, w, f), NO_ERROR);

  const double step_loss = (4.0 + w.width + w.height) * std::ldexp(1.0, -30);
  const double eps = std::numeric_limits<double>::epsilon();
  int64_t halves = 0;
  int64_t near = 0;
  int64_t differ = 0;
  std::string fault;  // the first pixel that breaks the rule
  for (int py = map_window.y; py < map_window.y + map_window.height && fault.empty(); ++py) {
    for (int px = map_window.x; px < map_window.x + map_window.width; ++px) {
      const int32_t v = before_values[static_cast<size_t>((py - map_window.y) * map_window.width +
                                                          (px - map_window.x))];
      const int32_t got = t.at(px, py);
      const bool inside = px >= w.x && px < w.x + w.width && py >= w.y && py < w.y + w.height;
      if (!inside || v >= PHASE_INVALID) {
        if (got != v) fault = "untouched pixel changed";
      } else {
        const double x = px - c.center_x;
        const double y = py - c.center_y;
        const double s = surface_at(f, x, y);
        const double magnitude = std::fabs(f.offset) + std::fabs(f.x_coef * x) +
                                 std::fabs(f.y_coef * y) +
                                 (std::fabs(f.x2y2_coef) + std::fabs(f.x2_coef) +
                                  std::fabs(f.y2_coef) + std::fabs(f.xy_coef)) *
                                     (x * x + y * y);
        const double tolerance = c.dyadic ? 0.0 : step_loss + 32 * eps * magnitude;
        const double d = distance_to_half(s);
        halves += d == 0;
        near += d <= tolerance;
        const int64_t want = v - round_half_away(s);
        if (got != want) {
          ++differ;
          if (std::llabs(got - want) != 1 || d > tolerance) {
            fault = "got " + std::to_string(got) + " want " + std::to_string(want) + " surface " +
                    std::to_string(s);
          }
        }
      }
      if (!fault.empty()) {
        fault += " at " + std::to_string(px) + "," + std::to_string(py);
        break;
      }
    }
  }
  ASSERT_EQ(fault, "");
  if (c.dyadic && c.type != piston) {
    EXPECT_GT(halves, 0) << "no exact half exercised";
  }
  EXPECT_LE(differ, near);
  RecordProperty("exact_halves", std::to_string(halves));
  RecordProperty("differing", std::to_string(differ));
}

std::vector<LargeCase> large_cases() {
  std::vector<LargeCase> cases;
  for (FitType type : ALL_FIT_TYPES) {
    for (bool dyadic : {false, true}) {
      cases.push_back({type, dyadic, 950, 580});     // origin inside the window
      cases.push_back({type, dyadic, 12000, 9000});  // far outside: large coordinates
    }
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Fit, FixedPointRemoval, testing::ValuesIn(large_cases()),
                         [](const testing::TestParamInfo<LargeCase>& info) {
                           const LargeCase& c = info.param;
                           return "type" + std::to_string(static_cast<int>(c.type)) +
                                  (c.dyadic ? "_dyadic" : "_random") + "_centre" +
                                  std::to_string(c.center_x);
                         });

// The kernels (closed-form plane spans, 32-bit lanes below 2^29, work over a part of the
// window) against the scheme stepped pixel by pixel over the whole window: the same integers,
// to the last pixel, for remove_surface over a whole window and over a random part of it in the
// window's frame, and a plane's totals of the part's rows without writing them. Dyadic coefficients put many pixels exactly on halves and on carry boundaries.
struct SchemeCase {
  FitType type;
  int bits;          // fraction bits of the coefficients; 0: random doubles
  double magnitude;  // of the offset; beyond 2^29 the kernels leave the 32-bit lanes
  int centre;        // 0: inside the window, 1: far outside it, 2: the window's own (-1)
};

void PrintTo(const SchemeCase& c, std::ostream* os) {
  *os << "type " << c.type << ", " << c.bits << " fraction bits, offset up to " << c.magnitude
      << ", centre " << c.centre;
}

class SchemeAgreement : public testing::TestWithParam<SchemeCase> {};

TEST_P(SchemeAgreement, KernelsSubtractTheIntegersOfTheSteppedScheme) {
  const SchemeCase& c = GetParam();
  std::mt19937_64 rng(
      static_cast<uint64_t>(static_cast<int>(c.type) * 1000 + c.bits * 10 + c.centre) +
      static_cast<uint64_t>(c.magnitude));
  std::uniform_real_distribution<double> u(-1, 1);
  auto coef = [&](double scale) {
    const double v = u(rng) * scale;
    return c.bits == 0 ? v : std::round(std::ldexp(v, c.bits)) / std::ldexp(1.0, c.bits);
  };
  auto draw = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  SurfaceWorkspace ws;  // one for every trial, as the run keeps one
  for (int trial = 0; trial < 12; ++trial) {
    const Window w{static_cast<int16_t>(draw(-50, 50)), static_cast<int16_t>(draw(-50, 50)),
                   static_cast<int16_t>(draw(1, 300)), static_cast<int16_t>(draw(1, 120))};
    SurfaceFit f = make_fit(c.type, -1, -1);
    if (c.centre == 0) {
      f.center_x = static_cast<int16_t>(std::max(0, w.x + draw(0, w.width - 1)));
      f.center_y = static_cast<int16_t>(std::max(0, w.y + draw(0, w.height - 1)));
    } else if (c.centre == 1) {
      f.center_x = static_cast<int16_t>(draw(3000, 9000));
      f.center_y = static_cast<int16_t>(draw(0, 9000));
    }
    f.offset = coef(c.magnitude);
    if (c.type != piston) {
      f.x_coef = coef(c.centre == 1 ? 30 : 3);
      f.y_coef = coef(c.centre == 1 ? 30 : 3);
    }
    if (c.type == sphere) f.x2y2_coef = coef(c.centre == 1 ? 2e-3 : 0.2);
    if (c.type == cylinder) {
      f.xy_coef = coef(c.centre == 1 ? 2e-3 : 0.2);
      f.x2_coef = coef(c.centre == 1 ? 2e-3 : 0.2);
      f.y2_coef = coef(c.centre == 1 ? 2e-3 : 0.2);
    }
    // A part of the window holds the values; the padded map is invalid around it.
    const int16_t pw = static_cast<int16_t>(draw(1, w.width));
    const int16_t ph = static_cast<int16_t>(draw(1, w.height));
    const Window part{static_cast<int16_t>(w.x + draw(0, w.width - pw)),
                      static_cast<int16_t>(w.y + draw(0, w.height - ph)), pw, ph};
    TestMap whole(w, PHASE_INVALID);
    TestMap inner(part);
    fill_random(inner, rng, trial % 3 == 0 ? INT32_MIN : -2000000,
                trial % 3 == 0 ? PHASE_INVALID - 1 : 2000000, 0.1);
    for (int py = part.y; py < part.y + part.height; ++py)
      for (int px = part.x; px < part.x + part.width; ++px) whole.at(px, py) = inner.at(px, py);

    std::vector<int32_t> want = whole.values();
    subtract_reference::remove(want, w, f);
    TestMap full(whole);
    ASSERT_EQ(remove_region(full.map, w, f), NO_ERROR);
    ASSERT_EQ(full.values(), want) << "remove_surface, trial " << trial;
    // A plane's totals of a range of rows, read without writing them: those of the rows written.
    const int first = draw(0, ph - 1);
    const bool squares = trial % 2 == 0;
    std::vector<ValueTotals> totals(static_cast<size_t>(ph - first));
    if (c.type == plane) {
      SubtractionPlan reading{};
      ASSERT_EQ(reading_plan_begin(map_view(inner.map), w, f, ws, &reading), NO_ERROR);
      subtracted_totals(reading, first, ph - first, squares, totals.data());
    }
    ASSERT_EQ(remove_surface(map_view(inner.map), w, f, ws), NO_ERROR);
    for (int row = first; c.type == plane && row < ph; ++row) {
      int64_t count = 0, sum = 0;
      uint64_t sq_low = 0, sq_high = 0;  // 128 bits
      for (int px = part.x; px < part.x + part.width; ++px) {
        const int32_t v = inner.at(px, part.y + row);
        if (v >= PHASE_INVALID) continue;
        ++count;
        sum += v;
        const auto square = static_cast<uint64_t>(static_cast<int64_t>(v) * v);
        sq_low += square;
        sq_high += sq_low < square;
      }
      const ValueTotals& t = totals[static_cast<size_t>(row - first)];
      ASSERT_EQ(t.count, count) << "trial " << trial << " row " << row;
      ASSERT_EQ(t.sum, sum) << "trial " << trial << " row " << row;
      ASSERT_EQ(t.squares_low, squares ? sq_low : 0u) << "row " << row;
      ASSERT_EQ(t.squares_high, squares ? sq_high : 0u) << "row " << row;
    }
    for (int py = part.y; py < part.y + part.height; ++py)
      for (int px = part.x; px < part.x + part.width; ++px)
        ASSERT_EQ(inner.at(px, py), want[static_cast<size_t>((py - w.y) * w.width + (px - w.x))])
            << "remove_surface in the frame, trial " << trial << " at " << px << "," << py;
  }
  surface_workspace_free(ws);
}

std::vector<SchemeCase> scheme_cases() {
  std::vector<SchemeCase> cases;
  for (FitType type : ALL_FIT_TYPES)
    for (int bits : {0, 2, 6})
      for (double magnitude : {1e5, 3e9})
        for (int centre : {0, 1, 2}) cases.push_back({type, bits, magnitude, centre});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Fit, SchemeAgreement, testing::ValuesIn(scheme_cases()),
                         [](const testing::TestParamInfo<SchemeCase>& info) {
                           const SchemeCase& c = info.param;
                           return "type" + std::to_string(static_cast<int>(c.type)) + "_bits" +
                                  std::to_string(c.bits) +
                                  (c.magnitude > 1e9 ? "_wide" : "_narrow") + "_centre" +
                                  std::to_string(c.centre);
                         });

// The frame's own checks, each leaving the view unchanged.
TEST(RemoveSurface, RefusesWhatTheCallOverThePaddedMapRefuses) {
  const struct {
    SurfaceFit fit;
    Window window;
    ErrorCode rc;
  } cases[] = {
      {with(plane, 1, 0.5, 0), Window{0, 0, 0, 5}, ERR_IMPROPER_WINDOW},  // no width
      {with(plane, 1, 0.5, 0), Window{3, 0, 8, 8}, ERR_IMPROPER_WINDOW},  // map sticks out
      {with(FitType{5}, 1, 0.5, 0), Window{0, 0, 8, 8}, ERR_PARAM_OUT_OF_RANGE},
      {with(sphere, 0, 0, 1e40), Window{-5, -5, 20, 20}, ERR_FP_OVERFLOW},
  };
  for (const auto& c : cases) {
    TestMap t(Window{1, 1, 4, 4}, 5);
    SurfaceWorkspace ws;
    EXPECT_EQ(remove_surface(map_view(t.map), c.window, c.fit, ws), c.rc);
    for (int32_t v : t.values()) EXPECT_EQ(v, 5);
    surface_workspace_free(ws);
  }
}

// A workspace that cannot grow fails the sphere and cylinder, leaving the map unchanged.
TEST(RemoveSurface, WorkspaceThatCannotGrowIsReported) {
  for (FitType type : {sphere, cylinder}) {
    TestMap t(Window{0, 0, 9, 4}, 5);
    FailingAllocator fail(1);
    EXPECT_EQ(remove_region(t.map, t.map.window, with(type, 1, 0.5, 0.25)), ERR_NO_MEM);
    for (int32_t v : t.values()) EXPECT_EQ(v, 5);
  }
}

}  // namespace

}  // namespace harnix
