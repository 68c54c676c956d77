// MD5 digests as the 32 lowercase hexadecimal digits md5sum prints (nettle's MD5).
#ifndef HARNIX_EXPORT_MD5_HEX_H_
#define HARNIX_EXPORT_MD5_HEX_H_

#include <cstddef>
#include <string>

namespace harnix {

// The MD5 of the `size` bytes at `data` (data may be null when size is 0).
std::string md5_hex(const void* data, std::size_t size);

}  // namespace harnix

#endif  // HARNIX_EXPORT_MD5_HEX_H_
