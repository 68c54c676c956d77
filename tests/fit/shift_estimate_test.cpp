#include "fit/shift_estimate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "support/test_maps.h"

namespace harnix {

namespace {

constexpr int16_t W = 96, H = 80;
constexpr int32_t BOUND = 8;
constexpr double PI_VALUE = 3.14159265358979323846;

// A textured surface: plane-free sums of sines of random direction, wavelength and phase on a
// curved form, evaluated exactly at any position so that fractional shifts are exact.
struct Texture {
  struct Wave {
    double kx, ky, phase, amplitude;
  };
  std::vector<Wave> waves;
  double sag = 0.0;

  double at(double x, double y) const {
    double h = sag * ((x - W / 2) * (x - W / 2) + (y - H / 2) * (y - H / 2));
    for (const Wave& w : waves) h += w.amplitude * std::sin(w.kx * x + w.ky * y + w.phase);
    return h;
  }
};

Texture random_texture(std::mt19937& rng, int waves, double lo_wavelength, double hi_wavelength) {
  std::uniform_real_distribution<double> u(0.0, 1.0);
  Texture t;
  t.sag = 0.5 * u(rng);
  for (int i = 0; i < waves; ++i) {
    const double wavelength = lo_wavelength + (hi_wavelength - lo_wavelength) * u(rng);
    const double angle = 2.0 * PI_VALUE * u(rng);
    const double k = 2.0 * PI_VALUE / wavelength;
    t.waves.push_back({k * std::cos(angle), k * std::sin(angle), 2.0 * PI_VALUE * u(rng),
                       1000.0 * wavelength / hi_wavelength});
  }
  return t;
}

// What a measurement adds to the surface it sees.
struct Acquisition {
  double shift_x = 0.0, shift_y = 0.0;  // the surface appears moved by this
  double noise = 0.0;                   // counts
  double tilt = 0.0;                    // counts a pixel, largest
  bool window = false;                  // cut up to a tenth of each side
  double invalid = 0.0;                 // share, half in blobs, half scattered
};

// One measurement of `t` on a W x H camera.
void measure(const Texture& t, const Acquisition& a, std::mt19937& rng, OwnedPhase* out,
             bool noise_only = false) {
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::normal_distribution<double> gauss(0.0, 1.0);
  Window w{0, 0, W, H};
  if (a.window) {
    const int left = int(u(rng) * W / 10), right = int(u(rng) * W / 10);
    const int top = int(u(rng) * H / 10), bottom = int(u(rng) * H / 10);
    w = Window{int16_t(left), int16_t(top), int16_t(W - left - right), int16_t(H - top - bottom)};
  }
  OwnedPhase& m = *out;
  m.m.window = w;
  ASSERT_EQ(NO_ERROR, map_alloc(m.m));
  const double piston = 5000.0 * u(rng), tx = a.tilt * (2 * u(rng) - 1), ty = a.tilt * (2 * u(rng) - 1);
  for (int y = w.y; y < w.y + w.height; ++y)
    for (int x = w.x; x < w.x + w.width; ++x) {
      const double h = (noise_only ? 0.0 : t.at(x - a.shift_x, y - a.shift_y)) + piston + tx * x +
                       ty * y + a.noise * gauss(rng);
      m.at(x, y) = int32_t(std::lround(h));
    }
  // Blobs first, then scattered points, each half of the share asked for.
  const double blob_budget = a.invalid / 2 * W * H;
  for (double covered = 0.0; covered < blob_budget;) {
    const double r = 1.5 + 5.0 * u(rng), cx = W * u(rng), cy = H * u(rng);
    covered += PI_VALUE * r * r;
    for (int y = w.y; y < w.y + w.height; ++y)
      for (int x = w.x; x < w.x + w.width; ++x)
        if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r) m.at(x, y) = PHASE_INVALID;
  }
  for (uint32_t i = 0; i < m.m.size; ++i)
    if (u(rng) < a.invalid / 2) m.m.matrix[i] = PHASE_INVALID;
}

struct Pair {
  ShiftPyramid reference, input;
  Pair() {
    shift_pyramid_init(reference);
    shift_pyramid_init(input);
  }
  ~Pair() {
    shift_pyramid_free(reference);
    shift_pyramid_free(input);
  }
  ShiftEstimate estimate(const PhaseMap& a, const PhaseMap& b, int32_t bound = BOUND) {
    const int32_t levels = shift_levels(bound, W, H);
    EXPECT_EQ(NO_ERROR, shift_pyramid_build(a, levels, &reference));
    EXPECT_EQ(NO_ERROR, shift_pyramid_build(b, levels, &input));
    ShiftEstimate e;
    EXPECT_EQ(NO_ERROR, estimate_shift(reference, input, ShiftSearch{bound, 0.25}, &e));
    return e;
  }
};

// Generated pairs: shifts up to the bound both ways (whole shifts at the bound included), noise,
// tilt, windows and 30 % invalid pixels in blobs and scattered points. Fractions stay 0.1 pixel
// clear of a half, where the nearest whole shift is not defined to better than the noise. Every
// whole shift must be found, and the rests within 0.05 pixel RMS.
void sweep(int count, uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  double rest_error2 = 0.0;
  int pairs = 0;
  Pair pair;
  for (int k = 0; k < count; ++k) {
    const Texture t = random_texture(rng, 10, 6.0, 40.0);
    Acquisition ref, in;
    ref.noise = in.noise = 20.0 + 40.0 * u(rng);
    ref.tilt = in.tilt = 30.0;
    ref.window = in.window = true;
    ref.invalid = in.invalid = 0.30;
    const int whole_x = k % 17 - BOUND, whole_y = (k / 17) % 17 - BOUND;
    const double fx = k % 5 == 0 ? 0.0 : 0.8 * u(rng) - 0.4, fy = k % 7 == 0 ? 0.0 : 0.8 * u(rng) - 0.4;
    in.shift_x = whole_x + fx;
    in.shift_y = whole_y + fy;
    OwnedPhase a(Window{0, 0, 1, 1}), b(Window{0, 0, 1, 1});
    measure(t, ref, rng, &a);
    measure(t, in, rng, &b);
    const ShiftEstimate e = pair.estimate(a.m, b.m);
    ASSERT_EQ(ShiftVerdict::FOUND, e.verdict) << k << ": " << shift_verdict_text(e.verdict);
    ASSERT_EQ(whole_x, e.shift_x) << k;
    ASSERT_EQ(whole_y, e.shift_y) << k;
    EXPECT_GT(e.score, 0.9) << k;
    EXPECT_GT(e.overlap, 0.3) << k;
    rest_error2 += (e.rest_x - fx) * (e.rest_x - fx) + (e.rest_y - fy) * (e.rest_y - fy);
    pairs += 2;
  }
  const double rms = std::sqrt(rest_error2 / pairs);
  EXPECT_LT(rms, 0.05);
  std::printf("%d pairs: every whole shift found, rest %.4f pixel RMS\n", count, rms);
}

TEST(ShiftEstimate, SweepOfFortyPairs) { sweep(40, 17); }
TEST(ShiftEstimate, SweepOfSixHundredPairs) { sweep(600, 20261209); }

enum class Case { FLAT, PERIODIC, NOISE, FEW_PIXELS, APART, BEYOND };

struct Refusal {
  Case what;
  ShiftVerdict expected;
  ShiftVerdict or_else;  // an equally true reason
};

class ShiftRefusal : public ::testing::TestWithParam<Refusal> {};

// Never a wrong shift with a passing verdict: each kind of map that cannot be aligned is refused
// with its reason, on several draws.
TEST_P(ShiftRefusal, IsRefusedWithItsReason) {
  std::mt19937 rng(77 + int(GetParam().what));
  Pair pair;
  for (int draw = 0; draw < 8; ++draw) {
    Texture t = random_texture(rng, 10, 6.0, 40.0);
    Acquisition ref, in;
    ref.noise = in.noise = 30.0;
    ref.tilt = in.tilt = 30.0;
    ref.invalid = in.invalid = 0.1;
    in.shift_x = 3.2;
    in.shift_y = -2.1;
    bool noise_only = false;
    switch (GetParam().what) {
      case Case::FLAT: noise_only = true; break;
      case Case::PERIODIC:
        t.waves = {{2 * PI_VALUE / 5, 0.0, 0.3, 1000.0}, {0.0, 2 * PI_VALUE / 4, 1.1, 800.0}};
        break;
      case Case::NOISE:
        t.waves.clear();
        t.sag = 0.0;
        ref.noise = in.noise = 1000.0;
        break;
      case Case::FEW_PIXELS: ref.invalid = 1.99; break;
      case Case::APART: ref.invalid = in.invalid = 0.0; break;
      case Case::BEYOND: in.shift_x = 15.0; break;
    }
    OwnedPhase a(Window{0, 0, 1, 1}), b(Window{0, 0, 1, 1});
    measure(t, ref, rng, &a, noise_only);
    measure(t, in, rng, &b, noise_only);
    if (GetParam().what == Case::APART) {  // columns 0..39 against 44..83: at most 5 in common
      for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
          if (x >= 40) a.at(x, y) = PHASE_INVALID;
          if (x < 44 || x >= 84) b.at(x, y) = PHASE_INVALID;
        }
    }
    const ShiftEstimate e = pair.estimate(a.m, b.m);
    EXPECT_TRUE(e.verdict == GetParam().expected || e.verdict == GetParam().or_else)
        << draw << ": " << shift_verdict_text(e.verdict) << " at " << e.shift_x << ", "
        << e.shift_y << " score " << e.score;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Maps, ShiftRefusal,
    ::testing::Values(
        Refusal{Case::FLAT, ShiftVerdict::NO_PEAK, ShiftVerdict::NO_PEAK},
        Refusal{Case::PERIODIC, ShiftVerdict::SEVERAL_PEAKS, ShiftVerdict::SEVERAL_PEAKS},
        Refusal{Case::NOISE, ShiftVerdict::NO_PEAK, ShiftVerdict::NO_PEAK},
        Refusal{Case::FEW_PIXELS, ShiftVerdict::TOO_FEW_PIXELS, ShiftVerdict::TOO_FEW_PIXELS},
        Refusal{Case::APART, ShiftVerdict::TOO_LITTLE_OVERLAP, ShiftVerdict::TOO_LITTLE_OVERLAP},
        // Beyond the bound the search sees either the edge of the peak or no single one.
        Refusal{Case::BEYOND, ShiftVerdict::BEYOND_BOUND, ShiftVerdict::SEVERAL_PEAKS}));

// A copy moved by whole pixels is found exactly, with no rest and a perfect score, however large
// the bound (several levels) and whichever way it moved.
TEST(ShiftEstimate, WholeCopyIsFoundExactlyAtEveryBound) {
  std::mt19937 rng(5);
  const Texture t = random_texture(rng, 12, 5.0, 30.0);
  Pair pair;
  for (const int32_t bound : {0, 1, 3, 8, 20}) {
    const int32_t sx = bound, sy = -bound / 2;
    Acquisition moved;
    moved.shift_x = sx;
    moved.shift_y = sy;
    std::mt19937 same_a(9), same_b(9);
    OwnedPhase a(Window{0, 0, 1, 1}), b(Window{0, 0, 1, 1});
    measure(t, Acquisition{}, same_a, &a);
    measure(t, moved, same_b, &b);
    const ShiftEstimate e = pair.estimate(a.m, b.m, bound);
    EXPECT_EQ(ShiftVerdict::FOUND, e.verdict) << bound;
    EXPECT_EQ(sx, e.shift_x) << bound;
    EXPECT_EQ(sy, e.shift_y) << bound;
    EXPECT_NEAR(0.0, e.rest_x, 0.02) << bound;
    EXPECT_NEAR(1.0, e.score, 1e-9) << bound;
  }
}

TEST(ShiftEstimate, BadArgumentsAreRefused) {
  ShiftPyramid p, q;
  shift_pyramid_init(p);
  shift_pyramid_init(q);
  OwnedPhase empty(Window{0, 0, 1, 1});
  map_free(empty.m);
  EXPECT_EQ(ERR_INVALID_PARAM, shift_pyramid_build(empty.m, 1, &p));
  OwnedPhase one(Window{0, 0, 40, 40}, 7);
  EXPECT_EQ(ERR_PARAM_OUT_OF_RANGE, shift_pyramid_build(one.m, 0, &p));
  EXPECT_EQ(ERR_PARAM_OUT_OF_RANGE, shift_pyramid_build(one.m, MAX_SHIFT_LEVELS + 1, &p));
  ASSERT_EQ(NO_ERROR, shift_pyramid_build(one.m, 2, &p));
  ASSERT_EQ(NO_ERROR, shift_pyramid_build(one.m, 1, &q));
  ShiftEstimate e;
  EXPECT_EQ(ERR_PARAM_OUT_OF_RANGE, estimate_shift(p, q, ShiftSearch{4, 0.5}, &e));
  EXPECT_EQ(ERR_PARAM_OUT_OF_RANGE, estimate_shift(p, p, ShiftSearch{-1, 0.5}, &e));
  EXPECT_EQ(ERR_PARAM_OUT_OF_RANGE, estimate_shift(p, p, ShiftSearch{4, 0.0}, &e));
  EXPECT_EQ(ERR_PARAM_OUT_OF_RANGE,
            estimate_shift(p, p, ShiftSearch{MAX_SHIFT_BOUND + 1, 0.5}, &e));
  EXPECT_EQ(NO_ERROR, estimate_shift(p, p, ShiftSearch{4, 0.5}, &e));
  EXPECT_EQ(ShiftVerdict::NO_PEAK, e.verdict);  // a constant map: nothing to align on
  shift_pyramid_free(p);
  shift_pyramid_free(q);
}

}  // namespace

}  // namespace harnix
