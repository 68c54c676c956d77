#include "datafile/byte_order.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace harnix {

namespace {

// Blocks of every length up to a few vectors, converted in place and into another buffer.
TEST(ByteOrder, Block32ConvertsEveryValueInPlaceOrNot) {
  for (std::size_t n = 0; n <= 19; ++n) {
    std::vector<uint8_t> bytes(4 * n);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(37 * i + 11);
    std::vector<uint32_t> copy(n), in_place(n);
    if (n > 0) std::memcpy(in_place.data(), bytes.data(), bytes.size());
    convert_be32_block(bytes.data(), copy.data(), n);
    convert_be32_block(in_place.data(), in_place.data(), n);
    for (std::size_t i = 0; i < n; ++i) {
      EXPECT_EQ(load_be32(&bytes[4 * i]), copy[i]) << n << " values, value " << i;
      EXPECT_EQ(load_be32(&bytes[4 * i]), in_place[i]) << n << " values, value " << i;
    }
  }
}

}  // namespace

}  // namespace harnix
