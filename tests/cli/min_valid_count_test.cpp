#include "cli/min_valid_count.h"

#include <gtest/gtest.h>

#include <vector>

namespace harnix {

namespace {

struct CountCase {
  int32_t inputs;
  int32_t count;   // as given
  double percent;  // as given
  bool in_range;
  int32_t resolved;
};

TEST(ResolveMinValidCount, Table) {
  const std::vector<CountCase> cases = {
      {3, 0, 0, true, 3},  // not given: every input
      {3, 2, 0, true, 2},
      {3, 1, 0, true, 1},
      {3, 3, 0, true, 3},
      {3, 4, 0, false, 4},
      {3, -2, 0, false, -2},
      {3, INT32_MAX, 0, false, INT32_MAX},
      {3, INT32_MIN, 0, false, INT32_MIN},
      {3, 0, 50, true, 2},  // ceil(1.5)
      {3, 0, 1, true, 1},   // ceil(0.03)
      {3, 0, 100, true, 3},
      {3, 7, 50, true, 2},  // the percentage wins; 7 is never range-tested
      {3, -9, 100, true, 3},
      {10000, 0, 1e-300, true, 1},  // raised to 1
      {10000, 0, 33.33, true, 3333},
      {10000, 0, 33.331, true, 3334},
      {1, 0, 100, true, 1},
  };
  for (const CountCase& c : cases) {
    RunSettings settings;
    settings.MinValidCnt = c.count;
    settings.MinValidPct = c.percent;
    EXPECT_EQ(c.in_range, resolve_min_valid_count(&settings, c.inputs))
        << c.inputs << " " << c.count << " " << c.percent;
    EXPECT_EQ(c.resolved, settings.MinValidCnt) << c.inputs << " " << c.count << " " << c.percent;
  }
}

}  // namespace

}  // namespace harnix
