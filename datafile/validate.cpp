#include "datafile/validate.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace harnix {

namespace {

bool takes_part(const IntensityMap* m) {
  return m != nullptr && m->matrix != nullptr;
}
bool takes_part(const PhaseMap* m) {
  return m != nullptr && m->matrix != nullptr;
}

// A factor that turns phase into height must be a positive finite number: a NaN would silently
// skip the scaling of its input, an infinite reference factor would scale every input to zero.
bool usable_factor(float f) {
  return std::isfinite(f) && f > 0.0f;
}

ErrorCode fail(ErrorCode code, const char* text, char* message) {
  if (message != nullptr) std::memcpy(message, text, std::strlen(text) + 1);
  return code;
}

ErrorCode validate_one(DataAttributes* a, const IntensityMap* intensity, const PhaseMap* phase,
                       bool camera_size_required, char* message) {
  if (a->CameraWidth <= 0 || a->CameraHeight <= 0) {
    if (camera_size_required) {
      return fail(ERR_IMPROPER_WINDOW, "Camera width or height less than or equal to zero.",
                  message);
    }
    a->CameraWidth = 0;
    a->CameraHeight = 0;
  }
  if (a->CameraRes < 0.0f) {
    return fail(ERR_INVALID_PARAM, "Lateral resolution is less than zero.", message);
  }
  if (!(a->PixelWidth == a->PixelHeight)) {  // also true when either is NaN
    return fail(ERR_INVALID_PARAM, "Unequal camera pixel width and height.", message);
  }
  const bool with_intensity = takes_part(intensity);
  const bool with_phase = takes_part(phase);
  if (with_phase) {
    if (!usable_factor(a->IntfScaleFactor)) {
      return fail(ERR_PARAM_OUT_OF_RANGE,
                  "Interferometric scale factor less than or equal to zero.", message);
    }
    if (!usable_factor(a->WavelengthIn)) {
      return fail(ERR_PARAM_OUT_OF_RANGE, "Wavelength-in less than or equal to zero.", message);
    }
    if (!usable_factor(a->ObliquityFactor)) {
      return fail(ERR_PARAM_OUT_OF_RANGE, "Obliquity factor less than or equal to zero.", message);
    }
  }
  // Only the right and bottom edges are checked; windows may start left of or above the field.
  int32_t right = 0;
  int32_t bottom = 0;
  if (with_intensity) {
    right = std::max(right, int32_t{intensity->window.x} + intensity->window.width);
    bottom = std::max(bottom, int32_t{intensity->window.y} + intensity->window.height);
  }
  if (with_phase) {
    right = std::max(right, int32_t{phase->window.x} + phase->window.width);
    bottom = std::max(bottom, int32_t{phase->window.y} + phase->window.height);
  }
  if ((a->CameraWidth > 0 && a->CameraWidth < right) ||
      (a->CameraHeight > 0 && a->CameraHeight < bottom)) {
    return fail(ERR_IMPROPER_WINDOW, "Camera width or height inconsistent with data.", message);
  }
  return NO_ERROR;
}

}  // namespace

ErrorCode validate_attribute_sets(DataAttributes* attributes, const IntensityMap* intensity,
                                  const PhaseMap* phase, bool camera_size_required, int32_t count,
                                  const uint8_t* selected, char* message) {
  if (message != nullptr) message[0] = '\0';
  for (int32_t i = 0; i < count; ++i) {
    if (selected != nullptr && selected[i] != 1) continue;
    const ErrorCode rc =
        validate_one(&attributes[i], intensity != nullptr ? &intensity[i] : nullptr,
                     phase != nullptr ? &phase[i] : nullptr, camera_size_required, message);
    if (rc != NO_ERROR) return rc;
  }
  return NO_ERROR;
}

ErrorCode validate_attributes(DataAttributes* attributes, const IntensityMap* intensity,
                              const PhaseMap* phase, bool camera_size_required, char* message) {
  return validate_attribute_sets(attributes, intensity, phase, camera_size_required, 1, nullptr,
                                 message);
}

}  // namespace harnix
