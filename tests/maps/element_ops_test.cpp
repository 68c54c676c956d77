// Checks every element operation makes before it touches storage.
#include "maps/element_ops.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "support/test_maps.h"

namespace harnix {

namespace {

// One map of each kind on the window the operation is checked against, and one of each kind on
// another window (or with storage that no longer covers its window).
struct Maps {
  OwnedPhase phase;
  OwnedReal real;
  OwnedReal real2;
  OwnedCount count;
  OwnedPhase other_phase;
  OwnedReal other_real;
  OwnedCount other_count;

  explicit Maps(const Window& other)
      : phase(BASE, 1),
        real(BASE, 1.0),
        real2(BASE, 2.0),
        count(BASE, 1),
        other_phase(other, 7),
        other_real(other, 7.0),
        other_count(other, 7) {}

  static constexpr Window BASE = {0, 0, 4, 4};

  // Nothing was written: every map holds its fill.
  void expect_untouched() {
    EXPECT_EQ(std::vector<int32_t>(phase.m.size, 1), phase.values());
    EXPECT_EQ(std::vector<double>(real.m.size, 1.0), real.values());
    EXPECT_EQ(std::vector<double>(real2.m.size, 2.0), real2.values());
    EXPECT_EQ(std::vector<int16_t>(count.m.size, 1), count.values());
    EXPECT_EQ(std::vector<int32_t>(other_phase.m.size, 7), other_phase.values());
    EXPECT_EQ(std::vector<double>(other_real.m.size, 7.0), other_real.values());
    EXPECT_EQ(std::vector<int16_t>(other_count.m.size, 7), other_count.values());
  }
};

struct OpCase {
  const char* name;
  std::function<ErrorCode(Maps&)> call;  // calls the operation with one "other" map
};

const OpCase OTHER_MAP_CASES[] = {
    {"copy", [](Maps& m) { return phase_map_copy(m.phase.m, m.other_phase.m); }},
    {"phase_to_real", [](Maps& m) { return phase_to_real(m.phase.m, m.other_real.m); }},
    {"real_to_phase", [](Maps& m) { return real_to_phase(m.other_real.m, m.phase.m); }},
    {"average out",
     [](Maps& m) { return real_map_average(m.other_real.m, m.real.m, m.count.m, 1); }},
    {"average count",
     [](Maps& m) { return real_map_average(m.real2.m, m.real.m, m.other_count.m, 1); }},
    {"subtract b", [](Maps& m) { return real_map_subtract(m.real.m, m.other_real.m, m.real2.m); }},
    {"subtract out",
     [](Maps& m) { return real_map_subtract(m.real.m, m.real2.m, m.other_real.m); }},
    {"accumulate count",
     [](Maps& m) { return real_map_accumulate(m.real2.m, m.real.m, m.other_count.m); }},
};

TEST(WholeMapOperations, RefuseWindowsThatAreNotEqual) {
  const Window others[] = {{1, 0, 4, 4}, {0, 0, 4, 3}, {0, 0, 5, 4}, {-2, -2, 8, 8}};
  for (const Window& other : others) {
    for (const OpCase& c : OTHER_MAP_CASES) {
      Maps m(other);
      EXPECT_EQ(ERR_WINDOWS_MISMATCHED, c.call(m)) << c.name << " against x=" << other.x;
      m.expect_untouched();
    }
  }
}

// A record whose window was enlarged past its storage is refused, never overrun.
TEST(ElementOperations, RefuseStorageThatDoesNotCoverTheWindow) {
  const OpCase cases[] = {
      {"copy", [](Maps& m) { return phase_map_copy(m.phase.m, m.other_phase.m); }},
      {"copy window",
       [](Maps& m) {
         return phase_map_copy_window(m.phase.m, Maps::BASE, m.other_phase.m, Maps::BASE);
       }},
      {"min max",
       [](Maps& m) {
         int32_t lo = 0, hi = 0;
         return phase_map_min_max(m.other_phase.m, &lo, &hi);
       }},
      {"valid window",
       [](Maps& m) {
         Window out{};
         return phase_map_valid_window(m.other_phase.m, nullptr, &out);
       }},
      {"phase_to_real", [](Maps& m) { return phase_to_real(m.phase.m, m.other_real.m); }},
      {"real_to_phase", [](Maps& m) { return real_to_phase(m.other_real.m, m.phase.m); }},
      {"scale", [](Maps& m) { return real_map_scale(m.other_real.m, 2.0); }},
      {"square", [](Maps& m) { return real_map_square(m.other_real.m); }},
      {"sqrt",
       [](Maps& m) {
         real_map_sqrt(m.other_real.m);
         return ERR_IMPROPER_WINDOW;
       }},
      {"average", [](Maps& m) { return real_map_average(m.other_real.m, m.real.m, m.count.m, 1); }},
      {"subtract", [](Maps& m) { return real_map_subtract(m.real.m, m.real2.m, m.other_real.m); }},
      {"accumulate",
       [](Maps& m) { return real_map_accumulate(m.real2.m, m.real.m, m.other_count.m); }},
  };
  for (const OpCase& c : cases) {
    Maps m({0, 0, 4, 3});
    for (Window* w : {&m.other_phase.m.window, &m.other_real.m.window, &m.other_count.m.window}) {
      w->height = 4;  // now equal to the other maps' windows, but 4 elements short
    }
    EXPECT_EQ(ERR_IMPROPER_WINDOW, c.call(m)) << c.name;
    for (Window* w : {&m.other_phase.m.window, &m.other_real.m.window, &m.other_count.m.window}) {
      w->height = 3;
    }
    m.expect_untouched();
  }
}

}  // namespace

}  // namespace harnix
