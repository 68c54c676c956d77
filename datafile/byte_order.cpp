#include "datafile/byte_order.h"

#include <bit>
#include <cstring>

#include "base/vector_clones.h"

namespace harnix {

// Each value goes through a small byte array: the compiler sees no aliasing between source and
// target and turns the byte shifts into one byte-swap instruction per value.
void convert_be16_block(const void* from, void* to, std::size_t n) {
  const auto* src = static_cast<const uint8_t*>(from);
  auto* dst = static_cast<uint8_t*>(to);
  for (std::size_t i = 0; i < n; ++i) {
    uint8_t bytes[2];
    std::memcpy(bytes, src + 2 * i, 2);
    const uint16_t v = load_be16(bytes);
    std::memcpy(dst + 2 * i, &v, 2);
  }
}

// On a little-endian host, two values at a time as one 64-bit word: bytes are swapped within
// each 16-bit unit, then units within each 32-bit half. Unlike a byte-swap per value, which
// x86-64 without SSSE3 has no vector form for, these shifts and masks run on vector registers.
HARNIX_VECTOR_CLONES void convert_be32_block(const void* from, void* to, std::size_t n) {
  const auto* src = static_cast<const uint8_t*>(from);
  auto* dst = static_cast<uint8_t*>(to);
  std::size_t i = 0;
  for (; std::endian::native == std::endian::little && i + 2 <= n; i += 2) {
    uint64_t x;
    std::memcpy(&x, src + 4 * i, 8);
    x = ((x & 0x00FF00FF00FF00FFull) << 8) | ((x >> 8) & 0x00FF00FF00FF00FFull);
    x = ((x & 0x0000FFFF0000FFFFull) << 16) | ((x >> 16) & 0x0000FFFF0000FFFFull);
    std::memcpy(dst + 4 * i, &x, 8);
  }
  for (; i < n; ++i) {
    uint8_t bytes[4];
    std::memcpy(bytes, src + 4 * i, 4);
    const uint32_t v = load_be32(bytes);
    std::memcpy(dst + 4 * i, &v, 4);
  }
}

}  // namespace harnix
