// The Planoryx header layout, written once as a table of named offsets and widths, and the
// operations that decode, encode and byte-swap a header through it.
//
// A header is 834 bytes (magic 0x881B036F or 0x881B0370) or 4096 bytes (0x881B0371). Every field
// is big-endian except two, stored least significant byte first and never converted: the
// header-format memo at 898 and ZoomMag at 1442. Byte areas (text, carried areas) are copied as
// stored. The table covers offsets 0..4095 without gap or overlap, in file order.
#ifndef HARNIX_DATAFILE_HEADER_LAYOUT_H_
#define HARNIX_DATAFILE_HEADER_LAYOUT_H_

#include <cstddef>
#include <cstdint>
#include <span>

#include "datafile/attributes.h"

namespace harnix {

// Offsets of the fields the reader and writer handle by name.
constexpr int32_t OFFSET_ATTRIBUTES = 76;    // DataAttributes start here (TimeStamp)
constexpr int32_t OFFSET_EXTENDED = 838;     // first byte that decides a 4096-byte header
constexpr int32_t OFFSET_FORMAT_MEMO = 898;  // header-format memo, least significant byte first
constexpr int16_t FORMAT_MEMO_LONG = 3;      // memo value after reading a 4096-byte header

// One map's description in the header: the window, for the intensity map also the number of
// planes and the carried range value, and the byte count of its block (<= 0: no block).
struct MapDescription {
  int16_t x;
  int16_t y;
  int16_t width;
  int16_t height;
  int16_t n_buckets;  // intensity only
  int16_t range;      // intensity only
  int32_t byte_count;
};

// A whole header in host order.
struct DataHeader {
  uint32_t magic;
  int16_t header_format;  // written 1, 2 or 3; not examined on reading
  int32_t header_size;    // written 834 or 4096; not examined on reading
  OriginInfo origin;
  MapDescription intensity;
  MapDescription phase;
  DataAttributes attributes;
};

enum class FieldCoding : uint8_t {
  BIG_ENDIAN_NUMBER,     // numeric, converted
  LITTLE_ENDIAN_NUMBER,  // numeric, least significant byte first in the file
  STORED_BYTES,         // copied as stored
};

// `count` elements of `width` bytes (1 for byte areas, 2 or 4 for numbers) at file offset
// `offset`; in a DataHeader they live at byte offset `record_offset` (unnamed attribute fields
// in DataAttributes::other at their own file offset).
struct HeaderField {
  int32_t offset;
  int32_t width;
  int32_t count;
  FieldCoding coding;
  std::size_t record_offset;
  const char* name;  // "other" for unnamed numeric fields, "carried" for unnamed byte areas
};

// The table, in file order.
std::span<const HeaderField> header_fields();

// 834 or 4096 for a known magic, 0 for any other value.
int32_t header_size_for_magic(uint32_t magic);

// Decodes the first `header_size` (834 or 4096) bytes of `bytes` into *out. Fields at or beyond
// `header_size` read as zero. The header-format memo is left as stored.
void decode_header(const uint8_t* bytes, int32_t header_size, DataHeader* out);

// Encodes every field of `header` into the 4096 bytes at `out` (file byte order); a caller
// writing an 834-byte header writes the first 834 of them.
void encode_header(const DataHeader& header, uint8_t* out);

// The magic for writing `attributes` (nullptr: none): 0x881B0371 when any encoded byte at
// 838..4095 is non-zero; otherwise 0x881B0370 when PhaseRes >= 2, else 0x881B036F.
uint32_t magic_for_attributes(const DataAttributes* attributes);

}  // namespace harnix

#endif  // HARNIX_DATAFILE_HEADER_LAYOUT_H_
