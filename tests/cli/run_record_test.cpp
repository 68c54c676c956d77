// -RunRecord: the JSON record of a run, after success and after failure, and the names it may
// not take.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/run_directory.h"

namespace harnix {

namespace {

using nlohmann::json;
constexpr int32_t X = TEST_PHASE_INVALID;

class RunRecordTest : public RunDirectory {
 protected:
  json record(const std::string& name) { return json::parse(read_file_bytes(path(name))); }
};

TEST_F(RunRecordTest, SuccessTellsSettingsInputsAndOutputs) {
  write_input("a.dat", full_field(3, 2, {5, 6, X, 8, 9, 10}));
  write_input("b.dat", full_field(3, 2, {7, 6, 5, 8, X, 12}, 2));
  const std::vector<std::string> args = {"-RunRecord", "run.json", "-SdevRemove", "plane",
                                         "-AvgOut",   "a_out.dat", "-CountOut", "c.dat",
                                         "-InputReport", "r.csv", "-MinValidPct", "100",
                                         "a.dat", "b.dat"};
  const ProgramResult r = harnix(args);
  ASSERT_EQ(0, r.status) << r.err;
  const json j = record("run.json");
  EXPECT_EQ("Harnix", j["program"]);
  EXPECT_EQ(HARNIX_VERSION, j["version"]);
  ASSERT_EQ(args.size() + 1, j["command_line"].size());
  EXPECT_EQ(args.back(), j["command_line"].back());
  EXPECT_TRUE(j["result"]["ok"]);
  const json& s = j["settings"];
  EXPECT_EQ("Plane", s["SdevRemove"]);
  EXPECT_EQ(2, s["MinValidCnt"]) << "resolved from the percentage";
  EXPECT_EQ(100.0, s["MinValidPct"]);
  EXPECT_TRUE(s["Reject"].is_null());
  EXPECT_EQ("FirstInput", s["PhaseRes"]);
  EXPECT_EQ("High", j["output_phase_res"]) << "that of the first input";
  EXPECT_GE(s["Threads"].get<int>(), 1);
  ASSERT_EQ(2u, j["inputs"].size());
  const json& in = j["inputs"][1];
  EXPECT_EQ("b.dat", in["name"]);
  EXPECT_EQ(std::filesystem::file_size(path("b.dat")), in["size"].get<std::uintmax_t>());
  EXPECT_EQ(30u, in["modified"].get<std::string>().size()) << in["modified"];
  EXPECT_EQ(5, in["figures"]["valid_pixels"]);
  EXPECT_TRUE(in["figures"]["rms_diff_m"].is_number());
  ASSERT_EQ(3u, j["outputs"].size());
  const json& avg = j["outputs"][0];
  EXPECT_EQ("AvgOut", avg["option"]);
  EXPECT_TRUE(avg["written"]);
  EXPECT_EQ(4, avg["valid_points"]) << "two pixels lack one of the two inputs";
  EXPECT_EQ(3, avg["window"]["width"]);
  EXPECT_EQ("InputReport", j["outputs"][2]["option"]);
  EXPECT_TRUE(j["outputs"][2]["written"]);
  EXPECT_LE(j["started"].get<std::string>(), j["ended"].get<std::string>());
}

TEST_F(RunRecordTest, FailureSaysWhereItStopped) {
  write_input("a.dat", full_field(3, 2, {5, 6, 7, 8, 9, 10}));
  write_input("b.dat", full_field(2, 2, {5, 6, 7, 8}));
  const ProgramResult r = harnix({"-RunRecord", "run.json", "-AvgOut", "o.dat", "a.dat", "b.dat"});
  EXPECT_EQ(1, r.status);
  const json j = record("run.json");
  EXPECT_FALSE(j["result"]["ok"]);
  EXPECT_EQ("mismatched input", j["result"]["failed_at"]);
  EXPECT_EQ("b.dat", j["result"]["file"]);
  EXPECT_EQ("CameraWidth or CameraHeight", j["result"]["detail"]);
  EXPECT_FALSE(j["outputs"][0]["written"]);
  EXPECT_TRUE(j["outputs"][0]["valid_points"].is_null());
}

// A run refused once its command line is read is recorded with the check that refused it; one
// whose command line cannot be read, or whose record would replace a file unasked, is not.
TEST_F(RunRecordTest, RefusedRunsSayWhichCheckRefusedThem) {
  write_input("a.dat", full_field(3, 2, {5, 6, 7, 8, 9, 10}));
  const struct {
    std::vector<std::string> args;
    const char* failed_at;  // nullptr: no record
    std::string detail;
  } cases[] = {
      {{"-AvgOut", "o.dat", "m.dat"}, "check inputs", "Cannot access input file \"m.dat\""},
      {{"-AvgOut", "o.dat", "-SdevOut", "o.dat", "a.dat"}, "check outputs",
       "Output files \"o.dat\" and \"o.dat\" are one file"},
      {{"-Overwrite", "a.dat"}, "check outputs", "No output file specified"},
      {{"-AvgOut", "o.dat", "-RejectIter", "2", "a.dat"}, "check options",
       "RejectIter needs the Reject option"},
      {{"-AvgOut", "o.dat", "-MinValidCnt", "2", "a.dat"}, "check options",
       "MinValidCnt is out of range [1,NumInputFiles]"},
      {{"-AvgOut", "o.dat", "-Threads", "x", "a.dat"}, nullptr, ""},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(path("run.json"));
    std::vector<std::string> args = {"-RunRecord", "run.json"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    EXPECT_EQ(1, harnix(args).status);
    ASSERT_EQ(c.failed_at != nullptr, std::filesystem::exists(path("run.json"))) << c.detail;
    if (c.failed_at == nullptr) continue;
    const json j = record("run.json");
    EXPECT_FALSE(j["result"]["ok"]);
    EXPECT_EQ(c.failed_at, j["result"]["failed_at"]);
    EXPECT_EQ(c.detail, j["result"]["detail"]);
    EXPECT_EQ(args.back(), j["command_line"].back());
  }
  // An earlier record stays unless -Overwrite is given.
  write_file_bytes(path("run.json"), "earlier");
  EXPECT_EQ(1, harnix({"-RunRecord", "run.json", "-AvgOut", "o.dat", "m.dat"}).status);
  EXPECT_EQ("earlier", read_file_bytes(path("run.json")));
  EXPECT_EQ(1, harnix({"-Overwrite", "-RunRecord", "run.json", "-AvgOut", "o.dat", "m.dat"}).status);
  EXPECT_EQ("check inputs", record("run.json")["result"]["failed_at"]);
}

// The record is written by renaming at the end: as an input, another output or the list file it
// would replace that file.
TEST_F(RunRecordTest, NamesItMayNotTake) {
  write_input("a.dat", full_field(3, 2, {5, 6, 7, 8, 9, 10}));
  const std::string a = read_file_bytes(path("a.dat"));
  write_file_bytes(path("list.txt"), "a.dat\n");
  const struct {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"-RunRecord", "./a.dat", "-AvgOut", "o.dat", "a.dat"},
       "Harnix\nERROR: Cannot create output file \"./a.dat\"\n"},
      {{"-RunRecord", "o.dat", "-AvgOut", "o.dat", "a.dat"},
       "Harnix\nERROR: Output files \"o.dat\" and \"o.dat\" are one file\n"},
      {{"-RunRecord", "list.txt", "-AvgOut", "o.dat", "@list.txt"},
       "Harnix\nERROR: Output file \"list.txt\" is the list file\n"},
  };
  for (const auto& c : cases) {
    const ProgramResult r = harnix(c.args);
    EXPECT_EQ(1, r.status);
    EXPECT_EQ(c.err, r.err);
  }
  EXPECT_EQ(a, read_file_bytes(path("a.dat")));
  EXPECT_EQ("a.dat\n", read_file_bytes(path("list.txt")));
  EXPECT_FALSE(std::filesystem::exists(path("o.dat")));
}

}  // namespace

}  // namespace harnix
