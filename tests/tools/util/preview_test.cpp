// harnix-util export --format png: the figure decoded again and checked at known pixels.
#include <cairo.h>

#include <cmath>
#include <memory>

#include "util_files.h"

namespace harnix {

namespace {

using namespace util_test;

struct Rgb {
  int r, g, b;
  bool operator==(const Rgb&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Rgb& c) {
  return os << "(" << c.r << ", " << c.g << ", " << c.b << ")";
}

constexpr Rgb INVALID = {255, 0, 255};

// A decoded PNG.
struct Picture {
  std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)> surface{nullptr,
                                                                             cairo_surface_destroy};
  int width = 0;
  int height = 0;

  explicit Picture(const std::string& path) {
    surface.reset(cairo_image_surface_create_from_png(path.c_str()));
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) return;
    width = cairo_image_surface_get_width(surface.get());
    height = cairo_image_surface_get_height(surface.get());
  }
  Rgb at(int x, int y) const {
    const unsigned char* row =
        cairo_image_surface_get_data(surface.get()) +
        static_cast<std::ptrdiff_t>(y) * cairo_image_surface_get_stride(surface.get());
    uint32_t p;
    std::memcpy(&p, row + 4 * x, sizeof p);
    return {static_cast<int>(p >> 16 & 0xFF), static_cast<int>(p >> 8 & 0xFF),
            static_cast<int>(p & 0xFF)};
  }
  // First pixel of colour c in reading order, or (-1, -1).
  std::pair<int, int> find(Rgb c) const {
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x)
        if (at(x, y) == c) return {x, y};
    return {-1, -1};
  }
};

// A 640 x 480 map: a gentle ramp (counts = column * 100 + row) with a 10 x 10 dropout block at
// the top-left corner, a block far below every other value at the bottom-left and one far above
// at the bottom-right. Both outlier blocks are 0.03 % of the points: the default 0.5 to 99.5
// percentile clip puts them beyond the colour range, the full range makes them its ends.
TestMap landmark_map() {
  TestMap m{{0, 0, 640, 480}, {}};
  for (int r = 0; r < 480; ++r)
    for (int c = 0; c < 640; ++c) {
      int32_t v = c * 100 + r;
      if (r < 10 && c < 10) v = PHASE_INVALID;
      if (r >= 470 && c < 10) v = -1000000;
      if (r >= 470 && c >= 630) v = 1000000;
      m.values.push_back(v);
    }
  return m;
}

struct MapEnds {
  const char* name;
  Rgb low;   // entry 0
  Rgb mid;   // entry 128
  Rgb high;  // entry 255
};

class PreviewColours : public ::testing::TestWithParam<MapEnds> {};

TEST_P(PreviewColours, LandmarksHaveTheirColoursAndRowZeroIsOnTop) {
  TempDir dir;
  TestMap map = landmark_map();
  write_planoryx(dir.file("in.dat"), measurement_attributes(), map);
  for (const char* range : {"0.5,99.5", "full"}) {
    ProgramResult r = run_util({"export", dir.file("in.dat"), "--format", "png", "-o",
                                dir.file("p.png"), "--cmap", GetParam().name, "--range", range});
    ASSERT_EQ(0, r.status) << r.err;
    Picture pic(dir.file("p.png"));
    ASSERT_GT(pic.width, 640);
    ASSERT_GT(pic.height, 480);

    // The dropout block marks the map's top-left corner; a 640 x 480 map is drawn 1:1.
    const auto [x0, y0] = pic.find(INVALID);
    ASSERT_GE(x0, 0) << "no invalid colour in the figure";
    for (int d = 0; d < 10; ++d) EXPECT_EQ(INVALID, pic.at(x0 + d, y0 + 9 - d)) << range;
    EXPECT_NE(INVALID, pic.at(x0 + 10, y0 + 10));
    EXPECT_NE(INVALID, pic.at(x0 - 1, y0));

    // Row 0 on top: the low block is at the bottom-left, the high block at the bottom-right.
    EXPECT_EQ(GetParam().low, pic.at(x0 + 5, y0 + 475)) << range;
    EXPECT_EQ(GetParam().high, pic.at(x0 + 635, y0 + 475)) << range;

    if (std::string(range) == "full") {
      // Counts 0..64000 lie in the bin just above the middle of [-1e6, 1e6].
      EXPECT_EQ(GetParam().mid, pic.at(x0 + 20, y0 + 240));
    } else {
      // The clipped range spans the ramp: its first and last columns take the map's ends.
      EXPECT_EQ(GetParam().low, pic.at(x0 + 0, y0 + 200));
      EXPECT_EQ(GetParam().high, pic.at(x0 + 639, y0 + 200));
    }

    // The colour bar right of the map runs from the high end at the top to the low one at the
    // bottom, alongside the map.
    bool bar_found = false;
    for (int x = x0 + 640; x < pic.width && !bar_found; ++x)
      bar_found = pic.at(x, y0) == GetParam().high && pic.at(x, y0 + 479) == GetParam().low;
    EXPECT_TRUE(bar_found) << range;
  }
}

INSTANTIATE_TEST_SUITE_P(
    ColourMaps, PreviewColours,
    ::testing::Values(MapEnds{"viridis", {68, 1, 84}, {33, 145, 140}, {253, 231, 37}},
                      MapEnds{"gray", {0, 0, 0}, {128, 128, 128}, {255, 255, 255}},
                      MapEnds{"jet", {0, 0, 128}, {130, 255, 126}, {128, 0, 0}}),
    [](const auto& info) { return std::string(info.param.name); });

// A small map is enlarged by a whole factor to at least 480 pixels, and --size sets the longer
// side; each map pixel becomes a block of that many figure pixels.
TEST(Preview, SmallMapsAreEnlargedByWholeFactors) {
  struct Case {
    std::vector<std::string> options;
    int factor;
  } cases[] = {{{}, 8}, {{"--size", "120"}, 2}};
  TempDir dir;
  TestMap map{{0, 0, 60, 40}, std::vector<int32_t>(60 * 40, 0)};
  for (int i = 0; i < 60 * 40; ++i) map.values[static_cast<std::size_t>(i)] = i % 60;
  map.values[0] = PHASE_INVALID;
  write_planoryx(dir.file("in.dat"), measurement_attributes(), map);
  for (const Case& c : cases) {
    std::vector<std::string> args = {"export", dir.file("in.dat"), "--format", "png",
                                     "-o",     dir.file("p.png")};
    args.insert(args.end(), c.options.begin(), c.options.end());
    ASSERT_EQ(0, run_util(args).status);
    Picture pic(dir.file("p.png"));
    const auto [x0, y0] = pic.find(INVALID);
    ASSERT_GE(x0, 0);
    EXPECT_EQ(INVALID, pic.at(x0 + c.factor - 1, y0 + c.factor - 1)) << c.factor;
    EXPECT_NE(INVALID, pic.at(x0 + c.factor, y0)) << c.factor;
    EXPECT_NE(INVALID, pic.at(x0, y0 + c.factor)) << c.factor;
  }
}

}  // namespace

}  // namespace harnix
