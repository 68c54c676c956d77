#include "fit/map_trim.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/test_maps.h"

namespace harnix {

namespace {

constexpr int32_t X = PHASE_INVALID;

// A 4 x 3 map at (2, 1); the window (3, 2, 2, 2) holds 2147483645, 3, 4 and the marker.
std::vector<int32_t> sample() {
  return {5, -7, 9, 12, 0, 2147483645, 3, -1, 8, 4, X, 6};
}
const Window INNER{3, 2, 2, 2};

OwnedPhase* make(OwnedPhase& m) {
  const std::vector<int32_t> v = sample();
  for (int i = 0; i < 12; ++i) m.m.matrix[i] = v[static_cast<std::size_t>(i)];
  return &m;
}

struct TrimCase {
  const char* what;
  bool above;
  const Window* window;
  int32_t bound;
  std::vector<int32_t> want;
};

TEST(Trim, InvalidatesOutsideTheBoundInsideTheWindow) {
  const TrimCase cases[] = {
      {"above 5, whole map; invalid values rewritten to the marker",
       true,
       nullptr,
       5,
       {5, -7, X, X, 0, X, 3, -1, X, 4, X, X}},
      {"below 0, whole map", false, nullptr, 0, {5, X, 9, 12, 0, 2147483645, 3, X, 8, 4, X, 6}},
      {"above 2 inside the window", true, &INNER, 2, {5, -7, 9, 12, 0, X, X, -1, 8, X, X, 6}},
      {"below 4 inside the window",
       false,
       &INNER,
       4,
       {5, -7, 9, 12, 0, 2147483645, X, -1, 8, 4, X, 6}},
  };
  for (const TrimCase& c : cases) {
    OwnedPhase m(Window{2, 1, 4, 3});
    make(m);
    const ErrorCode rc = c.above ? invalidate_above(m.m, c.window, c.bound)
                                 : invalidate_below(m.m, c.window, c.bound);
    ASSERT_EQ(NO_ERROR, rc) << c.what;
    EXPECT_EQ(c.want, m.values()) << c.what;
  }
}

TEST(Trim, RefusedArgumentsChangeNothing) {
  const Window beyond{4, 2, 3, 2};
  const Window empty{3, 2, 0, 2};
  OwnedPhase m(Window{2, 1, 4, 3});
  make(m);
  for (auto* f : {&invalidate_above, &invalidate_below}) {
    EXPECT_EQ(ERR_INVALID_PARAM, f(m.m, nullptr, PHASE_INVALID));
    EXPECT_EQ(ERR_IMPROPER_WINDOW, f(m.m, &beyond, 3));
    EXPECT_EQ(ERR_IMPROPER_WINDOW, f(m.m, &empty, 3));
    PhaseMap none{};
    none.window = Window{0, 0, 2, 2};
    EXPECT_EQ(ERR_INVALID_PARAM, f(none, nullptr, 3));
  }
  EXPECT_EQ(sample(), m.values());
}

TEST(CountValid, CountsBelowTheMarkerInsideTheWindow) {
  OwnedPhase m(Window{2, 1, 4, 3});
  make(m);
  int32_t n = -1;
  EXPECT_EQ(NO_ERROR, count_valid(m.m, nullptr, &n));
  EXPECT_EQ(10, n);  // 2147483645 is invalid as well as the marker
  EXPECT_EQ(NO_ERROR, count_valid(m.m, &INNER, &n));
  EXPECT_EQ(2, n);
  const Window beyond{1, 1, 2, 2};
  EXPECT_EQ(ERR_IMPROPER_WINDOW, count_valid(m.m, &beyond, &n));
  EXPECT_EQ(0, n);
}

}  // namespace

}  // namespace harnix
