#include "datafile/header_layout.h"

#include <cstring>

#include "datafile/byte_order.h"

namespace harnix {

namespace {

constexpr std::size_t ORIGIN_AT = offsetof(DataHeader, origin);
constexpr std::size_t INTENSITY_AT = offsetof(DataHeader, intensity);
constexpr std::size_t PHASE_AT = offsetof(DataHeader, phase);
constexpr std::size_t ATTRIBUTES_AT = offsetof(DataHeader, attributes);
constexpr std::size_t OTHER_AT = ATTRIBUTES_AT + offsetof(DataAttributes, other);

constexpr HeaderField big(int32_t offset, int32_t width, int32_t count, std::size_t record,
                          const char* name) {
  return {offset, width, count, FieldCoding::BIG_ENDIAN_NUMBER, record, name};
}
constexpr HeaderField bytes(int32_t offset, int32_t count, std::size_t record, const char* name) {
  return {offset, 1, count, FieldCoding::STORED_BYTES, record, name};
}
// Unnamed fields keep their file offset inside DataAttributes::other.
constexpr HeaderField other(int32_t offset, int32_t width, int32_t count = 1) {
  return big(offset, width, count, OTHER_AT + offset, "other");
}
constexpr HeaderField carried(int32_t offset, int32_t count) {
  return bytes(offset, count, OTHER_AT + offset, "carried");
}
constexpr std::size_t attribute(std::size_t member) {
  return ATTRIBUTES_AT + member;
}

// clang-format off
constexpr HeaderField FIELDS[] = {
    big(0, 4, 1, offsetof(DataHeader, magic), "magic"),
    big(4, 2, 1, offsetof(DataHeader, header_format), "header_format"),
    big(6, 4, 1, offsetof(DataHeader, header_size), "header_size"),
    big(10, 2, 1, ORIGIN_AT + offsetof(OriginInfo, kind), "OriginInfo kind"),
    bytes(12, 30, ORIGIN_AT + offsetof(OriginInfo, text), "OriginInfo text"),
    big(42, 2, 3, ORIGIN_AT + offsetof(OriginInfo, numbers), "OriginInfo numbers"),
    big(48, 2, 1, INTENSITY_AT + offsetof(MapDescription, x), "intensity x"),
    big(50, 2, 1, INTENSITY_AT + offsetof(MapDescription, y), "intensity y"),
    big(52, 2, 1, INTENSITY_AT + offsetof(MapDescription, width), "intensity width"),
    big(54, 2, 1, INTENSITY_AT + offsetof(MapDescription, height), "intensity height"),
    big(56, 2, 1, INTENSITY_AT + offsetof(MapDescription, n_buckets), "intensity n_buckets"),
    big(58, 2, 1, INTENSITY_AT + offsetof(MapDescription, range), "intensity range"),
    big(60, 4, 1, INTENSITY_AT + offsetof(MapDescription, byte_count), "intensity byte count"),
    big(64, 2, 1, PHASE_AT + offsetof(MapDescription, x), "phase x"),
    big(66, 2, 1, PHASE_AT + offsetof(MapDescription, y), "phase y"),
    big(68, 2, 1, PHASE_AT + offsetof(MapDescription, width), "phase width"),
    big(70, 2, 1, PHASE_AT + offsetof(MapDescription, height), "phase height"),
    big(72, 4, 1, PHASE_AT + offsetof(MapDescription, byte_count), "phase byte count"),
    big(76, 4, 1, attribute(offsetof(DataAttributes, TimeStamp)), "TimeStamp"),
    bytes(80, COMMENT_BYTES, attribute(offsetof(DataAttributes, comment)), "comment"),
    other(162, 2),
    big(164, 4, 1, attribute(offsetof(DataAttributes, IntfScaleFactor)), "IntfScaleFactor"),
    big(168, 4, 1, attribute(offsetof(DataAttributes, WavelengthIn)), "WavelengthIn"),
    other(172, 4),
    big(176, 4, 1, attribute(offsetof(DataAttributes, ObliquityFactor)), "ObliquityFactor"),
    other(180, 4),
    big(184, 4, 1, attribute(offsetof(DataAttributes, CameraRes)), "CameraRes"),
    other(188, 2, 5),
    other(198, 4),
    other(202, 2),
    other(204, 4),
    carried(208, 2),
    other(210, 4, 2),
    big(218, 2, 1, attribute(offsetof(DataAttributes, PhaseRes)), "PhaseRes"),
    other(220, 4),
    other(224, 2),
    other(226, 4),
    other(230, 2, 2),
    big(234, 2, 1, attribute(offsetof(DataAttributes, CameraWidth)), "CameraWidth"),
    big(236, 2, 1, attribute(offsetof(DataAttributes, CameraHeight)), "CameraHeight"),
    other(238, 2, 4),
    carried(246, 52),
    other(298, 2, 3),
    carried(304, 56),
    other(360, 4),
    other(364, 2, 2),
    other(368, 4),
    other(372, 2, 2),
    other(376, 4, 2),
    other(384, 2),
    other(386, 4, 3),
    carried(398, 8),
    other(406, 2),
    carried(408, 20),
    other(428, 2),
    other(430, 4, 14),
    big(486, 4, 1, attribute(offsetof(DataAttributes, PixelWidth)), "PixelWidth"),
    big(490, 4, 1, attribute(offsetof(DataAttributes, PixelHeight)), "PixelHeight"),
    other(494, 4, 2),
    carried(502, 232),
    other(734, 2),
    carried(736, 80),
    other(816, 2),
    carried(818, 16),
    // The rest exists only in a 4096-byte header.
    carried(834, 4),
    other(838, 2, 2),
    other(842, 4, 7),
    carried(870, 28),
    bytes(OFFSET_FORMAT_MEMO, 2, OTHER_AT + OFFSET_FORMAT_MEMO, "header-format memo"),
    other(900, 2, 2),
    carried(904, 30),
    other(934, 4),
    carried(938, 60),
    other(998, 4, 10),
    carried(1038, 88),
    other(1126, 4, 23),
    carried(1218, 32),
    other(1250, 4, 3),
    carried(1262, 2),
    other(1264, 2),
    other(1266, 4, 14),
    carried(1322, 2),
    other(1324, 2),
    other(1326, 4, 14),
    carried(1382, 2),
    other(1384, 2),
    other(1386, 4, 14),
    {1442, 4, 1, FieldCoding::LITTLE_ENDIAN_NUMBER, attribute(offsetof(DataAttributes, ZoomMag)),
     "ZoomMag"},
    other(1446, 4, 2),
    carried(1454, 2642),
};
// clang-format on

constexpr int32_t end_of(const HeaderField& f) {
  return f.offset + f.width * f.count;
}

}  // namespace

std::span<const HeaderField> header_fields() {
  return FIELDS;
}

int32_t header_size_for_magic(uint32_t magic) {
  switch (magic) {
    case MAGIC_FORMAT_1:
    case MAGIC_FORMAT_2:
      return HEADER_SIZE_SHORT;
    case MAGIC_FORMAT_3:
      return HEADER_SIZE_LONG;
    default:
      return 0;
  }
}

void decode_header(const uint8_t* bytes, int32_t header_size, DataHeader* out) {
  std::memset(out, 0, sizeof *out);
  auto* record = reinterpret_cast<uint8_t*>(out);
  for (const HeaderField& f : FIELDS) {
    if (end_of(f) > header_size) break;  // the table is in file order
    const uint8_t* src = bytes + f.offset;
    uint8_t* dst = record + f.record_offset;
    if (f.coding == FieldCoding::STORED_BYTES) {
      std::memcpy(dst, src, static_cast<std::size_t>(f.count));
      continue;
    }
    const bool big_endian = f.coding == FieldCoding::BIG_ENDIAN_NUMBER;
    for (int32_t i = 0; i < f.count; ++i, src += f.width, dst += f.width) {
      if (f.width == 2) {
        const uint16_t v = big_endian ? load_be16(src) : load_le16(src);
        std::memcpy(dst, &v, 2);
      } else {
        const uint32_t v = big_endian ? load_be32(src) : load_le32(src);
        std::memcpy(dst, &v, 4);
      }
    }
  }
}

void encode_header(const DataHeader& header, uint8_t* out) {
  const auto* record = reinterpret_cast<const uint8_t*>(&header);
  for (const HeaderField& f : FIELDS) {
    const uint8_t* src = record + f.record_offset;
    uint8_t* dst = out + f.offset;
    if (f.coding == FieldCoding::STORED_BYTES) {
      std::memcpy(dst, src, static_cast<std::size_t>(f.count));
      continue;
    }
    const bool big_endian = f.coding == FieldCoding::BIG_ENDIAN_NUMBER;
    for (int32_t i = 0; i < f.count; ++i, src += f.width, dst += f.width) {
      if (f.width == 2) {
        uint16_t v;
        std::memcpy(&v, src, 2);
        big_endian ? store_be16(dst, v) : store_le16(dst, v);
      } else {
        uint32_t v;
        std::memcpy(&v, src, 4);
        big_endian ? store_be32(dst, v) : store_le32(dst, v);
      }
    }
  }
}

uint32_t magic_for_attributes(const DataAttributes* attributes) {
  if (attributes == nullptr) return MAGIC_FORMAT_1;
  DataHeader header{};
  header.attributes = *attributes;
  uint8_t bytes[HEADER_SIZE_LONG];
  encode_header(header, bytes);
  for (int32_t i = OFFSET_EXTENDED; i < HEADER_SIZE_LONG; ++i) {
    if (bytes[i] != 0) return MAGIC_FORMAT_3;
  }
  return attributes->PhaseRes >= PHASE_RES_SUPER ? MAGIC_FORMAT_2 : MAGIC_FORMAT_1;
}

}  // namespace harnix
