#include "cli/error_codes.h"

#include <gtest/gtest.h>

TEST(ErrorCodes, NamedCodesKeepTheirNumbers) {
  EXPECT_EQ(27, ERR_ALL_BAD_DATA);
  EXPECT_EQ(446, ERR_WINDOWS_MISMATCHED);
}
