// harnix-util export: every text and grid format read back by a reader written here from the
// formats' descriptions, compared point by point with the heights the file stands for.
#include <charconv>
#include <cmath>
#include <cstring>
#include <map>
#include <sstream>

#include "util_files.h"

namespace harnix {

namespace {

using namespace util_test;

// 5 x 4 at camera (3, 2): a tilted plane of positive and negative counts with three dropouts,
// one of them above the invalid marker (every value from 0x7FFFFFF8 up is invalid).
TestMap sample_map() {
  TestMap m{{3, 2, 5, 4}, {}};
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 5; ++c) m.values.push_back(12345 * c - 56789 * r + 17);
  m.values[1] = PHASE_INVALID;
  m.values[2 * 5 + 4] = PHASE_INVALID;
  m.values[3 * 5 + 0] = 0x7FFFFFFF;
  return m;
}

// A map read back: one value per pixel of `window`, NaN where the export marked a dropout.
struct Grid {
  Window window{};
  std::vector<double> z;
  double x_spacing = 0;  // 0 when the format does not carry it
};

double parse_number(const std::string& text) {
  if (text == "NaN") return std::nan("");
  double v = 0;
  auto r = std::from_chars(text.data(), text.data() + text.size(), v);
  EXPECT_TRUE(r.ec == std::errc() && r.ptr == text.data() + text.size()) << "\"" << text << "\"";
  return v;
}

std::map<std::string, std::string> gsf_fields;  // of the last read_gsf

Grid read_gsf(const std::string& path) {
  const std::string bytes = read_all(path);
  Grid g;
  const std::string magic = "Gwyddion Simple Field 1.0\n";
  EXPECT_EQ(0u, bytes.compare(0, magic.size(), magic));
  const std::size_t nul = bytes.find('\0');
  EXPECT_NE(std::string::npos, nul);
  gsf_fields.clear();
  std::istringstream header(bytes.substr(magic.size(), nul - magic.size()));
  for (std::string line; std::getline(header, line);) {
    const std::size_t eq = line.find(" = ");
    EXPECT_NE(std::string::npos, eq) << line;
    gsf_fields[line.substr(0, eq)] = line.substr(eq + 3);
  }
  const int xres = std::stoi(gsf_fields["XRes"]);
  const int yres = std::stoi(gsf_fields["YRes"]);
  const std::size_t data = nul + 4 - nul % 4;
  EXPECT_EQ(data + 4u * xres * yres, bytes.size());
  if (data + 4u * xres * yres != bytes.size()) return g;
  for (std::size_t i = nul; i < data; ++i) EXPECT_EQ('\0', bytes[i]);
  g.x_spacing = parse_number(gsf_fields["XReal"]) / xres;
  g.window = {static_cast<int16_t>(std::lround(parse_number(gsf_fields["XOffset"]) / g.x_spacing)),
              static_cast<int16_t>(std::lround(parse_number(gsf_fields["YOffset"]) / g.x_spacing)),
              static_cast<int16_t>(xres), static_cast<int16_t>(yres)};
  for (int i = 0; i < xres * yres; ++i) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + data + 4 * i);
    const uint32_t bits = p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
    float f;
    std::memcpy(&f, &bits, sizeof f);
    g.z.push_back(f);
  }
  return g;
}

// xyz lists valid points only: the grid is laid over `window` and starts all NaN.
Grid read_xyz(const std::string& path, const Window& window, double spacing) {
  Grid g{window,
         std::vector<double>(static_cast<std::size_t>(window.width * window.height), std::nan("")),
         spacing};
  std::istringstream in(read_all(path));
  for (std::string x, y, z; in >> x >> y >> z;) {
    const long c = std::lround(parse_number(x) / spacing) - window.x;
    const long r = std::lround(parse_number(y) / spacing) - window.y;
    EXPECT_DOUBLE_EQ((window.x + c) * spacing, parse_number(x));
    EXPECT_TRUE(c >= 0 && c < window.width && r >= 0 && r < window.height) << x << " " << y;
    if (c >= 0 && c < window.width && r >= 0 && r < window.height)
      g.z[static_cast<std::size_t>(r * window.width + c)] = parse_number(z);
  }
  return g;
}

Grid read_matrix(const std::string& path, const Window& window) {
  Grid g{window, {}, 0};
  std::istringstream in(read_all(path));
  int rows = 0;
  for (std::string line; std::getline(in, line); ++rows) {
    std::istringstream tokens(line);
    int columns = 0;
    for (std::string t; tokens >> t; ++columns) g.z.push_back(parse_number(t));
    EXPECT_EQ(window.width, columns) << "row " << rows;
  }
  EXPECT_EQ(window.height, rows);
  return g;
}

struct RoundTrip {
  const char* format;
  double relative_tolerance;  // single precision for GSF, exact for the text formats
};

class ExportRoundTrip : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(ExportRoundTrip, HeightsAndDropoutsComeBack) {
  TempDir dir;
  TestMap map = sample_map();
  const DataAttributes a = measurement_attributes();
  write_planoryx(dir.file("in.dat"), a, map);
  const std::string out = dir.file("out");
  ProgramResult r =
      run_util({"export", dir.file("in.dat"), "--format", GetParam().format, "-o", out});
  ASSERT_EQ(0, r.status) << r.err;
  EXPECT_EQ("", r.err);

