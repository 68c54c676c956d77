#include "datafile/attributes.h"

#include <gtest/gtest.h>

namespace {

TEST(PhaseRes, CountsAndLabels) {
  const struct {
    int32_t code;
    int32_t counts;
    const char* label;
  } cases[] = {{0, 4096, "Normal"},  {1, 32768, "High"},    {2, 131072, "Super"},
               {3, 131072, "Super"}, {-1, 131072, "Super"}, {32767, 131072, "Super"}};
  for (const auto& c : cases) {
    EXPECT_EQ(c.counts, phase_res_counts(c.code)) << c.code;
    EXPECT_STREQ(c.label, phase_res_label(c.code)) << c.code;
  }
}

}  // namespace
