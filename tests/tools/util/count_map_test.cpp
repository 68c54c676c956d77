// Count maps (told by the comment harnix writes) are shown and exported as counts, never as
// heights; X3P, which stores heights in metres, refuses them.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "util_files.h"

namespace harnix {

namespace {

using namespace util_test;

class CountMap : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* comments[] = {"Input count map computed from 3 input data files",
                              "Rejected value count map computed from 3 input data files",
                              "Height average map computed from 3 input data files"};
    const char* names[] = {"count.dat", "rejected.dat", "avg.dat"};
    for (int k = 0; k < 3; ++k) {
      DataAttributes a = measurement_attributes();
      std::strcpy(a.comment, comments[k]);
      TestMap map{{0, 0, 3, 2}, {1, 2, 3, 3, PHASE_INVALID, 2}};
      write_planoryx(dir.file(names[k]), a, map);
    }
  }
  TempDir dir;
};

TEST_F(CountMap, InfoShowsCountsNotHeights) {
  const struct {
    const char* name;
    const char* max;  // the Max line's value
  } cases[] = {{"count.dat", "3 inputs"}, {"rejected.dat", "3 rejected values"}};
  for (const auto& c : cases) {
    const ProgramResult text = run_util({"info", "--params", dir.file(c.name)});
    ASSERT_EQ(0, text.status) << text.err;
    EXPECT_NE(std::string::npos, text.out.find(std::string("Max                  = ") + c.max + "\n"))
        << text.out;
    EXPECT_NE(std::string::npos, text.out.find("none (a count map holds no heights)"));
    const ProgramResult json = run_util({"info", "--json", dir.file(c.name)});
    const nlohmann::json st = nlohmann::json::parse(json.out)["files"][0]["statistics"];
    EXPECT_TRUE(st["metres"].is_null());
    EXPECT_EQ(3, st["counts"]["max"]);
  }
  // A map of heights keeps its heights.
  const ProgramResult avg = run_util({"info", dir.file("avg.dat")});
  EXPECT_NE(std::string::npos, avg.out.find("Max                  = 3 counts, ")) << avg.out;
}

TEST_F(CountMap, ExportsCountsAndX3pRefuses) {
  const std::string out = dir.file("out.txt");
  ASSERT_EQ(0, run_util({"export", dir.file("count.dat"), "--format", "matrix", "-o", out}).status);
  EXPECT_EQ("1 2 3\n3 NaN 2\n", read_all(out)) << "counts, not metres";
  const struct {
    std::vector<std::string> args;
    const char* says;
  } refusals[] = {
      {{"--format", "x3p"}, "is a count map (counts of inputs per pixel), not heights: X3P"},
      {{"--format", "gsf", "--values", "heights"}, "export it with --values counts"},
  };
  for (const auto& r : refusals) {
    std::vector<std::string> args = {"export", dir.file("count.dat"), "-o", out};
    args.insert(args.end(), r.args.begin(), r.args.end());
    const ProgramResult result = run_util(args);
    EXPECT_EQ(1, result.status);
    EXPECT_NE(std::string::npos, result.err.find(r.says)) << result.err;
  }
}

}  // namespace

}  // namespace harnix