  const double spacing = a.CameraRes;
  Grid g;
  if (std::string(GetParam().format) == "gsf") {
    g = read_gsf(out);
    EXPECT_DOUBLE_EQ(spacing, g.x_spacing);
    EXPECT_EQ("m", gsf_fields["XYUnits"]);
    EXPECT_EQ("m", gsf_fields["ZUnits"]);
    EXPECT_EQ("polished flat, run 7", gsf_fields["Comment"]);
    EXPECT_EQ("NaN", gsf_fields["MissingData"]);
  } else if (std::string(GetParam().format) == "xyz") {
    g = read_xyz(out, map.window, spacing);
  } else {
    g = read_matrix(out, map.window);
  }
  ASSERT_EQ(map.values.size(), g.z.size());
  EXPECT_EQ(map.window.x, g.window.x);
  EXPECT_EQ(map.window.y, g.window.y);
  const double k = metres_per_count(a);
  for (std::size_t i = 0; i < map.values.size(); ++i) {
    if (map.values[i] >= PHASE_INVALID) {
      EXPECT_TRUE(std::isnan(g.z[i])) << "dropout " << i << " exported as " << g.z[i];
    } else {
      const double want = map.values[i] * k;
      EXPECT_NEAR(want, g.z[i], std::fabs(want) * GetParam().relative_tolerance + 1e-300)
          << "point " << i;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, ExportRoundTrip,
                         ::testing::Values(RoundTrip{"gsf", 6e-8}, RoundTrip{"xyz", 0},
                                           RoundTrip{"matrix", 0}),
                         [](const auto& info) { return std::string(info.param.format); });

// The lateral spacing is CameraRes, or the camera pixel size when CameraRes is 0; without
// either, formats with lateral coordinates refuse rather than invent a scale.
TEST(Export, LateralSpacingComesFromCameraResOrPixelWidth) {
  struct Case {
    float camera_res;
    float pixel_width;
    double spacing;  // 0: refused
  } cases[] = {{1.2e-6f, 7.4e-6f, 1.2e-6f}, {0, 7.4e-6f, 7.4e-6f}, {0, 0, 0}};
  for (const Case& c : cases) {
    TempDir dir;
    TestMap map = sample_map();
    DataAttributes a = measurement_attributes();
    a.CameraRes = c.camera_res;
    a.PixelWidth = a.PixelHeight = c.pixel_width;
    write_planoryx(dir.file("in.dat"), a, map);
    ProgramResult r =
        run_util({"export", dir.file("in.dat"), "--format", "gsf", "-o", dir.file("o")});
    if (c.spacing == 0) {
      EXPECT_EQ(1, r.status);
      EXPECT_NE(std::string::npos, r.err.find("no lateral resolution")) << r.err;
      continue;
    }
    ASSERT_EQ(0, r.status) << r.err;
    EXPECT_DOUBLE_EQ(c.spacing, read_gsf(dir.file("o")).x_spacing) << c.camera_res;
  }
}

// The GSF data starts after one to four NULs at the next multiple of 4; titles of four
// consecutive lengths make the header end at every offset modulo 4.
TEST(Export, GsfPaddingForEveryHeaderLength) {
  for (const std::string name : {"a.dat", "ab.dat", "abc.dat", "abcd.dat"}) {
    TempDir dir;
    TestMap map = sample_map();
    write_planoryx(dir.file(name), measurement_attributes(), map);
    ASSERT_EQ(0,
              run_util({"export", dir.file(name), "--format", "gsf", "-o", dir.file("o")}).status);
    EXPECT_EQ(map.values.size(), read_gsf(dir.file("o")).z.size()) << name;
    EXPECT_EQ(name, gsf_fields["Title"]);
  }
}

// Counts export the stored values unscaled; a chosen fill value marks dropouts unless it could
// pass for a value of the map.
TEST(Export, MatrixCountsAndFillValues) {
  TempDir dir;
  TestMap map = sample_map();
  write_planoryx(dir.file("in.dat"), measurement_attributes(), map);
  struct Case {
    std::vector<std::string> options;
    double fill;  // expected at dropouts (NaN compared as NaN)
    bool counts;
    const char* refusal;  // nullptr: accepted
  } cases[] = {
      {{}, std::nan(""), false, nullptr},
      {{"--values", "counts"}, std::nan(""), true, nullptr},
      {{"--values", "counts", "--fill", "-999999"}, -999999, true, nullptr},
      {{"--fill", "1e-3"}, 1e-3, false, nullptr},
      {{"--values", "counts", "--fill", "0"}, 0, true, "lies within the map's values"},
      {{"--fill", "0"}, 0, false, "lies within the map's values"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"export", dir.file("in.dat"), "--format", "matrix",
                                     "-o",     dir.file("m.txt")};
    args.insert(args.end(), c.options.begin(), c.options.end());
    std::filesystem::remove(dir.file("m.txt"));
    ProgramResult r = run_util(args);
    if (c.refusal != nullptr) {
      EXPECT_EQ(1, r.status);
      EXPECT_NE(std::string::npos, r.err.find(c.refusal)) << r.err;
      EXPECT_FALSE(std::filesystem::exists(dir.file("m.txt")));
      continue;
    }
    ASSERT_EQ(0, r.status) << r.err;
    Grid g = read_matrix(dir.file("m.txt"), map.window);
    ASSERT_EQ(map.values.size(), g.z.size());
    const double k = c.counts ? 1.0 : metres_per_count(measurement_attributes());
    for (std::size_t i = 0; i < g.z.size(); ++i) {
      if (map.values[i] >= PHASE_INVALID) {
        if (std::isnan(c.fill))
          EXPECT_TRUE(std::isnan(g.z[i]));
        else
          EXPECT_EQ(c.fill, g.z[i]);
      } else {
        EXPECT_DOUBLE_EQ(map.values[i] * k, g.z[i]);
      }
    }
  }
}

}  // namespace

}  // namespace harnix
