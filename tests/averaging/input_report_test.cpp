// The per-input report end to end against its slow reference (reference/report_reference.h):
// a shifted, a tilted and a noisy input among clean ones, one input without compared pixels and
// one of a single row,
// file names that need CSV quoting, with and without CameraRes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "averaging/input_report.h"
#include "maps/storage.h"
#include "reference/report_reference.h"
#include "support/planoryx_bytes.h"
#include "support/run_directory.h"

namespace harnix {

namespace {

constexpr int16_t W = 20, H = 15;

// Records of RFC 4180 text with CR LF line ends; fails the test on text that is not.
std::vector<std::vector<std::string>> parse_csv(const std::string& text) {
  std::vector<std::vector<std::string>> records(1, std::vector<std::string>(1));
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '"') {
      for (++i; i < text.size() && !(text[i] == '"' && text[i + 1] != '"'); ++i) {
        if (text[i] == '"') ++i;
        records.back().back() += text[i];
      }
    } else if (text[i] == ',') {
      records.back().emplace_back();
    } else if (text.compare(i, 2, "\r\n") == 0) {
      ++i;
      records.emplace_back(1);
    } else {
      records.back().back() += text[i];
    }
  }
  EXPECT_EQ(1u, records.back().size());
  EXPECT_EQ("", records.back().back()) << "the text ends with CR LF";
  records.pop_back();
  return records;
}

void expect_number(const std::string& cell, std::optional<long double> want, const char* what) {
  if (!want) {
    EXPECT_EQ("", cell) << what;
    return;
  }
  ASSERT_FALSE(cell.empty()) << what;
  const long double got = std::stold(cell);
  EXPECT_NEAR(double(got), double(*want), 1e-8 * std::fabs(double(*want)) + 1e-16) << what;
}

class InputReportTest : public RunDirectory, public ::testing::WithParamInterface<float> {};

TEST_P(InputReportTest, RowsMatchTheReference) {
  std::mt19937 rng(7);
  auto noise = [&](int size) { return std::uniform_int_distribution<int>(-size, size)(rng); };
  const std::vector<std::string> names = {"plain.dat",  "a,b.dat",         "q\"uote.dat",
                                          "noisy.dat",  "line\nbreak.dat", "corner.dat",
                                          "one row.dat"};
  std::vector<MeasurementFile> files(names.size());
  for (std::size_t i = 0; i < files.size(); ++i) {
    MeasurementFile& f = files[i];
    f.camera_width = W;
    f.camera_height = H;
    f.camera_res = GetParam();
    f.pixel_width = f.pixel_height = 5e-6f;
    f.width = i == 5 ? 2 : W;
    f.height = i == 5 ? 2 : i == 6 ? 1 : H;
    f.y = i == 6 ? 7 : 0;
    for (int y = f.y; y < f.y + f.height; ++y) {
      for (int x = 0; x < f.width; ++x) {
        double v = 1000 + 3 * x - 2 * y + noise(1);
        if (i == 1) v += 40;                       // a piston
        if (i == 2) v += 0.5 * x - 0.3 * y;        // a tilt
        if (i == 3) v += noise(30);                // noise
        if (i == 3 && x == 4 && y == 4) v += 900;  // and a spike the average leaves out
        const bool corner = x < 2 && y < 2;        // only the last input is valid there
        f.values.push_back(corner && i != 5 ? TEST_PHASE_INVALID : int32_t(std::lround(v)));
      }
    }
  }
  std::vector<std::string> args = {"-InputReport", "rep.csv", "-AvgOut", "a.dat",
                                   "-MinValidCnt", "2",       "-Reject", "4"};
  for (std::size_t i = 0; i < files.size(); ++i) {
    write_input(names[i], files[i]);
    args.push_back(names[i]);
  }
  const ProgramResult r = harnix(args);
  ASSERT_EQ(0, r.status) << r.err;

  const RejectionReference rejection = reference_rejection(files, -1, 4.0, 1);
  const std::vector<ReportRow> want = reference_report(files, 2, &rejection);
  const auto records = parse_csv(read_file_bytes(path("rep.csv")));
  ASSERT_EQ(files.size() + 1, records.size());
  EXPECT_EQ((std::vector<std::string>{"index", "file", "valid_pixels", "rejected_pixels",
                                      "compared_pixels", "mean_diff_m", "tilt_x", "tilt_y",
                                      "rms_diff_m", "outlier"}),
            records[0]);
  for (std::size_t i = 0; i < files.size(); ++i) {
    const std::vector<std::string>& row = records[i + 1];
    const ReportRow& w = want[i];
    ASSERT_EQ(10u, row.size()) << names[i];
    EXPECT_EQ(std::to_string(i + 1), row[0]);
    EXPECT_EQ(names[i], row[1]);
    EXPECT_EQ(std::to_string(w.valid), row[2]) << names[i];
    EXPECT_EQ(std::to_string(w.rejected), row[3]) << names[i];
    EXPECT_EQ(std::to_string(w.compared), row[4]) << names[i];
    const bool compared = w.compared > 0;
    expect_number(row[5], compared ? std::optional(w.mean) : std::nullopt, "mean");
    expect_number(row[6], compared ? w.tilt_x : std::nullopt, "tilt_x");
    expect_number(row[7], compared ? w.tilt_y : std::nullopt, "tilt_y");
    expect_number(row[8], compared ? std::optional(w.rms) : std::nullopt, "rms");
    EXPECT_EQ(compared ? (w.outlier ? "yes" : "no") : "", row[9]) << names[i];
  }
  EXPECT_EQ("yes", records[4][9]) << "the noisy input stands out";
  EXPECT_EQ("0", records[6][4]) << "the corner input has no average to compare with";
  EXPECT_EQ("", records[7][7]) << "one row tells no slope down the columns";
}

