// Byte order at the file boundary: loads and stores of 16-, 32- and 64-bit values at a byte
// pointer, in either order, built from shifts on bytes so that they work on any host and at any
// alignment.
//
// Data files are big-endian except for two header fields stored least significant byte first
// (see header_layout.h). Everything in memory is in host order.
#ifndef HARNIX_DATAFILE_BYTE_ORDER_H_
#define HARNIX_DATAFILE_BYTE_ORDER_H_

#include <cstddef>
#include <cstdint>

namespace harnix {

inline uint16_t load_be16(const uint8_t* p) {
  return static_cast<uint16_t>((static_cast<uint32_t>(p[0]) << 8) | p[1]);
}

inline uint32_t load_be32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

inline uint16_t load_le16(const uint8_t* p) {
  return static_cast<uint16_t>((static_cast<uint32_t>(p[1]) << 8) | p[0]);
}

inline uint32_t load_le32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[3]) << 24) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[1]) << 8) | static_cast<uint32_t>(p[0]);
}

inline void store_be16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}

inline void store_be32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

inline void store_le16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

inline void store_le32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

// Least significant half first (the X3P export's float64 values).
inline void store_le64(uint8_t* p, uint64_t v) {
  store_le32(p, static_cast<uint32_t>(v));
  store_le32(p + 4, static_cast<uint32_t>(v >> 32));
}

// Data blocks: converts n 16-bit (32-bit) values between big-endian and host order in one pass,
// from `from` to `to`, which may be the same address (never partly overlapping). The same call
// converts in either direction: each value's bytes are read as big-endian and the value is
// stored in host order.
void convert_be16_block(const void* from, void* to, std::size_t n);
void convert_be32_block(const void* from, void* to, std::size_t n);

}  // namespace harnix

#endif  // HARNIX_DATAFILE_BYTE_ORDER_H_
