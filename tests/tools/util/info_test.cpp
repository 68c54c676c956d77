// harnix-util info: the JSON document parsed and compared with the file's contents; the text
// form checked for the same facts.
#include <cmath>
#include <nlohmann/json.hpp>
#include <regex>

#include "util_files.h"

namespace harnix {

namespace {

using namespace util_test;

using nlohmann::json;

// 4 x 3 at (10, 20) with one dropout: min -50, max 400, 11 valid points.
TestMap stats_map() {
  return {{10, 20, 4, 3}, {100, -50, 30, PHASE_INVALID, 400, 0, 7, 7, 1, 2, 3, 4}};
}

struct Expected {
  double min = 1e300, max = -1e300, mean = 0, rms = 0;
  int64_t valid = 0;
};

Expected expected_statistics(const TestMap& m) {
  Expected e;
  double sum = 0;
  for (int32_t v : m.values)
    if (v < PHASE_INVALID) {
      e.min = std::min<double>(e.min, v);
      e.max = std::max<double>(e.max, v);
      sum += v;
      ++e.valid;
    }
  e.mean = sum / e.valid;
  for (int32_t v : m.values)
    if (v < PHASE_INVALID) e.rms += (v - e.mean) * (v - e.mean);
  e.rms = std::sqrt(e.rms / e.valid);
  return e;
}

json parse_info(const std::vector<std::string>& files) {
  std::vector<std::string> args = {"info", "--json"};
  args.insert(args.end(), files.begin(), files.end());
  ProgramResult r = run_util(args);
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ("", r.err);
  return json::parse(r.out);
}

TEST(Info, JsonHoldsAttributesWindowsAndStatistics) {
  TempDir dir;
  TestMap map = stats_map();
  const DataAttributes a = measurement_attributes();
  std::vector<uint16_t> planes(2 * 4 * 3, 7);
  IntensityMap intensity{
      static_cast<uint32_t>(planes.size()), {10, 20, 4, 3}, 2, 4095, planes.data()};
  write_planoryx(dir.file("with.dat"), a, map, &intensity);
  write_planoryx(dir.file("without.dat"), a, map);

  const json doc = parse_info({dir.file("with.dat"), dir.file("without.dat")});
  ASSERT_EQ(2u, doc["files"].size());
  const json& f = doc["files"][0];
  EXPECT_EQ(dir.file("with.dat"), f["file"]);
  EXPECT_EQ(2, f["header"]["variant"]);  // Super resolution, nothing beyond the short header
  EXPECT_EQ("0x881B0370", f["header"]["magic"]);
  EXPECT_EQ(834, f["header"]["bytes"]);

  const json& at = f["attributes"];
  EXPECT_EQ(1700000000, at["TimeStamp"]);
  EXPECT_EQ("2023-11-14T22:13:20Z", at["TimeStampUTC"]);
  EXPECT_EQ("polished flat, run 7", at["comment"]);
  EXPECT_EQ(640, at["CameraWidth"]);
  EXPECT_EQ(480, at["CameraHeight"]);
  // Lengths in people's units, without the digits single precision invents.
  EXPECT_EQ(632.8, at["WavelengthIn_nm"].get<double>());
  EXPECT_EQ(1.2, at["CameraRes_um"].get<double>());
  EXPECT_EQ(7.4, at["PixelWidth_um"].get<double>());
  EXPECT_EQ(0.5, at["IntfScaleFactor"].get<double>());
  EXPECT_EQ(1.0, at["ObliquityFactor"].get<double>());
  EXPECT_EQ(2, at["PhaseRes"]);
  EXPECT_EQ("Super", at["PhaseResLabel"]);
  EXPECT_EQ(131072, at["CountsPerFringe"]);

  EXPECT_EQ(
      json({{"x", 10}, {"y", 20}, {"width", 4}, {"height", 3}, {"n_buckets", 2}, {"range", 4095}}),
      f["intensity_window"]);
  EXPECT_EQ(json({{"x", 10}, {"y", 20}, {"width", 4}, {"height", 3}}), f["phase_window"]);
  EXPECT_TRUE(doc["files"][1]["intensity_window"].is_null());

  const double k = metres_per_count(a);
  EXPECT_DOUBLE_EQ(k, f["height_per_count_m"].get<double>());
  EXPECT_DOUBLE_EQ(1.2e-6f, f["lateral_spacing_m"].get<double>());
  EXPECT_EQ("CameraRes", f["lateral_spacing_source"]);

  const Expected e = expected_statistics(map);
  const json& st = f["statistics"];
  EXPECT_EQ(e.valid, st["valid_points"]);
  EXPECT_EQ(12, st["total_points"]);
  for (const auto& [unit, scale] : {std::pair<const char*, double>{"counts", 1.0}, {"metres", k}}) {
    EXPECT_DOUBLE_EQ(e.min * scale, st[unit]["min"].get<double>()) << unit;
    EXPECT_DOUBLE_EQ(e.max * scale, st[unit]["max"].get<double>()) << unit;
    EXPECT_DOUBLE_EQ(e.mean * scale, st[unit]["mean"].get<double>()) << unit;
    EXPECT_DOUBLE_EQ(e.rms * scale, st[unit]["rms"].get<double>()) << unit;
    EXPECT_DOUBLE_EQ((e.max - e.min) * scale, st[unit]["peak_to_valley"].get<double>()) << unit;
  }
}

// The header variant follows the attributes the writer was given; maps without valid points or
// without a usable height scale give nulls rather than numbers.
TEST(Info, VariantsAndMissingFacts) {
  struct Case {
    int16_t phase_res;
    float zoom;
    float wavelength;
    bool all_invalid;
    int variant;
    int bytes;
  } cases[] = {
      {PHASE_RES_NORMAL, 0, 632.8e-9f, false, 1, 834},
      {PHASE_RES_SUPER, 0, 632.8e-9f, false, 2, 834},
      {PHASE_RES_HIGH, 2.5f, 632.8e-9f, false, 3, 4096},
      {PHASE_RES_SUPER, 0, 0, false, 2, 834},
      {PHASE_RES_SUPER, 0, 632.8e-9f, true, 2, 834},
  };
  for (const Case& c : cases) {
    TempDir dir;
    DataAttributes a = measurement_attributes();
    a.PhaseRes = c.phase_res;
    a.ZoomMag = c.zoom;
    a.WavelengthIn = c.wavelength;
    TestMap map = stats_map();
    if (c.all_invalid) map.values.assign(map.values.size(), PHASE_INVALID);
    write_planoryx(dir.file("f.dat"), a, map);
    const json f = parse_info({dir.file("f.dat")})["files"][0];
    EXPECT_EQ(c.variant, f["header"]["variant"]);
    EXPECT_EQ(c.bytes, f["header"]["bytes"]);
    EXPECT_EQ(c.zoom, f["attributes"]["ZoomMag"].get<double>());
    EXPECT_EQ(c.wavelength == 0, f["height_per_count_m"].is_null());
    const json& st = f["statistics"];
    EXPECT_EQ(c.all_invalid ? 0 : 11, st["valid_points"]);
    EXPECT_EQ(c.all_invalid, st["counts"].is_null());
    EXPECT_EQ(c.all_invalid || c.wavelength == 0, st["metres"].is_null());
  }
}

TEST(Info, TextShowsTheSameFactsInAlignedLines) {
  TempDir dir;
  TestMap map = stats_map();
  write_planoryx(dir.file("a.dat"), measurement_attributes(), map);
  write_planoryx(dir.file("b.dat"), measurement_attributes(), map);
  ProgramResult r = run_util({"info", dir.file("a.dat"), dir.file("b.dat")});
  ASSERT_EQ(0, r.status) << r.err;
  for (const char* line :
       {"Header               = variant 2 (magic 0x881B0370, 834 bytes)\n",
        "TimeStamp            = 1700000000 (2023-11-14T22:13:20Z)\n",
        "Comment              = \"polished flat, run 7\"\n", "WavelengthIn         = 632.8 nm\n",
        "CameraRes            = 1.2 um\n",
        "PhaseRes             = 2 (Super, 131072 counts per fringe)\n",
        "Intensity window     = none\n", "Phase window         = x 10, y 20, width 4, height 3\n",
        "Lateral spacing      = 1.2 um (CameraRes)\n",
        "Valid points         = 11 of 12 (91.67 %)\n"}) {
    EXPECT_NE(std::string::npos, r.out.find(line)) << line << "in\n" << r.out;
  }
  // min -50 counts = -50 * 0.5 * 632.8 nm / 131072
  EXPECT_TRUE(std::regex_search(r.out, std::regex("\nMin +=  ?-50 counts, -0\\.120697 nm\n")))
      << r.out;
  EXPECT_NE(std::string::npos, r.out.find("\n\nFile                 = \"" + (dir.file("b.dat"))));
}

}  // namespace

}  // namespace harnix
