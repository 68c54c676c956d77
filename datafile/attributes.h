// In-memory records of a Planoryx data file header, in host byte order.
//
// A header is 834 bytes (magic 0x881B036F or 0x881B0370) or 4096 bytes (0x881B0371). OriginInfo
// holds offsets 10..47; the intensity and phase window descriptions become the IntensityMap and
// PhaseMap records; DataAttributes holds every field from offset 76 (TimeStamp) to 4095. The
// named members are the attributes this program reads and sets; every other field of that range
// is kept in `other`, at its own file offset, numeric fields in host order and byte areas as
// stored, so that it passes from a file to the record and back unchanged. A record never filled
// is all zero (value-initialise it: DataAttributes a{};).
#ifndef HARNIX_DATAFILE_ATTRIBUTES_H_
#define HARNIX_DATAFILE_ATTRIBUTES_H_

#include <cstdint>

namespace harnix {

constexpr uint32_t MAGIC_FORMAT_1 = 0x881B036F;  // 834-byte header, PhaseRes < 2
constexpr uint32_t MAGIC_FORMAT_2 = 0x881B0370;  // 834-byte header, PhaseRes >= 2
constexpr uint32_t MAGIC_FORMAT_3 = 0x881B0371;  // 4096-byte header
constexpr int32_t HEADER_SIZE_SHORT = 834;
constexpr int32_t HEADER_SIZE_LONG = 4096;
constexpr int32_t COMMENT_BYTES = 82;  // written as at most 81 characters and a NUL

// Phase resolution codes and their counts per fringe; any other code counts as Super.
constexpr int16_t PHASE_RES_NORMAL = 0;
constexpr int16_t PHASE_RES_HIGH = 1;
constexpr int16_t PHASE_RES_SUPER = 2;
int32_t phase_res_counts(int32_t code);     // 4096, 32768 or 131072
const char* phase_res_label(int32_t code);  // "Normal", "High" or "Super"

struct OriginInfo {
  int16_t kind;
  char text[30];
  int16_t numbers[3];
};

struct DataAttributes {
  int32_t TimeStamp;            // 76: seconds since 1970-01-01 00:00 UTC
  char comment[COMMENT_BYTES];  // 80: NUL-terminated when shorter than the field
  float IntfScaleFactor;        // 164: dimensionless, > 0
  float WavelengthIn;           // 168: metres, > 0
  float ObliquityFactor;        // 176: dimensionless, > 0
  float CameraRes;              // 184: metres, >= 0
  int16_t PhaseRes;             // 218: phase resolution code
  int16_t CameraWidth;          // 234: columns of the camera field
  int16_t CameraHeight;         // 236: rows of the camera field
  float PixelWidth;             // 486: metres
  float PixelHeight;            // 490: metres
  float ZoomMag;                // 1442: stored least significant byte first in the file
  // Every other byte of the header, indexed by file offset (only 76..4095 are used): unnamed
  // numeric fields in host order, carried areas as stored, the header-format memo at 898 least
  // significant byte first. The bytes below 76 and those under a named field are ignored.
  uint8_t other[HEADER_SIZE_LONG];
};

}  // namespace harnix

#endif  // HARNIX_DATAFILE_ATTRIBUTES_H_
