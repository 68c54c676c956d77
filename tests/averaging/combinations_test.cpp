// The extremes, the range, the sample deviation and the uncertainty of the mean end to end, on
// generated sets, against the slow reference (reference/combination_reference.h).
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "reference/combination_reference.h"
#include "reference/rejection_reference.h"
#include "support/planoryx_bytes.h"
#include "support/run_directory.h"

namespace harnix {

namespace {

struct CombinationCase {
  const char* name;
  int count;  // inputs generated
  std::vector<std::string> synth = {};
  std::vector<std::string> options = {};
  int32_t phase_res = -1;  // the output's code; -1: the first input's
  int32_t min_count = 1;   // as the command line resolves it
  double reject = 0;       // K, one round; 0: none
};

void PrintTo(const CombinationCase& c, std::ostream* os) {
  *os << c.name;
}

// The outputs of a run, with the reference map and the comment each must have.
struct Expected {
  const char* file;
  const ReferenceMap* want;
  const char* comment;
};

class CombinationTest : public RunDirectory,
                        public ::testing::WithParamInterface<CombinationCase> {
 protected:
  std::vector<MeasurementFile> generate(const CombinationCase& c) {
    std::vector<std::string> synth = {"synth",    "--out", "set",    "--count",
                                      std::to_string(c.count), "--width", "31", "--height",
                                      "23",       "--seed", "17"};
    synth.insert(synth.end(), c.synth.begin(), c.synth.end());
    EXPECT_EQ(0, util(synth).status);
    std::vector<MeasurementFile> files(std::size_t(c.count));
    std::istringstream list(read_file_bytes(path("set/list.txt")));
    std::string name;
    for (MeasurementFile& f : files) {
      std::getline(list, name);
      EXPECT_TRUE(decode_test_file(read_file_bytes(path(name)), &f)) << name;
    }
    return files;
  }

  void expect_map(const std::string& name, const ReferenceMap& want) {
    const MeasurementFile out = read_output(name);
    EXPECT_EQ(want.x, out.x) << name;
    EXPECT_EQ(want.y, out.y) << name;
    EXPECT_EQ(want.width, out.width) << name;
    EXPECT_EQ(want.height, out.height) << name;
    EXPECT_EQ(want.values, out.values) << name;
  }
};

TEST_P(CombinationTest, OutputsEqualTheReference) {
  const CombinationCase& c = GetParam();
  const std::vector<MeasurementFile> files = generate(c);
  std::vector<std::string> args = {"-AvgOut", "a",        "-MinOut",      "lo",
                                   "-MaxOut", "hi",       "-RangeOut",    "rg",
                                   "@set/list.txt", "-MinValidCnt", std::to_string(c.min_count)};
  if (c.count > 1)  // one input has no sample deviation
    args.insert(args.end(), {"-SdevOut", "s", "-SdevType", "Sample", "-UncertOut", "u"});
  args.insert(args.end(), c.options.begin(), c.options.end());
  std::vector<MeasurementFile> kept = files;
  if (c.reject > 0) {
    std::ostringstream k;
    k << c.reject;
    args.insert(args.end(), {"-Reject", k.str()});
    kept = without_rejected(files, reference_rejection(files, c.phase_res, c.reject, 1));
  }
  const ProgramResult r = harnix(args);
  ASSERT_EQ(0, r.status) << r.err;
  const CombinationReference want = reference_combinations(kept, c.phase_res, c.min_count);
  const std::string n = std::to_string(c.count);
  const Expected outputs[] = {
      {"s", &want.sample_deviation, "Height standard deviation map (n - 1) computed from "},
      {"lo", &want.minimum, "Height minimum map computed from "},
      {"hi", &want.maximum, "Height maximum map computed from "},
      {"rg", &want.range, "Height range map computed from "},
      {"u", &want.uncertainty, "Height uncertainty map computed from "},
  };
  for (const Expected& e : outputs) {
    if (c.count == 1 && (e.want == &want.sample_deviation || e.want == &want.uncertainty)) {
      EXPECT_EQ(0, e.want->width) << "one input has no sample deviation";
      continue;
    }
    expect_map(e.file, *e.want);
    EXPECT_EQ(std::string(e.comment) + n + " input data files", read_output(e.file).comment);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sets, CombinationTest,
    ::testing::Values(
        CombinationCase{.name = "SevenMixedWindowsInvalid",
                        .count = 7,
                        .synth = {"--mixed", "--windows", "--invalid", "6"}},
        CombinationCase{.name = "SevenEveryValue",
                        .count = 7,
                        .synth = {"--mixed"},
                        .min_count = 7},
        CombinationCase{.name = "EightToSuperMinimumFive",
                        .count = 8,
                        .synth = {"--mixed", "--invalid", "10"},
                        .options = {"-PhaseRes", "Super"},
                        .phase_res = 2,
                        .min_count = 5},
        CombinationCase{.name = "SixRejectedWindows",
                        .count = 6,
                        .synth = {"--windows", "--invalid", "4"},
                        .reject = 1.5},
        CombinationCase{.name = "FiveMixedRejected",
                        .count = 5,
                        .synth = {"--mixed"},
                        .min_count = 3,
                        .reject = 1.2},
        CombinationCase{
            .name = "TwoInputsWindows", .count = 2, .synth = {"--windows", "--invalid", "10"}},
        CombinationCase{.name = "OneInput", .count = 1, .synth = {"--windows"}}),
    [](const auto& info) { return std::string(info.param.name); });

// The sample deviation of a pixel with one value is a dropout, that of two values |a - b| /
// sqrt(2); their uncertainty |a - b| / 2, a half rounded away from zero. The extremes are the
// scaled values (the second input counts an eighth), the range their difference rounded once.
// A result with no valid value at all is refused by name.
class CombinationPairTest : public RunDirectory {};

TEST_F(CombinationPairTest, ResultsAsWorkedOut) {
  constexpr int32_t X = TEST_PHASE_INVALID;
  // Pixel values: (3, 8); (3, 6.5), 6.5 rounded to 7 for the deviation; (9) alone.
  write_input("1", full_field(3, 1, {3, 3, 9}, 0));
  write_input("2", full_field(3, 1, {64, 52, X}, 1));
  const struct {
    std::vector<std::string> options;
    std::vector<int32_t> want;  // the values of the output's window
    std::vector<std::string> inputs = {"1", "2"};
  } cases[] = {
      {{"-SdevOut", "o", "-SdevType", "sample"}, {4, 3}},
      {{"-UncertOut", "o"}, {3, 2}},
      {{"-SdevOut", "o", "-SdevType", "Population"}, {3, 2, 0}},
      {{"-MinOut", "o"}, {3, 3, 9}},
      {{"-MaxOut", "o"}, {8, 7, 9}},
      {{"-RangeOut", "o"}, {5, 4, 0}},
      {{"-UncertOut", "o"}, {}, {"1"}},
      {{"-SdevOut", "o", "-SdevType", "Sample"}, {}, {"1"}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.options;
    args.insert(args.end(), {"-PhaseRes", "Normal", "-Overwrite", "-MinValidCnt", "1"});
    args.insert(args.end(), c.inputs.begin(), c.inputs.end());
    const ProgramResult r = harnix(args);
    if (c.want.empty()) {
      EXPECT_EQ(1, r.status) << c.options[0];
      EXPECT_EQ("Harnix\nERROR: Output file \"o\" would contain no valid data points\n", r.err);
      continue;
    }
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ(c.want, read_output("o").values) << c.options[0] << " " << c.options.back();
  }
}

}  // namespace

}  // namespace harnix
