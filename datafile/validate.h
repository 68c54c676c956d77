// Checks of a data file's attributes against the maps read with it.
//
// A map takes part only when it is given and holds storage. The message buffer (at least
// VALIDATION_MESSAGE_BYTES bytes, or nullptr) is emptied first and receives one sentence on
// failure. The only change to the caller's record: when the camera size is not required and
// CameraWidth or CameraHeight is <= 0, both become 0.
#ifndef HARNIX_DATAFILE_VALIDATE_H_
#define HARNIX_DATAFILE_VALIDATE_H_

#include <cstddef>
#include <cstdint>

#include "cli/error_codes.h"
#include "datafile/attributes.h"
#include "maps/map_types.h"

constexpr std::size_t VALIDATION_MESSAGE_BYTES = 57;

ErrorCode validate_attributes(DataAttributes* attributes, const IntensityMap* intensity,
                              const PhaseMap* phase, bool camera_size_required, char* message);

// The same checks for entries 0..count-1 (only those whose selection byte is exactly 1 when
// `selected` is given); the first failing entry ends the work with its code and text.
ErrorCode validate_attribute_sets(DataAttributes* attributes, const IntensityMap* intensity,
                                  const PhaseMap* phase, bool camera_size_required, int32_t count,
                                  const uint8_t* selected, char* message);

#endif  // HARNIX_DATAFILE_VALIDATE_H_
