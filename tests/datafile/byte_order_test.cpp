#include "datafile/byte_order.h"

#include <gtest/gtest.h>

#include <cstring>

#include "cli/console.h"

namespace {

TEST(ByteOrder, LoadsAndStoresAtAnyAlignment) {
  const uint8_t bytes[] = {0xEE, 0x12, 0x34, 0x56, 0x78};
  EXPECT_EQ(0x1234, load_be16(bytes + 1));
  EXPECT_EQ(0x3412, load_le16(bytes + 1));
  EXPECT_EQ(0x12345678u, load_be32(bytes + 1));
  EXPECT_EQ(0x78563412u, load_le32(bytes + 1));
  uint8_t out[5] = {};
  store_be32(out + 1, 0x89ABCDEF);
  EXPECT_EQ(0, std::memcmp(out, "\0\x89\xAB\xCD\xEF", 5));
  store_le32(out + 1, 0x89ABCDEF);
  EXPECT_EQ(0, std::memcmp(out, "\0\xEF\xCD\xAB\x89", 5));
  store_be16(out, 0xFFFE);
  store_le16(out + 2, 0xFFFE);
  EXPECT_EQ(0, std::memcmp(out, "\xFF\xFE\xFE\xFF", 4));
}

TEST(ByteOrder, SwapReversesEachWidth) {
  uint8_t v[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  u_swap_bytes(v, 2);
  EXPECT_EQ(0, std::memcmp(v, "\2\1\3\4\5\6\7\10", 8));
  u_swap_bytes(v, 4);
  EXPECT_EQ(0, std::memcmp(v, "\4\3\1\2\5\6\7\10", 8));
  u_swap_bytes(v, 8);
  EXPECT_EQ(0, std::memcmp(v, "\10\7\6\5\2\1\3\4", 8));
}

TEST(ByteOrder, BlocksConvertInPlaceAndIntoACopy) {
  const uint8_t file[] = {0x12, 0x34, 0x56, 0x78, 0x80, 0x00, 0x00, 0x01};
  int32_t in_place[2];
  std::memcpy(in_place, file, 8);
  convert_be32_block(in_place, in_place, 2);
  EXPECT_EQ(0x12345678, in_place[0]);
  EXPECT_EQ(int32_t(0x80000001u), in_place[1]);
  uint8_t back[8];
  convert_be32_block(in_place, back, 2);
  EXPECT_EQ(0, std::memcmp(file, back, 8));

  uint16_t shorts[4];
  convert_be16_block(file, shorts, 4);
  EXPECT_EQ(0x1234, shorts[0]);
  EXPECT_EQ(0x8000, shorts[2]);
  convert_be16_block(shorts, shorts, 4);
  EXPECT_EQ(0, std::memcmp(file, shorts, 8));
}

TEST(ByteOrderDeathTest, OtherWidthsAbortWithAMessage) {
  uint8_t v[8] = {};
  EXPECT_DEATH(u_swap_bytes(v, 3), "u_swap_bytes: n=3");
  EXPECT_DEATH(u_swap_bytes(v, 0), "u_swap_bytes: n=0");
}

}  // namespace
