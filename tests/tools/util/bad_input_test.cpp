// harnix-util on bad input: one line on the standard error stream, exit status 1, and no file
// under the output name (nor a temporary one left beside it).
#include <sys/stat.h>

#include <algorithm>
#include <map>

#include "util_files.h"

namespace harnix {

namespace {

using namespace util_test;

// Placeholders in the argument lists, replaced by paths in the scratch directory.
const std::map<std::string, std::string> FILES = {
    {"GOOD", "good.dat"},     {"EMPTY", "empty.dat"},     {"SHORT", "short.dat"},
    {"TEXT", "text.dat"},     {"CUT", "cut.dat"},         {"NOPHASE", "nophase.dat"},
    {"DROPOUTS", "drop.dat"}, {"NOSCALE", "noscale.dat"}, {"MISSING", "missing.dat"},
    {"DIR", "subdir"},        {"OUT", "out.file"},        {"NODIR", "no/such/dir/out.file"},
};

class BadInput : public ::testing::Test {
 protected:
  void SetUp() override {
    TestMap map{{0, 0, 3, 2}, {1, 2, 3, 4, 5, PHASE_INVALID}};
    DataAttributes a = measurement_attributes();
    write_planoryx(path("GOOD"), a, map);
    write_all(path("EMPTY"), "");
    write_all(path("SHORT"), read_all(path("GOOD")).substr(0, 3));
    write_all(path("TEXT"), "x y z\n1 2 3\n");
    const std::string good = read_all(path("GOOD"));
    write_all(path("CUT"), good.substr(0, good.size() - 4));  // phase block one value short
    std::vector<uint16_t> plane(6, 1);
    IntensityMap intensity{6, {0, 0, 3, 2}, 1, 0, plane.data()};
    ASSERT_EQ(NO_ERROR, write_data_file(path("NOPHASE").c_str(), nullptr, &a, &intensity, nullptr));
    TestMap dropouts{{0, 0, 2, 1}, {PHASE_INVALID, PHASE_INVALID}};
    write_planoryx(path("DROPOUTS"), a, dropouts);
    a.IntfScaleFactor = 0;
    write_planoryx(path("NOSCALE"), a, map);
    ::mkdir(path("DIR").c_str(), 0755);
  }

  std::string path(const std::string& key) { return dir.file(FILES.at(key)); }

  std::vector<std::string> expand(const std::vector<std::string>& args) {
    std::vector<std::string> out;
    for (const std::string& a : args) out.push_back(FILES.count(a) ? path(a) : a);
    return out;
  }

