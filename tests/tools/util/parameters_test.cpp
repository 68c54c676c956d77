// harnix-util info's height parameters and levelling, on surfaces whose parameters are known
// in closed form.
#include <cmath>
#include <nlohmann/json.hpp>

#include "util_files.h"

namespace harnix {

namespace {

using namespace util_test;
using nlohmann::json;

json parameters_of(TestMap& map, const std::string& level) {
  TempDir dir;
  write_planoryx(dir.file("f.dat"), measurement_attributes(), map);
  const ProgramResult r = run_util({"info", "--json", "--level", level, dir.file("f.dat")});
  EXPECT_EQ(0, r.status) << r.err;
  return json::parse(r.out)["files"][0]["parameters"];
}

// Two periods of z = A sin(2 pi x / 256) on every row, and a last row of invalid points that
// must not count. Sampled over whole periods with the peaks on samples: mean z^2 = A^2 / 2,
// mean z^4 = 3 A^4 / 8, max = -min = A exactly; mean |z| = A (2 / 256) cot(pi / 256), within
// 5e-5 of 2 A / pi.
TEST(HeightParameters, SinusoidGivesItsClosedForms) {
  constexpr double kA = 100000;  // counts: rounding to whole counts moves each value by < 5e-6 A
  TestMap map{{2, 3, 512, 4}, {}};
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 512; ++c)
      map.values.push_back(r == 3
                               ? PHASE_INVALID + c % 7
                               : static_cast<int32_t>(std::lround(kA * std::sin(M_PI * c / 128))));
  const double a = kA * metres_per_count(measurement_attributes());
  const json p = parameters_of(map, "none");
  EXPECT_EQ(3 * 512, p["points"]);
  EXPECT_EQ("none", p["levelling"]);
  EXPECT_NEAR(a / std::sqrt(2.0), p["Sq"].get<double>(), 1e-5 * a);
  EXPECT_NEAR(2 * a / M_PI, p["Sa"].get<double>(), 1e-4 * a);
  EXPECT_DOUBLE_EQ(a, p["Sp"].get<double>());
  EXPECT_DOUBLE_EQ(a, p["Sv"].get<double>());
  EXPECT_DOUBLE_EQ(2 * a, p["Sz"].get<double>());
  EXPECT_NEAR(0, p["Ssk"].get<double>(), 1e-9);
  EXPECT_NEAR(1.5, p["Sku"].get<double>(), 1e-4);

  // The text form: the same numbers in nm.
  TempDir dir;
  write_planoryx(dir.file("f.dat"), measurement_attributes(), map);
  const ProgramResult r = run_util({"info", "--params", dir.file("f.dat")});
  EXPECT_NE(std::string::npos, r.out.find("\nSz                   = 482.788 nm\n")) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("\nSku                  = 1.5")) << r.out;
}

// A surface at integer coefficients (exact in counts) with invalid points, on a window away
// from the camera origin, and a step of `step` counts over its lower right quarter.
TestMap surface_map(double x, double y, double xy, double x2, double y2, int32_t step = 0) {
  TestMap map{{7, 4, 40, 30}, {}};
  for (int r = 0; r < 30; ++r)
    for (int k = 0; k < 40; ++k) {
      const double px = 7 + k, py = 4 + r;
      const double z = 12345 + x * px + y * py + xy * px * py + x2 * px * px + y2 * py * py;
      map.values.push_back((r * 40 + k) % 11 == 3
                               ? PHASE_INVALID
                               : static_cast<int32_t>(z) + (k >= 20 && r >= 15 ? step : 0));
    }
  return map;
}

// Levelled by its own kind every height is 0; by the kind below it is not.
TEST(HeightParameters, EachLevellingRemovesItsOwnSurfaceExactly) {
  struct Case {
    const char* level;
    const char* weaker;  // a levelling that must leave heights, or nullptr
    double x, y, xy, x2, y2;
  } cases[] = {
      {"piston", nullptr, 0, 0, 0, 0, 0},
      {"plane", "piston", 37, -23, 0, 0, 0},
      {"sphere", "plane", 37, -23, 0, 3, 3},
      {"cylinder", "sphere", 37, -23, 2, -3, 5},
  };
  for (const Case& c : cases) {
    TestMap map = surface_map(c.x, c.y, c.xy, c.x2, c.y2);
    const json own = parameters_of(map, c.level);
    EXPECT_EQ(c.level, own["levelling"]);
    EXPECT_EQ(1091, own["points"]) << c.level;
    for (const char* name : {"Sq", "Sa", "Sp", "Sv", "Sz"})
      EXPECT_EQ(0.0, own[name].get<double>()) << c.level << " " << name;
    EXPECT_TRUE(own["Ssk"].is_null() && own["Sku"].is_null()) << c.level;
    if (c.weaker != nullptr) {
      EXPECT_GT(parameters_of(map, c.weaker)["Sq"].get<double>(), 1e-12) << c.level;
    }
  }
}

// The robust plane takes the most frequent slopes, so a step does not tilt it: the two terraces
// stay level, and the whole height range is the step's. The least-squares plane leans into it.
TEST(HeightParameters, RobustPlaneLevelsTheTerracesOfAStep) {
  TestMap map = surface_map(37, -23, 0, 0, 0, 5000);
  const double step = 5000 * metres_per_count(measurement_attributes());
  EXPECT_DOUBLE_EQ(step, parameters_of(map, "robust")["Sz"].get<double>());
  EXPECT_GT(parameters_of(map, "plane")["Sz"].get<double>(), 1.2 * step);
}

// Ssk and Sku need three points and a spread; the lengths are defined from one point on.
TEST(HeightParameters, FewPointsLeaveOutWhatIsUndefined) {
  TestMap two{{0, 0, 3, 1}, {100, PHASE_INVALID, 300}};
  const json p = parameters_of(two, "none");
  EXPECT_EQ(2, p["points"]);
  EXPECT_DOUBLE_EQ(100 * metres_per_count(measurement_attributes()), p["Sq"].get<double>());
  EXPECT_TRUE(p["Ssk"].is_null() && p["Sku"].is_null());
  TestMap none{{0, 0, 2, 1}, {PHASE_INVALID, PHASE_INVALID}};
  EXPECT_TRUE(parameters_of(none, "none").is_null());
}

}  // namespace

}  // namespace harnix
