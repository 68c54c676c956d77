#include "util/synth_model.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

#include "maps/storage.h"
#include "util/prng.h"

namespace harnix {

namespace {

constexpr double PI_VALUE = 3.14159265358979323846;
constexpr int32_t FIRST_TIME_STAMP = 1767225600;  // 2026-01-01 00:00:00 UTC
constexpr float PIXEL_SIZE = 7.4e-6f;            // metres
constexpr double NOMINAL_NOISE = 1.5e-9;  // metres: the unit of spike heights when noise is 0
constexpr int32_t MAX_CLUSTERS = 10000;
constexpr double DUST_RADIUS_MIN = 1.0;  // pixels
constexpr double DUST_RADIUS_MAX = 3.0;

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

// A generator for file `index`, one per salt (its main one and one per kind of extra draw): seed
// and index are each mixed before they are combined, so that no two files' streams are the same
// stream a few draws apart.
Prng side_stream(uint64_t seed, uint64_t salt, int32_t index) {
  Prng a{seed ^ salt};
  Prng b{uint64_t(index) ^ ~salt};
  return Prng{prng_next(a) ^ prng_next(b)};
}

// The shift of file `index`, from a generator of its own so that the other draws stay the same.
void choose_shift(const SynthSettings& s, int32_t index, double* sx, double* sy) {
  *sx = 0.0;
  *sy = 0.0;
  if (!(s.shift_max > 0.0) || index == 0) return;
  Prng p = side_stream(s.seed, 0x51F7ED51F7ED51F7ull, index);
  *sx = prng_range(p, -s.shift_max, s.shift_max);
  *sy = prng_range(p, -s.shift_max, s.shift_max);
  if (s.whole_shifts) {
    *sx = round_half_away(*sx);
    *sy = round_half_away(*sy);
  }
}

// Adds `height` to the valid pixel at window offset i unless that would leave the valid range;
// records it at its actual (rounded) height.
void add_outlier(const PhaseMap& map, std::size_t i, double height, double counts_per_metre,
                 std::vector<Outlier>* outliers) {
  int32_t& v = map.matrix[i];
  const int64_t delta = round_half_away(height * counts_per_metre);
  const int64_t raised = int64_t(v) + delta;
  if (raised >= PHASE_INVALID || raised <= -int64_t(PHASE_INVALID)) return;
  v = int32_t(raised);
  const int32_t width = map.window.width;
  outliers->push_back({map.window.x + int32_t(i % std::size_t(width)),
                       map.window.y + int32_t(i / std::size_t(width)),
                       double(delta) / counts_per_metre});
}

// Spikes of either sign on distinct valid pixels chosen uniformly (selection sampling: one pass,
// exactly the number asked for), then dust discs of positive height on valid pixels not yet
// raised.
void add_outliers(const SynthSettings& s, int32_t index, double counts_per_metre, PhaseMap& map,
                  std::vector<Outlier>* outliers) {
  if (s.spikes == 0 && !(s.spike_percent > 0.0) && s.dust == 0) return;
  Prng p = side_stream(s.seed, 0xD057D057D057D057ull, index);
  const double height = s.spike_size * (s.noise_sigma > 0.0 ? s.noise_sigma : NOMINAL_NOISE);
  const Window& w = map.window;
  const std::size_t pixels = std::size_t(w.width) * std::size_t(w.height);
  std::size_t valid = 0;
  for (std::size_t i = 0; i < pixels; ++i) valid += map.matrix[i] < PHASE_INVALID;
  std::size_t wanted =
      s.spike_percent >= 0.0 ? std::size_t(std::llround(s.spike_percent / 100.0 * double(valid)))
                             : std::size_t(s.spikes);
  wanted = std::min(wanted, valid);
  std::vector<uint8_t> raised(pixels, 0);
  std::size_t seen = 0;
  for (std::size_t i = 0; i < pixels && wanted > 0; ++i) {
    if (map.matrix[i] >= PHASE_INVALID) continue;
    if (prng_uniform(p) * double(valid - seen++) < double(wanted)) {
      --wanted;
      raised[i] = 1;
      add_outlier(map, i, prng_below(p, 2) == 0 ? height : -height, counts_per_metre, outliers);
    }
  }
  for (int32_t n = 0; n < s.dust; ++n) {
    const double r = prng_range(p, DUST_RADIUS_MIN, DUST_RADIUS_MAX);
    const double cx = prng_range(p, 0.0, w.width);
    const double cy = prng_range(p, 0.0, w.height);
    const int32_t x0 = std::max(0, int32_t(std::floor(cx - r)));
    const int32_t x1 = std::min(w.width - 1, int32_t(std::ceil(cx + r)));
    const int32_t y0 = std::max(0, int32_t(std::floor(cy - r)));
    const int32_t y1 = std::min(w.height - 1, int32_t(std::ceil(cy + r)));
    for (int32_t y = y0; y <= y1; ++y)
      for (int32_t x = x0; x <= x1; ++x) {
        const double dx = x + 0.5 - cx;
        const double dy = y + 0.5 - cy;
        const std::size_t i = std::size_t(y) * std::size_t(w.width) + std::size_t(x);
        if (dx * dx + dy * dy > r * r || raised[i] != 0 || map.matrix[i] >= PHASE_INVALID)
          continue;
        raised[i] = 1;
        add_outlier(map, i, height, counts_per_metre, outliers);
      }
  }
}

// The texture at camera position (px, py): waves of amplitude texture * sqrt(2 / waves) each, so
// that their sum has `texture` rms. Exactly 0 without a texture.
double texture(const SynthSettings& s, const SurfaceModel& m, double px, double py) {
  if (!(s.texture > 0.0)) return 0.0;
  double sum = 0.0;
  for (int32_t k = 0; k < TEXTURE_WAVES; ++k)
    sum += std::sin(m.texture_kx[k] * px + m.texture_ky[k] * py + m.texture_phase[k]);
  return s.texture * std::sqrt(2.0 / TEXTURE_WAVES) * sum;
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
  Prng t = side_stream(seed, 0x7E7E7E7E7E7E7E7Eull, 0);
  for (int32_t k = 0; k < TEXTURE_WAVES; ++k) {
    const double wavelength = prng_range(t, 6.0, 60.0);
    // Spread so that no direction lacks detail, which would leave a shift along it untold.
    const double angle = PI_VALUE * (k + prng_range(t, 0.0, 1.0)) / TEXTURE_WAVES;
    m.texture_kx[k] = 2.0 * PI_VALUE / wavelength * std::cos(angle);
    m.texture_ky[k] = 2.0 * PI_VALUE / wavelength * std::sin(angle);
    m.texture_phase[k] = prng_range(t, 0.0, 2.0 * PI_VALUE);
  }
  return m;
}

ErrorCode make_measurement(const SynthSettings& s, const SurfaceModel& surface, int32_t index,
                           DataAttributes* attributes, PhaseMap* phase, MeasurementTruth* truth) {
  // Seed and index mixed apart (a plain sum of multiples would make file i+1's stream file i's one
  // draw later, and neighbouring files' noise would be correlated).
  Prng p = side_stream(s.seed, 0x3A1F0C5B9D27E864ull, index);
  const Acquisition acq = choose_acquisition(s.mixed, p);
  const Window window = choose_window(s, p);
  const double piston = prng_range(p, -s.piston, s.piston);
  const double tilt_x = prng_range(p, -s.tilt, s.tilt);
  const double tilt_y = prng_range(p, -s.tilt, s.tilt);
  double shift_x = 0.0;
  double shift_y = 0.0;
  choose_shift(s, index, &shift_x, &shift_y);

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
    // Where the surface is sampled: the camera position less the shift (exactly it when 0).
    const double sy = (double(window.y + row) - shift_y - (s.height - 1) / 2.0) / half_h;
    for (int32_t col = 0; col < window.width; ++col) {
      const double x = (window.x + col - (s.width - 1) / 2.0) / half_w;
      const double sx = (double(window.x + col) - shift_x - (s.width - 1) / 2.0) / half_w;
      const double common =
          surface.tilt_x * sx + surface.tilt_y * sy + surface.sag * (sx * sx + sy * sy) +
          surface.wave_amplitude *
              std::sin(2.0 * PI_VALUE * (surface.wave_fx * sx + surface.wave_fy * sy) / 2.0 +
                       surface.wave_phase);
      const double h = common + texture(s, surface, double(window.x + col) - shift_x,
                                        double(window.y + row) - shift_y) +
                       piston + tilt_x * x + tilt_y * y + s.noise_sigma * prng_normal(p);
      out[col] =
          prng_uniform(p) < scattered ? PHASE_INVALID : round_half_away(h * counts_per_metre);
    }
  }
  add_clusters(s, std::clamp(s.invalid_percent, 0.0, 100.0) / 2.0, p, *phase);
  std::vector<Outlier> outliers;
  add_outliers(s, index, counts_per_metre, *phase, &outliers);
  if (truth != nullptr)
    *truth = {piston, tilt_x / (half_w * double(PIXEL_SIZE)), tilt_y / (half_h * double(PIXEL_SIZE)),
              shift_x, shift_y, std::move(outliers)};
  return NO_ERROR;
}

}  // namespace harnix
