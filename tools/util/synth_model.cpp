#include "util/synth_model.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "maps/storage.h"
#include "util/prng.h"

namespace harnix {

namespace {

constexpr double PI_VALUE = 3.14159265358979323846;
constexpr int32_t FIRST_TIME_STAMP = 1767225600;  // 2026-01-01 00:00:00 UTC
constexpr float PIXEL_SIZE = 7.4e-6f;            // metres
constexpr double NOISE_SIGMA = 1.5e-9;           // metres, per pixel and file
constexpr double FILE_PISTON = 10e-9;            // metres, largest piston of one file
constexpr double FILE_TILT = 20e-9;              // metres across half the field
constexpr int32_t MAX_CLUSTERS = 10000;

struct Acquisition {
  int16_t phase_res;
  float scale_factor;
  float wavelength;
  float obliquity;
};

Acquisition choose_acquisition(bool mixed, Prng& p) {
  static const float SCALE_FACTORS[] = {0.5f, 1.0f};
  static const float WAVELENGTHS[] = {6.328e-7f, 5.32e-7f};
  static const float OBLIQUITIES[] = {1.0f, 1.02f};
  if (!mixed) return {PHASE_RES_HIGH, 0.5f, 6.328e-7f, 1.0f};
  Acquisition a;
  a.phase_res = int16_t(prng_below(p, 3));
  a.scale_factor = SCALE_FACTORS[prng_below(p, 2)];
  a.wavelength = WAVELENGTHS[prng_below(p, 2)];
  a.obliquity = OBLIQUITIES[prng_below(p, 2)];
  return a;
}

Window choose_window(const SynthSettings& s, Prng& p) {
  if (!s.windows) return Window{0, 0, int16_t(s.width), int16_t(s.height)};
  // Up to a sixth of the field may be cut from each side.
  const uint32_t cut_x = uint32_t(s.width / 6 + 1);
  const uint32_t cut_y = uint32_t(s.height / 6 + 1);
  const int32_t left = int32_t(prng_below(p, cut_x));
  const int32_t right = int32_t(prng_below(p, cut_x));
  const int32_t top = int32_t(prng_below(p, cut_y));
  const int32_t bottom = int32_t(prng_below(p, cut_y));
  const int32_t width = std::max(1, s.width - left - right);
  const int32_t height = std::max(1, s.height - top - bottom);
  return Window{int16_t(std::min(left, s.width - 1)), int16_t(std::min(top, s.height - 1)),
                int16_t(width), int16_t(height)};
}

int32_t round_half_away(double v) {
  return int32_t(v >= 0.0 ? std::floor(v + 0.5) : std::ceil(v - 0.5));
}

// Discs of invalid pixels until about `percent` of the camera field is covered.
void add_clusters(const SynthSettings& s, double percent, Prng& p, PhaseMap& map) {
  const double budget = percent / 100.0 * double(s.width) * double(s.height);
  const double max_radius = std::max(2.0, std::min(s.width, s.height) / 25.0);
  double covered = 0.0;
  const Window& w = map.window;
  for (int32_t n = 0; n < MAX_CLUSTERS && covered < budget; ++n) {
    const double r = prng_range(p, 1.5, max_radius);
    const double cx = prng_range(p, 0.0, s.width);
    const double cy = prng_range(p, 0.0, s.height);
    covered += PI_VALUE * r * r;
    const int32_t x0 = std::max<int32_t>(w.x, int32_t(std::floor(cx - r)));
    const int32_t x1 = std::min<int32_t>(w.x + w.width - 1, int32_t(std::ceil(cx + r)));
    const int32_t y0 = std::max<int32_t>(w.y, int32_t(std::floor(cy - r)));
    const int32_t y1 = std::min<int32_t>(w.y + w.height - 1, int32_t(std::ceil(cy + r)));
    for (int32_t y = y0; y <= y1; ++y)
      for (int32_t x = x0; x <= x1; ++x) {
        const double dx = x + 0.5 - cx;
        const double dy = y + 0.5 - cy;
        if (dx * dx + dy * dy <= r * r) *map_point(map, x, y) = PHASE_INVALID;
      }
  }
}

}  // namespace

SurfaceModel make_surface_model(uint64_t seed) {
  Prng p{seed ^ 0x5EED5EED5EED5EEDull};
  SurfaceModel m;
  m.tilt_x = prng_range(p, -0.6e-6, 0.6e-6);
  m.tilt_y = prng_range(p, -0.6e-6, 0.6e-6);
  m.sag = prng_range(p, 0.2e-6, 0.5e-6);
  m.wave_amplitude = prng_range(p, 5e-9, 20e-9);
  m.wave_fx = prng_range(p, 2.0, 6.0);
  m.wave_fy = prng_range(p, 1.0, 4.0);
  m.wave_phase = prng_range(p, 0.0, 2.0 * PI_VALUE);
  return m;
}

ErrorCode make_measurement(const SynthSettings& s, const SurfaceModel& surface, int32_t index,
                           DataAttributes* attributes, PhaseMap* phase) {
  Prng p{s.seed * 0x2545F4914F6CDD1Dull + uint64_t(index) * 0x9E3779B97F4A7C15ull};
  const Acquisition acq = choose_acquisition(s.mixed, p);
  const Window window = choose_window(s, p);
  const double piston = prng_range(p, -FILE_PISTON, FILE_PISTON);
  const double tilt_x = prng_range(p, -FILE_TILT, FILE_TILT);
  const double tilt_y = prng_range(p, -FILE_TILT, FILE_TILT);

  DataAttributes& a = *attributes;
  std::memset(&a, 0, sizeof a);
  a.TimeStamp = FIRST_TIME_STAMP + index * 60 + int32_t(prng_below(p, 30));
  std::snprintf(a.comment, sizeof a.comment, "Synthetic measurement %d, seed %llu", int(index + 1),
                static_cast<unsigned long long>(s.seed));
  a.IntfScaleFactor = acq.scale_factor;
  a.WavelengthIn = acq.wavelength;
  a.ObliquityFactor = acq.obliquity;
  a.CameraRes = PIXEL_SIZE;
  a.PhaseRes = acq.phase_res;
  a.CameraWidth = int16_t(s.width);
  a.CameraHeight = int16_t(s.height);
  a.PixelWidth = PIXEL_SIZE;
  a.PixelHeight = PIXEL_SIZE;
  a.ZoomMag = 1.0f;

  map_init(*phase);
  phase->window = window;
  const ErrorCode rc = map_alloc(*phase);
  if (rc != NO_ERROR) return rc;

  const double counts_per_metre =
      double(phase_res_counts(acq.phase_res)) /
      (double(acq.scale_factor) * double(acq.obliquity) * double(acq.wavelength));
  const double half_w = std::max(1.0, (s.width - 1) / 2.0);
  const double half_h = std::max(1.0, (s.height - 1) / 2.0);
  const double scattered = std::clamp(s.invalid_percent, 0.0, 100.0) / 200.0;
  for (int32_t row = 0; row < window.height; ++row) {
    int32_t* out = phase->matrix + std::size_t(row) * std::size_t(window.width);
    const double y = (window.y + row - (s.height - 1) / 2.0) / half_h;
    for (int32_t col = 0; col < window.width; ++col) {
      const double x = (window.x + col - (s.width - 1) / 2.0) / half_w;
      const double common =
          surface.tilt_x * x + surface.tilt_y * y + surface.sag * (x * x + y * y) +
          surface.wave_amplitude *
              std::sin(2.0 * PI_VALUE * (surface.wave_fx * x + surface.wave_fy * y) / 2.0 +
                       surface.wave_phase);
      const double h = common + piston + tilt_x * x + tilt_y * y + NOISE_SIGMA * prng_normal(p);
      out[col] =
          prng_uniform(p) < scattered ? PHASE_INVALID : round_half_away(h * counts_per_metre);
    }
  }
  add_clusters(s, std::clamp(s.invalid_percent, 0.0, 100.0) / 2.0, p, *phase);
  return NO_ERROR;
}

}  // namespace harnix
