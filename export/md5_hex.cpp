#include "export/md5_hex.h"

#include <nettle/md5.h>

#include <cstdint>

namespace harnix {

std::string md5_hex(const void* data, std::size_t size) {
  md5_ctx ctx;
  md5_init(&ctx);
  // nettle takes the length as size_t; the bytes are fed in one call.
  md5_update(&ctx, size, static_cast<const uint8_t*>(data));
  uint8_t digest[MD5_DIGEST_SIZE];
  md5_digest(&ctx, sizeof digest, digest);
  static const char HEX[] = "0123456789abcdef";
  std::string text;
  for (uint8_t b : digest) {
    text += HEX[b >> 4];
    text += HEX[b & 0xF];
  }
  return text;
}

}  // namespace harnix
