// The synthetic measurement model behind `harnix-util synth`.
//
// Every file shows one common surface (tilt, curvature and a waviness) plus its own piston, tilt
// and noise, with scattered and clustered invalid pixels, optionally on a window smaller than the
// camera and optionally taken with mixed phase resolutions, scale factors, wavelengths and
// obliquity factors. Heights are modelled in metres and stored as phase counts
//   v = round(h * R / (IntfScaleFactor * ObliquityFactor * WavelengthIn)),
// so that files taken with different attributes still describe the same surface.
//
// A file may also see the surface moved by (sx, sy) pixels: camera pixel (x, y) shows the common
// surface at (x - sx, y - sy), while its piston, tilt, noise, window and invalid pixels stay on
// the camera. A fine texture may be added to the common surface. Spikes (single pixels) and dust (small discs) add a known height to valid pixels
// after rounding; they are drawn from a generator of their own, as are the shifts, so that the
// files' other values are the same with and without them.
#ifndef HARNIX_TOOLS_UTIL_SYNTH_MODEL_H_
#define HARNIX_TOOLS_UTIL_SYNTH_MODEL_H_

#include <cstdint>
#include <vector>

#include "base/error_codes.h"
#include "datafile/attributes.h"
#include "maps/map_types.h"

namespace harnix {

struct SynthSettings {
  int32_t width;           // camera columns, 1..32767
  int32_t height;          // camera rows, 1..32767
  uint64_t seed;           // the same seed gives the same files
  bool windows;            // each phase map on its own window inside the camera
  bool mixed;              // mixed PhaseRes, IntfScaleFactor, WavelengthIn, ObliquityFactor
  double invalid_percent;  // share of invalid pixels, half scattered and half in clusters
  double piston = 10e-9;        // metres, largest piston of one file (0: none)
  double tilt = 20e-9;          // metres across half the field, largest tilt of one file (0: none)
  double noise_sigma = 1.5e-9;  // metres, standard deviation of the noise (0: none)
  double shift_max = 0.0;       // pixels, largest shift of the surface in x and in y, 0..4096
  bool whole_shifts = false;    // shifts rounded to whole pixels
  int64_t spikes = 0;           // spikes per file, when spike_percent < 0
  double spike_percent = -1.0;  // else spikes as a share of the file's valid pixels, percent
  int32_t dust = 0;             // dust discs per file, 0..10000
  double spike_size = 20.0;     // height of spikes and dust in noise deviations (of 1.5 nm when
                                // the noise is 0), 1..1000
  double texture = 0.0;         // metres rms of a fine texture on the common surface (0: none)
};

// A height added to one valid pixel, in camera coordinates.
struct Outlier {
  int32_t x;
  int32_t y;
  double height;  // metres
};

// What a file was made with, beyond its header: the truth tests compare results with.
struct MeasurementTruth {
  double piston;   // metres at the camera centre
  double slope_x;  // metres per metre, rising to the right
  double slope_y;  // metres per metre, rising downwards
  double shift_x;  // pixels the surface appears moved to the right
  double shift_y;  // pixels the surface appears moved downwards
  std::vector<Outlier> outliers;  // spikes, then dust, in the order drawn
};

// Waves of the fine texture.
constexpr int32_t TEXTURE_WAVES = 12;

// The common surface, in metres over coordinates running from -1 to 1 across the camera, and a
// texture of waves over camera pixels (directions spread evenly over the half turn, each with
// some play, and random wavelengths of 6 to 60 pixels), which
// gives the surface detail to align on: its form alone looks the same, less a plane, wherever it
// is moved to.
struct SurfaceModel {
  double tilt_x;
  double tilt_y;
  double sag;
  double wave_amplitude;
  double wave_fx;
  double wave_fy;
  double wave_phase;
  double texture_kx[TEXTURE_WAVES];  // radians a pixel
  double texture_ky[TEXTURE_WAVES];
  double texture_phase[TEXTURE_WAVES];
};

SurfaceModel make_surface_model(uint64_t seed);

// Builds measurement `index` (0-based; independent of how many are made): fills *attributes
// and gives *phase (which must hold no storage) its window and storage through map_alloc, and,
// when truth is not null, fills *truth. The first file (index 0) is never shifted.
// ERR_NO_MEM or ERR_PARAM_OUT_OF_RANGE from map_alloc; the caller releases the map with map_free.
ErrorCode make_measurement(const SynthSettings& settings, const SurfaceModel& surface,
                           int32_t index, DataAttributes* attributes, PhaseMap* phase,
                           MeasurementTruth* truth = nullptr);

}  // namespace harnix

#endif  // HARNIX_TOOLS_UTIL_SYNTH_MODEL_H_
