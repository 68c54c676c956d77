// End-to-end: -Align Shift on generated sets whose shifts are known. Aligned, a set must give
// exactly the plain results of its inputs moved by their whole shifts (values untouched, pixels
// off the camera dropped), whatever the number of threads; a set without shifts must give the
// plain run's bytes; an input whose shift cannot be told ends the run naming it.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "reference/reference_average.h"
#include "support/planoryx_bytes.h"
#include "support/run_directory.h"

namespace harnix {

namespace {

constexpr int COUNT = 6;

class AlignRunTest : public RunDirectory {
 protected:
  void make_set(std::vector<std::string> options) {
    std::vector<std::string> args = {"synth", "--out", "set", "--count", std::to_string(COUNT),
                                     "--width", "120", "--height", "96"};
    args.insert(args.end(), options.begin(), options.end());
    ASSERT_EQ(0, util(args).status);
  }

  std::vector<MeasurementFile> inputs() {
    std::vector<MeasurementFile> files;
    for (int i = 1; i <= COUNT; ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "set/meas_%04d.dat", i);
      MeasurementFile f;
      EXPECT_TRUE(decode_test_file(read_file_bytes(path(name)), &f));
      files.push_back(f);
    }
    return files;
  }

  // Rows of a CSV file (header first), split at commas.
  std::vector<std::vector<std::string>> csv(const std::string& name) {
    std::istringstream in(read_file_bytes(path(name)));
    std::vector<std::vector<std::string>> rows;
    for (std::string line; std::getline(in, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      std::vector<std::string> row;
      std::istringstream fields(line);
      for (std::string f; std::getline(fields, f, ',');) row.push_back(f);
      rows.push_back(row);
    }
    return rows;
  }
};

// `f` moved by (-dx, -dy) on its camera, what leaves the camera dropped.
MeasurementFile moved(const MeasurementFile& f, int dx, int dy) {
  MeasurementFile m = f;
  const int x0 = f.x - dx, y0 = f.y - dy;
  const int left = std::max(0, x0), top = std::max(0, y0);
  const int right = std::min<int>(f.camera_width, x0 + f.width);
  const int bottom = std::min<int>(f.camera_height, y0 + f.height);
  m.x = int16_t(left);
  m.y = int16_t(top);
  m.width = int16_t(right - left);
  m.height = int16_t(bottom - top);
  m.values.clear();
  for (int y = top; y < bottom; ++y)
    for (int x = left; x < right; ++x)
      m.values.push_back(f.values[std::size_t(y - y0) * f.width + std::size_t(x - x0)]);
  return m;
}

class AlignedSet : public AlignRunTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(AlignedSet, GivesThePlainResultsOfTheInputsMovedByTheirShifts) {
  make_set({"--shift", "6", "--whole-shifts", "--texture", "10", "--windows", "--seed", "3"});
  const std::vector<std::vector<std::string>> truth = csv("set/list.inputs.csv");
  std::vector<MeasurementFile> expected_inputs;
  const std::vector<MeasurementFile> files = inputs();
  for (int i = 0; i < COUNT; ++i)
    expected_inputs.push_back(
        moved(files[std::size_t(i)], std::stoi(truth[std::size_t(i) + 1][6]),
              std::stoi(truth[std::size_t(i) + 1][7])));
  const ProgramResult r =
      harnix({"-Align", "Shift", "-AlignMax", "8", "-Threads", GetParam(), "-AvgOut", "a.dat",
              "-SdevOut", "s.dat", "-CountOut", "c.dat", "-InputReport", "r.csv", "@set/list.txt"});
  ASSERT_EQ(0, r.status) << r.err;
  const ReferenceResults expected = reference_average(expected_inputs, -1, COUNT);
  const std::pair<const ReferenceMap*, const char*> outputs[] = {
      {&expected.average, "a.dat"}, {&expected.deviation, "s.dat"}, {&expected.count, "c.dat"}};
  for (const auto& [map, name] : outputs) {
    const MeasurementFile out = read_output(name);
    EXPECT_EQ(map->x, out.x) << name;
    EXPECT_EQ(map->y, out.y) << name;
    EXPECT_EQ(map->width, out.width) << name;
    EXPECT_EQ(map->height, out.height) << name;
    EXPECT_EQ(map->values, out.values) << name;
  }
  const std::vector<std::vector<std::string>> report = csv("r.csv");
  ASSERT_EQ(std::size_t(COUNT + 1), report.size());
  EXPECT_EQ("overlap", report[0].back());
  for (int i = 1; i <= COUNT; ++i) {
    const std::vector<std::string>& row = report[std::size_t(i)];
    EXPECT_EQ(truth[std::size_t(i)][6], row[row.size() - 6]) << i;  // shift_x_px
    EXPECT_EQ(truth[std::size_t(i)][7], row[row.size() - 5]) << i;  // shift_y_px
  }
}

INSTANTIATE_TEST_SUITE_P(Threads, AlignedSet, ::testing::Values("1", "2"));

// Every mode, aligned with any number of threads, gives the bytes of the plain run (one thread)
// of the inputs moved beforehand: rejection, levelling, the removals, the extremes and the report
// all see the moved pixels and nothing else.
struct ModeCase {
  const char* name;
  std::vector<std::string> options;  // "@" stands for the output directory's prefix
};

class AlignedModes : public AlignRunTest,
                     public ::testing::WithParamInterface<std::tuple<ModeCase, const char*>> {};

TEST_P(AlignedModes, GiveThePlainRunOfTheMovedInputs) {
  const auto& [mode, threads] = GetParam();
  make_set({"--shift", "6", "--whole-shifts", "--texture", "10", "--windows", "--seed", "5"});
  const std::vector<std::vector<std::string>> truth = csv("set/list.inputs.csv");
  const std::vector<MeasurementFile> files = inputs();
  std::string list;
  for (int i = 0; i < COUNT; ++i) {
    const std::string name = "moved_" + std::to_string(i) + ".dat";
    write_input(name, moved(files[std::size_t(i)], std::stoi(truth[std::size_t(i) + 1][6]),
                            std::stoi(truth[std::size_t(i) + 1][7])));
    list += name + "\n";
  }
  write_file_bytes(path("moved.txt"), list);
  const std::vector<std::string> outputs = {"-AvgOut", "avg.dat", "-SdevOut", "sdev.dat",
                                            "-CountOut", "count.dat"};
  auto run = [&](const std::string& prefix, std::vector<std::string> args) {
    for (std::size_t k = 0; k < outputs.size(); k += 2) {
      args.push_back(outputs[k]);
      args.push_back(prefix + outputs[k + 1]);
    }
    for (const std::string& o : mode.options)
      args.push_back(o.starts_with("@") ? prefix + o.substr(1) : o);
    const ProgramResult r = harnix(args);
    ASSERT_EQ(0, r.status) << r.err;
  };
  run("p_", {"-Threads", "1", "@moved.txt"});
  run("a_", {"-Align", "Shift", "-AlignMax", "8", "-Threads", threads, "@set/list.txt"});
  std::vector<std::string> names = {"avg.dat", "sdev.dat", "count.dat"};
  for (const std::string& o : mode.options)
    if (o.starts_with("@")) names.push_back(o.substr(1));
  for (const std::string& name : names) {
    if (!name.ends_with(".csv")) {
      EXPECT_TRUE(read_file_bytes(path("p_" + name)) == read_file_bytes(path("a_" + name))) << name;
      continue;
    }
    // The report: the plain run's columns (the file names aside), then the shift's.
    const auto plain = csv("p_" + name);
    auto aligned = csv("a_" + name);
    ASSERT_EQ(plain.size(), aligned.size());
    for (std::size_t r = 0; r < plain.size(); ++r) {
      ASSERT_EQ(plain[r].size() + 6, aligned[r].size()) << r;
      aligned[r][1] = plain[r][1];
      EXPECT_TRUE(std::equal(plain[r].begin(), plain[r].end(), aligned[r].begin())) << r;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Modes, AlignedModes,
    ::testing::Combine(
        ::testing::Values(
            ModeCase{"Plain", {}},
            ModeCase{"LevelPlaneWithReport",
                     {"-Level", "Plane", "-SdevRemove", "Plane", "-InputReport", "@r.csv"}},
            ModeCase{"RejectTwoRounds", {"-Reject", "2.5", "-RejectIter", "2", "-RejectOut",
                                         "@rej.dat", "-InputReport", "@r.csv"}},
            ModeCase{"Piston", {"-SdevRemove", "Piston"}},
            ModeCase{"Sphere", {"-SdevRemove", "Sphere"}},
            ModeCase{"Cylinder", {"-SdevRemove", "Cylinder"}},
            ModeCase{"Robust", {"-SdevRemove", "Robust", "-Level", "Piston"}},
            ModeCase{"Extremes", {"-MinOut", "@min.dat", "-MaxOut", "@max.dat", "-RangeOut",
                                  "@range.dat", "-SdevType", "Sample", "-UncertOut", "@u.dat"}}),
        ::testing::Values("1", "2")),
    [](const auto& info) {
      return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param);
    });

// Copies of the first input, displaced on the camera, against the bound and the refusals: a copy
// found lies, wherever it overlaps the first, on exactly the first input's values.
struct CopyCase {
  const char* name;
  int dx, dy;         // the copy shows the first input's pixel q at q + (dx, dy)
  const char* max;    // -AlignMax
  int first_columns;  // the first input keeps valid only its columns before this one
  int from, columns, rows;  // the copy keeps valid only these columns of its first rows
  const char* refusal;      // nullptr: aligned
};

class CopyOfTheFirst : public AlignRunTest, public ::testing::WithParamInterface<CopyCase> {};

TEST_P(CopyOfTheFirst, LiesOnItsValuesOrIsRefused) {
  const CopyCase& c = GetParam();
  make_set({"--texture", "10", "--noise", "off", "--seed", "4"});
  MeasurementFile first = inputs()[0];
  MeasurementFile copy = moved(first, -c.dx, -c.dy);
  for (std::size_t k = 0; k < first.values.size(); ++k)
    if (int(k % std::size_t(first.width)) >= c.first_columns) first.values[k] = TEST_PHASE_INVALID;
  for (std::size_t k = 0; k < copy.values.size(); ++k) {
    const int x = copy.x + int(k % std::size_t(copy.width));
    const int y = copy.y + int(k / std::size_t(copy.width));
    if (x < c.from || x >= c.from + c.columns || y >= c.rows) copy.values[k] = TEST_PHASE_INVALID;
  }
  write_input("first.dat", first);
  write_input("copy.dat", copy);
  const ProgramResult r =
      harnix({"-Align", "Shift", "-AlignMax", c.max, "-MinOut", "min.dat", "-MaxOut", "max.dat",
              "-CountOut", "count.dat", "-InputReport", "r.csv", "first.dat", "copy.dat"});
  if (c.refusal != nullptr) {
    EXPECT_EQ(1, r.status);
    EXPECT_NE(std::string::npos,
              r.err.find(std::string("Cannot align input file \"copy.dat\": ") + c.refusal))
        << r.err;
    EXPECT_EQ("", read_file_bytes(path("min.dat")));
    return;
  }
  ASSERT_EQ(0, r.status) << r.err;
  const std::vector<std::vector<std::string>> report = csv("r.csv");
  EXPECT_EQ(std::to_string(c.dx), report[2][report[2].size() - 6]);
  EXPECT_EQ(std::to_string(c.dy), report[2][report[2].size() - 5]);
  const MeasurementFile low = read_output("min.dat"), high = read_output("max.dat");
  const MeasurementFile count = read_output("count.dat");
  // Where both count, the extremes (on windows of their own) are the first input's values.
  auto at = [](const MeasurementFile& f, int x, int y) {
    return f.values[std::size_t(y - f.y) * std::size_t(f.width) + std::size_t(x - f.x)];
  };
  int64_t overlapping = 0;
  for (int y = count.y; y < count.y + count.height; ++y) {
    for (int x = count.x; x < count.x + count.width; ++x) {
      if (at(count, x, y) != 2) continue;
      ++overlapping;
      ASSERT_EQ(at(first, x, y), at(low, x, y)) << x << "," << y;
      ASSERT_EQ(at(first, x, y), at(high, x, y)) << x << "," << y;
    }
  }
  EXPECT_GT(overlapping, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Copies, CopyOfTheFirst,
    ::testing::Values(
        CopyCase{"Unmoved", 0, 0, "4", 120, 0, 120, 96, nullptr},
        CopyCase{"AtTheBound", 4, -4, "4", 120, 0, 120, 96, nullptr},
        CopyCase{"FarSideways", -37, 0, "40", 120, 0, 120, 96, nullptr},
        CopyCase{"BeyondTheBound", 9, 0, "4", 120, 0, 120, 96, ""},
        CopyCase{"TooFewValidPixels", 2, 1, "4", 120, 60, 5, 12, "too few valid pixels"},
        CopyCase{"TooLittleOverlap", 0, 0, "4", 40, 80, 40, 96, "too little overlap"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(AlignRunTest, SetWithoutShiftsGivesThePlainRunsBytes) {
  make_set({"--texture", "10", "--windows", "--seed", "8"});
  for (const bool align : {false, true}) {
    std::vector<std::string> args = {"-Overwrite", "-Reject", "3", "-AvgOut",
                                     align ? "a2.dat" : "a1.dat", "-SdevOut",
                                     align ? "s2.dat" : "s1.dat", "@set/list.txt"};
    if (align) args.insert(args.begin(), {"-Align", "Shift"});
    ASSERT_EQ(0, harnix(args).status);
  }
  EXPECT_EQ(read_file_bytes(path("a1.dat")), read_file_bytes(path("a2.dat")));
  EXPECT_EQ(read_file_bytes(path("s1.dat")), read_file_bytes(path("s2.dat")));
}

TEST_F(AlignRunTest, VerboseTellsEachInputsShift) {
  make_set({"--shift", "3", "--texture", "10"});
  const ProgramResult r =
      harnix({"-Align", "shift", "-Verbose", "-AvgOut", "a.dat", "@set/list.txt"});
  ASSERT_EQ(0, r.status) << r.err;
  EXPECT_NE(std::string::npos, r.out.find("Align"));
  std::size_t lines = 0;
  for (std::size_t at = r.out.find("\nShift["); at != std::string::npos;
       at = r.out.find("\nShift[", at + 1))
    ++lines;
  EXPECT_EQ(std::size_t(COUNT), lines);
}

// The generated surface's form alone looks the same, less a plane, wherever it is moved along its
// waviness: no shift can be told, and the run says which input and why.
TEST_F(AlignRunTest, InputWhoseShiftCannotBeToldEndsTheRunNamingIt) {
  make_set({"--shift", "5"});
  const ProgramResult r = harnix({"-Align", "Shift", "-AvgOut", "a.dat", "@set/list.txt"});
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos, r.err.find("ERROR: Cannot align input file \"set/meas_0002.dat\": "))
      << r.err;
  EXPECT_EQ("", read_file_bytes(path("a.dat")));
}

}  // namespace

}  // namespace harnix
