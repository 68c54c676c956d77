#include "datafile/validate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace harnix {

namespace {

constexpr float NOT_A_NUMBER = std::numeric_limits<float>::quiet_NaN();
constexpr float INFINITE_VALUE = std::numeric_limits<float>::infinity();

const char* const NO_CAMERA = "Camera width or height less than or equal to zero.";
const char* const NEGATIVE_RES = "Lateral resolution is less than zero.";
const char* const PIXELS = "Unequal camera pixel width and height.";
const char* const SCALE = "Interferometric scale factor less than or equal to zero.";
const char* const WAVELENGTH = "Wavelength-in less than or equal to zero.";
const char* const OBLIQUITY = "Obliquity factor less than or equal to zero.";
const char* const INCONSISTENT = "Camera width or height inconsistent with data.";

DataAttributes good_attributes() {
  DataAttributes a{};
  a.CameraWidth = 640;
  a.CameraHeight = 480;
  a.CameraRes = 1e-6f;
  a.PixelWidth = 7.4e-6f;
  a.PixelHeight = 7.4e-6f;
  a.IntfScaleFactor = 0.5f;
  a.WavelengthIn = 632.8e-9f;
  a.ObliquityFactor = 1.0f;
  return a;
}

int32_t storage = 0;  // maps take part when they hold storage; validation never reads it

struct Case {
  const char* name;
  void (*change)(DataAttributes&, PhaseMap&, IntensityMap&);
  ErrorCode rc;
  const char* message;  // "" when the entry passes
  bool camera_required = true;
};

const Case CASES[] = {
    {"good", [](DataAttributes&, PhaseMap&, IntensityMap&) {}, NO_ERROR, ""},
    {"camera_width_zero", [](DataAttributes& a, PhaseMap&, IntensityMap&) { a.CameraWidth = 0; },
     ERR_IMPROPER_WINDOW, NO_CAMERA},
    {"camera_height_negative",
     [](DataAttributes& a, PhaseMap&, IntensityMap&) { a.CameraHeight = -1; }, ERR_IMPROPER_WINDOW,
     NO_CAMERA},
    // Not required: the size is cleared and the extents are no longer checked.
    {"camera_zero_not_required",
     [](DataAttributes& a, PhaseMap& p, IntensityMap&) {
       a.CameraWidth = 0;
       p.window.width = 5000;
     },
     NO_ERROR, "", false},
    {"camera_res_zero", [](DataAttributes& a, PhaseMap&, IntensityMap&) { a.CameraRes = 0; },
     NO_ERROR, ""},
    {"camera_res_negative",
     [](DataAttributes& a, PhaseMap&, IntensityMap&) { a.CameraRes = -1e-9f; }, ERR_INVALID_PARAM,
     NEGATIVE_RES},
    {"camera_res_nan", [](DataAttributes& a, PhaseMap&, IntensityMap&) { a.CameraRes = NOT_A_NUMBER; },
     NO_ERROR, ""},
    {"resolution_before_pixels",
     [](DataAttributes& a, PhaseMap&, IntensityMap&) {
       a.CameraRes = -1;
       a.PixelHeight = 1;
     },
     ERR_INVALID_PARAM, NEGATIVE_RES},
    {"pixels_unequal", [](DataAttributes& a, PhaseMap&, IntensityMap&) { a.PixelHeight = 7.5e-6f; },
     ERR_INVALID_PARAM, PIXELS},
    {"pixels_nan",
     [](DataAttributes& a, PhaseMap&, IntensityMap&) { a.PixelWidth = a.PixelHeight = NOT_A_NUMBER; },
     ERR_INVALID_PARAM, PIXELS},
    {"scale_zero", [](DataAttributes& a, PhaseMap&, IntensityMap&) { a.IntfScaleFactor = 0; },
     ERR_PARAM_OUT_OF_RANGE, SCALE},
    {"scale_nan", [](DataAttributes& a, PhaseMap&, IntensityMap&) { a.IntfScaleFactor = NOT_A_NUMBER; },
     ERR_PARAM_OUT_OF_RANGE, SCALE},
    {"scale_infinite",
     [](DataAttributes& a, PhaseMap&, IntensityMap&) { a.IntfScaleFactor = INFINITE_VALUE; },
     ERR_PARAM_OUT_OF_RANGE, SCALE},
    {"wavelength_negative",
     [](DataAttributes& a, PhaseMap&, IntensityMap&) { a.WavelengthIn = -1e-9f; },
     ERR_PARAM_OUT_OF_RANGE, WAVELENGTH},
    {"wavelength_nan", [](DataAttributes& a, PhaseMap&, IntensityMap&) { a.WavelengthIn = NOT_A_NUMBER; },
     ERR_PARAM_OUT_OF_RANGE, WAVELENGTH},
    {"wavelength_minus_infinity",
     [](DataAttributes& a, PhaseMap&, IntensityMap&) { a.WavelengthIn = -INFINITE_VALUE; },
     ERR_PARAM_OUT_OF_RANGE, WAVELENGTH},
    {"obliquity_zero", [](DataAttributes& a, PhaseMap&, IntensityMap&) { a.ObliquityFactor = 0; },
     ERR_PARAM_OUT_OF_RANGE, OBLIQUITY},
    {"obliquity_infinite",
     [](DataAttributes& a, PhaseMap&, IntensityMap&) { a.ObliquityFactor = INFINITE_VALUE; },
     ERR_PARAM_OUT_OF_RANGE, OBLIQUITY},
    {"factors_ignored_without_phase",
     [](DataAttributes& a, PhaseMap& p, IntensityMap&) {
       a.WavelengthIn = 0;
       a.IntfScaleFactor = NOT_A_NUMBER;
       p.matrix = nullptr;
     },
     NO_ERROR, ""},
    {"phase_reaches_camera_edge",
     [](DataAttributes&, PhaseMap& p, IntensityMap&) {
       p.window = {10, 0, 630, 480};
     },
     NO_ERROR, ""},
    {"phase_past_camera_edge",
     [](DataAttributes& a, PhaseMap& p, IntensityMap&) {
       p.window = {10, 0, 630, 480};
       a.CameraWidth = 639;
     },
     ERR_IMPROPER_WINDOW, INCONSISTENT},
    {"negative_start_not_checked",
     [](DataAttributes&, PhaseMap& p, IntensityMap&) {
       p.window = {-5, -9, 645, 489};
     },
     NO_ERROR, ""},
    {"intensity_past_bottom",
     [](DataAttributes&, PhaseMap&, IntensityMap& i) {
       i.matrix = reinterpret_cast<uint16_t*>(&storage);
       i.window = {0, 470, 1, 11};
     },
     ERR_IMPROPER_WINDOW, INCONSISTENT},
    {"intensity_without_storage_not_checked",
     [](DataAttributes&, PhaseMap&, IntensityMap& i) {
       i.window = {0, 470, 1, 11};
     },
     NO_ERROR, ""},
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << c.name;
}

class ValidateTest : public ::testing::TestWithParam<Case> {};

TEST_P(ValidateTest, CodeAndMessage) {
  const Case& c = GetParam();
  DataAttributes a = good_attributes();
  PhaseMap phase{1, {0, 0, 640, 480}, 0, 0, &storage};
  IntensityMap intensity{};
  c.change(a, phase, intensity);
  const DataAttributes before = a;
  char message[VALIDATION_MESSAGE_BYTES];
  std::snprintf(message, sizeof message, "stale");
  EXPECT_EQ(c.rc, validate_attributes(&a, &intensity, &phase, c.camera_required, message));
  EXPECT_STREQ(c.message, message);
  EXPECT_EQ(c.rc, validate_attributes(&a, &intensity, &phase, c.camera_required, nullptr));
  if (c.camera_required || (before.CameraWidth > 0 && before.CameraHeight > 0)) {
    EXPECT_EQ(before.CameraWidth, a.CameraWidth);
    EXPECT_EQ(before.CameraHeight, a.CameraHeight);
  } else {
    EXPECT_EQ(0, a.CameraWidth);
    EXPECT_EQ(0, a.CameraHeight);
  }
}

INSTANTIATE_TEST_SUITE_P(Validate, ValidateTest, ::testing::ValuesIn(CASES),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ValidateSets, SelectionAndFirstFailure) {
  DataAttributes a[3] = {good_attributes(), good_attributes(), good_attributes()};
  PhaseMap phase[3] = {{1, {0, 0, 1, 1}, 0, 0, &storage},
                       {1, {0, 0, 1, 1}, 0, 0, &storage},
                       {1, {0, 0, 1, 1}, 0, 0, &storage}};
  a[1].WavelengthIn = 0;
  a[2].ObliquityFactor = 0;
  char message[VALIDATION_MESSAGE_BYTES];
  const uint8_t skip_middle[] = {1, 0, 1};
  EXPECT_EQ(ERR_PARAM_OUT_OF_RANGE,
            validate_attribute_sets(a, nullptr, phase, true, 3, skip_middle, message));
  EXPECT_STREQ(OBLIQUITY, message);
  EXPECT_EQ(ERR_PARAM_OUT_OF_RANGE,
            validate_attribute_sets(a, nullptr, phase, true, 3, nullptr, message));
  EXPECT_STREQ(WAVELENGTH, message);  // the first failing entry answers
  const uint8_t only_exact_ones[] = {1, 2, 255};
  EXPECT_EQ(NO_ERROR,
            validate_attribute_sets(a, nullptr, phase, true, 3, only_exact_ones, message));
  EXPECT_EQ(NO_ERROR, validate_attribute_sets(a, nullptr, nullptr, true, 3, nullptr, message));
  EXPECT_STREQ("", message);
}

TEST(ValidateSets, NothingToCheckPasses) {
  char message[VALIDATION_MESSAGE_BYTES] = "stale";
  EXPECT_EQ(NO_ERROR,
            validate_attribute_sets(nullptr, nullptr, nullptr, true, 0, nullptr, message));
  EXPECT_STREQ("", message);
  DataAttributes bad{};
  const uint8_t none[] = {0};
  EXPECT_EQ(NO_ERROR, validate_attribute_sets(&bad, nullptr, nullptr, true, 1, none, message));
}

}  // namespace

}  // namespace harnix