INSTANTIATE_TEST_SUITE_P(Spacing, InputReportTest, ::testing::Values(7.4e-6f, 0.0f));

// The row parts of an input, formed a few rows at a time in any order, give the figures of one
// sweep over its rows to the bit: a window inside the camera, invalid pixels and an average with
// gaps, with and without a scale factor.
TEST(InputReportParts, AnyRowsInAnyOrderGiveTheFiguresOfOneSweep) {
  std::mt19937 rng(11);
  RealMap average;
  map_init(average);
  average.window = Window{0, 0, 37, 29};
  ASSERT_EQ(NO_ERROR, map_alloc(average));
  for (std::size_t i = 0; i < std::size_t(37 * 29); ++i)
    average.matrix[i] = rng() % 17 == 0 ? NAN : 1000.0 + double(rng() % 5000) / 7.0;
  PhaseMap input;
  map_init(input);
  input.window = Window{5, 3, 30, 23};
  ASSERT_EQ(NO_ERROR, map_alloc(input));
  for (std::size_t i = 0; i < std::size_t(30 * 23); ++i)
    input.matrix[i] = rng() % 13 == 0 ? PHASE_INVALID : int32_t(900 + rng() % 400 + i % 30 * 3);
  const ReportScale scale{1e-9, 7.4e-6};
  for (double f : {1.0, 1.25}) {
    double d0 = 0.0;
    ASSERT_TRUE(report_shift(input, f, average, nullptr, &d0));
    std::vector<ReportRowPart> whole(23), pieces(23);
    report_row_parts(input, f, average, nullptr, d0, RowRange{0, 23}, whole.data());
    for (int32_t first = 20; first >= 0; first -= 4)
      report_row_parts(input, f, average, nullptr, d0, RowRange{first, std::min(4, 23 - first)},
                       pieces.data());
    report_row_parts(input, f, average, nullptr, d0, RowRange{0, 0}, pieces.data());
    InputFigures a{}, b{};
    report_figures(input, average, scale, true, d0, whole.data(), a);
    report_figures(input, average, scale, true, d0, pieces.data(), b);
    EXPECT_GT(a.compared_pixels, 0);
    EXPECT_EQ(a.compared_pixels, b.compared_pixels);
    EXPECT_EQ(a.valid_pixels, b.valid_pixels);
    EXPECT_EQ(a.mean_diff_m, b.mean_diff_m) << f;
    EXPECT_EQ(a.tilt_x, b.tilt_x) << f;
    EXPECT_EQ(a.tilt_y, b.tilt_y) << f;
    EXPECT_EQ(a.rms_diff_m, b.rms_diff_m) << f;
  }
  map_free(input);
  map_free(average);
}

}  // namespace

}  // namespace harnix
