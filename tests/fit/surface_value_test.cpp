#include "fit/surface_value.h"

#include <gtest/gtest.h>

#include <random>

#include "fit/least_squares.h"
#include "fit/subtract.h"
#include "reference/fit_reference.h"
#include "support/fit_calls.h"

namespace harnix {

namespace {

using enum FitType;

// The double surface and the integers remove_surface takes off describe one surface: away from
// halves, where the fixed-point rounding may go either way, each integer is the nearest one.
// A window away from the camera origin catches any slip between map and window coordinates.
TEST(SurfaceValue, RoundsToTheIntegersRemoveSurfaceTakesOff) {
  std::mt19937_64 rng(11);
  for (FitType type : ALL_FIT_TYPES) {
    const Window w{37, -12, 64, 41};
    TestMap t(w);
    fill_random(t, rng, -200000, 200000, 0.05);
    SurfaceFit fit{};
    ASSERT_EQ(NO_ERROR, fit_region(t.map, nullptr, type, &fit));
    TestMap removed(t);
    ASSERT_EQ(NO_ERROR, remove_region(removed.map, w, fit));
    int compared = 0;
    for (int py = w.y; py < w.y + w.height; ++py)
      for (int px = w.x; px < w.x + w.width; ++px) {
        const double s = surface_value(fit, px, py);
        if (t.at(px, py) >= PHASE_INVALID || distance_to_half(s) < 1e-6) continue;
        EXPECT_EQ(round_half_away(s), int64_t{t.at(px, py)} - removed.at(px, py))
            << "type " << type << " at " << px << ", " << py;
        ++compared;
      }
    EXPECT_GT(compared, 2000) << type;
  }
}

}  // namespace

}  // namespace harnix
