// The synthetic measurement model behind `harnix-util synth`.
//
// Every file shows one common surface (tilt, curvature and a waviness) plus its own piston, tilt
// and noise, with scattered and clustered invalid pixels, optionally on a window smaller than the
// camera and optionally taken with mixed phase resolutions, scale factors, wavelengths and
// obliquity factors. Heights are modelled in metres and stored as phase counts
//   v = round(h * R / (IntfScaleFactor * ObliquityFactor * WavelengthIn)),
// so that files taken with different attributes still describe the same surface.
#ifndef HARNIX_TOOLS_UTIL_SYNTH_MODEL_H_
#define HARNIX_TOOLS_UTIL_SYNTH_MODEL_H_

#include <cstdint>

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
};

// The common surface, in metres over coordinates running from -1 to 1 across the camera.
struct SurfaceModel {
  double tilt_x;
  double tilt_y;
  double sag;
  double wave_amplitude;
  double wave_fx;
  double wave_fy;
  double wave_phase;
};

SurfaceModel make_surface_model(uint64_t seed);

// Builds measurement `index` (0-based; independent of how many are made): fills *attributes
// and gives *phase (which must hold no storage) its window and storage through map_alloc.
// ERR_NO_MEM or ERR_PARAM_OUT_OF_RANGE from map_alloc; the caller releases the map with map_free.
ErrorCode make_measurement(const SynthSettings& settings, const SurfaceModel& surface,
                           int32_t index, DataAttributes* attributes, PhaseMap* phase);

}  // namespace harnix

#endif  // HARNIX_TOOLS_UTIL_SYNTH_MODEL_H_
