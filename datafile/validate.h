// Checks of a data file's attributes against the maps read with it.
//
// A map takes part only when it is given and holds storage. The message buffer (at least
// VALIDATION_MESSAGE_BYTES bytes, or nullptr) is emptied first and receives one sentence on
// failure. The only change to the caller's record: when the camera size is not required and
// CameraWidth or CameraHeight is <= 0, both become 0.
//
// Checks, in order (the first failure answers):
//   CameraWidth or CameraHeight <= 0, when required  ERR_IMPROPER_WINDOW
//     "Camera width or height less than or equal to zero."
//   CameraRes < 0 (a NaN passes)                      ERR_INVALID_PARAM
//     "Lateral resolution is less than zero."
//   PixelWidth != PixelHeight, or either NaN          ERR_INVALID_PARAM
//     "Unequal camera pixel width and height."
//   with a phase map only: IntfScaleFactor, WavelengthIn, ObliquityFactor each not a positive
//   finite number (NaN and infinities fail)           ERR_PARAM_OUT_OF_RANGE
//     "Interferometric scale factor less than or equal to zero."
//     "Wavelength-in less than or equal to zero."
//     "Obliquity factor less than or equal to zero."
//   a positive CameraWidth (CameraHeight) below the largest x + width (y + height) of the maps
//   that take part                                    ERR_IMPROPER_WINDOW
//     "Camera width or height inconsistent with data."
#ifndef HARNIX_DATAFILE_VALIDATE_H_
#define HARNIX_DATAFILE_VALIDATE_H_

#include <cstddef>
#include <cstdint>

#include "base/error_codes.h"
#include "datafile/attributes.h"
#include "maps/map_types.h"

namespace harnix {

constexpr std::size_t VALIDATION_MESSAGE_BYTES = 57;

// One record: validate_attribute_sets with one entry and no selection.
ErrorCode validate_attributes(DataAttributes* attributes, const IntensityMap* intensity,
                              const PhaseMap* phase, bool camera_size_required, char* message);

// The same checks for entries 0..count-1: entry i is element i of each array given (intensity
// and phase may be nullptr). With `selected`, only the entries whose byte is exactly 1 are
// checked. The first failing entry ends the work with its code and text. No entry to check
// (count <= 0, or nothing selected) is NO_ERROR with an empty message.
ErrorCode validate_attribute_sets(DataAttributes* attributes, const IntensityMap* intensity,
                                  const PhaseMap* phase, bool camera_size_required, int32_t count,
                                  const uint8_t* selected, char* message);

}  // namespace harnix

#endif  // HARNIX_DATAFILE_VALIDATE_H_
