// End-to-end: the averaging run's failure messages and its verbose progress report.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

#include "support/planoryx_bytes.h"
#include "support/run_directory.h"

namespace harnix {

namespace {

constexpr int32_t X = TEST_PHASE_INVALID;

MeasurementFile with(MeasurementFile f, void (*change)(MeasurementFile&)) {
  change(f);
  return f;
}

std::string error_lines(std::vector<std::string> texts) {
  std::string s;
  for (const std::string& t : texts) s += "Harnix\nERROR: " + t + "\n";
  return s;
}

struct FailureCase {
  const char* name;
  std::vector<std::pair<std::string, std::string>> files;  // name, bytes
  std::vector<std::string> args;
  std::string err;
};

class RunFailureTest : public RunDirectory, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(RunFailureTest, ReportsItsMessageAndLeavesOutputsEmpty) {
  const FailureCase& c = GetParam();
  for (const auto& [name, bytes] : c.files) write_file_bytes(path(name), bytes);
  const ProgramResult r = harnix(c.args);
  EXPECT_EQ(1, r.status);
  EXPECT_EQ(c.err, r.err);
  for (const char* out : {"a.dat", "s.dat", "c.dat"}) {
    if (std::filesystem::exists(path(out))) {
      EXPECT_EQ("", read_file_bytes(path(out))) << out;
    }
  }
}

const std::string GOOD = encode_test_file(full_field(2, 1, {1, 2}));
const std::string LEFT_ONLY = encode_test_file(full_field(2, 1, {1, X}));
const std::string RIGHT_ONLY = encode_test_file(full_field(2, 1, {X, 2}));

INSTANTIATE_TEST_SUITE_P(
    Messages, RunFailureTest,
    ::testing::Values(
        FailureCase{"OutputCannotBeCreated",
                    {{"1.dat", GOOD}},
                    {"-AvgOut", "a.dat", "-SdevOut", "no/such/dir/s.dat", "1.dat"},
                    error_lines({"Cannot create output file \"no/such/dir/s.dat\""})},
        FailureCase{"NotADataFile",
                    {{"1.dat", GOOD}, {"bad.dat", std::string(900, 'x')}},
                    {"-AvgOut", "a.dat", "1.dat", "bad.dat"},
                    error_lines({"Error reading input file \"bad.dat\"", "ERR_NOT_A_DATA_FILE"})},
        FailureCase{"ShortFile",
                    {{"bad.dat", std::string(3, '\x88')}},
                    {"-CountOut", "c.dat", "bad.dat"},
                    error_lines({"Error reading input file \"bad.dat\"", "ERR_PREMATURE_EOF"})},
        FailureCase{
            "UnequalPixels",
            {{"p.dat", encode_test_file(with(full_field(2, 1, {1, 2}),
                                             [](MeasurementFile& f) { f.pixel_height = 1e-6f; }))}},
            {"-AvgOut", "a.dat", "p.dat"},
            "Harnix\nERROR: Invalid attribute information in input file \"p.dat\"\n"
            "Unequal camera pixel width and height.\n" +
                error_lines({"ERR_INVALID_PARAM"})},
        FailureCase{
            "NoCamera",
            {{"p.dat", encode_test_file(with(full_field(2, 1, {1, 2}),
                                             [](MeasurementFile& f) { f.camera_height = 0; }))}},
            {"-AvgOut", "a.dat", "p.dat"},
            "Harnix\nERROR: Invalid attribute information in input file \"p.dat\"\n"
            "Camera width or height less than or equal to zero.\n" +
                error_lines({"ERR_IMPROPER_WINDOW"})},
        FailureCase{
            "NoPhaseBlock",
            {{"1.dat", GOOD},
             {"n.dat", encode_test_file(with(full_field(2, 1, {}),
                                             [](MeasurementFile& f) { f.has_phase = false; }))}},
            {"-AvgOut", "a.dat", "1.dat", "n.dat"},
            error_lines({"Input file \"n.dat\" contains no height data"})},
        FailureCase{"NoValidPoint",
                    {{"v.dat", encode_test_file(full_field(2, 1, {X, X}))}},
                    {"-SdevOut", "s.dat", "v.dat"},
                    error_lines({"Input file \"v.dat\" contains no valid data points"})},
        FailureCase{"AverageAllDropouts",
                    {{"l.dat", LEFT_ONLY}, {"r.dat", RIGHT_ONLY}},
                    {"-AvgOut", "a.dat", "-CountOut", "c.dat", "l.dat", "r.dat"},
                    error_lines({"Height average map contains no valid data points"})},
        FailureCase{"DeviationAllDropouts",
                    {{"l.dat", LEFT_ONLY}, {"r.dat", RIGHT_ONLY}},
                    {"-SdevOut", "s.dat", "-CountOut", "c.dat", "l.dat", "r.dat"},
                    error_lines({"ERR_ALL_BAD_DATA"})},
        FailureCase{"WindowLeftOfCamera",
                    {{"w.dat", encode_test_file(with(full_field(2, 1, {1, 2}),
                                                     [](MeasurementFile& f) { f.x = -1; }))}},
                    {"-AvgOut", "a.dat", "w.dat"},
                    error_lines({"ERR_IMPROPER_WINDOW"})},
        // Emptying an output that is also an input would destroy it before it is read.
        FailureCase{"OutputIsAnInput",
                    {{"1.dat", GOOD}, {"2.dat", GOOD}},
                    {"-Overwrite", "-CountOut", "2.dat", "1.dat", "2.dat"},
                    error_lines({"Cannot create output file \"2.dat\""})}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return info.param.name; });

TEST_F(RunDirectory, OutputNamingAnInputLeavesTheInputIntact) {
  write_file_bytes(path("1.dat"), GOOD);
  write_file_bytes(path("2.dat"), GOOD);
  EXPECT_EQ(1, harnix({"-Overwrite", "-AvgOut", "1.dat", "1.dat", "2.dat"}).status);
  EXPECT_EQ(GOOD, read_file_bytes(path("1.dat")));
}

TEST_F(RunDirectory, CameraTooLargeForThisMachineIsRefusedBeforeAllocating) {
  const double camera_bytes = 32767.0 * 32767.0 * 36.0;
  if (double(sysconf(_SC_PHYS_PAGES)) * double(sysconf(_SC_PAGESIZE)) >= camera_bytes)
    GTEST_SKIP() << "this machine could hold the working maps of the largest camera";
  MeasurementFile f = full_field(1, 1, {5});
  f.camera_width = f.camera_height = 32767;
  write_file_bytes(path("big.dat"), encode_test_file(f));
  const ProgramResult r = harnix({"-AvgOut", "a.dat", "big.dat"});
  EXPECT_EQ(1, r.status);
  EXPECT_EQ(error_lines({"ERR_NO_MEM"}), r.err);
}

std::string line(const std::string& label, const std::string& value) {
  return label + std::string(label.size() < 20 ? 20 - label.size() : 0, ' ') + " = " + value + "\n";
}

TEST_F(RunDirectory, VerboseReportListsSettingsInputsWindowsAndWrites) {
  setenv("TZ", "UTC0", 1);  // the child takes the time zone from its environment
  MeasurementFile first = full_field(3, 2, {X, 1, 2, X, 3, 4}, 0);
  first.time_stamp = 1767225600 + 3661;  // 2026-01-01 01:01:01
  MeasurementFile second = full_field(3, 2, {5, 6, 7, 8, 9, 10}, 2);
  second.time_stamp = 1767225600 + 86400 * 31;  // 2026-02-01 00:00:00
  second.zoom = 1.5f;
  second.obliquity = 1.25f;
  first.zoom = 1.5f;
  write_input("1.dat", first);
  write_input("2.dat", second);
  const ProgramResult r = harnix({"-AvgOut", "a.dat", "-CountOut", "c.dat", "-PhaseRes", "high",
                                  "-Verbose", "1.dat", "2.dat"});
  ASSERT_EQ(0, r.status) << r.err;
  auto input_lines = [](int i, const char* name, const char* when, const char* x, const char* width,
                        const char* obliquity, const char* res, const char* counts) {
    char label[16];
    std::snprintf(label, sizeof label, "InFile[%04d]", i);
    return "\n" + line(label, std::string("\"") + name + "\"") + line("TimeStamp", when) +
           line("CameraWidth", "3") + line("CameraHeight", "2") + line("PixelWidth", "7.4 um") +
           line("PixelHeight", "7.4 um") + line("CameraRes", "7.4 um") + line("WindowX", x) +
           line("WindowY", "0") + line("WindowWidth", width) + line("WindowHeight", "2") +
           line("IntfScaleFactor", "0.5") + line("WavelengthIn", "632.8 nm") +
           line("ObliquityFactor", obliquity) + line("PhaseRes", res) + line("OvikRes", counts) +
           line("ZoomMag", "1.5") + "\n";
  };
  const std::string expected =
      line("AvgOutFile", "\"a.dat\"") + line("SdevOutFile", "None") +
      line("CountOutFile", "\"c.dat\"") + line("MinValidCnt", "2") +
      line("Output PhaseRes", "High") + line("Output OvikRes", "1/32768 fr") +
      input_lines(1, "1.dat", "Thu Jan  1 01:01:01 2026", "1", "2", "1", "Normal", "1/4096 fr") +
      input_lines(2, "2.dat", "Sun Feb  1 00:00:00 2026", "0", "3", "1.25", "Super",
                  "1/131072 fr") +
      line("Avg WindowX", "1") + line("Avg WindowY", "0") + line("Avg WindowWidth", "2") +
      line("Avg WindowHeight", "2") + "\nWrote \"a.dat\"\n\n" + line("Count WindowX", "0") +
      line("Count WindowY", "0") + line("Count WindowWidth", "3") +
      line("Count WindowHeight", "2") + "\nWrote \"c.dat\"\n\nDone\n";
  EXPECT_EQ(expected, r.out);
}

TEST_F(RunDirectory, VerboseReportShowsSdevRemoveAndStopsAtAFailingInput) {
  write_input("1.dat", full_field(2, 1, {1, 2}));
  write_file_bytes(path("bad.dat"), "junk");
  const ProgramResult r = harnix({"-SdevOut", "s.dat", "-SdevRemove", "plane", "-MinValidCnt", "1",
                                  "-Verbose", "1.dat", "bad.dat"});
  EXPECT_EQ(1, r.status);
  const std::string settings = line("AvgOutFile", "None") + line("SdevOutFile", "\"s.dat\"") +
                               line("CountOutFile", "None") + line("MinValidCnt", "1") +
                               line("SdevRemove", "Plane");
  EXPECT_EQ(0u, r.out.find(settings)) << r.out;
  const std::string tail = "\n" + line("InFile[0002]", "\"bad.dat\"");
  ASSERT_GE(r.out.size(), tail.size());
  EXPECT_EQ(tail, r.out.substr(r.out.size() - tail.size())) << r.out;
}

}  // namespace

}  // namespace harnix
