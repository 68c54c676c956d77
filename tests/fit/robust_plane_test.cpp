#include "fit/robust_plane.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "fit/least_squares.h"
#include "fit/remove.h"
#include "fit/sg_filter.h"
#include "fit/subtract.h"
#include "maps/storage.h"
#include "support/fit_calls.h"
#include "support/test_maps.h"

namespace harnix {

namespace {

constexpr double TRUE_X = 3.3, TRUE_Y = -1.7;

// Noise of +-20 with a triangular spread.
int noise(std::mt19937& rng) {
  return static_cast<int>(rng() % 21) + static_cast<int>(rng() % 21) - 20;
}

// A plane 3.3 x - 1.7 y + 500 with noise, a block of `step` height over the lower right part of
// the window, and a disc of invalid pixels.
void fill_tilted(OwnedPhase& map, int32_t step) {
  std::mt19937 rng(20240611);
  const Window& w = map.m.window;
  for (int r = 0; r < w.height; ++r) {
    for (int c = 0; c < w.width; ++c) {
      const int n = noise(rng);
      const bool on_step = c >= 120 && r >= 60;
      const bool hole = (c - 50) * (c - 50) + (r - 40) * (r - 40) < 15 * 15;
      map.cell(c, r) = hole ? PHASE_INVALID
                            : static_cast<int32_t>(std::lround(TRUE_X * c + TRUE_Y * r + 500)) + n +
                                  (on_step ? step : 0);
    }
  }
}

TEST(FitRobustPlane, SlopesIgnoreTheHeightOfAStep) {
  const Window w{10, 20, 200, 150};
  SurfaceFit first{}, first_ls{};
  for (int32_t step : {0, 10000, 30000, 300000, -20000}) {
    OwnedPhase map(w);
    fill_tilted(map, step);
    const std::vector<int32_t> before = map.values();
    SurfaceFit robust{}, ls{};
    ASSERT_EQ(NO_ERROR, fit_robust_plane(map.m, nullptr, &robust, ROBUST_PLANE_BINS)) << step;
    ASSERT_EQ(NO_ERROR, fit_region(map.m, nullptr, FitType::plane, &ls));
    EXPECT_EQ(before, map.values());
    EXPECT_EQ(FitType::plane, robust.type);
    // Central differences are rounded to whole units, which bounds the accuracy.
    EXPECT_NEAR(TRUE_X, robust.x_coef, 0.25) << step;
    EXPECT_NEAR(TRUE_Y, robust.y_coef, 0.25) << step;
    EXPECT_EQ(ls.npoints, robust.npoints);
    EXPECT_EQ(109, robust.center_x);
    EXPECT_EQ(94, robust.center_y);
    EXPECT_EQ(0.0, robust.x2y2_coef);
    if (step == 0) continue;
    if (step == 10000) {
      first = robust;
      first_ls = ls;
      continue;
    }
    EXPECT_EQ(first.x_coef, robust.x_coef) << step;
    EXPECT_EQ(first.y_coef, robust.y_coef) << step;
    EXPECT_GT(std::fabs(ls.x_coef - first_ls.x_coef), 10.0) << step;
    EXPECT_GT(std::fabs(ls.y_coef - first_ls.y_coef), 10.0) << step;
  }
}

TEST(FitRobustPlane, OffsetAndRmsAreThoseOfTheMapLessTheTilt) {
  OwnedPhase map(Window{0, 0, 60, 50});
  for (int r = 0; r < 50; ++r) {
    for (int c = 0; c < 60; ++c) map.cell(c, r) = 4 * c - 3 * r + ((c * 7 + r * 3) % 5) - 2;
  }
  SurfaceFit robust{};
  ASSERT_EQ(NO_ERROR, fit_robust_plane(map.m, nullptr, &robust, ROBUST_PLANE_BINS));
  // The residual of the de-tilted map about its mean, computed here from the slopes found.
  double sum = 0, sum2 = 0;
  for (int r = 0; r < 50; ++r) {
    for (int c = 0; c < 60; ++c) {
      const double z =
          map.cell(c, r) - std::nearbyint(robust.x_coef * (c - 29) + robust.y_coef * (r - 24));
      sum += z;
      sum2 += z * z;
    }
  }
  const double mean = sum / 3000;
  EXPECT_NEAR(mean, robust.offset, 1e-6);
  EXPECT_NEAR(std::sqrt(sum2 / 3000 - mean * mean), robust.rms, 1e-3);
  EXPECT_EQ(3000, robust.npoints);
}

TEST(FitRobustPlane, OneSlopeLeftOnAnAxisIsThatSlope) {
  // Exact integer slopes everywhere but on the edges of a block: after the trimming every slope
  // left is 2 along x and 5 along y.
  for (int32_t step : {30, 1000}) {
    OwnedPhase map(Window{0, 0, 50, 40});
    for (int r = 0; r < 40; ++r) {
      for (int c = 0; c < 50; ++c) map.cell(c, r) = 2 * c + 5 * r + (c > 30 && r > 20 ? step : 0);
    }
    SurfaceFit f{};
    ASSERT_EQ(NO_ERROR, fit_robust_plane(map.m, nullptr, &f, ROBUST_PLANE_BINS)) << step;
    EXPECT_EQ(2.0, f.x_coef) << step;
    EXPECT_EQ(5.0, f.y_coef) << step;
  }
}

TEST(FitRobustPlane, AWindowInsideTheMapIsFittedAsIfAlone) {
  // The same noisy plane alone, and inside a larger map whose other pixels would dominate.
  const Window w{10, 5, 60, 50};
  OwnedPhase alone(w);
  OwnedPhase map(Window{0, 0, 80, 60});
  std::mt19937 rng(3);
  for (int r = 0; r < 60; ++r) {
    for (int c = 0; c < 80; ++c) {
      const bool inside = c >= 10 && c < 70 && r >= 5 && r < 55;
      map.cell(c, r) = inside ? 7 * c + 2 * r + noise(rng) : 1000000 * (c % 3);
      if (inside) alone.cell(c - 10, r - 5) = map.cell(c, r);
    }
  }
  SurfaceFit f{}, g{};
  ASSERT_EQ(NO_ERROR, fit_robust_plane(map.m, &w, &f, ROBUST_PLANE_BINS));
  ASSERT_EQ(NO_ERROR, fit_robust_plane(alone.m, nullptr, &g, ROBUST_PLANE_BINS));
  EXPECT_NEAR(7.0, f.x_coef, 0.6);
  EXPECT_NEAR(2.0, f.y_coef, 0.6);
  EXPECT_EQ(g.x_coef, f.x_coef);
  EXPECT_EQ(g.y_coef, f.y_coef);
  EXPECT_EQ(g.offset, f.offset);
  EXPECT_EQ(g.rms, f.rms);
  EXPECT_EQ(39, f.center_x);
  EXPECT_EQ(29, f.center_y);
  EXPECT_EQ(3000, f.npoints);
}

struct FailCase {
  const char* what;
  Window map;
  const Window* window;
  int32_t bins;
  ErrorCode rc;
};

TEST(FitRobustPlane, Failures) {
  const Window outside{5, 5, 20, 20};
  const Window empty{2, 2, 0, 10};  // inside the map, but without a pixel
  const FailCase cases[] = {
      {"3 pixels wide", {0, 0, 3, 30}, nullptr, 500, ERR_ALL_BAD_DATA},
      {"3 pixels high", {0, 0, 30, 3}, nullptr, 500, ERR_ALL_BAD_DATA},
      {"window beyond the map", {0, 0, 20, 20}, &outside, 500, ERR_IMPROPER_WINDOW},
      {"window of zero width", {0, 0, 20, 20}, &empty, 500, ERR_IMPROPER_WINDOW},
      {"9 bins leave none for the data", {0, 0, 30, 30}, nullptr, 9, ERR_PARAM_OUT_OF_RANGE},
      {"negative bin count", {0, 0, 30, 30}, nullptr, -4, ERR_PARAM_OUT_OF_RANGE},
  };
  for (const FailCase& c : cases) {
    OwnedPhase map(c.map);
    std::mt19937 rng(5);
    for (int r = 0; r < c.map.height; ++r) {
      for (int col = 0; col < c.map.width; ++col) map.cell(col, r) = 3 * col + r + noise(rng);
    }
    SurfaceFit f{};
    f.x2_coef = 9.0;
    EXPECT_EQ(c.rc, fit_robust_plane(map.m, c.window, &f, c.bins)) << c.what;
    EXPECT_EQ(FitType::plane, f.type) << c.what;
    EXPECT_EQ(0.0, f.x2_coef) << c.what;
  }
}

TEST(FitRobustPlane, TenBinsAreEnough) {
  OwnedPhase map(Window{0, 0, 30, 30});
  std::mt19937 rng(9);
  for (int r = 0; r < 30; ++r) {
    for (int c = 0; c < 30; ++c) map.cell(c, r) = 3 * c + r + noise(rng);
  }
  SurfaceFit f{};
  EXPECT_EQ(NO_ERROR, fit_robust_plane(map.m, nullptr, &f, 10));
}

TEST(FitRobustPlane, ExactIntegerPlaneHasNoSpreadOfSlopes) {
  OwnedPhase map(Window{0, 0, 20, 20});
  for (int r = 0; r < 20; ++r) {
    for (int c = 0; c < 20; ++c) map.cell(c, r) = 3 * c - 2 * r;
  }
  SurfaceFit f{};
  EXPECT_EQ(ERR_ALL_BAD_DATA, fit_robust_plane(map.m, nullptr, &f, ROBUST_PLANE_BINS));
}

TEST(DerivativeLimits, MainPeakOfTheValues) {
  // 2000 values about 1000 with a spread of about 10, and 50 far outliers.
  OwnedPhase src(Window{0, 0, 50, 41});
  std::mt19937 rng(7);
  for (int r = 0; r < 41; ++r) {
    for (int c = 0; c < 50; ++c) {
      int v = 1000;
      for (int k = 0; k < 4; ++k) v += static_cast<int>(rng() % 11) - 5;
      src.cell(c, r) = r == 40 ? 1300 + c : v;
    }
  }
  OwnedPhase dst(Window{0, 0, 50, 41});
  int32_t low = 1, high = 1;
  ASSERT_EQ(NO_ERROR, derivative_limits(src.m, dst.m, SgKind::SMOOTH, DerivativeDirection::COPY, 3,
                                        2.0, &low, &high));
  EXPECT_EQ(src.values(), dst.values());
  // About two standard deviations (5.5) either side, the outliers well outside.
  EXPECT_LT(low, 995);
  EXPECT_GT(low, 980);
  EXPECT_GT(high, 1005);
  EXPECT_LT(high, 1020);
}

TEST(DerivativeLimits, RefusedArguments) {
  OwnedPhase src(Window{0, 0, 10, 10}, 5);
  OwnedPhase other(Window{1, 0, 10, 10});
  OwnedPhase dst(Window{0, 0, 10, 10});
  int32_t low = 1, high = 1;
  constexpr SgKind FIRST = SgKind::FIRST_DERIVATIVE;
  EXPECT_EQ(ERR_PARAM_OUT_OF_RANGE,
            derivative_limits(src.m, dst.m, FIRST, DerivativeDirection{4}, 3, 2.0, &low, &high));
  EXPECT_EQ(0, low);
  EXPECT_EQ(0, high);
  EXPECT_EQ(ERR_IMPROPER_WINDOW, derivative_limits(src.m, other.m, FIRST, DerivativeDirection::ROWS,
                                                   3, 2.0, &low, &high));
  EXPECT_EQ(ERR_ALL_BAD_DATA,
            derivative_limits(src.m, dst.m, FIRST, DerivativeDirection::COPY, 3, 2.0, &low, &high));
  EXPECT_EQ(ERR_INVALID_PARAM, derivative_limits(src.m, dst.m, FIRST, DerivativeDirection::GRADIENT,
                                                 4, 2.0, &low, &high));
}

TEST(RemoveBestFit, RobustPlaneMode) {
  OwnedPhase map(Window{10, 20, 200, 150});
  fill_tilted(map, 30000);
  const std::vector<int32_t> before = map.values();
  SurfaceFit f{}, direct{};
  ASSERT_EQ(NO_ERROR, fit_robust_plane(map.m, nullptr, &direct, ROBUST_PLANE_BINS));
  ASSERT_EQ(NO_ERROR, remove_best_fit(map.m, ROBUST_PLANE, &f));
  EXPECT_EQ(direct.x_coef, f.x_coef);
  EXPECT_EQ(direct.y_coef, f.y_coef);
  EXPECT_EQ(direct.offset, f.offset);
  EXPECT_EQ(direct.rms, f.rms);
  EXPECT_EQ(direct.npoints, f.npoints);
  for (int r = 0; r < 150; r += 7) {
    for (int c = 0; c < 200; c += 11) {
      const int32_t was = before[static_cast<std::size_t>(r) * 200 + c];
      if (was == PHASE_INVALID) {
        EXPECT_EQ(PHASE_INVALID, map.cell(c, r));
        continue;
      }
      const double z = f.offset + f.x_coef * (c - 99) + f.y_coef * (r - 74);
      EXPECT_NEAR(was - z, map.cell(c, r), 0.5 + 1e-6) << c << ", " << r;
    }
  }
}

TEST(RemoveBestFit, RobustPlaneFailureLeavesTheMap) {
  OwnedPhase map(Window{0, 0, 3, 40});
  for (int r = 0; r < 40; ++r) {
    for (int c = 0; c < 3; ++c) map.cell(c, r) = 5 * r + c * c;
  }
  const std::vector<int32_t> before = map.values();
  SurfaceFit f{};
  f.offset = 42.0;
  EXPECT_EQ(ERR_ALL_BAD_DATA, remove_best_fit(map.m, ROBUST_PLANE, &f));
  EXPECT_EQ(before, map.values());
  EXPECT_EQ(42.0, f.offset);
}

// A noisy plane of +-spread with a raised block and scattered invalid pixels, over the window.
struct NoisyPlane {
  const char* what;
  Window window;
  int32_t spread, step, base;
  double sx, sy;
  SurfaceFit fit;  // the fit expected, to the bit: type, slopes, offset, rms, points
};

void fill_noisy(OwnedPhase& map, const NoisyPlane& c) {
  std::mt19937 rng(97);
  const Window& w = map.m.window;
  for (int r = 0; r < w.height; ++r) {
    for (int col = 0; col < w.width; ++col) {
      const int n = static_cast<int>(rng() % static_cast<unsigned>(2 * c.spread + 1)) - c.spread;
      const bool hole = rng() % 40 == 0;
      const bool raised = col > w.width / 2 && r > w.height / 3;
      const double v = c.base + c.sx * (w.x + col) + c.sy * (w.y + r) + n + (raised ? c.step : 0);
      map.cell(col, r) = hole ? PHASE_INVALID : static_cast<int32_t>(std::lround(v));
    }
  }
}

SurfaceFit plane_fit(double x, double y, double offset, double rms, int32_t points) {
  SurfaceFit f{};
  f.x_coef = x;
  f.y_coef = y;
  f.offset = offset;
  f.rms = rms;
  f.npoints = points;
  return f;
}

const NoisyPlane NOISY_PLANES[] = {
    {"wide bins", {3, 2, 160, 120}, 400, 0, 20000, 2.7, -1.3,
     plane_fit(-0x1.d2cbp+2, -0x1.259p+1, 0x1.3ad27ae21e93dp+14, 0x1.030d6c629dbdfp+9, 18737)},
    {"unit bins", {0, 0, 150, 100}, 3, 0, -500, 0.4, 7.6,
     plane_fit(0x1.d3e8p-2, 0x1.f6af4p+2, -0x1.889849fa17757p+6, 0x1.ff9f32f999d78p+2, 14645)},
    {"a step", {0, 0, 200, 90}, 60, 250000, 100, -4.2, 0.9,
     plane_fit(-0x1.0d544p+2, 0x1.fbc2p-1, 0x1.3c0799bcab809p+16, 0x1.c94aa838a3684p+16, 17566)},
    {"near the top of the range", {5, 5, 90, 140}, 2000, -3000000, 2000000000, 31.0, -17.5,
     plane_fit(0x1.5d54p+4, -0x1.c848p+4, 0x1.dc9add25286c6p+30, 0x1.56e5b10eb5965p+20, 12305)},
    // Rows with samples beyond 2^23 and their neighbours take the slopes in single precision,
    // the others the same slopes in integers.
    {"large samples in a block", {1, 2, 180, 110}, 30, 9000000, -200, 1.9, -0.6,
     plane_fit(0x1.eadap+0, -0x1.3b44p-1, 0x1.68f8f7894b362p+21, 0x1.0202b96d82c99p+22, 19323)},
    {"samples about 2^23", {0, 0, 160, 120}, 40, 0, 8388000, 0.9, 3.1,
     plane_fit(0x1.dcaap-1, 0x1.c179p+1, 0x1.fffa7844f847dp+22, 0x1.bca1435674755p+4, 18737)},
};

// Every fit stays what it is, to the bit: the slopes come from histograms whose weights are exact
// sums rounded once, so they depend on the slopes alone, not on how they are gathered.
TEST(FitRobustPlane, KeepsEveryFitToTheBit) {
  for (const NoisyPlane& c : NOISY_PLANES) {
    OwnedPhase map(c.window);
    fill_noisy(map, c);
    SurfaceFit f{};
    ASSERT_EQ(NO_ERROR, fit_robust_plane(map.m, nullptr, &f, ROBUST_PLANE_BINS)) << c.what;
    EXPECT_EQ(c.fit.x_coef, f.x_coef) << c.what;
    EXPECT_EQ(c.fit.y_coef, f.y_coef) << c.what;
    EXPECT_EQ(c.fit.offset, f.offset) << c.what;
    EXPECT_EQ(c.fit.rms, f.rms) << c.what;
    EXPECT_EQ(c.fit.npoints, f.npoints) << c.what;
  }
}

// Without the residual a fit in a frame keeps every field but the rms, which stays 0.
TEST(FitRobustPlane, WithoutTheResidualOnlyTheRmsIsLeftOut) {
  for (const NoisyPlane& c : NOISY_PLANES) {
    OwnedPhase map(c.window);
    fill_noisy(map, c);
    const Window frame{0, 0, int16_t(c.window.x + c.window.width + 3),
                       int16_t(c.window.y + c.window.height + 1)};
    SurfaceWorkspace ws;
    SurfaceFit full{}, plane{};
    ASSERT_EQ(NO_ERROR, fit_robust_plane_in_frame(map.m, frame, &full, ROBUST_PLANE_BINS, ws));
    ASSERT_EQ(NO_ERROR, fit_robust_plane_in_frame(map.m, frame, &plane, ROBUST_PLANE_BINS, ws,
                                                  FitOptions{.residual = false}));
    surface_workspace_free(ws);
    EXPECT_EQ(0.0, plane.rms) << c.what;
    plane.rms = full.rms;
    EXPECT_EQ(0, std::memcmp(&full, &plane, sizeof full)) << c.what;
  }
}

// The offset and the spread are, to the bit, the piston of the whole map less the tilt found,
// however the rows fall into the pieces that are de-tilted and summed at a time: one row wider
// than a piece, rows that leave a remainder, and values near both ends of the range.
TEST(FitRobustPlane, OffsetIsThePistonOfTheWholeDetiltedMap) {
  const NoisyPlane cases[] = {
      {"rows wider than a piece", {0, 0, 20000, 4}, 300, 0, 1000, 0.8, -2.1, {}},
      {"a remainder of rows", {2, 1, 257, 131}, 40, 9000, -700, 1.6, 0.3, {}},
      {"large values", {0, 0, 300, 70}, 2000, -2000000000, 2000000000, 25.0, -9.5, {}},
  };
  for (const NoisyPlane& c : cases) {
    OwnedPhase map(c.window);
    fill_noisy(map, c);
    SurfaceFit f{};
    ASSERT_EQ(NO_ERROR, fit_robust_plane(map.m, nullptr, &f, ROBUST_PLANE_BINS)) << c.what;
    OwnedPhase detilted(c.window);
    std::copy(map.m.matrix, map.m.matrix + map.values().size(), detilted.m.matrix);
    SurfaceFit tilt = f;
    tilt.offset = 0.0;
    SurfaceWorkspace ws;
    ASSERT_EQ(NO_ERROR, remove_surface(map_view(detilted.m), c.window, tilt, ws)) << c.what;
    SurfaceFit piston{};
    ASSERT_EQ(NO_ERROR, fit_surface(map_view(detilted.m), c.window, FitType::piston, FitOptions{},
                                    ws, &piston))
        << c.what;
    surface_workspace_free(ws);
    EXPECT_EQ(piston.offset, f.offset) << c.what;
    EXPECT_EQ(piston.rms, f.rms) << c.what;
    EXPECT_EQ(piston.npoints, f.npoints) << c.what;
  }
}

// A noisy tilted plane whose rows `steep` (a set) climb 100000 and more a column, each row its
// own slope: slopes far from the others, more than a few thousand apart.
struct SteepRows {
  const char* what;
  std::vector<int> steep;
};

// The slopes are counted in a window about the median slope of the middle row, those outside it
// listed, and an axis with too many of them outside gathered slope by slope instead: every way
// gives the same fit, bit for bit. Flipping the map upside down keeps its x slopes and moves the
// middle row; transposing it swaps the axes.
TEST(FitRobustPlane, SlopesCountedListedOrGatheredGiveOneFit) {
  constexpr int W = 200, H = 100;
  std::vector<int> fifth;
  for (int r = 0; r < H; r += 5) fifth.push_back(r);
  const SteepRows cases[] = {
      {"a steep middle row", {H / 2}},          // the middle row is steep, its neighbour not
      {"a fifth of the rows steep", fifth},     // flipped: many slopes listed
      {"half the rows steep", [] {              // every way: too many outside to list
         std::vector<int> v;
         for (int r = 0; r < H; r += 2) v.push_back(r);
         return v;
       }()},
  };
  for (const SteepRows& c : cases) {
    OwnedPhase map(Window{0, 0, W, H}), flipped(Window{0, 0, W, H}), turned(Window{0, 0, H, W});
    std::mt19937 rng(11);
    for (int r = 0; r < H; ++r) {
      const bool steep = std::find(c.steep.begin(), c.steep.end(), r) != c.steep.end();
      for (int col = 0; col < W; ++col) {
        const int32_t v = (steep ? 100000 + 997 * r : 3) * col - 2 * r + noise(rng);
        map.cell(col, r) = v;
        flipped.cell(col, H - 1 - r) = v;
        turned.cell(r, col) = v;
      }
    }
    SurfaceFit f{}, g{}, t{};
    ASSERT_EQ(NO_ERROR, fit_robust_plane(map.m, nullptr, &f, ROBUST_PLANE_BINS)) << c.what;
    ASSERT_EQ(NO_ERROR, fit_robust_plane(flipped.m, nullptr, &g, ROBUST_PLANE_BINS)) << c.what;
    ASSERT_EQ(NO_ERROR, fit_robust_plane(turned.m, nullptr, &t, ROBUST_PLANE_BINS)) << c.what;
    EXPECT_NEAR(3.0, f.x_coef, 0.5) << c.what;
    EXPECT_EQ(f.x_coef, g.x_coef) << c.what;
    EXPECT_EQ(f.x_coef, t.y_coef) << c.what;
    EXPECT_EQ(f.y_coef, t.x_coef) << c.what;
  }
}

struct FrameCase {
  const char* what;
  Window frame, window;
};

// A map within a frame is fitted and removed as the frame-sized field holding it would be:
// slopes need neighbours inside the window, and a frame line of 3 samples has none.
TEST(RemoveBestFitInFrame, GivesWhatTheFieldGives) {
  const FrameCase cases[] = {
      {"inside", {0, 0, 120, 90}, {17, 9, 70, 50}},
      {"on the frame's corner", {0, 0, 120, 90}, {0, 0, 60, 90}},
      {"three columns wide", {0, 0, 120, 90}, {40, 5, 3, 70}},
      {"three rows high", {0, 0, 120, 90}, {4, 30, 100, 3}},
      {"a frame three rows high", {0, 0, 120, 3}, {10, 0, 90, 3}},
  };
  for (const int32_t mode : {ROBUST_PLANE, static_cast<int32_t>(FitType::sphere)}) {
    for (const FrameCase& c : cases) {
      OwnedPhase map(c.window);
      fill_noisy(map, NOISY_PLANES[0]);
      OwnedPhase field(c.frame, PHASE_INVALID);
      for (int r = 0; r < c.window.height; ++r)
        for (int col = 0; col < c.window.width; ++col)
          field.at(c.window.x + col, c.window.y + r) = map.cell(col, r);
      SurfaceFit want{}, got{};
      SurfaceWorkspace ws;
      const ErrorCode rc = remove_best_fit(field.m, mode, &want);
      EXPECT_EQ(rc, remove_best_fit_in_frame(map.m, c.frame, mode, &got, ws)) << c.what;
      surface_workspace_free(ws);
      EXPECT_EQ(want.x_coef, got.x_coef) << c.what;
      EXPECT_EQ(want.offset, got.offset) << c.what;
      EXPECT_EQ(want.center_x, got.center_x) << c.what;
      for (int r = 0; r < c.window.height; ++r)
        for (int col = 0; col < c.window.width; ++col)
          ASSERT_EQ(field.at(c.window.x + col, c.window.y + r), map.cell(col, r))
              << c.what << " at " << col << ", " << r;
    }
  }
  OwnedPhase map(Window{50, 0, 80, 10});
  SurfaceWorkspace ws;
  EXPECT_EQ(ERR_IMPROPER_WINDOW,
            remove_best_fit_in_frame(map.m, Window{0, 0, 120, 10}, ROBUST_PLANE, nullptr, ws));
  // A frame that runs past the 16-bit coordinates has no centre to fit about: the offset's
  // piston refuses it, with the piston's empty record.
  OwnedPhase far(Window{32000, 0, 200, 10});
  std::mt19937 rng(5);
  for (int r = 0; r < 10; ++r)
    for (int col = 0; col < 200; ++col) far.cell(col, r) = 3 * col + static_cast<int>(rng() % 7);
  SurfaceFit f{};
  EXPECT_EQ(ERR_IMPROPER_WINDOW, fit_robust_plane_in_frame(far.m, Window{30000, 0, 3000, 10}, &f,
                                                           ROBUST_PLANE_BINS, ws));
  EXPECT_EQ(FitType::piston, f.type);
  EXPECT_EQ(0, f.npoints);
  surface_workspace_free(ws);
}

}  // namespace

}  // namespace harnix
