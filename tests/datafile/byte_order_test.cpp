#include "datafile/byte_order.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(ByteOrder, SwapReversesEachWidth) {
  uint8_t v[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  u_swap_bytes(v, 2);
  EXPECT_EQ(0, std::memcmp(v, "\2\1\3\4\5\6\7\10", 8));
  u_swap_bytes(v, 4);
  EXPECT_EQ(0, std::memcmp(v, "\4\3\1\2\5\6\7\10", 8));
  u_swap_bytes(v, 8);
  EXPECT_EQ(0, std::memcmp(v, "\10\7\6\5\2\1\3\4", 8));
}

TEST(ByteOrderDeathTest, OtherWidthsAbortWithAMessage) {
  uint8_t v[8] = {};
  EXPECT_DEATH(u_swap_bytes(v, 3), "u_swap_bytes: n=3");
  EXPECT_DEATH(u_swap_bytes(v, 0), "u_swap_bytes: n=0");
}

}  // namespace