  TempDir dir;
};

TEST_F(BadInput, OneLineStatusOneAndNoOutput) {
  struct Case {
    std::vector<std::string> args;
    const char* says;  // part of the message
  } cases[] = {
      {{"info", "MISSING"}, "cannot be opened: No such file or directory"},
      {{"info", "DIR"}, "is not a regular file"},
      {{"info", "EMPTY"}, "is empty"},
      {{"info", "SHORT"}, "too short for a Planoryx data file header"},
      {{"info", "TEXT"}, "is not a Planoryx data file"},
      {{"info", "--json", "CUT"}, "damaged: its map data is shorter than its header says"},
      {{"info", "--xml", "GOOD"}, "unknown option \"--xml\""},
      {{"info"}, "no input file given"},
      {{"export", "CUT", "--format", "gsf", "-o", "OUT"}, "damaged"},
      {{"export", "TEXT", "--format", "xyz", "-o", "OUT"}, "is not a Planoryx data file"},
      {{"export", "NOPHASE", "--format", "matrix", "-o", "OUT"}, "holds no phase map"},
      {{"export", "DROPOUTS", "--format", "png", "-o", "OUT"}, "holds no valid points"},
      {{"export", "NOSCALE", "--format", "gsf", "-o", "OUT"}, "no usable height scale"},
      {{"export", "GOOD", "--format", "tiff", "-o", "OUT"}, "unknown format \"tiff\""},
      {{"export", "GOOD", "--format", "png", "--cmap", "rainbow", "-o", "OUT"},
       "unknown colour map \"rainbow\""},
      {{"export", "GOOD", "--format", "png", "--range", "60,40", "-o", "OUT"}, "--range needs"},
      {{"export", "GOOD", "--format", "png", "--size", "9", "-o", "OUT"}, "--size needs"},
      {{"export", "GOOD", "--format", "gsf", "--cmap", "jet", "-o", "OUT"},
       "apply to --format png only"},
      {{"export", "GOOD", "--format", "png", "--fill", "1", "-o", "OUT"},
       "--fill applies to --format matrix only"},
      {{"export", "GOOD", "--format", "matrix", "--fill", "1,5", "-o", "OUT"},
       "--fill needs a finite number"},
      {{"export", "GOOD", "--format", "gsf"}, "no output given"},
      {{"export", "GOOD", "-o", "OUT"}, "no --format given"},
      {{"export", "GOOD", "GOOD", "--format", "gsf", "-o", "OUT"}, "one input file only"},
      {{"export", "GOOD", "--format", "gsf", "-o"}, "option -o needs a value"},
      {{"export", "GOOD", "--format", "xyz", "-o", "NODIR"}, "No such file or directory"},
      {{"export", "GOOD", "--format", "png", "-o", "DIR"}, "Is a directory"},
      {{"export", "GOOD", "--format", "x3p", "--level", "tilt", "-o", "OUT"},
       "unknown --level \"tilt\""},
      {{"export", "GOOD", "--format", "x3p", "--level", "cylinder", "-o", "OUT"},
       "cannot be levelled by cylinder"},  // 5 valid points for 6 terms
      {{"export", "GOOD", "--format", "png", "--level", "robust", "-o", "OUT"},
       "cannot be levelled by robust"},  // too narrow for slopes
      {{"export", "DROPOUTS", "--format", "x3p", "-o", "OUT"}, "holds no valid points"},
      {{"info", "--json", "--level", "cylinder", "GOOD"}, "cannot be levelled by cylinder"},
      {{"info", "--params", "--level", "plane", "NOPHASE"}, "holds no phase map"},
      {{"info", "--level"}, "option --level needs a value"},
      {{"unknown"}, "unknown subcommand"},
  };
  for (const Case& c : cases) {
    const std::vector<std::string> args = expand(c.args);
    ProgramResult r = run_util(args);
    std::string shown;
    for (const std::string& a : c.args) shown += a + " ";
    EXPECT_EQ(1, r.status) << shown;
    EXPECT_EQ(0u, r.err.find("harnix-util")) << shown << ": " << r.err;
    EXPECT_EQ(r.err.size() - 1, r.err.find('\n')) << shown << ": one line expected: " << r.err;
    EXPECT_NE(std::string::npos, r.err.find(c.says)) << shown << ": " << r.err;
    EXPECT_EQ("", r.out) << shown;
    EXPECT_FALSE(std::filesystem::exists(path("OUT"))) << shown;
  }
  // Nothing but the inputs remain: no temporary output was left behind.
  int entries = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
    EXPECT_EQ(std::string::npos, e.path().string().find(".tmp-")) << e.path();
    ++entries;
  }
  EXPECT_EQ(9, entries);  // the eight files made in SetUp and the subdirectory
}

// A failing export leaves an existing output as it was; a good one replaces it whole.
TEST_F(BadInput, ExistingOutputSurvivesAFailedExport) {
  write_all(path("OUT"), "keep me");
  EXPECT_EQ(1, run_util(expand({"export", "CUT", "--format", "gsf", "-o", "OUT"})).status);
  EXPECT_EQ("keep me", read_all(path("OUT")));
  EXPECT_EQ(0, run_util(expand({"export", "GOOD", "--format", "matrix", "-o", "OUT"})).status);
  const std::string matrix = read_all(path("OUT"));
  EXPECT_DOUBLE_EQ(metres_per_count(measurement_attributes()),
                   std::stod(matrix.substr(0, matrix.find(' '))));
}

// info goes on past a bad file and reports it, but prints no partial JSON document.
TEST_F(BadInput, InfoReportsEveryBadFileAndStillShowsTheGoodOnes) {
  ProgramResult text = run_util(expand({"info", "GOOD", "TEXT", "GOOD"}));
  EXPECT_EQ(1, text.status);
  std::size_t blocks = 0;
  for (std::size_t at = text.out.find("File "); at != std::string::npos;
       at = text.out.find("File ", at + 1))
    ++blocks;
  EXPECT_EQ(2u, blocks) << text.out;
  EXPECT_EQ(1, std::count(text.err.begin(), text.err.end(), '\n')) << text.err;

  ProgramResult json = run_util(expand({"info", "--json", "GOOD", "TEXT"}));
  EXPECT_EQ(1, json.status);
  EXPECT_EQ("", json.out);
}

}  // namespace

}  // namespace harnix
