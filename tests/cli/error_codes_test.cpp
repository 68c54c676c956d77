#include "cli/error_codes.h"

#include <gtest/gtest.h>

#include "support/run_program.h"

TEST(ErrorCodes, NamedCodesKeepTheirNumbers) {
  EXPECT_EQ(27, ERR_ALL_BAD_DATA);
  EXPECT_EQ(446, ERR_WINDOWS_MISMATCHED);
}

TEST(ErrorCodes, ProgramRuns) {
  ProgramResult r = run_program(HARNIX_EXE, {});
  EXPECT_EQ(1, r.status);
  EXPECT_EQ(0u, r.out.find("Harnix\n"));
}
